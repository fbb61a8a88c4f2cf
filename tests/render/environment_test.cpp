// Environment importance sampling: the distribution over directions, and path
// tracing with and without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/reference/environment_map.h"
#include "host/reference/noise.h"
#include "host/reference/renderer.h"
#include "testkit/chi2.h"
#include "tests/render/scripted.h"

namespace {

using vref::float3;

struct MapCase {
    std::string name;
    int width, height;
    std::vector<float> brightness;
};

std::vector<MapCase> mapCases() {
    std::vector<MapCase> cases;
    // Cells larger than the test's bins: directions must be uniform within a cell.
    cases.push_back({"constant", 8, 4, std::vector<float>(32, 1.0f)});
    // A sky over black ground with one cell a thousand times brighter (the sun).
    std::vector<float> sky(80 * 40, 0.0f);
    for (int k = 0; k < 80 * 20; ++k) sky[k] = 0.5f;
    sky[7 * 80 + 23] = 500.0f;
    cases.push_back({"sun over black ground", 80, 40, sky});
    std::vector<float> noise(10 * 5);
    for (size_t k = 0; k < noise.size(); ++k) noise[k] = (vref::hash32(k) >> 8) * 0x1p-24f;
    cases.push_back({"random cells", 10, 5, noise});
    // The cells touching the poles, whose solid angle is smallest.
    std::vector<float> poles(40 * 20, 0.01f);
    poles[3] = poles[40 * 19 + 17] = 50.0f;
    cases.push_back({"bright poles", 40, 20, poles});
    return cases;
}

// The density over solid angle of each cell's directions, over its brightness.
std::vector<double> densityPerBrightness(const vref::EnvironmentMap& map, const MapCase& c) {
    std::vector<double> ratios;
    for (int j = 0; j < c.height; ++j) {
        for (int i = 0; i < c.width; ++i) {
            float b = c.brightness[j * c.width + i];
            float theta = vref::kPi * (j + 0.5f) / c.height,
                  phi = 2 * vref::kPi * (i + 0.5f) / c.width;
            if (b > 0.0f)
                ratios.push_back(map.pdf(vref::sphericalDirection(std::cos(theta), phi)) / b);
        }
    }
    return ratios;
}

// The density is proportional to the brightness, integrates to 1, and is the one
// the drawn directions follow.
TEST(EnvironmentMap, SamplesFollowTheirDensity) {
    for (const MapCase& c : mapCases()) {
        vref::EnvironmentMap map(c.width, c.height, c.brightness);
        ASSERT_FALSE(map.empty()) << c.name;
        std::vector<double> ratios = densityPerBrightness(map, c);
        auto [lo, hi] = std::minmax_element(ratios.begin(), ratios.end());
        EXPECT_NEAR(*hi / *lo, 1.0, 1e-3) << c.name;
        int mismatches = 0;
        auto sample = [&](float u1, float u2) -> std::optional<pxs::float3> {
            float pdf;
            float3 d = map.sample(u1, u2, &pdf);
            // The density of a drawn direction is the one pdf() reports for it.
            if (!(std::fabs(pdf - map.pdf(d)) <= 1e-4f * pdf)) ++mismatches;
            return d;
        };
        auto density = [&](pxs::float3 d) { return double(map.pdf(d)); };
        vtest::Chi2Settings settings;
        settings.testCount = 4;
        vtest::Chi2Result r = vtest::chi2Test(sample, density, settings);
        EXPECT_TRUE(r.passed) << c.name << ": " << r.message;
        EXPECT_NEAR(r.integral, 1.0, 1e-3) << c.name;
        EXPECT_LE(mismatches, 2) << c.name << ": drawn densities differ from pdf()";
    }
}

TEST(EnvironmentMap, BlackOrBrokenBrightnessGivesAnEmptyMap) {
    const float nan = std::nanf("");
    for (std::vector<float> b : {std::vector<float>(8, 0.0f), std::vector<float>(8, -1.0f),
                                 std::vector<float>(8, nan), std::vector<float>(7, 1.0f)}) {
        vref::EnvironmentMap map(4, 2, b);
        float pdf = 1.0f;
        map.sample(0.5f, 0.5f, &pdf);
        EXPECT_TRUE(map.empty());
        EXPECT_EQ(pdf, 0.0f);
        EXPECT_EQ(map.pdf(float3(0, 0, 1)), 0.0f);
    }
}

// ---- path tracing under an environment ----

using vrtest::Estimate;
using vrtest::Surface;

// An environment of radiance `sky` over the upper hemisphere, plus `sun` within
// `radius` radians of the direction `theta` from the zenith.
struct Sky {
    float sky, sun, radius, theta;
    float at(float3 d) const {
        if (!(d.z > 0.0f)) return 0.0f;
        float3 s(std::sin(theta), 0.0f, std::cos(theta));
        return sky + (vref::dot(d, s) > std::cos(radius) ? sun : 0.0f);
    }
    // What a white Lambertian floor reflects of it: the sun's cap gives
    // sun x sin^2(radius) x cos(theta).
    float diffuseReflected() const {
        return sky + sun * std::sin(radius) * std::sin(radius) * std::cos(theta);
    }
};

vref::Image renderFloor(const Surface& m, const Sky& sky, int threads) {
    vrtest::ScriptedMaterial floor(pxs::kCapEvaluateBsdf | pxs::kCapSampleBsdf);
    vrtest::scriptSurface(floor, m);
    vrtest::ScriptedEnvironment env([&](pxs::IRenderServices*, pxs::ShadingState* st) {
        st->outColor = float3(sky.at(st->rayDirection));
    });
    vref::Scene scene;
    vrtest::addSquare(scene, vrtest::addMaterial(scene, &floor), float3(), float3(0, 0, 1));
    scene.environment = scene.addShader(vref::declareShader("env", "env", &env));
    scene.camera = vrtest::cameraAboveFloor();
    scene.commit();
    // Depth 2: the floor's light only, as it sees nothing but the sky.
    vref::RenderSettings settings = vrtest::pathSettings(64, 2);
    settings.threads = threads;
    return vref::render(scene, settings).image;
}

Estimate estimateFloor(const Surface& m, const Sky& sky) {
    return vrtest::channelMean(renderFloor(m, sky, 2), 0);
}

// A white floor under a constant and under a sun-lit sky converges to its exact
// light with and without environment samples, whatever the material's sampleBsdf
// and evaluateBsdf give: a mirror event no environment sample can reach, an
// evaluateBsdf that draws random numbers. Environment samples cut the sun's noise.
TEST(EnvironmentLight, DiffuseFloorConvergesWithAndWithoutEnvironmentSamples) {
    const Sky skies[] = {{1.0f, 0.0f, 0.0f, 0.0f}, {0.5f, 20.0f, 0.1745f, 0.698f}};
    for (const Sky& sky : skies) {
        Surface lambert, bsdfOnly, mirrored, random;
        bsdfOnly.evaluates = false;
        mirrored.diffuse = mirrored.mirror = 0.5f;
        random.randomEvaluate = true;
        const struct {
            const char* name;
            Surface m;
            double expected;
        } cases[] = {
            {"with environment samples", lambert, sky.diffuseReflected()},
            {"without", bsdfOnly, sky.diffuseReflected()},
            // Seen from above, the mirror shows the zenith.
            {"half mirror", mirrored, 0.5 * sky.diffuseReflected() + 0.5 * sky.at(float3(0, 0, 1))},
            {"random evaluateBsdf", random, sky.diffuseReflected()},
        };
        Estimate with = {}, without = {};
        for (const auto& c : cases) {
            Estimate e = estimateFloor(c.m, sky);
            EXPECT_NEAR(e.mean, c.expected, 4.0 * e.error + 1e-4)
                << c.name << ", sun " << sky.sun << ": standard error " << e.error;
            if (c.m.evaluates && !c.m.randomEvaluate && c.m.mirror == 0.0f) with = e;
            if (!c.m.evaluates) without = e;
        }
        if (sky.sun > 0.0f) {
            EXPECT_LT(with.error, 0.25 * without.error);
        }
    }
}

// The map is made on the render's threads; it and the image are the same on one.
TEST(EnvironmentLight, ImagesOfASeedDoNotDependOnTheThreadCount) {
    const Sky sky = {0.5f, 20.0f, 0.1745f, 0.698f};
    EXPECT_EQ(renderFloor(Surface(), sky, 1).rgba, renderFloor(Surface(), sky, 2).rgba);
}

}  // namespace

// Environment importance sampling: the distribution over directions, and path
// tracing with and without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/reference/environment_map.h"
#include "host/reference/noise.h"
#include "testkit/chi2.h"

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

}  // namespace

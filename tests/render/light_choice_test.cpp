// Path tracing with several lights: one host light per bounce, chosen at random,
// must converge to the light of all of them.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/reference/renderer.h"
#include "tests/render/scripted.h"

namespace {

using vref::float3;

constexpr float kInvPi = 1.0f / vref::kPi;

struct Mean {
    double value[3];
    double error[3];  // standard error of the mean over the pixels
};

Mean mean(const vref::Image& image) {
    Mean m{};
    const int n = image.width * image.height;
    for (int c = 0; c < 3; ++c) {
        double sum = 0.0, squares = 0.0;
        for (int k = 0; k < n; ++k) {
            double v = image.rgba[4 * k + c];
            sum += v, squares += v * v;
        }
        m.value[c] = sum / n;
        m.error[c] = std::sqrt(std::max(0.0, squares / n - m.value[c] * m.value[c]) / (n - 1));
    }
    return m;
}

struct Rendered {
    Mean mean;
    double raysPerSample;
    std::vector<float> rgba;
};

// A white Lambertian floor seen from above, lit by `lights` (and by a light shader
// of constant colour when `withShader` is set), its own light only. A translucent
// floor scatters the light from below as from above.
Rendered renderFloor(const std::vector<vref::Light>& lights, bool translucent, bool withShader,
                     int threads = 0) {
    vrtest::ScriptedMaterial floor(pxs::kCapEvaluateBsdf | pxs::kCapSampleBsdf);
    floor.onSample = [](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        pxs::float2 r;
        sv->random2(&r);
        float z = std::sqrt(1.0f - r.y), s = std::sqrt(r.y), phi = 2.0f * vref::kPi * r.x;
        st->sampleDirection = float3(s * std::cos(phi), s * std::sin(phi), z);
        st->sampleValue = float3(kInvPi);
        st->sampleCosine = z;
        st->sampleWeight = vref::kPi / z;
        st->sampleKind = pxs::kSampleDiffuse;
    };
    floor.onEvaluate = [translucent](pxs::IRenderServices*, pxs::ShadingState* st) {
        float c = translucent ? std::fabs(st->sampleDirection.z) : st->sampleDirection.z;
        if (!(c > 0.0f)) return;
        st->sampleValue = float3(kInvPi);
        st->sampleCosine = c;
    };
    vrtest::ScriptedLight shaderLight([](pxs::IRenderServices*, pxs::ShadingState* st) {
        st->lightSample.lightColor = float3(0.3f, 0.2f, 0.1f);
    });
    vref::Scene scene;
    vrtest::addSquare(scene, vrtest::addMaterial(scene, &floor), float3(), float3(0, 0, 1));
    scene.lights = lights;
    if (withShader) {
        vref::Light l;
        l.shader = scene.addShader(vref::declareShader("light", "light", &shaderLight));
        l.position = float3(0.0f, -1.0f, 2.0f);
        scene.lights.push_back(l);
    }
    scene.camera = vrtest::cameraAboveFloor();
    scene.commit();
    // Depth 1: direct light only, as the floor sees nothing else.
    vref::RenderSettings settings = vrtest::pathSettings(16, 1);
    settings.threads = threads;
    vref::RenderResult r = vref::render(scene, settings);
    return {mean(r.image), static_cast<double>(r.stats.rays) / (32.0 * 32.0 * settings.spp),
            r.image.rgba};
}

vref::Light pointLight(float3 position, float3 color, float intensity) {
    vref::Light l;
    l.position = position;
    l.color = color;
    l.intensity = intensity;
    return l;
}

// Host lights of unequal weight: two point lights, a spot whose rim crosses the
// view, and a light under the floor, which only a translucent floor takes. Each
// alone is taken whole; together, one per bounce converges to their sum, light
// shaders being added whole besides; a bounce traces one shadow ray, not one per
// light; and the choices do not depend on the thread count.
TEST(PathLights, OneHostLightPerBounceConvergesToTheirSum) {
    vref::Light spot = pointLight(float3(0.0f, 0.0f, 3.0f), float3(1.0f), 40.0f);
    spot.spot = true;
    spot.axis = float3(0.0f, 0.0f, -1.0f);
    spot.cosOuter = std::cos(0.03f), spot.cosInner = std::cos(0.02f);
    const std::vector<vref::Light> lights = {
        pointLight(float3(0.5f, 0.0f, 2.0f), float3(1.0f, 0.5f, 0.25f), 10.0f),
        pointLight(float3(-1.0f, 1.0f, 1.0f), float3(0.2f, 0.4f, 1.0f), 3.0f),
        spot,
        pointLight(float3(0.0f, 0.0f, -1.0f), float3(1.0f), 50.0f),
    };
    for (bool translucent : {false, true}) {
        double expected[3] = {0.0, 0.0, 0.0};
        for (const vref::Light& light : lights) {
            Rendered alone = renderFloor({light}, translucent, false);
            if (translucent) {
                EXPECT_GT(alone.mean.value[0], 0.0) << "every light reaches it";
            }
            for (int c = 0; c < 3; ++c) expected[c] += alone.mean.value[c];
        }
        Rendered shaderAlone = renderFloor({}, translucent, true);
        for (bool withShader : {false, true}) {
            Rendered all = renderFloor(lights, translucent, withShader);
            for (int c = 0; c < 3; ++c) {
                double want = expected[c] + (withShader ? shaderAlone.mean.value[c] : 0.0);
                EXPECT_NEAR(all.mean.value[c], want, 4.0 * all.mean.error[c] + 1e-5)
                    << "channel " << c << (translucent ? ", translucent" : "")
                    << (withShader ? ", with a light shader" : "");
                EXPECT_GT(all.mean.error[c], 0.0) << "the lights were not chosen at random";
            }
            // A camera ray and at most one shadow ray per sample.
            EXPECT_LE(all.raysPerSample, 2.0);
            EXPECT_EQ(all.rgba, renderFloor(lights, translucent, withShader, 1).rgba);
        }
    }
}

}  // namespace

// Path tracing with several lights: one host light per bounce, chosen at random,
// must converge to the light of all of them.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/reference/renderer.h"
#include "tests/render/scripted.h"

namespace {

using vref::float3;

struct Rendered {
    vrtest::Estimate mean[3];  // per channel
    double raysPerSample;
    std::vector<float> rgba;
};

// A white Lambertian floor seen from above, lit by `lights` (and by a light shader
// of constant colour when `withShader` is set), its own light only. A translucent
// floor scatters the light from below as from above.
Rendered renderFloor(const std::vector<vref::Light>& lights, bool translucent, bool withShader,
                     int threads = 0) {
    vrtest::ScriptedMaterial floor(pxs::kCapEvaluateBsdf | pxs::kCapSampleBsdf);
    vrtest::Surface lambert;
    lambert.translucent = translucent;
    vrtest::scriptSurface(floor, lambert);
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
    return {{vrtest::channelMean(r.image, 0), vrtest::channelMean(r.image, 1),
             vrtest::channelMean(r.image, 2)},
            static_cast<double>(r.stats.rays) / (32.0 * 32.0 * settings.spp),
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
    std::vector<vref::Light> lights = {
        pointLight(float3(0.5f, 0.0f, 2.0f), float3(1.0f, 0.5f, 0.25f), 10.0f),
        pointLight(float3(-1.0f, 1.0f, 1.0f), float3(0.2f, 0.4f, 1.0f), 3.0f),
        spot,
        pointLight(float3(0.0f, 0.0f, -1.0f), float3(1.0f), 50.0f),
    };
    // More lights than a bounce keeps the weights of, the later ones weighed again;
    // reds and blues in turn, so that a light taken for its neighbour shows.
    for (int i = 0; i < 6; ++i) {
        float3 color = i % 2 ? float3(0.1f, 0.1f, 1.0f) : float3(1.0f, 0.1f, 0.1f);
        lights.push_back(pointLight(float3(0.3f * i - 0.8f, 0.5f, 1.5f), color, 1.0f + 1.5f * i));
    }
    for (bool translucent : {false, true}) {
        double expected[3] = {0.0, 0.0, 0.0};
        for (const vref::Light& light : lights) {
            Rendered alone = renderFloor({light}, translucent, false);
            if (translucent) {
                EXPECT_GT(alone.mean[0].mean, 0.0) << "every light reaches it";
            }
            for (int c = 0; c < 3; ++c) expected[c] += alone.mean[c].mean;
        }
        Rendered shaderAlone = renderFloor({}, translucent, true);
        for (bool withShader : {false, true}) {
            Rendered all = renderFloor(lights, translucent, withShader);
            for (int c = 0; c < 3; ++c) {
                double want = expected[c] + (withShader ? shaderAlone.mean[c].mean : 0.0);
                EXPECT_NEAR(all.mean[c].mean, want, 4.0 * all.mean[c].error + 1e-5)
                    << "channel " << c << (translucent ? ", translucent" : "")
                    << (withShader ? ", with a light shader" : "");
                EXPECT_GT(all.mean[c].error, 0.0) << "the lights were not chosen at random";
            }
            // A camera ray and at most one shadow ray per sample.
            EXPECT_LE(all.raysPerSample, 2.0);
            EXPECT_EQ(all.rgba, renderFloor(lights, translucent, withShader, 1).rgba);
        }
    }
}

}  // namespace

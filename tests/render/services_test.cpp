// What the reference host passes to shaders and answers for them: ray types and
// depths of traced rays, the depth limit, skipHit, shadow and occlusion rays
// through shadowTransmission, the light list, and path continuation.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/render/scripted.h"

namespace {

using vref::float3;
using vrtest::ScriptedEnvironment;
using vrtest::ScriptedLight;
using vrtest::ScriptedMaterial;

struct Call {
    int32_t rayType, depth;
    float3 origin;
};

#define EXPECT_RGB(c, r, g, b)        \
    do {                              \
        EXPECT_NEAR((c).x, r, 1e-6f); \
        EXPECT_NEAR((c).y, g, 1e-6f); \
        EXPECT_NEAR((c).z, b, 1e-6f); \
    } while (0)

vref::Radiance cameraRay(const vref::Scene& scene, const vref::RenderSettings& settings,
                         float3 origin, float3 dir) {
    vref::RenderServices sv(scene, settings);
    sv.beginSample(0, 0, 0);
    return vref::cameraRay(sv, origin, dir);
}

// Two mirrors facing each other: every shade traces its reflection.
TEST(RenderServicesTracing, ReflectionsCarryTypeAndDepthUntilTheLimit) {
    std::vector<Call> shades, escapes;
    ScriptedMaterial mirror(pxs::kCapShade, [&](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        shades.push_back({st->rayType, st->rayDepth, st->rayOrigin});
        EXPECT_EQ(st->rayDepthLimit, 3);
        float3 d = st->rayDirection;
        float3 r(d.x, -d.y, d.z);
        sv->traceReflection(&st->outColor, &st->position, &r, 1.0f);
    });
    ScriptedEnvironment env([&](pxs::IRenderServices*, pxs::ShadingState* st) {
        escapes.push_back({st->rayType, st->rayDepth, st->rayOrigin});
        st->outColor = float3(0.5f, 0.25f, 0.125f);
    });
    vref::Scene scene;
    int m = vrtest::addMaterial(scene, &mirror);
    vrtest::addSquare(scene, m, float3(0, 5, 0), float3(0, -1, 0));
    vrtest::addSquare(scene, m, float3(0, -5, 0), float3(0, 1, 0));
    scene.environment = scene.addShader(vref::declareShader("env", "env", &env));
    scene.commit();
    vref::RenderSettings settings;
    settings.maxDepth = 3;

    vref::Radiance r = cameraRay(scene, settings, float3(), float3(0, 1, 0));

    ASSERT_EQ(shades.size(), 3u);
    EXPECT_EQ(shades[0].rayType, pxs::kRayCamera);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(shades[i].depth, i);
    EXPECT_EQ(shades[1].rayType, pxs::kRayReflection);
    EXPECT_EQ(shades[2].rayType, pxs::kRayReflection);
    // The ray past the limit is answered by the environment, not traced.
    ASSERT_EQ(escapes.size(), 1u);
    EXPECT_EQ(escapes[0].rayType, pxs::kRayReflection);
    EXPECT_EQ(escapes[0].depth, 3);
    EXPECT_RGB(r.color, 0.5f, 0.25f, 0.125f);
}

TEST(RenderServicesTracing, TransmissionKeepsTheRayTypeAndSkipHitContinuesTheRay) {
    std::vector<Call> back;
    ScriptedMaterial see(pxs::kCapShade, [&](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        pxs::float4 out(0, 0, 0, 1);
        sv->traceTransmission(&out, &st->position, &st->rayDirection, 1.0f);
        st->outColor = out.xyz();
        st->outAlpha = out.w;
    });
    ScriptedMaterial skip(pxs::kCapShade,
                          [&](pxs::IRenderServices*, pxs::ShadingState* st) { st->skipHit = 1; });
    ScriptedMaterial wall(pxs::kCapShade, [&](pxs::IRenderServices*, pxs::ShadingState* st) {
        back.push_back({st->rayType, st->rayDepth, st->rayOrigin});
        st->outColor = float3(0.2f, 0.4f, 0.6f);
        st->outAlpha = 0.5f;
    });
    vref::RenderSettings settings;
    for (int front : {0, 1}) {
        vref::Scene scene;
        int mf = vrtest::addMaterial(scene, front == 0 ? static_cast<pxs::IShaderBase*>(&see)
                                                       : static_cast<pxs::IShaderBase*>(&skip));
        int mw = vrtest::addMaterial(scene, &wall);
        vrtest::addSquare(scene, mf, float3(0, 2, 0), float3(0, -1, 0));
        vrtest::addSquare(scene, mw, float3(0, 6, 0), float3(0, -1, 0));
        scene.commit();
        back.clear();
        vref::Radiance r = cameraRay(scene, settings, float3(), float3(0, 1, 0));
        ASSERT_EQ(back.size(), 1u);
        EXPECT_RGB(r.color, 0.2f, 0.4f, 0.6f);
        EXPECT_FLOAT_EQ(r.alpha, 0.5f);
        if (front == 0) {
            // A camera ray seen through a surface goes on as a continuation ray.
            EXPECT_EQ(back[0].rayType, pxs::kRayContinuation);
            EXPECT_EQ(back[0].depth, 1);
            back.clear();
            vref::RenderServices sv(scene, settings);
            sv.beginSample(0, 0, 0);
            sv.trace(pxs::kRayReflection, float3(), float3(0, 1, 0), 1);
            ASSERT_EQ(back.size(), 1u);
            EXPECT_EQ(back[0].rayType, pxs::kRayReflection);
        } else {
            // A skipped surface does not exist for the ray: same ray, type and depth.
            EXPECT_EQ(back[0].rayType, pxs::kRayCamera);
            EXPECT_EQ(back[0].depth, 0);
            EXPECT_RGB(back[0].origin, 0.0f, 0.0f, 0.0f);
        }
    }
}

TEST(RenderServicesTracing, GatherRaysAreOneBounceOfType32) {
    std::vector<Call> gathered;
    float3 gi(-1.0f);
    ScriptedMaterial floor(pxs::kCapShade, [&](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        sv->globalIllumination(&gi, &st->position, &st->normal, 1.0f);
    });
    ScriptedMaterial ceiling(pxs::kCapShade, [&](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        gathered.push_back({st->rayType, st->rayDepth, st->rayOrigin});
        float3 nested(-1.0f);
        sv->globalIllumination(&nested, &st->position, &st->normal, 1.0f);
        EXPECT_RGB(nested, 0.0f, 0.0f, 0.0f);  // no second bounce
        st->outColor = float3(0.3f, 0.6f, 0.9f);
    });
    vref::Scene scene;
    vrtest::addSquare(scene, vrtest::addMaterial(scene, &floor), float3(0, 0, 0), float3(0, 0, 1));
    vref::Affine down;
    down.r1 = float3(0, -1, 0), down.r2 = float3(0, 0, -1), down.t = float3(0, 0, 2);
    scene.addObject("ceiling", vref::makePlane(1000, 1000), down,
                    vrtest::addMaterial(scene, &ceiling));
    scene.commit();
    vref::RenderSettings settings;
    settings.giSamples = 3;
    cameraRay(scene, settings, float3(0, 0, 1), float3(0, 0, -1));
    ASSERT_EQ(gathered.size(), 3u);
    for (const Call& c : gathered) {
        EXPECT_EQ(c.rayType, pxs::kRayGather);
        EXPECT_EQ(c.depth, 1);
    }
    EXPECT_RGB(gi, 0.3f, 0.6f, 0.9f);
}

// A light above a floor, with scripted blockers in between.
struct ShadowScene {
    std::vector<Call> blocked;
    pxs::LightSample seen{};
    pxs::LightNode node{};
    float3 occlusion;
    ScriptedLight light{[this](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        seen = st->lightSample;
        st->lightSample.lightColor = float3(2.0f, 2.0f, 2.0f);
        sv->traceShadow(&st->lightSample.lightTransmission, &st->position,
                        &st->lightSample.lightPosition);
    }};
    ScriptedMaterial floor{pxs::kCapShade, [this](pxs::IRenderServices* sv, pxs::ShadingState* st) {
                               const pxs::LightNode* n =
                                   sv->getLights(0, &st->position, &st->normal);
                               if (n) node = *n;
                               sv->ambientOcclusion(&occlusion, &st->position, &st->normal, 1.0f);
                           }};
    ScriptedMaterial filter{pxs::kCapShade | pxs::kCapShadowTransmission};
    ScriptedMaterial opaque{pxs::kCapShade};

    ShadowScene() {
        filter.onShadow = [this](pxs::IRenderServices*, pxs::ShadingState* st) {
            blocked.push_back({st->rayType, st->rayDepth, st->rayOrigin});
            st->outTransmission = float3(0.25f, 0.5f, 1.0f);
        };
        opaque.onShadow = [this](pxs::IRenderServices*, pxs::ShadingState*) {
            ADD_FAILURE() << "shadowTransmission called on a material that did not announce it";
        };
    }
    vref::Radiance run(vref::Scene& scene,
                       std::vector<std::pair<float, pxs::IShaderBase*>> layers) {
        vrtest::addSquare(scene, vrtest::addMaterial(scene, &floor), float3(), float3(0, 0, 1));
        for (auto& [z, m] : layers) {
            vrtest::addSquare(scene, vrtest::addMaterial(scene, m), float3(0, 0, z),
                              float3(0, 0, 1));
        }
        vref::Light l;
        l.shader = scene.addShader(vref::declareShader("light", "light", &light));
        l.position = float3(0, 0, 5);
        l.axis = float3(0, 0, -1);
        scene.lights.push_back(l);
        scene.commit();
        vref::RenderSettings settings;
        settings.aoSamples = 4;
        settings.aoDistance = 1000.0f;
        return cameraRay(scene, settings, float3(3, 0, 0.2f),
                         vref::normalize(float3(-3, 0, -0.2f)));
    }
};

TEST(RenderServicesShadows, ShadowRaysMultiplyTheTransmissionOfEverySurfaceOnTheWay) {
    ShadowScene s;
    vref::Scene scene;
    s.run(scene, {{2.0f, &s.filter}, {3.0f, &s.filter}});
    EXPECT_RGB(s.node.lightTransmission, 0.0625f, 0.25f, 1.0f);
    EXPECT_RGB(s.node.lightColor, 2.0f, 2.0f, 2.0f);
    EXPECT_RGB(s.node.lightContribution, 0.125f, 0.5f, 2.0f);
    EXPECT_EQ(s.node.type, pxs::kLightTinted);
    EXPECT_EQ(s.node.next, nullptr);
    std::vector<Call> shadow;
    for (const Call& c : s.blocked) {
        if (c.rayType == vref::kRayShadow) shadow.push_back(c);
    }
    ASSERT_EQ(shadow.size(), 2u);
    // Each blocker sees the previous surface as the origin: the floor, then z = 2.
    EXPECT_NEAR(shadow[0].origin.z, 0.0f, 1e-5f);
    EXPECT_NEAR(shadow[1].origin.z, 2.0f, 1e-5f);
}

TEST(RenderServicesShadows, SurfacesWithoutShadowTransmissionBlock) {
    ShadowScene s;
    vref::Scene scene;
    s.run(scene, {{2.0f, &s.filter}, {3.0f, &s.opaque}});
    EXPECT_RGB(s.node.lightTransmission, 0.0f, 0.0f, 0.0f);
}

TEST(RenderServicesShadows, OcclusionRaysAreType16AndHonourShadowTransmission) {
    ShadowScene s;
    vref::Scene scene;
    s.run(scene, {{0.5f, &s.filter}});
    // Every occlusion ray crosses the filter within the occlusion distance.
    EXPECT_RGB(s.occlusion, 0.25f, 0.5f, 1.0f);
    bool sawOcclusion = false;
    for (const Call& c : s.blocked) sawOcclusion |= c.rayType == pxs::kRayOcclusion;
    EXPECT_TRUE(sawOcclusion);
}

TEST(RenderServicesLights, LightShadersGetTheSampleAndNodesPointAtTheLight) {
    ShadowScene s;
    vref::Scene scene;
    s.run(scene, {});
    EXPECT_FLOAT_EQ(s.seen.lightDistance, 5.0f);
    EXPECT_RGB(s.seen.lightPosition, 0.0f, 0.0f, 5.0f);
    // From the light to the point, in line with the axis of a light pointing at it.
    EXPECT_RGB(s.seen.lightDirection, 0.0f, 0.0f, -1.0f);
    EXPECT_RGB(s.seen.lightAxis, 0.0f, 0.0f, -1.0f);
    EXPECT_RGB(s.node.direction, 0.0f, 0.0f, 1.0f);
    EXPECT_FLOAT_EQ(s.node.lightFactor, 1.0f);
    EXPECT_RGB(s.node.lightTransmission, 1.0f, 1.0f, 1.0f);
    EXPECT_RGB(s.occlusion, 1.0f, 1.0f, 1.0f);
}

TEST(RenderServicesPath, PathModeContinuesThroughSampleBsdfAndLightsThroughEvaluateBsdf) {
    std::vector<Call> escapes;
    ScriptedMaterial floor(pxs::kCapShade | pxs::kCapEvaluateBsdf | pxs::kCapSampleBsdf,
                           [](pxs::IRenderServices*, pxs::ShadingState*) {
                               ADD_FAILURE() << "path mode shades through the BSDF slots";
                           });
    floor.onEvaluate = [](pxs::IRenderServices*, pxs::ShadingState* st) {
        EXPECT_FLOAT_EQ(st->sampleDirection.z, 1.0f);  // towards the light overhead
        st->sampleValue = float3(0.5f, 0.5f, 0.5f);
        st->sampleCosine = 0.5f;
    };
    floor.onSample = [](pxs::IRenderServices*, pxs::ShadingState* st) {
        EXPECT_EQ(st->allowLobe[0], 1);
        st->sampleDirection = float3(0, 0, 1);
        st->sampleValue = float3(0.5f, 0.25f, 1.0f);
        st->sampleCosine = 1.0f;
        st->sampleWeight = 1.0f;
        st->sampleKind = pxs::kSampleLobeMixture;
    };
    ScriptedEnvironment env([&](pxs::IRenderServices*, pxs::ShadingState* st) {
        escapes.push_back({st->rayType, st->rayDepth, st->rayOrigin});
        st->outColor = st->rayType == pxs::kRayCamera ? float3(9.0f) : float3(1.0f);
    });
    vref::Scene scene;
    vrtest::addSquare(scene, vrtest::addMaterial(scene, &floor), float3(), float3(0, 0, 1));
    scene.environment = scene.addShader(vref::declareShader("env", "env", &env));
    vref::Light light;  // host light: 4 / 2^2 = 1 at the floor
    light.position = float3(0, 0, 2);
    light.intensity = 4.0f;
    scene.lights.push_back(light);
    scene.commit();
    vref::RenderSettings settings;
    settings.mode = vref::Mode::Path;
    vref::Radiance r =
        cameraRay(scene, settings, float3(0, -1, 1), vref::normalize(float3(0, 1, -1)));
    ASSERT_EQ(escapes.size(), 1u);
    EXPECT_EQ(escapes[0].rayType, pxs::kRayReflection);
    EXPECT_EQ(escapes[0].depth, 1);
    // Light: 0.5 * 0.5 * 1; continuation: (0.5, 0.25, 1) times the environment's 1.
    EXPECT_RGB(r.color, 0.75f, 0.5f, 1.25f);
}

}  // namespace

// BackgroundGeometry through the test host.
#include <algorithm>
#include <array>

#include "testkit/alloc_counter.h"
#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::StateBuilder;
using vhost::TestTexture;
using vtest::Fields;
using vtest::Shader;

const float3 kFloorHit(1, 2, 0);
const float3 kDirection(0.6f, 0, -0.8f);
const Fields& kShadeFields = vtest::kShadeFields;

// A camera ray onto a floor (normal +z) unless another normal is given.
pxs::ShadingState hit(int32_t rayType = pxs::kRayCamera, float3 n = float3(0, 0, 1)) {
    return StateBuilder()
        .ray(float3(-2, 2, 4), kDirection)
        .hit(kFloorHit, n, float3(0, 0, 1))
        .rayType(rayType)
        .build();
}

pxs::LightNode light(float3 color, float3 transmission) {
    return vtest::Light{color, transmission};
}

// A cube lookup direction, within rounding.
void expectLookup(const std::array<float, 3>& got, float x, float y, float z) {
    EXPECT_NEAR(got[0], x, 1e-6f);
    EXPECT_NEAR(got[1], y, 1e-6f);
    EXPECT_NEAR(got[2], z, 1e-6f);
}

TEST(BackgroundGeometryParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("BackgroundGeometry", 11, vtest::declarationRows(R"(
        diffuseColor c (1, 1, 1); diffuseTexture t; diffuseMode i; diffuseTextureMatrix M;
        diffuseAngularRepeat f 1; diffuseUVMatrix m; diffuseIBLGainColor c (1, 1, 1);
        diffuseIBLContrastPivot c (1, 1, 1); diffuseIBLContrastValue f 1; diffuseIBLGainSource i;
        specularColor c (0, 0, 0); specularTexture t; specularMode i; specularTextureMatrix M;
        specularAngularRepeat f 1; specularUVMatrix m; specularIBLGainColor c (1, 1, 1);
        specularIBLContrastPivot c (1, 1, 1); specularIBLContrastValue f 1;
        specularIBLGainSource i;
        bumpMode i -1; bumpTexture t; bumpTextureMatrix M; bumpTextureMatrixInverse M;
        bumpAngularRepeat f 1; bumpScale f 1; bumpUVMatrix m;
        shadowColor c (0, 0, 0); shadowIntensity f 1; useCubeReflection B; reflectCube u;
        diffuseCube u; specularCube u;
        diffuseTextureGainColor c (1, 1, 1); diffuseTextureGainSource i;
        diffuseTextureGainValue f 1; diffuseTextureSatValue f 1;
        globalIBLContrastPivot c (1, 1, 1); globalIBLContrastValue f 1;
        globalIBLGainColor c (1, 1, 1); globalIBLSatValue f 1; globalIBLGainSource i;
        globalIBLGainValue f 1; globalIBLMatrix m;
        reflectIBLChannelGainColor c (1, 1, 1); reflectIBLChannelGainSource i;
        reflectIBLChannelGainValue f 1; reflectIBLChannelSatValue f 1;
        diffuseIBLGainValue f 1; specularIBLGainValue f 1;
        uv a 1@0; tangent a 2@8; bitangent a 2@20)"));
}

TEST(BackgroundGeometry, BackFacesAndEdgeOnHitsAreAbsent) {
    Shader s("BackgroundGeometry");
    vhost::TestServices sv;
    for (float3 ng : {float3(0, 0, -1), float3(1, 0, 0.75f)}) {  // behind; exactly edge-on
        pxs::ShadingState st = StateBuilder()
                                   .ray(float3(-2, 2, 4), kDirection)
                                   .hit(kFloorHit, float3(0, 0, 1), ng)
                                   .build();
        const pxs::ShadingState before = st;
        s.shade(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"});
        EXPECT_EQ(st.skipHit, 1);
    }
    EXPECT_TRUE(sv.calls.empty());
}

// The shadow factor itself is checked in unit/frame/shadow_catcher_test.cpp.
TEST(BackgroundGeometry, FloorColourAndAlphaFollowTheShadows) {
    const float3 white(1, 1, 1);
    const struct {
        std::vector<pxs::LightNode> lights;
        float3 open, factor;
    } cases[] = {
        {{}, white, white},
        // Visibility 0.25, then a green-channel occlusion of one half.
        {{light(white, float3(0.5f))}, {1, 0.5f, 1}, {0.7f, 0.5425f, 0.85f}},
    };
    for (const auto& c : cases) {
        Shader s("BackgroundGeometry");
        s.set({{"shadowColor", float3(0.2f, 0.4f, 0.6f)}, {"shadowIntensity", 0.5f}});
        vhost::TestServices sv;
        sv.setLights(c.lights);
        sv.ambientOcclusionValue = c.open;
        pxs::ShadingState st = hit(), before = st;
        s.shade(sv, st);
        // White diffuse: the colour is the shadow factor, the alpha its density.
        EXPECT_TRUE(vtest::near3(st.outColor, c.factor, 1e-6f));
        EXPECT_NEAR(st.outAlpha, 1 - std::min(c.factor.x, std::min(c.factor.y, c.factor.z)), 1e-6f);
        EXPECT_EQ(vhost::changedFields(before, st), kShadeFields);
        ASSERT_EQ(vtest::serviceSlots(sv),
                  (std::vector<int>{vhost::kSvcGetLights, vhost::kSvcAmbientOcclusion}));
        EXPECT_EQ(sv.calls[0].args, (std::vector<float>{0, 1, 2, 0, 0, 0, 1}));
        EXPECT_EQ(sv.calls[1].args, (std::vector<float>{1, 2, 0, 0, 0, 1, 1}));
    }
}

TEST(BackgroundGeometry, OnlyUpwardFacingPartsCatchShadows) {
    Shader s("BackgroundGeometry");
    vhost::TestServices sv;
    sv.setLights({light(float3(1, 1, 1), float3(0, 0, 0))});
    sv.ambientOcclusionValue = float3(0, 0, 0);
    // A wall, and a slope whose normal z is exactly the threshold.
    for (float3 n : {float3(1, 0, 0), float3(0.43588989f, 0, 0.9f)}) {
        pxs::ShadingState st = hit(pxs::kRayCamera, n);
        sv.clear();
        s.shade(sv, st);
        EXPECT_FLOAT3_EXACT(st.outColor, float3(1, 1, 1));
        EXPECT_EQ(st.outAlpha, 0.0f);
        EXPECT_TRUE(sv.calls.empty());
    }
    pxs::ShadingState st = hit(pxs::kRayCamera, float3(0.43588989f, 0, 0.90000004f));
    s.shade(sv, st);
    EXPECT_EQ(st.outAlpha, 1.0f) << "just above the threshold";
}

TEST(BackgroundGeometry, DiffuseAlphaRemovesOrBlendsTheBackground) {
    Shader s("BackgroundGeometry");
    float alpha = 0;
    TestTexture tex([&](const float*) { return float4(0.25f, 0.5f, 0.75f, alpha); });
    s.set({{"diffuseMode", 1}, {"diffuseTexture", tex.handle()}});
    vhost::TestServices sv;
    sv.transmissionValue = float3(0.2f, 0.4f, 0.6f);
    sv.transmissionAlpha = 0.8f;

    alpha = 0.04f;
    pxs::ShadingState st = hit(), before = st;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"});
    EXPECT_TRUE(sv.calls.empty());

    alpha = 0.5f;
    st = before;
    s.shade(sv, st);
    EXPECT_TRUE(vtest::near3(st.outColor, float3(0.225f, 0.45f, 0.675f), 1e-6f));
    EXPECT_NEAR(st.outAlpha, 0.4f, 1e-6f) << "half of the background's alpha, no shadow";
    const auto traced = sv.callsTo(vhost::kSvcTraceTransmission);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].args, (std::vector<float>{1, 2, 0, 0.6f, 0, -0.8f, 1}));

    // Fully covered: nothing behind is traced.
    alpha = 1;
    sv.clear();
    st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.25f, 0.5f, 0.75f));
    EXPECT_EQ(sv.count(vhost::kSvcTraceTransmission), 0);
}

TEST(BackgroundGeometry, ReflectionAndGatherRaysSeeTheCubes) {
    Shader s("BackgroundGeometry");
    vhost::TestServices sv;
    TestTexture reflect(float4(0.1f, 0.2f, 0.3f, 0.5f), 3), diffuse(float4(0.2f, 0.4f, 0.6f, 1), 3);

    // An empty reflection cube is black; alpha stays the host's.
    pxs::ShadingState st = hit(pxs::kRayReflection), before = st;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0, 0, 0));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"});

    s.param<pxs::TextureHandle>("reflectCube") = reflect.handle();
    st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.1f, 0.2f, 0.3f)) << "raw, not graded";
    // The identity rotation reads (x, z, -y).
    ASSERT_EQ(reflect.lookups.size(), 1u);
    EXPECT_EQ(reflect.lookups[0], (std::array<float, 3>{0.6f, -0.8f, 0}));
    EXPECT_TRUE(sv.calls.empty()) << "no shadows for a reflection ray";

    // Without the switch a reflection ray sees the surface like a camera ray.
    s.param<bool>("useCubeReflection") = false;
    st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(1, 1, 1));
    EXPECT_EQ(vhost::changedFields(before, st), kShadeFields);

    // Gather rays: the diffuse cube through the global and reflection-channel stages.
    s.set({{"diffuseCube", diffuse.handle()},
           {"globalIBLGainValue", 2.0f},
           {"reflectIBLChannelGainSource", 1},
           {"reflectIBLChannelGainColor", float3(1, 0.5f, 0.25f)},
           {"globalIBLSatValue", 0.0f}});
    st = hit(pxs::kRayGather);
    before = st;
    sv.clear();
    s.shade(sv, st);
    // Luminance 0.37192 tinted, doubled, then fully desaturated: the luminance of that.
    const float grey = 2 * 0.37192f * (0.2125f + 0.7154f * 0.5f + 0.0721f * 0.25f);
    EXPECT_TRUE(vtest::near3(st.outColor, float3(grey, grey, grey), 1e-6f));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"});
    EXPECT_TRUE(sv.calls.empty());
}

TEST(BackgroundGeometry, NormalMapTurnsOnTheCubeLight) {
    Shader s("BackgroundGeometry");
    TestTexture diffuse(float4(0.4f, 0.6f, 0.8f, 1), 3), specular(float4(0.2f, 0.2f, 0.2f, 1), 3);
    s.set({{"diffuseCube", diffuse.handle()},
           {"specularCube", specular.handle()},
           {"diffuseColor", float3(0.5f, 0.5f, 0.5f)},
           {"diffuseIBLContrastPivot", float3(1, 1, 1)}});
    s.param<float>("diffuseIBLContrastValue") = 0.5f;  // (0.7, 0.8, 0.9)
    s.set({{"diffuseIBLGainValue", 2.0f}, {"specularColor", float3(0.25f, 0.25f, 0.25f)}});
    s.param<int32_t>("specularIBLGainSource") = 1;  // luminance 0.2, tinted
    s.param<float3>("specularIBLGainColor") = float3(1, 0, 0.5f);
    vhost::TestServices sv;

    // Mode -1: the cubes are not read even with a texture bound.
    TestTexture bumps(float4(1, 0.5f, 1, 1));
    s.param<pxs::TextureHandle>("bumpTexture") = bumps.handle();
    pxs::ShadingState st = hit();
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.5f, 0.5f, 0.5f));
    EXPECT_TRUE(diffuse.lookups.empty() && specular.lookups.empty() && bumps.lookups.empty());

    // Mode 0 leaves the normal as it is but lights the surface with the cubes.
    s.param<int32_t>("bumpMode") = 0;
    st = hit();
    s.shade(sv, st);
    EXPECT_TRUE(vtest::near3(st.outColor, float3(0.75f, 0.8f, 0.925f), 1e-6f));
    EXPECT_EQ(st.outAlpha, 0.0f);
    ASSERT_EQ(diffuse.lookups.size(), 1u);
    expectLookup(diffuse.lookups[0], 0, 1, 0);
    ASSERT_EQ(specular.lookups.size(), 1u);  // the mirrored view (0.6, 0, 0.8)
    expectLookup(specular.lookups[0], 0.6f, 0.8f, 0);

    // Mode 1 leans the normal along minus the "tangent" attribute; the shadow query keeps
    // the shading normal.
    s.param<int32_t>("bumpMode") = 1;
    diffuse.lookups.clear();
    sv.clear();
    st = StateBuilder()
             .ray(float3(-2, 2, 4), kDirection)
             .hit(kFloorHit, float3(0, 0, 1))
             .attribute(0, float2(0.25f, 0.75f))
             .attribute(8, float3(1, 0, 0))
             .attribute(20, float3(0, 1, 0))
             .build();
    s.shade(sv, st);
    ASSERT_EQ(bumps.lookups.size(), 1u);
    EXPECT_TRUE(bumps.lookups[0][0] == 0.25f && bumps.lookups[0][1] == 0.75f);
    ASSERT_EQ(diffuse.lookups.size(), 1u);
    expectLookup(diffuse.lookups[0], -0.70710678f, 0.70710678f, 0);
    EXPECT_EQ(sv.calls[0].args, (std::vector<float>{0, 1, 2, 0, 0, 0, 1}));

    // Scale 0 switches the map off (the cube light stays on).
    s.param<float>("bumpScale") = 0;
    diffuse.lookups.clear();
    s.shade(sv, st);
    ASSERT_EQ(diffuse.lookups.size(), 1u);
    EXPECT_EQ(diffuse.lookups[0], (std::array<float, 3>{0, 1, 0}));
}

TEST(BackgroundGeometry, FinalGradingAppliesToTheShadowedColourOnly) {
    Shader s("BackgroundGeometry");
    s.param<float3>("diffuseColor") = float3(0.2f, 0.4f, 0.6f);
    s.param<float>("globalIBLContrastValue") = 0.5f;   // (0.6, 0.7, 0.8) about pivot 1
    s.param<float>("diffuseTextureGainValue") = 0.5f;  // (0.3, 0.35, 0.4)
    s.param<float>("diffuseTextureSatValue") = 0;      // grey at its luminance
    vhost::TestServices sv;
    sv.setLights({light(float3(1, 1, 1), float3(0.5f))});  // shadow factor 0.25
    pxs::ShadingState st = hit();
    s.shade(sv, st);
    // The shadow darkens before the contrast: (0.05, 0.1, 0.15) -> (0.525, 0.55, 0.575).
    const float grey = 0.5f * (0.2125f * 0.525f + 0.7154f * 0.55f + 0.0721f * 0.575f);
    EXPECT_TRUE(vtest::near3(st.outColor, float3(grey, grey, grey), 1e-6f));
    EXPECT_NEAR(st.outAlpha, 0.75f, 1e-6f) << "the alpha is not graded";
}

TEST(BackgroundGeometry, BlocksOnlyOcclusionRaysOverUpwardPartsAndPassesPathsThrough) {
    Shader s("BackgroundGeometry");
    vhost::TestServices sv;
    const struct {
        int32_t type;
        float nz;
        float transmission;
    } cases[] = {{16, 1, 0}, {16, 0.9f, 0}, {16, 0.89f, 1}, {1, 1, 1},
                 {2, 1, 1},  {4, 1, 1},     {32, 1, 1}};
    for (const auto& c : cases) {
        pxs::ShadingState st = hit(c.type, float3(0, 0, c.nz)), before = st;
        s.shadowTransmission(sv, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(c.transmission)) << c.type << " " << c.nz;
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    }

    // A straight continuation, whatever the host allows.
    const pxs::ShadingState st = vtest::sampleDeterministic(s, hit(), "\0\0\0\0\0\0");
    EXPECT_EQ(st.sampleKind, pxs::kSampleSingleLobe);
    EXPECT_FLOAT3_EXACT(st.sampleDirection, kDirection);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(1, 1, 1));
    EXPECT_EQ(st.sampleCosine, 1.0f);
}

TEST(BackgroundGeometry, ShadesWithoutAllocating) {
    Shader s("BackgroundGeometry");
    TestTexture tex(float4(0.5f, 0.5f, 0.5f, 0.5f)), cube(float4(1, 1, 1, 1), 3);
    tex.record = cube.record = false;
    s.set({{"diffuseMode", 1},
           {"diffuseTexture", tex.handle()},
           {"bumpMode", 1},
           {"bumpTexture", tex.handle()},
           {"diffuseCube", cube.handle()}});
    vhost::TestServices sv;
    sv.setLights({light(float3(1, 1, 1), float3(0.5f))});
    sv.record = false;
    for (int32_t type : {1, 2, 32}) {
        pxs::ShadingState st = hit(type);
        const auto allocations = vtest::allocationCounts().allocations;
        s.shade(sv, st);
        s.shadowTransmission(sv, st);
        s.sampleBsdf(sv, st);
        EXPECT_EQ(vtest::allocationCounts().allocations, allocations) << type;
    }
}

}  // namespace

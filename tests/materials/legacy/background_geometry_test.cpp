// BackgroundGeometry through the test host.
#include <algorithm>
#include <array>
#include <cstring>

#include "support/alloc_counter.h"
#include "support/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::DeclType;
using vhost::StateBuilder;
using vhost::TestTexture;
using vtest::Shader;
using Fields = std::vector<std::string>;

const float3 kFloorHit(1, 2, 0);
const float3 kDirection(0.6f, 0, -0.8f);
const Fields kShadeFields{"outColor", "outAlpha"};

// A camera ray onto a floor (normal +z) unless another normal is given.
pxs::ShadingState hit(int32_t rayType = pxs::kRayCamera, float3 n = float3(0, 0, 1)) {
    return StateBuilder()
        .ray(float3(-2, 2, 4), kDirection)
        .hit(kFloorHit, n, float3(0, 0, 1))
        .rayType(rayType)
        .build();
}

pxs::LightNode light(float3 color, float3 transmission) {
    pxs::LightNode n{};
    n.lightColor = color;
    n.lightTransmission = transmission;
    n.type = pxs::kLightTinted;
    return n;
}

// A cube lookup direction, within rounding.
void expectLookup(const std::array<float, 3>& got, float x, float y, float z) {
    EXPECT_NEAR(got[0], x, 1e-6f);
    EXPECT_NEAR(got[1], y, 1e-6f);
    EXPECT_NEAR(got[2], z, 1e-6f);
}

std::vector<int> slots(const vhost::TestServices& sv) {
    std::vector<int> out;
    for (const vhost::ServiceCall& c : sv.calls) out.push_back(c.slot);
    return out;
}

TEST(BackgroundGeometryParams, DeclarationOrderAndDefaults) {
    const std::string one = "(1, 1, 1)", none = "texture(null, -1)";
    vtest::expectDeclarations("BackgroundGeometry", 11,
                              {{"diffuseColor", DeclType::Float3, one},
                               {"diffuseTexture", DeclType::Texture2D, none},
                               {"diffuseMode", DeclType::Int, "0"},
                               {"diffuseTextureMatrix", DeclType::Matrix4, ""},
                               {"diffuseAngularRepeat", DeclType::Float, "1"},
                               {"diffuseUVMatrix", DeclType::Matrix3, ""},
                               {"diffuseIBLGainColor", DeclType::Float3, one},
                               {"diffuseIBLContrastPivot", DeclType::Float3, one},
                               {"diffuseIBLContrastValue", DeclType::Float, "1"},
                               {"diffuseIBLGainSource", DeclType::Int, "0"},
                               {"specularColor", DeclType::Float3, "(0, 0, 0)"},
                               {"specularTexture", DeclType::Texture2D, none},
                               {"specularMode", DeclType::Int, "0"},
                               {"specularTextureMatrix", DeclType::Matrix4, ""},
                               {"specularAngularRepeat", DeclType::Float, "1"},
                               {"specularUVMatrix", DeclType::Matrix3, ""},
                               {"specularIBLGainColor", DeclType::Float3, one},
                               {"specularIBLContrastPivot", DeclType::Float3, one},
                               {"specularIBLContrastValue", DeclType::Float, "1"},
                               {"specularIBLGainSource", DeclType::Int, "0"},
                               {"bumpMode", DeclType::Int, "-1"},
                               {"bumpTexture", DeclType::Texture2D, none},
                               {"bumpTextureMatrix", DeclType::Matrix4, ""},
                               {"bumpTextureMatrixInverse", DeclType::Matrix4, ""},
                               {"bumpAngularRepeat", DeclType::Float, "1"},
                               {"bumpScale", DeclType::Float, "1"},
                               {"bumpUVMatrix", DeclType::Matrix3, ""},
                               {"shadowColor", DeclType::Float3, "(0, 0, 0)"},
                               {"shadowIntensity", DeclType::Float, "1"},
                               {"useCubeReflection", DeclType::Bool, "true"},
                               {"reflectCube", DeclType::TextureCube, none},
                               {"diffuseCube", DeclType::TextureCube, none},
                               {"specularCube", DeclType::TextureCube, none},
                               {"diffuseTextureGainColor", DeclType::Float3, one},
                               {"diffuseTextureGainSource", DeclType::Int, "0"},
                               {"diffuseTextureGainValue", DeclType::Float, "1"},
                               {"diffuseTextureSatValue", DeclType::Float, "1"},
                               {"globalIBLContrastPivot", DeclType::Float3, one},
                               {"globalIBLContrastValue", DeclType::Float, "1"},
                               {"globalIBLGainColor", DeclType::Float3, one},
                               {"globalIBLSatValue", DeclType::Float, "1"},
                               {"globalIBLGainSource", DeclType::Int, "0"},
                               {"globalIBLGainValue", DeclType::Float, "1"},
                               {"globalIBLMatrix", DeclType::Matrix3, ""},
                               {"reflectIBLChannelGainColor", DeclType::Float3, one},
                               {"reflectIBLChannelGainSource", DeclType::Int, "0"},
                               {"reflectIBLChannelGainValue", DeclType::Float, "1"},
                               {"reflectIBLChannelSatValue", DeclType::Float, "1"},
                               {"diffuseIBLGainValue", DeclType::Float, "1"},
                               {"specularIBLGainValue", DeclType::Float, "1"},
                               {"uv", DeclType::Attribute, "1@0"},
                               {"tangent", DeclType::Attribute, "2@8"},
                               {"bitangent", DeclType::Attribute, "2@20"}});
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

TEST(BackgroundGeometry, FloorColourAndAlphaFollowTheShadows) {
    const float3 white(1, 1, 1), black(0, 0, 0);
    const struct {
        const char* name;
        std::vector<pxs::LightNode> lights;
        float3 open, shadowColor;
        float intensity;
        float3 factor;
    } cases[] = {
        {"no lights", {}, white, black, 1, white},
        {"full light", {light(white, white)}, white, black, 1, white},
        {"fully shadowed", {light(white, black)}, white, black, 1, black},
        // Visibility 0.25 (it counts twice), then a green-channel occlusion of one half.
        {"half visible",
         {light(white, float3(0.5f))},
         {1, 0.5f, 1},
         {0.2f, 0.4f, 0.6f},
         0.5f,
         {0.7f, 0.5425f, 0.85f}},
        // A black record weighs nothing, and alone it means no shadow.
        {"black record", {light(black, black), light(white, white)}, white, black, 1, white},
        {"only a black record", {light(black, black)}, white, black, 1, white},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Shader s("BackgroundGeometry");
        s.param<float3>("shadowColor") = c.shadowColor;
        s.param<float>("shadowIntensity") = c.intensity;
        vhost::TestServices sv;
        sv.setLights(c.lights);
        sv.ambientOcclusionValue = c.open;
        pxs::ShadingState st = hit(), before = st;
        s.shade(sv, st);
        // White diffuse: the colour is the shadow factor, the alpha its density.
        EXPECT_TRUE(vtest::near3(st.outColor, c.factor, 1e-6f));
        const float smallest = std::min(c.factor.x, std::min(c.factor.y, c.factor.z));
        EXPECT_NEAR(st.outAlpha, 1 - smallest, 1e-6f);
        EXPECT_EQ(vhost::changedFields(before, st), kShadeFields);
        ASSERT_EQ(slots(sv), (std::vector<int>{vhost::kSvcGetLights, vhost::kSvcAmbientOcclusion}));
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
    s.param<int32_t>("diffuseMode") = 1;
    s.param<pxs::TextureHandle>("diffuseTexture") = tex.handle();
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
    s.param<pxs::TextureHandle>("diffuseCube") = diffuse.handle();
    s.param<float>("globalIBLGainValue") = 2;
    s.param<int32_t>("reflectIBLChannelGainSource") = 1;
    s.param<float3>("reflectIBLChannelGainColor") = float3(1, 0.5f, 0.25f);
    s.param<float>("globalIBLSatValue") = 0;
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
    s.param<pxs::TextureHandle>("diffuseCube") = diffuse.handle();
    s.param<pxs::TextureHandle>("specularCube") = specular.handle();
    s.param<float3>("diffuseColor") = float3(0.5f, 0.5f, 0.5f);
    s.param<float3>("diffuseIBLContrastPivot") = float3(1, 1, 1);
    s.param<float>("diffuseIBLContrastValue") = 0.5f;  // (0.7, 0.8, 0.9)
    s.param<float>("diffuseIBLGainValue") = 2;
    s.param<float3>("specularColor") = float3(0.25f, 0.25f, 0.25f);
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

    pxs::ShadingState st = hit();
    std::memset(st.allowLobe, 0, sizeof st.allowLobe);
    const pxs::ShadingState before = st;
    s.sampleBsdf(sv, st);
    EXPECT_FLOAT3_EXACT(st.sampleDirection, kDirection);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(1, 1, 1));
    EXPECT_EQ(st.sampleCosine, 1.0f);
    EXPECT_EQ(st.sampleWeight, 1.0f);
    EXPECT_EQ(st.sampleKind, pxs::kSampleSingleLobe);
    EXPECT_EQ(
        vhost::changedFields(before, st),
        (Fields{"sampleDirection", "sampleValue", "sampleCosine", "sampleWeight", "sampleKind"}));
    EXPECT_TRUE(sv.calls.empty());
}

TEST(BackgroundGeometry, ShadesWithoutAllocating) {
    Shader s("BackgroundGeometry");
    TestTexture tex(float4(0.5f, 0.5f, 0.5f, 0.5f)), cube(float4(1, 1, 1, 1), 3);
    tex.record = cube.record = false;
    s.param<int32_t>("diffuseMode") = 1;
    s.param<pxs::TextureHandle>("diffuseTexture") = tex.handle();
    s.param<int32_t>("bumpMode") = 1;
    s.param<pxs::TextureHandle>("bumpTexture") = tex.handle();
    s.param<pxs::TextureHandle>("diffuseCube") = cube.handle();
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

// corvid_Mtl_Mirror through the test host. (Copying every field is covered for
// every class by the contract tests.)
#include <cmath>
#include <cstring>

#include "materials/physical/physical_test_util.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::DeclType;
using vhost::StateBuilder;
using vtest::Shader;

using namespace ptest;

const float kS = std::sqrt(0.5f);

ShadingState view(float3 dir, float3 n = float3(0, 0, 1), float3 ng = float3(0, 0, 1)) {
    return viewing(dir, n, ng).build();
}

std::vector<float> traced(const vhost::TestServices& sv, int slot) {
    auto calls = sv.callsTo(slot);
    return calls.size() == 1 ? calls[0].args : std::vector<float>{};
}

TEST(MirrorParams, DeclarationOrderAndDefaults) {
    auto expected = blockDeclarations();
    expected.push_back({"u_tintColor", DeclType::Float3, "(0, 0, 0)"});
    expected.push_back({"uv", DeclType::Attribute, "1@24"});
    vtest::expectDeclarations("corvid_Mtl_Mirror", 13, expected);
}

TEST(Mirror, ShadeTracesTheFresnelWeightedReflection) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(0.5f, 1.0f, 0.25f);
    vhost::TestServices sv;
    sv.reflectionValue = float3(1.0f, 0.5f, 2.0f);

    // Head-on: F = 0.92.
    const ShadingState before = view(float3(0, 0, -1));
    ShadingState st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(0.46f, 0.46f, 0.46f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(vhost::changedFields(before, st), (std::vector<std::string>{"outColor", "outAlpha"}));
    std::vector<float> args = traced(sv, vhost::kSvcTraceReflection);
    ASSERT_EQ(args.size(), 7u);
    EXPECT_EQ(args[5], 1.0f) << "reflected straight back up";
    EXPECT_FLOAT_EQ(args[6], 0.92f) << "importance = max(F * tint)";
    EXPECT_EQ(sv.calls.size(), 1u) << "no lights, occlusion or transmission";

    // 60 degrees off the normal: F = 0.92 + 0.08 * 0.5^5 = 0.9225; either face.
    vhost::TestServices sv2;
    sv2.reflectionValue = float3(1.0f);
    ShadingState oblique = view(float3(0.8660254f, 0, -0.5f));
    s.shade(sv2, oblique);
    EXPECT_FLOAT3(oblique.outColor, float3(0.46125f, 0.9225f, 0.230625f));
    ShadingState back = view(float3(0.8660254f, 0, 0.5f));
    s.shade(sv2, back);
    EXPECT_FLOAT3(back.outColor, oblique.outColor);
    // The back hit mirrors about the turned normal: it leaves downwards.
    args = sv2.callsTo(vhost::kSvcTraceReflection)[1].args;
    EXPECT_NEAR(args[3], 0.8660254f, 1e-6f);
    EXPECT_NEAR(args[5], -0.5f, 1e-6f);
}

TEST(Mirror, DefaultBlackTintStillTracesWithImportanceZero) {
    Shader s("corvid_Mtl_Mirror");
    vhost::TestServices sv;
    sv.reflectionValue = float3(1.0f);
    ShadingState st = view(float3(0, 0, -1));
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.0f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    ASSERT_EQ(sv.count(vhost::kSvcTraceReflection), 1);
    EXPECT_EQ(traced(sv, vhost::kSvcTraceReflection)[6], 0.0f);
}

TEST(Mirror, BumpedNormalReflectionKeptAboveTheSurface) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    vhost::TestServices sv;
    // The bump reflects the view to (-0.979, 0, -0.201), below the flat surface.
    float3 bumped = unit(float3(-1, 0, 0.3f));
    ShadingState st = view(float3(kS, 0, -kS), bumped, float3(0, 0, 1));
    s.shade(sv, st);
    std::vector<float> args = traced(sv, vhost::kSvcTraceReflection);
    ASSERT_EQ(args.size(), 7u);
    EXPECT_NEAR(args[3], -std::sqrt(1.0f - 0.0025f), 2e-6f);
    EXPECT_NEAR(args[5], 0.05f, 2e-6f) << "0.05 above the geometric surface";
}

TEST(Mirror, MaskingCutsOutOrMixesAndOcclusionIsNeverApplied) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    vhost::TestServices sv;
    sv.reflectionValue = float3(1.0f, 0.0f, 0.5f);
    sv.transmissionValue = float3(0.0f, 1.0f, 0.5f);
    sv.transmissionAlpha = 0.25f;

    // Fully masked: skipHit only, nothing traced.
    s.param<float3>("maskingColor") = float3(1.0f);
    const ShadingState before = view(float3(0, 0, -1));
    ShadingState st = before;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"skipHit"});
    EXPECT_EQ(st.skipHit, 1);
    EXPECT_TRUE(sv.calls.empty());

    // Half masked through a texture read at the "uv" attribute (byte 24).
    vhost::TestTexture mask(float4(0.5f, 0.5f, 0.5f, 1.0f));
    s.param<int32_t>("maskingMode") = 1;
    s.param<pxs::TextureHandle>("maskingTexture") = mask.handle();
    // Occlusion that would black out the colour if the mirror applied it.
    s.param<int32_t>("ambientOcclusionMode") = 1;
    s.param<bool>("usingRaytracedAO") = true;
    ShadingState half =
        StateBuilder().attribute(24, float2(0.375f, 0.625f)).attribute(0, float2(9, 9)).build();
    s.shade(sv, half);
    ASSERT_EQ(mask.lookups.size(), 1u);
    EXPECT_EQ(mask.lookups[0][0], 0.375f);
    EXPECT_EQ(mask.lookups[0][1], 0.625f);
    // Reflection (F = 0.92) mixed half and half with what lies behind.
    EXPECT_FLOAT3(half.outColor, float3(0.46f, 0.5f, 0.48f));
    EXPECT_EQ(half.outAlpha, 0.25f);
    auto behind = sv.callsTo(vhost::kSvcTraceTransmission);
    ASSERT_EQ(behind.size(), 1u);
    EXPECT_FLOAT3(behind[0].preset.xyz(), float3(0.92f, 0.0f, 0.46f));
    EXPECT_EQ(behind[0].preset.w, 1.0f);
    EXPECT_EQ(sv.count(vhost::kSvcAmbientOcclusion), 0);
    EXPECT_EQ(sv.count(vhost::kSvcTraceReflection), 1);
}

TEST(MirrorSampling, MirrorEventWithoutFresnel) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(0.5f, 1.0f, 0.25f);
    vhost::TestServices sv;
    const ShadingState before = view(float3(0.6f, 0, -0.8f));
    ShadingState st = before;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), kSampleFields);
    EXPECT_EQ(st.sampleKind, 4);
    EXPECT_EQ(st.sampleWeight, 1.0f);
    EXPECT_FLOAT_EQ(st.sampleCosine, 0.8f);
    EXPECT_FLOAT3(st.sampleDirection, float3(0.6f, 0, 0.8f));
    EXPECT_FLOAT3(scaled(st.sampleValue, st.sampleCosine), float3(0.5f, 1.0f, 0.25f));
    EXPECT_TRUE(sv.calls.empty());

    // Seen from behind the geometry: mirrored about the turned normal.
    ShadingState back = view(float3(0.6f, 0, 0.8f));
    s.sampleBsdf(sv, back);
    EXPECT_FLOAT3(back.sampleDirection, float3(0.6f, 0, -0.8f));
    EXPECT_FLOAT_EQ(back.sampleCosine, 0.8f);
}

TEST(MirrorSampling, OnlyLobeTwoIsOffered) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    vhost::TestServices sv;
    ShadingState before = view(float3(0, 0, -1));
    std::memcpy(before.allowLobe, "\1\1\0\1\1\1", 6);
    ShadingState st = before;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"sampleKind"});
    EXPECT_EQ(st.sampleKind, 0);

    std::memcpy(before.allowLobe, "\0\0\1\0\0\0", 6);
    st = before;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(st.sampleKind, 4);
}

TEST(MirrorSampling, GrazingViewHasNoContinuation) {
    Shader s("corvid_Mtl_Mirror");
    vhost::TestServices sv;
    for (float3 tint : {float3(1.0f), float3(0.0f)}) {
        s.param<float3>("u_tintColor") = tint;
        // In the shading plane: cosine 0 would make the value infinite (or 0/0).
        const ShadingState before = view(float3(1, 0, 0), float3(0, 0, 1), float3(0, 0.6f, 0.8f));
        ShadingState st = before;
        s.sampleBsdf(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"sampleKind"});
        EXPECT_EQ(st.sampleKind, 0);
        // Exactly in the geometric plane: the turned normal vanishes.
        const ShadingState edge = view(float3(1, 0, 0));
        st = edge;
        s.sampleBsdf(sv, st);
        EXPECT_EQ(vhost::changedFields(edge, st), std::vector<std::string>{"sampleKind"});
        EXPECT_EQ(st.sampleKind, 0);
    }
    // Nearly grazing stays a normal, finite event: value = tint / cosine.
    s.param<float3>("u_tintColor") = float3(1.0f);
    ShadingState near = view(unit(float3(1, 0, -1e-3f)));
    s.sampleBsdf(sv, near);
    EXPECT_EQ(near.sampleKind, 4);
    EXPECT_NEAR(near.sampleValue.x * near.sampleCosine, 1.0f, 1e-6f);
}

TEST(Mirror, EvaluateAndShadowWriteNothing) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    vhost::TestServices sv;
    const ShadingState before = StateBuilder().sampleDirection(float3(0, 0, 1)).build();
    ShadingState st = before;
    s.evaluateBsdf(sv, st);
    s.shadowTransmission(sv, st);
    EXPECT_TRUE(vhost::changedFields(before, st).empty());
    EXPECT_TRUE(sv.calls.empty());
}

}  // namespace

// corvid_Mtl_Mirror through the test host. (Copying every field is covered for
// every class by the contract tests.)
#include <cmath>

#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::StateBuilder;
using vtest::Fields;
using vtest::Shader;

const float kS = std::sqrt(0.5f);

ShadingState view(float3 dir, float3 n = float3(0, 0, 1), float3 ng = float3(0, 0, 1)) {
    return vtest::viewing(dir, n, ng).build();
}

std::vector<float> traced(const vhost::TestServices& sv, int slot) {
    auto calls = sv.callsTo(slot);
    return calls.size() == 1 ? calls[0].args : std::vector<float>{};
}

TEST(MirrorParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_Mirror", 13,
                              vtest::blockDeclarations("u_tintColor c (0, 0, 0); uv a 1@24"));
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
    EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);
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

    // The default black tint still traces, with importance 0.
    Shader black("corvid_Mtl_Mirror");
    vhost::TestServices sv3;
    sv3.reflectionValue = float3(1.0f);
    st = before;
    black.shade(sv3, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.0f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    ASSERT_EQ(sv3.count(vhost::kSvcTraceReflection), 1);
    EXPECT_EQ(traced(sv3, vhost::kSvcTraceReflection)[6], 0.0f);
}

TEST(Mirror, BumpedNormalReflectionKeptAboveTheSurface) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    vhost::TestServices sv;
    // The bump reflects the view to (-0.979, 0, -0.201), below the flat surface.
    float3 bumped = vtest::unit(float3(-1, 0, 0.3f));
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
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"});
    EXPECT_EQ(st.skipHit, 1);
    EXPECT_TRUE(sv.calls.empty());

    // Half masked through a texture read at the "uv" attribute (byte 24).
    vhost::TestTexture mask(float4(0.5f, 0.5f, 0.5f, 1.0f));
    s.set({{"maskingMode", 1}, {"maskingTexture", mask.handle()}});
    // Occlusion that would black out the colour if the mirror applied it.
    s.set({{"ambientOcclusionMode", 1}, {"usingRaytracedAO", true}});
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

TEST(MirrorSampling, MirrorEventWithoutFresnelOnLobeTwoOnly) {
    const float3 up(0, 0, 1), in(0.6f, 0, -0.8f), out(0.6f, 0, 0.8f), grazing(1, 0, 0);
    const float3 tint(0.5f, 1.0f, 0.25f);
    const struct {
        const char* name;
        const char* allow;
        float3 dir, ng, tint;
        int kind;
        float3 direction;
    } cases[] = {
        {"front", "\1\1\1\1\1\1", in, up, tint, 4, out},
        // Seen from behind the geometry: mirrored about the turned normal.
        {"back", "\1\1\1\1\1\1", out, up, tint, 4, in},
        {"lobe 2 only", "\0\0\1\0\0\0", in, up, tint, 4, out},
        {"every lobe but 2", "\1\1\0\1\1\1", in, up, tint, 0, {}},
        // In the shading plane the cosine 0 would make the value infinite (or 0/0);
        // exactly in the geometric plane the turned normal vanishes.
        {"shading plane", "\1\1\1\1\1\1", grazing, {0, 0.6f, 0.8f}, tint, 0, {}},
        {"shading plane, black", "\1\1\1\1\1\1", grazing, {0, 0.6f, 0.8f}, {}, 0, {}},
        {"geometric plane", "\1\1\1\1\1\1", grazing, up, tint, 0, {}},
        {"geometric plane, black", "\1\1\1\1\1\1", grazing, up, {}, 0, {}},
    };
    for (const auto& c : cases) {
        Shader s("corvid_Mtl_Mirror");
        s.param<float3>("u_tintColor") = c.tint;
        const ShadingState st = vtest::sampleDeterministic(s, view(c.dir, up, c.ng), c.allow);
        EXPECT_EQ(st.sampleKind, c.kind) << c.name;
        if (c.kind == 0) continue;
        EXPECT_FLOAT3(st.sampleDirection, c.direction) << c.name;
        EXPECT_FLOAT_EQ(st.sampleCosine, 0.8f) << c.name;
        EXPECT_FLOAT3(vtest::scaled(st.sampleValue, st.sampleCosine), c.tint) << c.name;
    }
    // Nearly grazing stays a normal, finite event: value = tint / cosine.
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    const ShadingState near =
        vtest::sampleDeterministic(s, view(vtest::unit(float3(1, 0, -1e-3f))), "\0\0\1\0\0\0");
    EXPECT_EQ(near.sampleKind, 4);
    EXPECT_NEAR(near.sampleValue.x * near.sampleCosine, 1.0f, 1e-6f);
}

TEST(Mirror, EvaluateBsdfWritesNothing) {
    Shader s("corvid_Mtl_Mirror");
    s.param<float3>("u_tintColor") = float3(1.0f);
    vhost::TestServices sv;
    const ShadingState before = StateBuilder().sampleDirection(float3(0, 0, 1)).build();
    ShadingState st = before;
    s.evaluateBsdf(sv, st);
    EXPECT_TRUE(vhost::changedFields(before, st).empty());
    EXPECT_TRUE(sv.calls.empty());
}

}  // namespace

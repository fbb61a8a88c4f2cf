// corvid_Mtl_Mirror through the test host.
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

ShadingState view(float3 dir, float3 n = float3(0, 0, 1), float3 ng = float3(0, 0, 1)) {
    return vtest::viewing(dir, n, ng).build();
}

std::vector<float> traced(const vhost::TestServices& sv, int slot) {
    auto calls = sv.callsTo(slot);
    return calls.size() == 1 ? calls[0].args : std::vector<float>{};
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

}  // namespace

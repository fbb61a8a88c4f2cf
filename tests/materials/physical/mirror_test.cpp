// corvid_Mtl_Mirror through the test host.
#include <cmath>

#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::ShadingState;
using vtest::Shader;

ShadingState view(float3 dir, float3 n = float3(0, 0, 1), float3 ng = float3(0, 0, 1)) {
    return vtest::viewing(dir, n, ng).build();
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

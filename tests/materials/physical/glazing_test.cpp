// corvid_Mtl_Glazing through the test host.
#include <cstring>

#include "src/frame/math.h"
#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vtest::expectArgs;
using vtest::Fields;
using vtest::light;
using vtest::Shader;
using vtest::viewing;

ShadingState view(float3 dir) {
    return viewing(dir).build();
}

ShadingState sample(const Shader& s, const char* allow, std::vector<float> randoms,
                    float3 dir = float3(0.6f, 0, -0.8f), int* drawn = nullptr) {
    return vtest::sampleDeterministic(s, view(dir), allow, std::move(randoms), drawn);
}

// Head-on light over a head-on view: D = 1 / (pi a2), G = 1, fr = D / 4, times
// Rg = 0.01; a light straight behind has no half vector at index ratio 1.
TEST(Glazing, LampHighlightOfAThinPane) {
    Shader s("corvid_Mtl_Glazing");
    s.set({{"u_rough", 0.25f}, {"u_reflectColor", float3(0.0f)}, {"u_refractColor", float3(0.0f)}});
    vhost::TestServices sv;
    sv.setLights({light(float3(0, 0, 1), 2.0f, float3(1.0f, 0.5f, 0.0f)),
                  light(float3(0, 0, -1), 1.0f, float3(5.0f))});
    ShadingState st = view(float3(0, 0, -1));
    s.shade(sv, st);
    const float v = 0.01f / (4.0f * 3.14159265f * 0.25f);
    EXPECT_FLOAT3(st.outColor, float3(2.0f * v, v, 0.0f));
}

TEST(GlazingSampling, ChoiceByRgOrTheAllowedGroupsFraction) {
    Shader s("corvid_Mtl_Glazing");
    s.set({{"u_reflectColor", float3(1.0f, 0.5f, 0.25f)},
           {"u_refractColor", float3(0.25f, 0.5f, 1.0f)}});
    const float3 in(0.6f, 0, -0.8f), out(0.6f, 0, 0.8f);
    const struct {
        const char* allow;
        std::vector<float> randoms;
        float3 dir;
        int kind, drawn;
        float3 direction;
        float cosine;
        float3 valueTimesCosine;
    } cases[] = {
        // Both groups: u above Rg transmits straight on, u <= Rg reflects.
        {"\1\0\0\0\0\1", {0.5f}, in, 32, 1, in, -0.8f, {0.25f, 0.5f, 1.0f}},
        {"\1\0\0\0\0\1", {0.01f}, in, 4, 1, out, 0.8f, {1.0f, 0.5f, 0.25f}},
        // One group: no draw, the fraction Rg or 1 - Rg as weight.
        {"\0\1\0\0\0\0", {}, in, 4, 0, out, 0.8f, {0.01f, 0.005f, 0.0025f}},
        {"\0\0\0\1\0\0", {}, in, 32, 0, in, -0.8f, {0.2475f, 0.495f, 0.99f}},
        {"\0\0\0\0\0\0", {}, in, 0, 0, {}, 0, {}},
        // Seen from behind: the turned normal keeps the reflection on the viewer's side.
        {"\1\0\0\0\0\0", {}, out, 4, 0, in, 0.8f, {0.01f, 0.005f, 0.0025f}},
    };
    for (const auto& c : cases) {
        int drawn = 0;
        const ShadingState st = sample(s, c.allow, c.randoms, c.dir, &drawn);
        EXPECT_EQ(st.sampleKind, c.kind);
        EXPECT_EQ(drawn, c.drawn);
        if (c.kind == 0) continue;
        EXPECT_FLOAT3(st.sampleDirection, c.direction);
        EXPECT_FLOAT_EQ(st.sampleCosine, c.cosine);
        EXPECT_FLOAT3(st.sampleCosine * st.sampleValue, c.valueTimesCosine);
    }
}

TEST(GlazingSampling, GrazingViewHasNoContinuation) {
    Shader s("corvid_Mtl_Glazing");
    for (const char* allow : {"\1\0\0\0\0\0", "\0\0\0\0\0\1", "\1\0\0\0\0\1"}) {
        for (float u : {0.0f, 0.9f}) {
            EXPECT_EQ(sample(s, allow, {u}, float3(1, 0, 0)).sampleKind, 0) << u;
        }
    }
}

}  // namespace

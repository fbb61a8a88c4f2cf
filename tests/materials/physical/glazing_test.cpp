// corvid_Mtl_Glazing through the test host. (Copying every field is covered for
// every class by the contract tests.)
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

const float kPi = 3.14159265f;

ShadingState view(float3 dir) {
    return viewing(dir).build();
}

TEST(GlazingParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_Glazing", 15, vtest::blockDeclarations(R"(
        bitangent a 2@24; tangent a 2@36; uv a 1@48; u_reflectance f 0.100000001;
        u_reflectColor c (1, 1, 1); u_refractColor c (1, 1, 1); u_rough f 9.99999975e-05;
        u_level f 1; u_transmittanceMapEnable b; u_transmittanceMap t;
        u_transmittanceTransform m; u_transmittanceAmount f 1)"));
}

TEST(Glazing, DefaultsReflectOnePercentAndPassTheRestStraightOn) {
    Shader s("corvid_Mtl_Glazing");
    vhost::TestServices sv;
    sv.reflectionValue = float3(1.0f, 0.0f, 0.0f);
    sv.transmissionValue = float3(0.0f, 1.0f, 0.5f);
    const ShadingState before = view(float3(0.6f, 0, -0.8f));
    ShadingState st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(0.01f, 0.99f, 0.495f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);

    auto refl = sv.callsTo(vhost::kSvcTraceReflection);
    ASSERT_EQ(refl.size(), 1u);
    expectArgs(refl[0].args, {0, 0, 0, 0.6f, 0, 0.8f, 0.01f});  // mirror direction, importance Rg
    auto thru = sv.callsTo(vhost::kSvcTraceTransmission);
    ASSERT_EQ(thru.size(), 1u);
    expectArgs(thru[0].args, {0, 0, 0, 0.6f, 0, -0.8f, 0.99f});  // straight on, importance 1 - Rg
    EXPECT_EQ(sv.count(vhost::kSvcGetLights), 1);

    // Black tints skip their traces.
    s.set({{"u_reflectColor", float3(0.0f)}, {"u_refractColor", float3(0.0f)}});
    vhost::TestServices quiet;
    st = before;
    s.shade(quiet, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.0f));
    EXPECT_EQ(quiet.count(vhost::kSvcTraceReflection) + quiet.count(vhost::kSvcTraceTransmission),
              0);
}

TEST(Glazing, LampHighlightMatchesEvaluateBsdf) {
    Shader s("corvid_Mtl_Glazing");
    s.set({{"u_rough", 0.25f}, {"u_reflectColor", float3(0.0f)}, {"u_refractColor", float3(0.0f)}});
    vhost::TestServices sv;
    sv.setLights({light(float3(0, 0, 1), 2.0f, float3(1.0f, 0.5f, 0.0f)),
                  light(float3(0, 0, -1), 1.0f, float3(5.0f))});
    ShadingState st = view(float3(0, 0, -1));
    s.shade(sv, st);
    // Head-on light over a head-on view: D = 1 / (pi a2), G = 1, fr = D / 4, times
    // Rg = 0.01; the light straight behind has no half vector at index ratio 1.
    const float v = 0.01f / (4.0f * kPi * 0.25f);
    EXPECT_FLOAT3(st.outColor, float3(2.0f * v, v, 0.0f));

    // evaluateBsdf gives the same response, as grey, and |cosine|.
    const ShadingState before = viewing(float3(0, 0, -1)).sampleDirection(float3(0, 0, 1)).build();
    ShadingState ev = before;
    s.evaluateBsdf(sv, ev);
    EXPECT_EQ(vhost::changedFields(before, ev), (Fields{"sampleValue", "sampleCosine"}));
    EXPECT_FLOAT3(ev.sampleValue, float3(v));
    EXPECT_EQ(ev.sampleCosine, 1.0f);

    // An oblique light: shade adds value * leak * factor * contribution.
    const float3 l(0.6f, 0.0f, 0.8f);
    vhost::TestServices one;
    one.setLights({light(l, 1.0f, float3(1.0f))});
    st = view(float3(-0.6f, 0, -0.8f));
    s.shade(one, st);
    ev = viewing(float3(-0.6f, 0, -0.8f)).sampleDirection(l).build();
    s.evaluateBsdf(one, ev);
    EXPECT_GT(ev.sampleValue.x, 0.0f);
    EXPECT_FLOAT3(st.outColor, ev.sampleValue);
    EXPECT_FLOAT_EQ(ev.sampleCosine, 0.8f);
}

TEST(Glazing, TransmittanceMapRaisedToOneOverLevel) {
    Shader s("corvid_Mtl_Glazing");
    vhost::TestTexture map(float4(0.25f, 0.64f, 0.01f, 1.0f));
    s.set({{"u_transmittanceMapEnable", true}, {"u_transmittanceMap", map.handle()}});
    s.param<pxs::matrix3>("u_transmittanceTransform") = {{1, 0, 0, 0, 1, 0, 0.5f, 0, 0}};
    s.param<float>("u_level") = 2.0f;
    vhost::TestServices sv;
    sv.transmissionValue = float3(1.0f);
    ShadingState st = viewing(float3(0, 0, -1)).attribute(48, float2(0.125f, 0.25f)).build();
    s.shade(sv, st);
    // Rg = 0.01 / 2; the map's square root through 1 - Rg.
    EXPECT_FLOAT3(st.outColor, float3(0.995f * 0.5f, 0.995f * 0.8f, 0.995f * 0.1f));
    ASSERT_EQ(map.lookups.size(), 1u);
    EXPECT_EQ(map.lookups[0][0], 0.625f);
    EXPECT_EQ(map.lookups[0][1], 0.25f);

    // Shadows ignore the map.
    st = view(float3(0, 0, -1));
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3(st.outTransmission, float3(0.995f));
}

TEST(Glazing, ShadowTransmissionIsUnclampedOneMinusRg) {
    Shader s("corvid_Mtl_Glazing");
    s.param<float3>("u_refractColor") = float3(1.0f, 0.5f, 0.0f);
    vhost::TestServices sv;
    const ShadingState before = view(float3(0, 0, -1));
    ShadingState st = before;
    s.shadowTransmission(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    EXPECT_FLOAT3(st.outTransmission, float3(0.99f, 0.495f, 0.0f));
    // r = 1, L = 0.5: Rg = 2, and nothing clamps the weights.
    s.set({{"u_reflectance", 1.0f}, {"u_level", 0.5f}});
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3(st.outTransmission, float3(-1.0f, -0.5f, 0.0f));
    EXPECT_TRUE(sv.calls.empty());
}

TEST(Glazing, MaskingAndOcclusion) {
    Shader s("corvid_Mtl_Glazing");
    vhost::TestServices sv;
    s.param<float3>("maskingColor") = float3(1.0f);
    const ShadingState before = view(float3(0, 0, -1));
    ShadingState st = before;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"});
    EXPECT_TRUE(sv.calls.empty());

    // The occlusion is evaluated (traced here) but only darkens direct diffuse,
    // which a pane does not have.
    s.set({{"maskingColor", float3(0.0f)}, {"usingRaytracedAO", true}});
    sv.ambientOcclusionValue = float3(0.0f);
    sv.transmissionValue = float3(1.0f);
    st = before;
    s.shade(sv, st);
    EXPECT_EQ(sv.count(vhost::kSvcAmbientOcclusion), 1);
    EXPECT_FLOAT3(st.outColor, float3(0.99f));
}

ShadingState sample(const Shader& s, const char* allow, std::vector<float> randoms,
                    float3 dir = float3(0.6f, 0, -0.8f), int* drawn = nullptr) {
    return vtest::sampleDeterministic(s, view(dir), allow, std::move(randoms), drawn);
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

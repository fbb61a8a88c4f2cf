// corvid_Mtl_Metal through the test host: its cut-outs and the mixture's weights.
#include <cmath>

#include "src/frame/math.h"
#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::TestServices;
using vtest::expectArgs;
using vtest::Fields;
using vtest::light;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

float3 at(float degrees) {
    return vtest::viewAt(degrees);
}

ShadingState hitAt(float2 uv, float3 view = at(30)) {
    return viewing(view).attribute(48, uv).build();
}

// A matte metal: no highlight or reflection, so one head-on light of factor 1 and
// contribution 1 shows the diffuse colour.
Shader matteMetal(float3 diffuse) {
    Shader s("corvid_Mtl_Metal");
    s.param<float3>("u_diffuseColor") = diffuse;
    s.set({{"u_brdf00Reflectivity", 0.0f}, {"u_brdf90Reflectivity", 0.0f}});
    return s;
}

float3 shadeLit(const Shader& s, TestServices& sv, ShadingState st) {
    sv.setLights({light(float3(0, 0, 1), 1.0f, float3(1))});
    s.shade(sv, st);
    return st.outColor;
}

TEST(MetalCutouts, EveryModeCutsHolesThatShadeAndShadowsSeeThrough) {
    const struct {
        int32_t mode;
        float2 hole, web;
    } cases[] = {{1, {3.0f, 1.0f}, {1.0f, 1.0f}}, {2, {1.0f, 1.0f}, {0.2f, 0.2f}},
                 {3, {1.0f, 1.0f}, {0.2f, 1.0f}}, {4, {2.8f, 1.0f}, {0.0f, 1.0f}},
                 {5, {0.0f, 0.0f}, {1.0f, 0.0f}}, {6, {1.0f, 1.0f}, {1.0f, 1.6f}}};
    const float3 behind(0.1f, 0.2f, 0.3f);
    for (const auto& c : cases) {
        Shader s = matteMetal(float3(0.5f));
        s.param<int32_t>("u_cutoutsSwitcher") = c.mode;

        TestServices sv;
        sv.transmissionValue = behind;
        ShadingState st = hitAt(c.hole);
        ShadingState before = st;
        s.shadowTransmission(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(1.0f)) << c.mode;
        EXPECT_FLOAT3(shadeLit(s, sv, hitAt(c.hole)), behind) << c.mode;
        auto thru = sv.callsTo(vhost::kSvcTraceTransmission);
        ASSERT_EQ(thru.size(), 1u) << c.mode;
        EXPECT_EQ(thru[0].args.back(), 1.0f) << "importance 1 - cv";

        TestServices solid;
        st = hitAt(c.web);
        s.shadowTransmission(solid, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(0.0f)) << c.mode;
        EXPECT_FLOAT3(shadeLit(s, solid, hitAt(c.web)), float3(0.5f)) << c.mode;
        EXPECT_EQ(solid.count(vhost::kSvcTraceTransmission), 0) << c.mode;

        // Half the amount leaves half-open holes.
        s.param<float>("u_cutoutAmount") = 0.5f;
        TestServices half;
        half.transmissionValue = behind;
        st = hitAt(c.hole);
        s.shadowTransmission(half, st);
        EXPECT_FLOAT3(st.outTransmission, float3(0.5f)) << c.mode;
        EXPECT_FLOAT3(shadeLit(s, half, hitAt(c.hole)), float3(0.3f, 0.35f, 0.4f)) << c.mode;
    }
}

TEST(MetalSampling, MixtureAndSingleLobeFollowTheirDensitiesAndEvaluateBsdf) {
    Shader s("corvid_Mtl_Metal");
    s.set({{"u_diffuseColor", float3(0.3f)},
           {"u_roughValue", 0.25f},
           {"u_anisotropyValue", 0.5f},
           {"u_brdf00Reflectivity", 0.5f}});
    const float view = 35.0f;
    const float3 v = at(view);
    const float f = 0.5f + 0.5f * std::pow(1.0f - std::cos(view * 0.017453293f), 5.0f);
    const float diffuseOverPi = (1.0f - f) * 0.3f / 3.14159265f;
    for (bool single : {false, true}) {
        const double pd = single ? 0.0 : 0.5;
        auto state = [&] {
            ShadingState st = viewing(v).build();
            if (single) st.allowLobe[0] = st.allowLobe[1] = 0;
            return st;
        };
        auto script = [&](float u1, float u2, float u) {
            return single ? std::vector<float>{u1, u2} : std::vector<float>{u, u1, u2};
        };
        auto density = [&](float3 d) { return vtest::wardMixtureDensity(v, d, 0.25, 0.125, pd); };
        for (int i = 0; i < 40; ++i) {
            ShadingState st = state();
            const ShadingState before = st;
            TestServices sv;
            sv.randoms = script((i / 2 + 0.5f) / 20.0f, 0.61f, i % 2 ? 0.8f : 0.3f);
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone) continue;
            EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields);
            ASSERT_EQ(st.sampleKind, single ? pxs::kSampleSingleLobe : pxs::kSampleLobeMixture);
            EXPECT_NEAR(st.sampleWeight * density(st.sampleDirection), 1.0, 2e-3) << i;
            float3 value = st.sampleValue;
            if (single) value = value + float3(diffuseOverPi);
            const float cosine = st.sampleCosine;
            s.evaluateBsdf(sv, st);
            EXPECT_TRUE(vtest::near3(value, st.sampleValue, 2e-3f * st.sampleValue.x)) << i;
            EXPECT_FLOAT_EQ(cosine, st.sampleCosine);
        }
    }
}

}  // namespace

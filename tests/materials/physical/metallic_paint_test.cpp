// corvid_Mtl_MetallicPaint through the test host. (Copying every field is covered
// for every class by the contract tests.)
#include <cmath>
#include <random>

#include "src/frame/math.h"
#include "testkit/chi2.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::TestServices;
using vtest::Fields;
using vtest::light;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

constexpr double kPiD = 3.14159265358979;

float3 at(float degrees) {
    return vtest::viewAt(degrees);
}

float topcoatFresnel(float c) {
    return 0.3f + 0.7f * std::pow(1.0f - c, 5.0f);
}

// A paint with a plain diffuse base and no highlight, so that a light's
// contribution is the diffuse weight alone.
Shader diffusePaint(float3 base) {
    Shader s("corvid_Mtl_MetallicPaint");
    s.set({{"u_baseColor", float4(base, 1.0f)},
           {"u_base00Reflectivity", 0.0f},
           {"u_base90Reflectivity", 0.0f}});
    return s;
}

// The colour one head-on light of factor f and contribution C gives a paint.
float3 litBy(const Shader& s, float f, float3 c, float3 view = at(30)) {
    TestServices sv;
    sv.setLights({light(float3(0, 0, 1), f, c)});
    ShadingState st = viewing(view).build();
    s.shade(sv, st);
    return st.outColor;
}

TEST(MetallicPaintParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_MetallicPaint", 13, vtest::blockDeclarations(R"(
        bitangent a 2@24; tangent a 2@36; uv a 1@48; u_topcoatEnable b; u_pearl i;
        u_pearlColor 4 (0.800000012, 0.119999997, 0, 0); u_pearlIor f 0.200000003;
        u_pearlAmount f 0.5; u_finish i; u_finishPeelamount f 0.5;
        u_baseHighlightSpread f 0.600000024; u_flecksEnable b; u_flecksColor 4 (1, 1, 1, 1);
        u_baseMapEnable b; u_baseMap t; u_baseColor 4 (1, 1, 1, 1); u_baseTransform m;
        u_shiftedColor c (0, 0, 0); u_hueWeight f 0; u_baseBiasFactor f 0;
        u_baseRoughValue f 0.00999999978; u_topcoatRoughValue f 0.00999999978;
        u_baseCurvePower f 0; u_base00Reflectivity f 0.100000001; u_base90Reflectivity f 1;
        u_flecksSize f 0.5)"));
}

TEST(MetallicPaintSampling, TopcoatMirrorIsChosenWithItsFresnelEvenWithoutTopcoat) {
    Shader s("corvid_Mtl_MetallicPaint");
    const float ft = topcoatFresnel(0.8660254f);
    const struct {
        const char* name;
        uint8_t glossy;
        float u;
        int kind;
        float weight;
    } cases[] = {
        {"below Ft", 1, ft - 1e-4f, pxs::kSampleSingleLobe, 1.0f / ft},
        {"at Ft", 1, ft + 1e-4f, pxs::kSampleLobeMixture, 0.0f},
        {"glossy not allowed", 0, 0.999f, pxs::kSampleSingleLobe, 1.0f},
    };
    for (const auto& c : cases) {
        ShadingState st = viewing(at(30)).allowLobes(c.glossy, 0, 1, 1, 1, 1).build();
        const ShadingState before = st;
        TestServices sv;
        sv.randoms = {c.u, 0.3f, 0.4f, 0.6f};
        s.sampleBsdf(sv, st);
        EXPECT_EQ(st.sampleKind, c.kind) << c.name;
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields) << c.name;
        if (c.kind != pxs::kSampleSingleLobe) continue;
        EXPECT_FLOAT3(st.sampleValue, float3(ft));
        EXPECT_FLOAT3(st.sampleDirection, float3(0.5f, 0, 0.8660254f));
        EXPECT_EQ(st.sampleCosine, 1.0f);
        EXPECT_NEAR(st.sampleWeight, c.weight, 1e-5f) << c.name;
        EXPECT_EQ(sv.count(vhost::kSvcRandom), 1);
    }
}

TEST(MetallicPaint, HighlightSpreadShapesTheDiffuseOnlyAboveSixTenths) {
    Shader s = diffusePaint(float3(0.5f, 0.25f, 1.0f));
    s.param<float>("u_baseBiasFactor") = 2.0f;
    // A light at factor 0.5, head-on: s = 0.5, shaped = 0.5^(spread * 2).
    EXPECT_FLOAT3(litBy(s, 0.5f, float3(1)), float3(0.25f, 0.125f, 0.5f));
    s.param<float>("u_baseHighlightSpread") = 0.7f;
    const float shaped = std::pow(0.5f, 1.4f);
    EXPECT_FLOAT3(litBy(s, 0.5f, float3(1)), shaped * float3(0.25f, 0.125f, 0.5f));
}

TEST(MetallicPaint, ColourShiftNeedsAPositiveHueWeight) {
    Shader s = diffusePaint(float3(0.0f));
    s.param<float3>("u_shiftedColor") = float3(1, 0.5f, 0);
    EXPECT_FLOAT3_EXACT(litBy(s, 1.0f, float3(1)), float3(0.0f));
    s.param<float>("u_hueWeight") = 0.5f;
    // Added as weight * colour * shaped * |N.I|, at a view of 60 degrees.
    EXPECT_FLOAT3(litBy(s, 1.0f, float3(1), at(60)), float3(0.25f, 0.125f, 0));
    s.param<float>("u_hueWeight") = -1.0f;
    EXPECT_FLOAT3_EXACT(litBy(s, 1.0f, float3(1)), float3(0.0f));
}

TEST(MetallicPaint, PearlClampsTheDiffuseColourToOne) {
    Shader s = diffusePaint(float3(2.0f, 0.5f, 0.0f));
    EXPECT_FLOAT3(litBy(s, 1.0f, float3(1)), float3(2.0f, 0.5f, 0.0f)) << "no clamp without pearl";
    s.param<int32_t>("u_pearl") = 1;
    // Light factor 0.5 keeps shaped = 1 (exponent 0), so the pearl weight is
    // (1 - cos^0.4) * 0 = 0: only the clamp is left.
    EXPECT_FLOAT3(litBy(s, 0.5f, float3(1)), float3(0.5f, 0.25f, 0.0f));
    // With shaping the pearl adds its tint where the shaped light is weak.
    s.set({{"u_baseHighlightSpread", 0.8f},
           {"u_baseBiasFactor", 1.0f},
           {"u_baseColor", float4(0.0f, 0.0f, 0.0f, 1.0f)}});
    const float sh = std::pow(0.5f, 0.8f);
    const float w = (1.0f - std::pow(0.8660254f, 0.4f)) * (1.0f - sh * sh * sh) * 0.25f;
    const float3 got = litBy(s, 0.5f, float3(1));
    EXPECT_NEAR(got.x, w * 0.8f * 0.5f * 0.5f, 1e-6f);
    EXPECT_NEAR(got.y, w * 0.12f * 0.5f * 0.5f, 1e-6f);
}

TEST(MetallicPaint, FlakesAddAFourTimesWiderLobeMaskedByTheFlakeNoise) {
    const float rough = 0.1f;
    const float3 lights[] = {unit(float3(-0.5f, 0.0f, 0.866f)), unit(float3(-0.3f, 0.2f, 0.9f))};
    for (const float3 l : lights) {
        Shader s("corvid_Mtl_MetallicPaint");
        s.param<float4>("u_baseColor") = float4(0, 0, 0, 1);
        s.param<float>("u_baseRoughValue") = rough;
        s.param<float4>("u_flecksColor") = float4(1.0f, 0.5f, 0.0f, 1.0f);
        TestServices plain;
        plain.setLights({light(l, 1.0f, float3(1))});
        ShadingState st = viewing(at(30)).build();
        s.shade(plain, st);
        const float3 base = st.outColor;
        EXPECT_EQ(plain.count(vhost::kSvcLatticeNoise), 0);

        s.param<bool>("u_flecksEnable") = true;
        TestServices sv;
        sv.setLights({light(l, 1.0f, float3(1))});
        sv.latticeNoiseFunction = [](float3) { return -0.5f; };
        st = viewing(at(30)).build();
        const ShadingState before = st;
        s.shade(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);
        // The lobe of the base's half vector l - v at roughness 4 * 0.1.
        const float3 v = at(30);
        const double hx = l.x - v.x, hy = l.y - v.y, hz = l.z - v.z;
        const double a4 = 0.4;
        const double lobe = std::exp(-(hx * hx + hy * hy) / (a4 * a4 * hz * hz)) /
                            (a4 * a4 * 4 * kPiD * std::sqrt(-v.z * l.z));
        const double k = std::pow(0.5, 2.5);
        EXPECT_NEAR(st.outColor.x - base.x, k * lobe, 1e-4 * k * lobe);
        EXPECT_NEAR(st.outColor.y - base.y, 0.5 * k * lobe, 1e-4 * k * lobe);
        EXPECT_NEAR(st.outColor.z - base.z, 0.0, 1e-6);
        EXPECT_EQ(sv.count(vhost::kSvcLatticeNoise), 54) << "once per hit";
    }
}

TEST(MetallicPaint, LightsBehindTheBaseGiveNoHighlight) {
    // A ray hitting the back of the geometry: the base frame faces the viewer, and a
    // light on the far side still passes the light-leak test of the raw normal.
    Shader s("corvid_Mtl_MetallicPaint");
    s.param<bool>("u_flecksEnable") = true;
    TestServices sv;
    sv.setLights({light(float3(0, 0, 1), 1.0f, float3(1))});
    ShadingState st = viewing(float3(0.5f, 0, 0.8660254f)).build();
    s.shade(sv, st);
    EXPECT_TRUE(std::isfinite(st.outColor.x) && std::isfinite(st.outColor.y) &&
                std::isfinite(st.outColor.z));
    EXPECT_EQ(sv.count(vhost::kSvcLatticeNoise), 0);
}

TEST(MetallicPaint, EvaluateBsdfIsZeroBelowTheBaseAndFromBehind) {
    Shader s("corvid_Mtl_MetallicPaint");
    TestServices sv;
    ShadingState st = viewing(at(30)).sampleDirection(unit(float3(0.3f, 0, 0.7f))).build();
    const ShadingState before = st;
    s.evaluateBsdf(sv, st);
    EXPECT_GT(st.sampleValue.x, 0.0f);
    EXPECT_EQ(vhost::changedFields(before, st), (Fields{"sampleValue", "sampleCosine"}));

    st = viewing(at(30)).sampleDirection(unit(float3(0.3f, 0, -0.7f))).build();
    s.evaluateBsdf(sv, st);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(0.0f));
    EXPECT_EQ(st.sampleCosine, 0.0f);

    // A shading normal tilted past the view: the ray meets the base from behind.
    st = viewing(at(60), unit(float3(1, 0, 0.2f)))
             .sampleDirection(unit(float3(0.3f, 0, 0.7f)))
             .build();
    s.evaluateBsdf(sv, st);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(0.0f));
    EXPECT_EQ(st.sampleCosine, 0.0f);
}

TEST(MetallicPaintSampling, BaseLayerFollowsItsMixtureDensityAndEvaluateBsdf) {
    Shader s("corvid_Mtl_MetallicPaint");
    const float rough = 0.2f;
    s.param<float>("u_baseRoughValue") = rough;
    s.set({{"u_baseColor", float4(0.6f, 0.3f, 0.1f, 1.0f)}, {"u_baseCurvePower", 5.0f}});
    for (float view : {10.0f, 50.0f}) {
        const float3 v = at(view);
        std::mt19937 choice(11);
        std::uniform_real_distribution<float> uniform(0.0f, 0.99999994f);
        auto sample = [&](float u1, float u2) -> std::optional<float3> {
            ShadingState st = viewing(v).build();
            TestServices sv;
            sv.record = false;
            sv.randoms = {0.9999f, uniform(choice), u1, u2};
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone) return std::nullopt;
            return st.sampleDirection;
        };
        auto density = [&](float3 d) { return vtest::wardMixtureDensity(v, d, rough, rough, 0.5); };
        vtest::Chi2Settings settings;
        settings.samples = 200000;
        settings.testCount = 2;
        const vtest::Chi2Result r = vtest::chi2Test(sample, density, settings);
        EXPECT_TRUE(r.passed) << view << " degrees\n" << r.message;

        for (int i = 0; i < 40; ++i) {
            ShadingState st = viewing(v).build();
            TestServices sv;
            sv.randoms = {0.9999f, i % 2 ? 0.7f : 0.2f, (i / 2 + 0.5f) / 20.0f, 0.37f};
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone) continue;
            ASSERT_EQ(st.sampleKind, pxs::kSampleLobeMixture);
            const float3 value = st.sampleValue;
            EXPECT_NEAR(st.sampleWeight * density(st.sampleDirection), 1.0, 2e-3) << i;
            s.evaluateBsdf(sv, st);
            EXPECT_TRUE(vtest::near3(value, st.sampleValue, 2e-3f * st.sampleValue.x + 1e-5f)) << i;
        }
    }
}

}  // namespace

// corvid_Mtl_MetallicPaint through the test host. (Copying every field is covered
// for every class by the contract tests.)
#include <cmath>
#include <random>

#include "materials/physical/physical_test_util.h"
#include "support/chi2.h"

namespace {

using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::DeclType;
using vhost::TestServices;
using vtest::Shader;

using namespace ptest;

using Fields = std::vector<std::string>;

constexpr double kPiD = 3.14159265358979;

float3 at(float degrees) {
    const float t = degrees * 0.017453293f;
    return float3(std::sin(t), 0.0f, -std::cos(t));
}

float topcoatFresnel(float c) {
    return 0.3f + 0.7f * std::pow(1.0f - c, 5.0f);
}

// A paint with a plain diffuse base and no highlight, so that a light's
// contribution is the diffuse weight alone.
Shader diffusePaint(float3 base) {
    Shader s("corvid_Mtl_MetallicPaint");
    s.param<float4>("u_baseColor") = float4(base, 1.0f);
    s.param<float>("u_base00Reflectivity") = 0.0f;
    s.param<float>("u_base90Reflectivity") = 0.0f;
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
    auto expected = blockDeclarations();
    expected.insert(expected.end(),
                    {{"bitangent", DeclType::Attribute, "2@24"},
                     {"tangent", DeclType::Attribute, "2@36"},
                     {"uv", DeclType::Attribute, "1@48"},
                     {"u_topcoatEnable", DeclType::Bool, "false"},
                     {"u_pearl", DeclType::Int, "0"},
                     {"u_pearlColor", DeclType::Float4, "(0.800000012, 0.119999997, 0, 0)"},
                     {"u_pearlIor", DeclType::Float, "0.200000003"},
                     {"u_pearlAmount", DeclType::Float, "0.5"},
                     {"u_finish", DeclType::Int, "0"},
                     {"u_finishPeelamount", DeclType::Float, "0.5"},
                     {"u_baseHighlightSpread", DeclType::Float, "0.600000024"},
                     {"u_flecksEnable", DeclType::Bool, "false"},
                     {"u_flecksColor", DeclType::Float4, "(1, 1, 1, 1)"},
                     {"u_baseMapEnable", DeclType::Bool, "false"},
                     {"u_baseMap", DeclType::Texture2D, "texture(null, -1)"},
                     {"u_baseColor", DeclType::Float4, "(1, 1, 1, 1)"},
                     {"u_baseTransform", DeclType::Matrix3, ""},
                     {"u_shiftedColor", DeclType::Float3, "(0, 0, 0)"},
                     {"u_hueWeight", DeclType::Float, "0"},
                     {"u_baseBiasFactor", DeclType::Float, "0"},
                     {"u_baseRoughValue", DeclType::Float, "0.00999999978"},
                     {"u_topcoatRoughValue", DeclType::Float, "0.00999999978"},
                     {"u_baseCurvePower", DeclType::Float, "0"},
                     {"u_base00Reflectivity", DeclType::Float, "0.100000001"},
                     {"u_base90Reflectivity", DeclType::Float, "1"},
                     {"u_flecksSize", DeclType::Float, "0.5"}});
    vtest::expectDeclarations("corvid_Mtl_MetallicPaint", 13, expected);
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
        EXPECT_EQ(vhost::changedFields(before, st), kSampleFields) << c.name;
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
    EXPECT_FLOAT3(litBy(s, 0.5f, float3(1)), scaled(float3(0.25f, 0.125f, 0.5f), shaped));
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
    s.param<float>("u_baseHighlightSpread") = 0.8f;
    s.param<float>("u_baseBiasFactor") = 1.0f;
    s.param<float4>("u_baseColor") = float4(0.0f, 0.0f, 0.0f, 1.0f);
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
        EXPECT_EQ(vhost::changedFields(before, st), (Fields{"outColor", "outAlpha"}));
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

// The density of the base layer's mixture: a cosine lobe and the Ward lobe of
// roughness a around the view v (pointing at the surface), each with probability 1/2.
double baseDensity(float3 v, float3 d, double a) {
    if (d.z <= 0) return 0.0;
    double hx = d.x - v.x, hy = d.y - v.y, hz = d.z - v.z;
    const double len = std::sqrt(hx * hx + hy * hy + hz * hz);
    hx /= len, hy /= len, hz /= len;
    const double e = std::exp(-(hx * hx + hy * hy) / (a * a * hz * hz));
    const double hv = -(hx * v.x + hy * v.y + hz * v.z);
    const double ward = e / (4 * kPiD * a * a * hv * hz * hz * hz);
    return 0.5 * ward + 0.5 * d.z / kPiD;
}

TEST(MetallicPaintSampling, BaseLayerFollowsItsMixtureDensityAndEvaluateBsdf) {
    Shader s("corvid_Mtl_MetallicPaint");
    const float rough = 0.2f;
    s.param<float>("u_baseRoughValue") = rough;
    s.param<float4>("u_baseColor") = float4(0.6f, 0.3f, 0.1f, 1.0f);
    s.param<float>("u_baseCurvePower") = 5.0f;
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
        auto density = [&](float3 d) { return baseDensity(v, d, rough); };
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

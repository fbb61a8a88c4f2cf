// corvid_Mtl_Dielectric through the test host. (Copying every field is covered for
// every class by the contract tests.)
#include <cmath>
#include <random>

#include "testkit/chi2.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::ShadingState;
using vhost::TestServices;
using vtest::expectArgs;
using vtest::Fields;
using vtest::light;
using vtest::scaled;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

constexpr double kPiD = 3.14159265358979;

float3 at(float degrees, float sign = -1.0f) {
    return vtest::viewAt(degrees, sign);
}

// Fresnel of the default reflectance 0.1 for a view at cosine c.
float schlick(float c) {
    return 0.1f + 0.9f * std::pow(1.0f - c, 5.0f);
}

ShadingState entering(float degrees, float medium = 1.0f) {
    return viewing(at(degrees)).ior(medium, 1.0f).build();
}
// A ray leaving the glass through a surface whose normal points out along +z.
ShadingState leaving(float degrees, float outside = 1.0f) {
    return viewing(at(degrees, 1.0f)).ior(1.52f, outside).build();
}

TEST(DielectricParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_Dielectric", 15, vtest::blockDeclarations(R"(
        bitangent a 2@24; tangent a 2@36; uv a 1@48;
        u_transmittanceMapEnable b; u_transmittanceMap t; u_transmittanceTransform m;
        u_transmittanceAmount f 1; u_procedureMapEnable i; u_procedureMapTiling c (1, 1, 1);
        u_procedureMapAmount f 0;
        u_normal0MapEnable b; u_normal0Map t; u_normal0Transform m; u_normal0Amount f 0;
        u_normal0UVScale f 1; u_normal1MapEnable b; u_normal1Map t; u_normal1Transform m;
        u_normal1Amount f 0;
        u_roughMapEnable b; u_roughMap t; u_roughValue f 0.00039999999; u_roughTransform m;
        u_glossyValue f 0; u_roughAmount f 1; u_ior f 1.51999998; u_reflectance f 0.100000001;
        u_absorptionCoef c (0, 0, 0); u_falloffEnable b; u_refractColor c (1, 1, 1);
        u_reflectColor c (1, 1, 1))"));
}

TEST(DielectricSampling, IndicesComeFromTheMediumOnTheWayInAndOutsideOnTheWayOut) {
    Shader s("corvid_Mtl_Dielectric");
    TestServices sv;
    // In from air at 45 degrees: sin t = sin 45 / 1.52, and the continuation is in glass.
    ShadingState st = viewing(at(45)).ior(1.0f, 1.0f).allowLobes(0, 0, 0, 1, 0, 0).build();
    const ShadingState before = st;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(st.sampleKind, pxs::kSampleSmoothTransmission);
    const float sinIn = 0.70710677f / 1.52f;
    EXPECT_FLOAT3(st.sampleDirection, float3(sinIn, 0, -std::sqrt(1 - sinIn * sinIn)));
    EXPECT_FLOAT3(st.sampleValue, float3(1.0f - schlick(0.70710677f)));
    EXPECT_EQ(st.sampleCosine, 1.0f);
    EXPECT_EQ(st.sampleWeight, 1.0f);
    EXPECT_FLOAT_EQ(st.outsideIor, 1.52f);
    Fields written = vtest::kSampleFields;
    written.insert(written.begin(), "outsideIor");
    EXPECT_EQ(vhost::changedFields(before, st), written);
    EXPECT_EQ(sv.count(vhost::kSvcRandom) + sv.count(vhost::kSvcRandom2), 0);

    // Out of the glass into water at 30 degrees: 1.52 on the near side, 1.33 beyond.
    st = viewing(at(30, 1.0f)).ior(1.0f, 1.33f).allowLobes(0, 0, 0, 0, 1, 0).build();
    s.sampleBsdf(sv, st);
    ASSERT_EQ(st.sampleKind, pxs::kSampleSmoothTransmission);
    const float sinOut = 0.5f * 1.52f / 1.33f;
    EXPECT_FLOAT3(st.sampleDirection, float3(sinOut, 0, std::sqrt(1 - sinOut * sinOut)));
    EXPECT_FLOAT_EQ(st.outsideIor, 1.33f);
}

TEST(DielectricSampling, TotalInternalReflectionReflectsOrGivesUp) {
    Shader s("corvid_Mtl_Dielectric");
    // 60 degrees inside glass is past the critical angle of 41.1.
    ShadingState st = leaving(60);
    st.allowLobe[0] = st.allowLobe[1] = st.allowLobe[2] = 0;
    const ShadingState before = st;
    TestServices sv;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(st.sampleKind, pxs::kSampleNone);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"sampleKind"});

    // With reflection allowed the refraction draw turns into a mirror event of weight 1.
    st = leaving(60);
    TestServices drawn;
    drawn.randoms = {0.9f};
    s.sampleBsdf(drawn, st);
    EXPECT_EQ(st.sampleKind, pxs::kSampleSmoothTransmission);
    EXPECT_FLOAT3(st.sampleDirection, at(60));
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(1.0f));
}

TEST(DielectricSampling, LobeChoiceFollowsThePermissionGroups) {
    Shader s("corvid_Mtl_Dielectric");
    const float f = schlick(0.70710677f);
    const float3 mirror(0.70710677f, 0, 0.70710677f);
    const struct {
        const char* name;
        uint8_t reflect, transmit;
        std::vector<float> randoms;
        bool reflects;
        float weight;
    } cases[] = {
        {"reflection only", 1, 0, {}, true, f},
        {"transmission only", 0, 1, {}, false, 1.0f - f},
        {"both, u just below F", 1, 1, {f - 1e-4f}, true, 1.0f},
        {"both, u above F", 1, 1, {f + 1e-4f}, false, 1.0f},
    };
    for (const auto& c : cases) {
        ShadingState st = viewing(at(45)).allowLobes(0, 0, c.reflect, 0, c.transmit, 0).build();
        TestServices sv;
        sv.randoms = c.randoms;
        s.sampleBsdf(sv, st);
        EXPECT_EQ(st.sampleKind, pxs::kSampleSmoothTransmission) << c.name;
        EXPECT_NEAR(st.sampleValue.x, c.weight, 1e-6f) << c.name;
        EXPECT_EQ(st.sampleDirection.z > 0, c.reflects) << c.name;
        if (c.reflects) {
            EXPECT_FLOAT3(st.sampleDirection, mirror);
        }
        EXPECT_EQ(sv.count(vhost::kSvcRandom), c.randoms.empty() ? 0 : 1) << c.name;
    }
    ShadingState st = viewing(at(45)).allowLobes(0, 0, 0, 0, 0, 0).build();
    const ShadingState before = st;
    TestServices sv;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"sampleKind"});
    EXPECT_EQ(st.sampleKind, pxs::kSampleNone);
}

TEST(DielectricSampling, RoughOnlyFromAlphaOneHundredthAndOnlyOnTheWayIn) {
    Shader s("corvid_Mtl_Dielectric");
    const struct {
        float rough;
        bool in;
        int kind;
    } cases[] = {{0.0099f, true, pxs::kSampleSmoothTransmission},
                 {0.01f, true, pxs::kSampleRoughTransmission},
                 {0.5f, false, pxs::kSampleSmoothTransmission}};
    for (const auto& c : cases) {
        s.param<float>("u_roughValue") = c.rough;
        ShadingState st = c.in ? entering(30) : leaving(20);
        TestServices sv;
        sv.randoms = {0.3f, 0.2f, 0.99f};
        s.sampleBsdf(sv, st);
        EXPECT_EQ(st.sampleKind, c.kind) << c.rough;
        EXPECT_EQ(sv.count(vhost::kSvcRandom2), c.kind == pxs::kSampleRoughTransmission ? 1 : 0);
    }
}

TEST(DielectricSampling, RoughWeightIsClampedAtFour) {
    Shader s("corvid_Mtl_Dielectric");
    s.param<float>("u_roughValue") = 0.3f;
    int clamped = 0;
    for (int i = 0; i < 40; ++i) {
        for (int j = 0; j < 8; ++j) {
            for (float u : {0.01f, 0.99f}) {
                ShadingState st = entering(85);
                TestServices sv;
                sv.randoms = {(i + 0.5f) / 40.0f, j / 8.0f, u};
                s.sampleBsdf(sv, st);
                if (st.sampleKind == pxs::kSampleNone) continue;
                ASSERT_EQ(st.sampleKind, pxs::kSampleRoughTransmission);
                EXPECT_GE(st.sampleValue.x, 0.0f);
                EXPECT_LE(st.sampleValue.x, 4.0f);
                clamped += st.sampleValue.x == 4.0f;
            }
        }
    }
    EXPECT_GT(clamped, 0) << "a grazing view reaches the clamp";
}

// The density of the rough sampler when entering from index 1 into 1.52: a GGX
// microfacet normal, then reflection with probability F or refraction. The two
// parts, as the reflected and the refracted event reach wi.
struct LobeDensity {
    double reflected = 0.0;
    double refracted = 0.0;
    double total() const { return reflected + refracted; }
};
LobeDensity roughDensity(float3 wo, float3 wi, double alpha, double f) {
    const double a2 = alpha * alpha;
    auto d = [&](double x, double y, double z) {
        if (z <= 0) return 0.0;
        const double c2 = z * z;
        const double t2 = (x * x + y * y) / c2;
        return a2 / (kPiD * c2 * c2 * (a2 + t2) * (a2 + t2));
    };
    auto dotd = [](double ax, double ay, double az, float3 b) {
        return ax * b.x + ay * b.y + az * b.z;
    };
    LobeDensity out;
    // Reflection through m = normalize(wo + wi).
    double hx = wo.x + wi.x, hy = wo.y + wi.y, hz = wo.z + wi.z;
    double len = std::sqrt(hx * hx + hy * hy + hz * hz);
    if (len > 0) {
        hx /= len, hy /= len, hz /= len;
        const double om = dotd(hx, hy, hz, wo);
        if (hz > 0 && om > 0) out.reflected = f * d(hx, hy, hz) * hz / (4 * om);
    }
    // Refraction through m = -normalize(wo + 1.52 wi).
    const double eta = 1.52;
    hx = -(wo.x + eta * wi.x), hy = -(wo.y + eta * wi.y), hz = -(wo.z + eta * wi.z);
    len = std::sqrt(hx * hx + hy * hy + hz * hz);
    if (len > 0) {
        hx /= len, hy /= len, hz /= len;
        const double om = dotd(hx, hy, hz, wo);
        const double im = dotd(hx, hy, hz, wi);
        if (hz > 0 && om > 0 && im < 0) {
            const double den = om + eta * im;
            out.refracted = (1 - f) * d(hx, hy, hz) * hz * eta * eta * std::fabs(im) / (den * den);
        }
    }
    return out;
}

TEST(DielectricSampling, RoughSamplesFollowTheMicrofacetDensityAndEvaluateBsdf) {
    Shader s("corvid_Mtl_Dielectric");
    const float alpha = 0.3f;
    s.param<float>("u_roughValue") = alpha;
    for (float view : {0.0f, 40.0f, 75.0f}) {
        const float3 wo = scaled(at(view), -1.0f);
        const double f = schlick(wo.z);
        std::mt19937 lobeChoice(7);
        std::uniform_real_distribution<float> uniform(0.0f, 0.99999994f);
        auto sample = [&](float u1, float u2) -> std::optional<float3> {
            ShadingState st = entering(view);
            TestServices sv;
            sv.record = false;
            sv.randoms = {u1, u2, uniform(lobeChoice)};
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone) return std::nullopt;
            return st.sampleDirection;
        };
        auto density = [&](float3 wi) { return roughDensity(wo, wi, alpha, f).total(); };
        vtest::Chi2Settings settings;
        settings.samples = 200000;
        settings.testCount = 3;
        const vtest::Chi2Result r = vtest::chi2Test(sample, density, settings);
        EXPECT_TRUE(r.passed) << view << " degrees\n" << r.message;

        // Below the clamp, weight = value * |cos| / density, as a path tracer assumes,
        // wherever only one of the two events reaches the direction.
        int checked = 0;
        for (int i = 0; i < 200; ++i) {
            ShadingState st = entering(view);
            TestServices sv;
            sv.randoms = {(i % 20 + 0.5f) / 20.0f, (i / 20 + 0.3f) / 10.0f, i % 2 ? 0.95f : 0.05f};
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone || st.sampleValue.x >= 4.0f) continue;
            const float weight = st.sampleValue.x;
            const LobeDensity pdf = roughDensity(wo, st.sampleDirection, alpha, f);
            if (pdf.reflected > 0 && pdf.refracted > 0) continue;
            s.evaluateBsdf(sv, st);
            const double expected = st.sampleValue.x * st.sampleCosine / pdf.total();
            EXPECT_NEAR(weight, expected, 2e-3 * expected + 1e-5) << view << " sample " << i;
            ++checked;
        }
        EXPECT_GT(checked, 60);
    }
}

TEST(Dielectric, ShadeLightsTheSurfaceThroughEvaluateBsdf) {
    Shader s("corvid_Mtl_Dielectric");
    s.set({{"u_roughValue", 0.4f},
           {"u_reflectColor", float3(0.0f)},
           {"u_refractColor", float3(0.0f)}});
    const float3 l = unit(float3(-0.3f, 0.2f, 0.9f));
    TestServices sv;
    sv.setLights({light(l, 0.5f, float3(1, 2, 3))});
    ShadingState st = entering(30);
    const ShadingState before = st;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);

    ShadingState probe = entering(30);
    probe.sampleDirection = l;
    const ShadingState unprobed = probe;
    s.evaluateBsdf(sv, probe);
    EXPECT_EQ(vhost::changedFields(unprobed, probe), (Fields{"sampleValue", "sampleCosine"}));
    const float v = probe.sampleValue.x * 0.5f;
    EXPECT_GT(v, 0.0f);
    EXPECT_FLOAT3(st.outColor, float3(v, 2 * v, 3 * v));
    EXPECT_EQ(
        sv.count(vhost::kSvcTraceGlossyReflection) + sv.count(vhost::kSvcTraceGlossyTransmission),
        0)
        << "black tints trace nothing";
}

TEST(Dielectric, ShadeReflectsOnlyOnTheWayInAndMirrorsInsideUnderInternalReflection) {
    Shader s("corvid_Mtl_Dielectric");
    s.param<float>("u_glossyValue") = 0.25f;
    const float f = schlick(0.5f);

    // In from air at 60 degrees: reflection weighted by F, refraction by 1 - F.
    TestServices sv;
    sv.glossyReflectionValue = float3(1, 0, 0);
    sv.glossyTransmissionValue = float3(0, 1, 0);
    ShadingState st = entering(60);
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(f, 1 - f, 0));
    auto refl = sv.callsTo(vhost::kSvcTraceGlossyReflection);
    ASSERT_EQ(refl.size(), 1u);
    expectArgs(refl[0].args, {0, 0, 0, 0.8660254f, 0, 0.5f, 0.25f, f});

    // Out of the glass past the critical angle: no reflection term; the transmission
    // lobe traces the inner mirror direction through the refraction service.
    TestServices inside;
    inside.glossyReflectionValue = float3(1, 0, 0);
    inside.glossyTransmissionValue = float3(0, 1, 0);
    st = leaving(60);
    s.shade(inside, st);
    EXPECT_FLOAT3(st.outColor, float3(0, 1, 0));
    EXPECT_EQ(inside.count(vhost::kSvcTraceGlossyReflection), 0);
    auto thru = inside.callsTo(vhost::kSvcTraceGlossyTransmission);
    ASSERT_EQ(thru.size(), 1u);
    expectArgs(thru[0].args, {0, 0, 0, 0.8660254f, 0, -0.5f, 0.25f, 1.0f});

    // In from a denser medium past its critical angle: nothing is refracted.
    TestServices dense;
    dense.glossyReflectionValue = float3(1, 0, 0);
    dense.glossyTransmissionValue = float3(0, 1, 0);
    st = entering(60, 2.0f);
    s.shade(dense, st);
    EXPECT_FLOAT3(st.outColor, float3(f, 0, 0));
    EXPECT_EQ(dense.count(vhost::kSvcTraceGlossyTransmission), 0);
}

TEST(Dielectric, AbsorptionAlwaysInShadowsButInShadeOnlyWithFalloff) {
    Shader s("corvid_Mtl_Dielectric");
    s.param<float3>("u_absorptionCoef") = float3(0.2f, 0.0f, 0.0f);
    // Head-on, 5 units from the ray origin: red keeps 10^-1.
    TestServices sv;
    ShadingState st = leaving(0);
    const ShadingState before = st;
    s.shadowTransmission(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    EXPECT_FLOAT3(st.outTransmission, float3(0.09f, 0.9f, 0.9f));
    st = entering(0);
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3(st.outTransmission, float3(0.9f, 0.9f, 0.9f));

    sv.glossyTransmissionValue = float3(1, 1, 1);
    st = leaving(0);
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(1, 1, 1)) << "no falloff";
    s.param<bool>("u_falloffEnable") = true;
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(0.1f, 1, 1));
    st = entering(0);
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(0.9f, 0.9f, 0.9f)) << "only on the way out";

    // The transmittance map gives the coefficient -ln(texel) / "u_absorptionCoef".
    vhost::TestTexture tint(pxs::float4(0.1f, 1.0f, 1.0f, 1.0f));
    s.set({{"u_absorptionCoef", float3(10.0f, 1.0f, 0.0f)},
           {"u_transmittanceMapEnable", true},
           {"u_transmittanceMap", tint.handle()}});
    st = leaving(0);
    s.shade(sv, st);
    EXPECT_NEAR(st.outColor.x, std::exp(-0.5f * std::log(10.0f) * std::log(10.0f)), 1e-6f);
    EXPECT_FLOAT_EQ(st.outColor.y, 1.0f);
    EXPECT_FLOAT_EQ(st.outColor.z, 1.0f) << "0 / 0 absorbs nothing";
    // An enabled map without a texture absorbs everything.
    s.param<pxs::TextureHandle>("u_transmittanceMap") = pxs::TextureHandle();
    s.param<float3>("u_absorptionCoef") = float3(1.0f);
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.0f));
}

TEST(Dielectric, HeightMapZeroWinsOverTheNoiseBump) {
    Shader s("corvid_Mtl_Dielectric");
    s.set({{"u_procedureMapEnable", 1}, {"u_procedureMapAmount", 2.0f}});
    TestServices sv;
    ShadingState st = entering(30);
    s.evaluateBsdf(sv, st);
    EXPECT_EQ(sv.count(vhost::kSvcNoise3), 4) << "the bump takes four noise values";

    vhost::TestTexture ramp([](const float* uv) { return pxs::float4(uv[0], 0, 0, 1); });
    s.set(
        {{"u_normal0MapEnable", true}, {"u_normal0Map", ramp.handle()}, {"u_normal0Amount", 1.0f}});
    TestServices mapped;
    st = entering(30);
    s.evaluateBsdf(mapped, st);
    EXPECT_EQ(mapped.count(vhost::kSvcNoise3), 0);
    EXPECT_EQ(ramp.lookups.size(), 3u);
}

}  // namespace

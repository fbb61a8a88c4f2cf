// corvid_Mtl_Dielectric through the test host.
#include <algorithm>
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

// Rough from a roughness of a hundredth; seen at 85 degrees some weights reach
// the clamp at 4, none passes it.
TEST(DielectricSampling, RoughFromAHundredthWithWeightsClampedAtFour) {
    Shader s("corvid_Mtl_Dielectric");
    for (float rough : {0.0099f, 0.01f}) {
        s.param<float>("u_roughValue") = rough;
        ShadingState st = entering(30);
        TestServices sv;
        sv.randoms = {0.3f, 0.2f, 0.99f};
        s.sampleBsdf(sv, st);
        EXPECT_EQ(st.sampleKind,
                  rough < 0.01f ? pxs::kSampleSmoothTransmission : pxs::kSampleRoughTransmission);
    }
    s.param<float>("u_roughValue") = 0.3f;
    float most = 0.0f;
    for (int i = 0; i < 640; ++i) {
        ShadingState st = entering(85);
        TestServices sv;
        sv.randoms = {(i / 16 + 0.5f) / 40.0f, (i % 8) / 8.0f, i % 16 < 8 ? 0.01f : 0.99f};
        s.sampleBsdf(sv, st);
        if (st.sampleKind != pxs::kSampleNone) most = std::max(most, st.sampleValue.x);
    }
    EXPECT_EQ(most, 4.0f);
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

}  // namespace

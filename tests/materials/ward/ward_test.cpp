// corvid_Mtl_Ward through the test host.
#include <array>
#include <cmath>
#include <optional>

#include "testkit/chi2.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using vhost::TestServices;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

// Just enough vector arithmetic for the expected values.
float3 operator*(float s, float3 a) {
    return float3(s * a.x, s * a.y, s * a.z);
}
float3 operator*(float3 a, float s) {
    return s * a;
}

constexpr const char* kWard = "corvid_Mtl_Ward";
constexpr float kInvPi = 0.3183099f;
constexpr double kPiD = 3.14159265358979;

// The view used below: 36.9 degrees off the normal, mirror direction (0, 0.6, 0.8).
const float3 kView(0, 0.6f, -0.8f);
const float3 kMirror(0, 0.6f, 0.8f);

float mirrorCosine(float3 d) {
    return d.x * kMirror.x + d.y * kMirror.y + d.z * kMirror.z;
}

// ---- sampling ------------------------------------------------------------------

float3 cosineMapped(float xi1, float xi2) {  // the concentric map, for xi2 = 0.5
    float r = 2 * xi1 - 1 - 1e-6f;
    EXPECT_EQ(xi2, 0.5f);
    return float3(r, 0, std::sqrt(1 - r * r));
}

TEST(WardSampling, LobeChoiceFollowsPd) {
    Shader s(kWard);
    const pxs::ShadingState before = viewing(kView).build();
    auto sample = [&](std::vector<float> randoms) {
        TestServices sv;
        sv.randoms = std::move(randoms);
        pxs::ShadingState st = before;
        s.sampleBsdf(sv, st);
        EXPECT_EQ(sv.count(vhost::kSvcRandom), 1);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields);
        EXPECT_EQ(st.sampleKind, pxs::kSampleLobeMixture);
        return st;
    };

    // Black diffuse: pd = 0, the Ward lobe even for a small number.
    pxs::ShadingState st = sample({0.05f, 0.2f, 0.7f});
    EXPECT_GT(mirrorCosine(st.sampleDirection), 0.999f);

    // Black specular (reflectivity 0): pd = 1, the cosine lobe even for 0.99.
    s.param<float3>("u_diffuseColor") = float3(0.5f, 0.4f, 0.2f);
    s.param<float>("u_reflectivity") = 0.0f;
    st = sample({0.99f, 0.75f, 0.5f});
    float3 d = cosineMapped(0.75f, 0.5f);
    EXPECT_FLOAT3(st.sampleDirection, d);
    EXPECT_FLOAT3(st.sampleValue, float3(0.5f, 0.4f, 0.2f) * kInvPi);
    EXPECT_NEAR(st.sampleWeight, 1.0f / (d.z * kInvPi), 1e-4f);

    // Both: pd = 0.5.
    s.param<float>("u_reflectivity") = 0.5f;
    st = sample({0.5f, 0.75f, 0.5f});
    EXPECT_FLOAT3(st.sampleDirection, d) << "0.5 is not above pd";
    EXPECT_NEAR(st.sampleWeight, 1.0f / (0.5f * d.z * kInvPi), 1e-3f) << "Ward pdf ~0 there";
    st = sample({0.51f, 0.75f, 0.5f});
    EXPECT_GT(mirrorCosine(st.sampleDirection), 0.999f);
}

// A rough, anisotropic, rotated material with both lobes (pd = 0.5).
struct RoughWard {
    Shader s{kWard};
    static constexpr float ax = 0.2f, ay = 0.4f, angle = 0.5f;
    RoughWard() {
        s.param<float3>("u_diffuseColor") = float3(0.5f, 0.4f, 0.2f);
        s.param<float>("u_reflectivity") = 0.5f;
        s.param<float>("u_roughValue") = ax;
        s.param<float>("u_anisotropyValue") = ay / ax;
        s.param<float>("u_anisoRotationValue") = angle;
    }
    // The density of the mixture, written out independently in frame space.
    static double density(float3 view, float3 d, double pd) {
        const double c = std::cos(angle), sn = std::sin(angle);
        auto local = [&](float3 v) {
            return std::array<double, 3>{v.x * c + v.y * sn, -v.x * sn + v.y * c, v.z};
        };
        auto o = local(d), i = local(view);
        if (o[2] <= 0) return 0.0;
        double h[3] = {o[0] - i[0], o[1] - i[1], o[2] - i[2]};
        double len = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
        for (double& x : h) x /= len;
        double e =
            std::exp(-((h[0] / ax) * (h[0] / ax) + (h[1] / ay) * (h[1] / ay)) / (h[2] * h[2]));
        double ward = e / (4 * kPiD * ax * ay * h[2] * h[2] * h[2] *
                           (h[0] * o[0] + h[1] * o[1] + h[2] * o[2]));
        return (1 - pd) * ward + pd * o[2] / kPiD;
    }
};

TEST(WardSampling, ChiSquareOfSampledDirections) {
    RoughWard m;
    const float3 grazing = unit(float3(0.3f, 0.9f, -0.15f));
    for (float3 view : {kView, grazing}) {
        for (bool lobeOnly : {false, true}) {
            TestServices sv;
            sv.record = false;
            const pxs::ShadingState before =
                lobeOnly ? viewing(view).allowLobes(0, 0, 1, 0, 0, 0).build()
                         : viewing(view).build();
            auto sample = [&](float, float) -> std::optional<float3> {
                pxs::ShadingState st = before;
                m.s.sampleBsdf(sv, st);
                if (st.sampleKind == pxs::kSampleNone) return std::nullopt;
                return st.sampleDirection;
            };
            auto density = [&](float3 d) {
                return RoughWard::density(view, d, lobeOnly ? 0 : 0.5);
            };
            vtest::Chi2Settings settings;
            settings.samples = 200000;
            settings.testCount = 4;
            vtest::Chi2Result r = vtest::chi2Test(sample, density, settings);
            EXPECT_TRUE(r.passed) << "lobe only " << lobeOnly << "\n" << r.message;
        }
    }
}

}  // namespace

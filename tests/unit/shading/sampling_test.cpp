// Goodness of fit of the library's samplers against their densities.
#include <gtest/gtest.h>

#include <cmath>

#include "shading/scattering.h"
#include "shading/ward_lobe.h"
#include "testkit/chi2.h"

namespace {

using namespace pxs;
using vtest::Chi2Settings;
using vtest::chi2Test;

TEST(Chi2Harness, SurvivalFunctionMatchesTables) {
    // Upper 5% points of the chi-square distribution.
    EXPECT_NEAR(vtest::chi2Survival(3.841459, 1), 0.05, 1e-6);
    EXPECT_NEAR(vtest::chi2Survival(18.307038, 10), 0.05, 1e-6);
    EXPECT_NEAR(vtest::chi2Survival(124.342113, 100), 0.05, 1e-6);
    EXPECT_EQ(vtest::chi2Survival(0.0, 4), 1.0);
}

TEST(Chi2Harness, RejectsAWrongDensity) {
    // Uniform hemisphere samples tested against the cosine density must fail.
    auto uniform = [](float u1, float u2) -> std::optional<float3> {
        float z = u1;
        float r = std::sqrt(1.0f - z * z);
        return float3(r * std::cos(6.2831853f * u2), r * std::sin(6.2831853f * u2), z);
    };
    auto cosine = [](float3 d) { return d.z > 0 ? d.z / 3.14159265358979 : 0.0; };
    Chi2Settings s;
    s.samples = 100000;
    EXPECT_FALSE(chi2Test(uniform, cosine, s).passed);
}

TEST(CosineHemisphereSampling, BothMapsMatchCosineDensity) {
    for (auto map : {cosineHemisphere, cosineHemispherePolar}) {
        auto sample = [map](float u1, float u2) -> std::optional<float3> { return map(u1, u2); };
        auto density = [](float3 d) { return d.z > 0 ? d.z / 3.14159265358979 : 0.0; };
        vtest::Chi2Result r = chi2Test(sample, density);
        EXPECT_TRUE(r.passed) << r.message;
        EXPECT_NEAR(r.integral, 1.0, 1e-3);
    }
}

TEST(GgxSampling, HalfVectorsFollowDTimesCosine) {
    for (float a2 : {0.04f, 0.16f, 0.64f}) {
        auto sample = [&](float u1, float u2) -> std::optional<float3> {
            return ggxSampleHalf(u1, u2, a2);
        };
        // Within 1e-6 of the horizon the float evaluation of D breaks down (z^4
        // underflows); the mass there is negligible.
        auto density = [&](float3 h) -> double {
            return h.z < 1e-6f ? 0.0 : double(ggxD(h, a2)) * h.z;
        };
        Chi2Settings s;
        s.thetaBins = 40;
        s.testCount = 3;
        vtest::Chi2Result r = chi2Test(sample, density, s);
        EXPECT_TRUE(r.passed) << "a2 " << a2 << "\n" << r.message;
        EXPECT_NEAR(r.integral, 1.0, 2e-3) << "D(h) cos is normalised";
    }
}

}  // namespace

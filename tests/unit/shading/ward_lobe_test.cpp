// The Ward lobe and the cosine hemisphere against worked values.
#include <gtest/gtest.h>

#include <cmath>

#include "shading/ward_lobe.h"

namespace {

using namespace pxs;

const float kInvPiD = 0.31830988f;

TEST(WardLobe, ValueAndDensityAtNormalIncidence) {
    float3 din(0, 0, -1);
    float3 dout(0, 0, 1);
    float3 diffuse(0.5f, 0, 0);
    float3 specular(0, 1, 0.25f);
    // e = 1, k = 1 / (4 pi ax ay) = 1 / pi for ax = ay = 0.5.
    float3 v = wardEval(din, dout, diffuse, specular, 0.5f, 0.5f);
    EXPECT_NEAR(v.x, 0.5f * kInvPiD, 1e-7f);
    EXPECT_NEAR(v.y, kInvPiD, 1e-6f);
    EXPECT_NEAR(v.z, 0.25f * kInvPiD, 1e-6f);
    WardValuePdf vp = wardEvalPdf(din, dout, diffuse, specular, 0.5f, 0.5f);
    EXPECT_NEAR(vp.pdf, kInvPiD, 1e-6f);
    EXPECT_NEAR(vp.value.y, kInvPiD, 1e-6f);
}

TEST(WardLobe, AnisotropyStretchesAlongTheRougherAxis) {
    // The same tilt costs less along T (ax = 0.4) than along B (ay = 0.1):
    // exp(-0.1345) against exp(-2.15).
    float3 din(0, 0, -1);
    float3 s(1.0f);
    float t = wardEval(din, normalize(float3(0.3f, 0, 1)), float3(0), s, 0.4f, 0.1f).x;
    float b = wardEval(din, normalize(float3(0, 0.3f, 1)), float3(0), s, 0.4f, 0.1f).x;
    EXPECT_GT(t, 5.0f * b);
    EXPECT_LT(t, 10.0f * b);
    // By hand in double: h = dout - din, exp(-((hx/ax)^2 + (hy/ay)^2) / hz^2) / (4 pi ax ay
    // sqrt(cos_in cos_out)).
    float3 dinTilted = normalize(float3(-0.1f, 0.05f, -1));
    float3 dout = normalize(float3(0.3f, 0.1f, 1));
    double hx = double(dout.x) - dinTilted.x, hy = double(dout.y) - dinTilted.y,
           hz = double(dout.z) - dinTilted.z;
    double e = std::exp(-((hx / 0.4) * (hx / 0.4) + (hy / 0.1) * (hy / 0.1)) / (hz * hz));
    double k = 1.0 / (std::sqrt(-double(dinTilted.z) * dout.z) * 4.0 * 3.14159265358979 * 0.04);
    EXPECT_NEAR(wardEval(dinTilted, dout, float3(0), s, 0.4f, 0.1f).x, k * e, 1e-5 * k * e);
}

}  // namespace

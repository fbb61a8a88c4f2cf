// The Ward lobe against worked values.
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

}  // namespace

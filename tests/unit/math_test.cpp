// The value types and scalar helpers, against worked values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frame/math.h"

namespace {

using namespace pxs;

TEST(ScalarHelpers, ClampEdgeCases) {
    EXPECT_EQ(clampf(-1.0f, 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(clampf(2.0f, 0.0f, 1.0f), 1.0f);
    EXPECT_TRUE(std::isnan(clampf(NAN, 0.0f, 1.0f))) << "NaN passes through";
    // lo > hi: lo below lo, hi otherwise.
    EXPECT_EQ(clampf(0.5f, 2.0f, 1.0f), 2.0f);
    EXPECT_EQ(clampf(3.0f, 2.0f, 1.0f), 1.0f);
    EXPECT_EQ(clampf(1.5f, 2.0f, 1.0f), 2.0f);
    EXPECT_EQ(signf(0.0f), 0.0f);
    EXPECT_EQ(signf(-0.0f), 0.0f);
    EXPECT_EQ(signf(-3.0f), -1.0f);
    EXPECT_EQ(smoothstepf(0.0f, 1.0f, 0.5f), 0.5f);
    EXPECT_EQ(smoothstepf(0.0f, 1.0f, 2.0f), 1.0f);
}

TEST(ScalarHelpers, RangeFalloff) {
    EXPECT_FLOAT_EQ(rangeFalloff(5.0f, 10.0f, 2.0f), 0.75f);
    EXPECT_EQ(rangeFalloff(10.0f, 10.0f, 2.0f), 0.0f);
    EXPECT_EQ(rangeFalloff(20.0f, 10.0f, 2.0f), 0.0f);
    EXPECT_EQ(rangeFalloff(3.0f, 1.0f, 0.0f), 0.0f) << "exponent 0 gives no light";
}

TEST(VectorHelpers, NormalizeReflectFaceForward) {
    EXPECT_TRUE(normalize(float3(0, 0, 0)) == float3(0, 0, 0));
    EXPECT_TRUE(normalize(float3(0, 3, 0)) == float3(0, 1, 0));
    EXPECT_TRUE(reflect(float3(1, 0, -1), float3(0, 0, 1)) == float3(1, 0, 1));
    EXPECT_TRUE(faceForward(float3(0, 0, 1), float3(0, 0, 1), float3(0, 0, 1)) ==
                float3(-0.0f, -0.0f, -1));
    EXPECT_TRUE(faceForward(float3(0, 0, 1), float3(0, 0, -1), float3(0, 0, 1)) == float3(0, 0, 1));
    EXPECT_TRUE(faceForward(float3(0, 0, 1), float3(1, 0, 0), float3(0, 0, 1)) == float3(0, 0, 0))
        << "perpendicular incidence gives the zero vector";
    EXPECT_TRUE(swizzleYUp(float3(1, 2, 3)) == float3(1, 3, -2));
    EXPECT_EQ(maxComponent(float3(1, 5, 3)), 5.0f);
    EXPECT_EQ(minComponent(float3(1, 5, -3)), -3.0f);
    EXPECT_FLOAT_EQ(luminanceRec709(float3(1, 1, 1)), 1.0f);
    EXPECT_EQ(luminanceRec709(float3(0, 1, 0)), 0.71516f) << "green weighs most";
}

TEST(Matrices, RowVectorConvention) {
    // Translation in row 3; a direction ignores it.
    matrix4 m = kIdentity4;
    m.m[12] = 10;
    m.m[1] = 2;  // row 0, column 1: x feeds y
    EXPECT_TRUE(transformPoint(float3(1, 0, 0), m) == float3(11, 2, 0));
    EXPECT_TRUE(transformDirection(float3(1, 0, 0), m) == float3(1, 2, 0));
    matrix3 uv = kIdentity3;
    uv.m[6] = 0.5f;
    uv.m[3] = 1.0f;  // row 1, column 0: v feeds u
    float2 t = transformUV(float2(0.25f, 0.5f), uv);
    EXPECT_EQ(t.x, 0.25f + 0.5f + 0.5f);
    EXPECT_EQ(t.y, 0.5f);
    matrix3 a = {{1, 2, 3, 4, 5, 6, 7, 8, 9}};
    EXPECT_TRUE(transposedProduct(a, float3(1, 0, 0)) == float3(1, 4, 7));
    matrix3 p = a * kIdentity3;
    for (int i = 0; i < 9; ++i) EXPECT_EQ(p.m[i], a.m[i]);
    EXPECT_EQ(upper3x3(kIdentity4).m[4], 1.0f);
}

}  // namespace

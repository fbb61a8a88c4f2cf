// The frame around a normal and the height bump against worked values.

#include <cmath>

#include "shading/shading_frame.h"
#include "testkit/harness.h"
#include "testkit/state_builder.h"
#include "testkit/test_texture.h"

namespace {

using namespace pxs;
using vhost::TestTexture;

TEST(PhysicalFrame, FrameAroundANormalIsRightHandedAndOrthonormal) {
    const float3 normals[] = {
        {0, 0, 1}, {0, 0, -1}, {0.6f, 0, 0.8f}, {0, -0.8f, -0.6f}, {0.48f, 0.6f, -0.64f}};
    for (float3 n : normals) {
        const TangentFrame f = frameAround(n);
        EXPECT_FLOAT3(f.n, n);
        EXPECT_NEAR(length(f.t), 1.0f, 1e-6f);
        EXPECT_NEAR(length(f.b), 1.0f, 1e-6f);
        EXPECT_NEAR(dot(f.t, n), 0.0f, 1e-6f);
        EXPECT_NEAR(dot(f.b, n), 0.0f, 1e-6f);
        EXPECT_TRUE(vtest::near3(cross(f.t, f.b), n, 1e-6f));
    }
}

TEST(PhysicalBump, SlopeTiltsTheNormalDownhillBySumOfChannels) {
    TangentFrame f;
    f.t = float3(1, 0, 0);
    f.b = float3(0, 1, 0);
    f.n = float3(0, 0, 1);
    // Height r + g + b = 3u rises along u; v does not matter.
    TestTexture ramp([](const float* c) { return float4(c[0], c[0], c[0], 1); });
    matrix3 shift = {{1, 0, 0, 0, 1, 0, 0.25f, 0, 0}};
    bumpFromHeight(f, float2(0.1f, 0.2f), ramp.handle(), shift, 2.0f, 2.0f);
    // du = h(u) - h(u + 0.001) = -0.003; n += du * T * (2 * 3.33).
    EXPECT_NEAR(f.n.x, -0.003f * 6.66f, 5e-6f);
    EXPECT_EQ(f.n.y, 0.0f);
    EXPECT_EQ(f.n.z, 1.0f);
    // Lookups at the transformed, then scaled, coordinates and one step along u and v.
    ASSERT_EQ(ramp.lookups.size(), 3u);
    EXPECT_FLOAT_EQ(ramp.lookups[0][0], 0.7f);
    EXPECT_FLOAT_EQ(ramp.lookups[0][1], 0.4f);
    EXPECT_FLOAT_EQ(ramp.lookups[1][0], 0.701f);
    EXPECT_FLOAT_EQ(ramp.lookups[2][1], 0.401f);

    rebuildFrame(f);
    EXPECT_NEAR(length(f.n), 1.0f, 1e-6f);
    EXPECT_NEAR(dot(f.t, f.n), 0.0f, 1e-6f);
}

}  // namespace

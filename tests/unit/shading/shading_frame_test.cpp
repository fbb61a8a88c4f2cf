// Facing, tangent frames, map slots and height bumps against worked values.

#include <cmath>

#include "shading/shading_frame.h"
#include "testkit/harness.h"
#include "testkit/state_builder.h"
#include "testkit/test_texture.h"

namespace {

using namespace pxs;
using vhost::TestTexture;

TEST(PhysicalFrame, TangentCarriedByMatrixBAndOrthonormalised) {
    // matrixB rotates +x onto +y; the tangent also leans into the normal, which
    // Gram-Schmidt removes.
    matrix4 m = kIdentity4;
    m.m[0] = 0, m.m[1] = 1, m.m[4] = -1, m.m[5] = 0;
    ShadingState st =
        vhost::StateBuilder().matrixB(m).attribute(kTangentAttribute, float3(2, 0, 0.7f)).build();
    TangentFrame f = frameFromState(st, float3(0, 0, 1));
    EXPECT_EQ(f.tag, 3);
    EXPECT_FLOAT3(f.t, float3(0, 1, 0));
    EXPECT_FLOAT3(f.b, float3(-1, 0, 0));
    EXPECT_TRUE(f.n == float3(0, 0, 1));

    // A tilted normal: the frame stays orthonormal and right-handed.
    float3 n = normalize(float3(0.3f, -0.4f, 0.8f));
    TangentFrame g = frameFromState(st, n);
    EXPECT_NEAR(length(g.t), 1.0f, 1e-6f);
    EXPECT_NEAR(length(g.b), 1.0f, 1e-6f);
    EXPECT_NEAR(dot(g.t, g.n), 0.0f, 1e-6f);
    EXPECT_NEAR(dot(g.b, g.n), 0.0f, 1e-6f);
    EXPECT_NEAR(dot(g.t, g.b), 0.0f, 1e-6f);
    EXPECT_FLOAT3(cross(g.t, g.b), g.n);

    float3 v(0.2f, -0.5f, 0.9f);
    float3 local = toFrame(g, v);
    EXPECT_NEAR(local.z, dot(v, n), 1e-6f);
    EXPECT_FLOAT3(fromFrame(g, local), v);
}

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

TEST(PhysicalMaps, SampleMapAppliesTheUvTransformRowWise) {
    TestTexture tex(float4(0.25f, 0.5f, 0.75f, 0.5f));
    TextureHandle h = tex.handle();
    // Scale 2 in both axes, then translate by (0.5, 0.25).
    matrix3 t = {{2, 0, 9, 0, 2, 9, 0.5f, 0.25f, 9}};
    float4 v = sampleMap(h, t, float2(0.1f, 0.2f));
    EXPECT_TRUE(v == float4(0.25f, 0.5f, 0.75f, 0.5f));
    ASSERT_EQ(tex.lookups.size(), 1u);
    EXPECT_FLOAT_EQ(tex.lookups[0][0], 0.7f);
    EXPECT_FLOAT_EQ(tex.lookups[0][1], 0.65f);

    TextureHandle none;
    EXPECT_TRUE(sampleMap(none, t, float2(0.1f, 0.2f)) == float4(0, 0, 0, 1));
}

TEST(PhysicalMaps, ScalarMapUsesTheConstantOnlyWhenDisabled) {
    TestTexture tex(float4(0.5f, 0.9f, 0.9f, 1.0f));
    TextureHandle h = tex.handle();
    TextureHandle none;
    EXPECT_EQ(scalarMap(false, h, kIdentity3, 0.3f, 3.0f, float2(0, 0)), 0.3f);
    EXPECT_TRUE(tex.lookups.empty()) << "a disabled map is not read";
    EXPECT_EQ(scalarMap(true, h, kIdentity3, 0.3f, 3.0f, float2(0, 0)), 1.5f) << "red x amount";
    EXPECT_EQ(scalarMap(true, none, kIdentity3, 0.3f, 3.0f, float2(0, 0)), 0.0f)
        << "enabled without a texture reads black, not the constant";
}

TEST(PhysicalBump, FlatOrMissingHeightLeavesTheNormalAlone) {
    TangentFrame f;
    f.t = float3(1, 0, 0);
    f.b = float3(0, 1, 0);
    f.n = float3(0, 0, 1);
    TestTexture flat(float4(0.3f, 0.6f, 0.1f, 1.0f));
    bumpFromHeight(f, float2(0.4f, 0.6f), flat.handle(), kIdentity3, 5.0f);
    EXPECT_TRUE(f.n == float3(0, 0, 1));
    EXPECT_EQ(flat.lookups.size(), 3u);

    bumpFromHeight(f, float2(0.4f, 0.6f), TextureHandle(), kIdentity3, 5.0f);
    EXPECT_TRUE(f.n == float3(0, 0, 1));

    // A slope of 0.001 per unit u changes the height by 1e-6 over the step: below
    // the threshold, so the normal is kept.
    TestTexture gentle([](const float* c) { return float4(0.001f * c[0], 0, 0, 1); });
    bumpFromHeight(f, float2(0.4f, 0.6f), gentle.handle(), kIdentity3, 5.0f);
    EXPECT_TRUE(f.n == float3(0, 0, 1));
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

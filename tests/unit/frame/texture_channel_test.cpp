// The texture channel against worked lookups: which coordinates reach the
// texture in every mode, and what becomes of the texel.
#include <gtest/gtest.h>

#include <cmath>

#include "frame/texture_channel.h"
#include "testkit/test_texture.h"

namespace {

using namespace pxs;

// Answers with its coordinates, so a result shows where the channel looked.
struct CoordinateChannel {
    vhost::TestTexture tex{[](const float* c) { return float4(c[0], c[1], 0.0f, 1.0f); }};
    TextureChannel ch;
    explicit CoordinateChannel(int32_t mode) {
        ch.mode = mode;
        ch.texture = tex.handle();
    }
    float2 at(float3 p, float3 n = float3(0, 0, 1), BoxAxes box = BoxAxes::kZY,
              float2 uv = float2()) {
        ChannelOptions o;
        o.box = box;
        float4 r = evaluateChannel(ch, {uv, p, n}, o);
        return float2(r.x, r.y);
    }
};

TEST(TextureChannel, UVPlanarAndCylindricalCoordinates) {
    CoordinateChannel uv(kChannelUV);
    uv.ch.uvMatrix = {{2, 0.5f, 9, 3, 4, 9, 0.125f, 0.25f, 9}};
    float2 st = uv.at({}, {}, BoxAxes::kZY, float2(0.25f, 0.5f));
    EXPECT_EQ(st.x, 0.25f * 2 + 0.5f * 3 + 0.125f);
    EXPECT_EQ(st.y, 0.25f * 0.5f + 0.5f * 4 + 0.25f);

    CoordinateChannel planar(kChannelPlanar);
    planar.ch.textureMatrix = {{0, 1, 0, 0, 2, 0, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1}};
    st = planar.at(float3(1, 2, 3));
    EXPECT_EQ(st.x, 2.0f * 2 + 10);  // p.y feeds s through T4
    EXPECT_EQ(st.y, 1.0f + 20);      // p.x feeds t through T1

    CoordinateChannel cyl(kChannelCylindrical);
    cyl.ch.angularRepeat = 3.0f;
    ChannelProjection proj;
    evaluateChannel(cyl.ch, {float2(), float3(0.5f, 1.5f, 7), float3()}, {}, &proj);
    EXPECT_EQ(proj.st.x, 0.5f * 3.0f);
    EXPECT_EQ(proj.st.y, 7.0f);
    EXPECT_NEAR(proj.tangent.x, -1.5f / std::sqrt(2.5f), 1e-6f);
    EXPECT_NEAR(cyl.at(float3(1.5f, 0.5f, 0)).x, 0.75f * 3.0f, 1e-6f) << "a quarter turn";
}

TEST(TextureChannel, BoxPicksAxesByNormalInTextureSpaceTiesIncluded) {
    CoordinateChannel box(kChannelBox);
    const float3 q(1, 2, 3);  // identity matrix: the coordinates name the components used
    const float s = 0.6f;
    const struct {
        float3 n;
        float2 zy, yz;  // default order, legacy order
    } cases[] = {
        {{1, 0, 0}, {3, 2}, {2, 3}},  {{0, -1, 0}, {1, 3}, {1, 3}},
        {{0, 0, 1}, {1, 2}, {1, 2}},  {{s, -s, 0}, {3, 2}, {2, 3}},  // x-y tie goes to the x rule
        {{0, s, s}, {1, 3}, {1, 3}},                                 // y-z tie to the y rule
        {{-s, 0, s}, {1, 2}, {1, 2}},                                // x-z tie to the z rule
        {{s, s, s}, {1, 2}, {1, 3}},
    };
    for (const auto& c : cases) {
        float2 zy = box.at(q, c.n), yz = box.at(q, c.n, BoxAxes::kYZ);
        EXPECT_TRUE(zy.x == c.zy.x && zy.y == c.zy.y) << c.n.x << " " << c.n.y << " " << c.n.z;
        EXPECT_TRUE(yz.x == c.yz.x && yz.y == c.yz.y) << c.n.x << " " << c.n.y << " " << c.n.z;
    }
    // With x and y swapped by the matrix, a world x normal is a texture y normal.
    box.ch.textureMatrix = {{0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    float2 st = box.at(q, float3(1, 0, 0));
    EXPECT_TRUE(st.x == 2.0f && st.y == 3.0f);  // q = (2, 1, 3): (q.x, q.z)
}

TEST(TextureChannel, FromAlphaInvertAndMissingTexture) {
    vhost::TestTexture tex(float4(0.25f, 0.5f, 0.75f, 0.125f));
    const struct {
        bool bound, fromAlpha, invert;
        float4 want;
    } cases[] = {
        {true, false, false, {0.25f, 0.5f, 0.75f, 0.125f}},
        {true, true, false, {0.125f, 0.125f, 0.125f, 0.125f}},
        {true, false, true, {0.75f, 0.5f, 0.25f, 0.125f}},
        {true, true, true, {0.875f, 0.875f, 0.875f, 0.125f}},
        {false, false, false, {0, 0, 0, 1}},
        {false, true, false, {1, 1, 1, 1}},
        {false, false, true, {1, 1, 1, 1}},
    };
    TextureChannel ch(float3(), kChannelUV);
    for (const auto& c : cases) {
        ch.texture = c.bound ? tex.handle() : TextureHandle();
        ch.fromAlpha = c.fromAlpha;
        ch.invert = c.invert;
        EXPECT_TRUE(evaluateChannel(ch, {}) == c.want) << c.bound << c.fromAlpha << c.invert;
    }
    ChannelOptions ownInvert;  // a class that inverts by a rule of its own
    ownInvert.applyInvert = false;
    EXPECT_TRUE(evaluateChannel(ch, {}, ownInvert) == float4(0, 0, 0, 1));
}

TEST(TextureChannel, PlanarSlabMasksOutsideOnly) {
    vhost::TestTexture tex(float4(0.5f, 0.5f, 0.5f, 1.0f));
    TextureChannel ch(float3(), kChannelPlanar);
    ch.texture = tex.handle();
    ch.textureMatrix.m[14] = -1.0f;  // q.z = p.z - 1
    ChannelOptions slab;
    slab.planarSlab = true;
    auto at = [&](float z, const ChannelOptions& o) {
        return evaluateChannel(ch, {float2(), float3(0, 0, z), float3(0, 0, 1)}, o).x;
    };
    EXPECT_EQ(at(2.0f, slab), 0.5f) << "q.z = 1 is inside";
    EXPECT_EQ(at(0.0f, slab), 0.5f) << "q.z = -1 is inside";
    EXPECT_EQ(at(std::nextafter(2.0f, 3.0f), slab), 1.0f);
    EXPECT_EQ(at(-0.01f, slab), 1.0f);
    EXPECT_EQ(at(5.0f, ChannelOptions{}), 0.5f) << "only masking channels";
    ch.mode = kChannelBox;
    EXPECT_EQ(at(5.0f, slab), 0.5f) << "only the planar mode";
}

}  // namespace

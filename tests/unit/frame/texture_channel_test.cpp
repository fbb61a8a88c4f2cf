// The texture channel against worked lookups: which coordinates reach the
// texture in every mode, and what becomes of the texel.
#include <gtest/gtest.h>

#include <cmath>

#include "frame/texture_channel.h"
#include "host/test_texture.h"

namespace {

using namespace pxs;

bool same(float4 a, float4 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

// A texture that answers with its coordinates, so a result shows where it looked.
vhost::TestTexture coordinateTexture() {
    return vhost::TestTexture([](const float* c) { return float4(c[0], c[1], 0.0f, 1.0f); });
}

float2 lookup(const TextureChannel& ch, ChannelInputs in, BoxAxes box = BoxAxes::kZY,
              ChannelProjection* proj = nullptr) {
    ChannelOptions options;
    options.box = box;
    float4 r = evaluateChannel(ch, in, options, proj);
    return float2(r.x, r.y);
}

TEST(TextureChannel, UntexturedModesNeverLookUp) {
    vhost::TestTexture tex(float4(0.2f, 0.4f, 0.6f, 0.5f));
    TextureChannel ch{float3(0.3f, 0.6f, 0.9f)};
    ch.texture = tex.handle();
    ch.invert = true;
    ch.fromAlpha = true;
    ChannelInputs in{float2(0.5f, 0.5f), float3(0.1f, 0.2f, 0.3f), float3(0, 0, 1)};
    EXPECT_TRUE(same(evaluateChannel(ch, in), float4(0.3f, 0.6f, 0.9f, 1))) << "no invert";
    for (int32_t mode : {-1, -2, 5, 100}) {
        ch.mode = mode;
        EXPECT_TRUE(same(evaluateChannel(ch, in), float4(0, 0, 0, 1))) << "mode " << mode;
    }
    EXPECT_TRUE(tex.lookups.empty());
}

TEST(TextureChannel, UVAndPlanarCoordinates) {
    vhost::TestTexture tex = coordinateTexture();
    TextureChannel ch;
    ch.texture = tex.handle();
    ch.mode = kChannelUV;
    ch.uvMatrix = {{2, 0.5f, 9, 3, 4, 9, 0.125f, 0.25f, 9}};
    ChannelInputs in{float2(0.25f, 0.5f), float3(1, 2, 3), float3(0, 0, 1)};
    float2 st = lookup(ch, in);
    EXPECT_EQ(st.x, 0.25f * 2 + 0.5f * 3 + 0.125f);
    EXPECT_EQ(st.y, 0.25f * 0.5f + 0.5f * 4 + 0.25f);

    ch.mode = kChannelPlanar;
    ch.textureMatrix = {{0, 1, 0, 0, 2, 0, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1}};
    st = lookup(ch, in);
    EXPECT_EQ(st.x, 2.0f * 2 + 10);  // p.y feeds s through T4
    EXPECT_EQ(st.y, 1.0f + 20);      // p.x feeds t through T1
}

TEST(TextureChannel, BoxPicksAxesByNormalInTextureSpace) {
    vhost::TestTexture tex = coordinateTexture();
    TextureChannel ch;
    ch.texture = tex.handle();
    ch.mode = kChannelBox;
    const float3 p(1, 2, 3);  // q = p: the coordinates name the components used
    const float s = 0.6f;
    const struct {
        float3 n;
        float2 zy;  // default order
        float2 yz;  // legacy order
    } cases[] = {
        {{1, 0, 0}, {3, 2}, {2, 3}},  {{0, -1, 0}, {1, 3}, {1, 3}},
        {{0, 0, 1}, {1, 2}, {1, 2}},  {{s, -s, 0}, {3, 2}, {2, 3}},  // x-y tie goes to x
        {{0, s, s}, {1, 3}, {1, 3}},                                 // y-z tie goes to y
        {{-s, 0, s}, {1, 2}, {1, 2}},                                // x-z tie goes to z
        {{s, s, s}, {1, 2}, {1, 3}},                                 // three-way tie
    };
    for (const auto& c : cases) {
        ChannelProjection proj;
        float2 st = lookup(ch, {float2(), p, c.n}, BoxAxes::kZY, &proj);
        EXPECT_EQ(st.x, c.zy.x) << c.n.x << " " << c.n.y << " " << c.n.z;
        EXPECT_EQ(st.y, c.zy.y) << c.n.x << " " << c.n.y << " " << c.n.z;
        EXPECT_EQ(p[proj.firstAxis], c.zy.x);
        EXPECT_EQ(p[proj.secondAxis], c.zy.y);
        st = lookup(ch, {float2(), p, c.n}, BoxAxes::kYZ);
        EXPECT_EQ(st.x, c.yz.x) << "legacy " << c.n.x << " " << c.n.y << " " << c.n.z;
        EXPECT_EQ(st.y, c.yz.y) << "legacy " << c.n.x << " " << c.n.y << " " << c.n.z;
    }
    // The normal is judged in texture space: with x and y swapped, a world x
    // normal is a texture y normal.
    ch.textureMatrix = {{0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    float2 st = lookup(ch, {float2(), p, float3(1, 0, 0)});
    EXPECT_EQ(st.x, 2.0f);  // q = (2, 1, 3): (q.x, q.z)
    EXPECT_EQ(st.y, 3.0f);
}

TEST(TextureChannel, CylindricalWrapsAroundZ) {
    vhost::TestTexture tex = coordinateTexture();
    TextureChannel ch;
    ch.texture = tex.handle();
    ch.mode = kChannelCylindrical;
    ch.angularRepeat = 3.0f;
    ChannelProjection proj;
    float2 st = lookup(ch, {float2(), float3(0.5f, 1.5f, 7), float3(0, 0, 1)}, BoxAxes::kZY, &proj);
    EXPECT_EQ(st.x, 0.5f * 3.0f);
    EXPECT_EQ(st.y, 7.0f);
    EXPECT_NEAR(proj.tangent.x, -1.5f / std::sqrt(2.5f), 1e-6f);
    EXPECT_NEAR(proj.tangent.y, 0.5f / std::sqrt(2.5f), 1e-6f);
    // A quarter turn: atan2(1, 0) = pi/2 gives 0.75 of a wrap.
    st = lookup(ch, {float2(), float3(1.5f, 0.5f, 0), float3(0, 0, 1)});
    EXPECT_NEAR(st.x, 0.75f * 3.0f, 1e-6f);
}

TEST(TextureChannel, FromAlphaInvertAndMissingTexture) {
    vhost::TestTexture tex(float4(0.25f, 0.5f, 0.75f, 0.125f));
    TextureChannel ch;
    ch.mode = kChannelUV;
    ChannelInputs in{};
    ChannelOptions noInvert;
    noInvert.applyInvert = false;
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
        {false, true, true, {0, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        ch.texture = c.bound ? tex.handle() : TextureHandle();
        ch.fromAlpha = c.fromAlpha;
        ch.invert = c.invert;
        float4 r = evaluateChannel(ch, in);
        EXPECT_TRUE(same(r, c.want)) << c.bound << c.fromAlpha << c.invert;
        // A class that inverts by its own rule switches the flag off.
        float4 plain = evaluateChannel(ch, in, noInvert);
        ch.invert = false;
        EXPECT_TRUE(same(plain, evaluateChannel(ch, in)));
    }
}

TEST(TextureChannel, PlanarSlabMasksOutsideOnly) {
    vhost::TestTexture tex(float4(0.5f, 0.5f, 0.5f, 1.0f));
    TextureChannel ch;
    ch.texture = tex.handle();
    ch.mode = kChannelPlanar;
    ch.textureMatrix.m[14] = -1.0f;  // q.z = p.z - 1
    ChannelOptions slab;
    slab.planarSlab = true;
    auto at = [&](float z, const ChannelOptions& o) {
        return evaluateChannel(ch, {float2(), float3(0, 0, z), float3(0, 0, 1)}, o).xyz();
    };
    EXPECT_TRUE(at(2.0f, slab) == float3(0.5f)) << "q.z = 1 is inside";
    EXPECT_TRUE(at(0.0f, slab) == float3(0.5f)) << "q.z = -1 is inside";
    EXPECT_TRUE(at(std::nextafter(2.0f, 3.0f), slab) == float3(1.0f));
    EXPECT_TRUE(at(-0.01f, slab) == float3(1.0f));
    EXPECT_TRUE(at(5.0f, ChannelOptions{}) == float3(0.5f)) << "only masking channels";
    ch.mode = kChannelBox;
    EXPECT_TRUE(at(5.0f, slab) == float3(0.5f)) << "only the planar mode";
}

}  // namespace

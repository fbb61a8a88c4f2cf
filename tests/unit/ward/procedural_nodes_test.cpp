// The Noise, Tile and UnifiedBitmap nodes against worked values, on scripted host
// noise.
#include <gtest/gtest.h>

#include <cmath>

#pragma GCC diagnostic ignored "-Warray-bounds"  // see ward_core_test.cpp

#include "materials/ward/bitmap_node.h"
#include "materials/ward/noise_node.h"
#include "materials/ward/tile_node.h"
#include "testkit/test_services.h"
#include "testkit/test_texture.h"

namespace {

using namespace pxs;
using vhost::TestServices;

bool same(float4 a, float4 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}

// ---- Noise ---------------------------------------------------------------------

struct NoiseFixture {
    TestServices sv;
    float noise = 0.5f;
    ConstantNoiseFields f;
    NoiseFixture() {
        sv.noise3Function = [this](float, float, float, float) { return noise; };
        f.color1 = float4(0.0f);
        f.color2 = float4(1, 2, 4, 8);  // the alpha reads 8 v
    }
    float value(float n) {
        noise = n;
        return evaluateNoise(sv, float3(1, 2, 3), f.color1, f.color2, f).w / 8.0f;
    }
};

TEST(NoiseNode, ThresholdRemap) {
    NoiseFixture n;
    n.f.thresholdLow = 0.2f;
    n.f.thresholdHigh = 0.6f;
    EXPECT_FLOAT_EQ(n.value(0.4f), 0.5f) << "linear between the thresholds";
    EXPECT_EQ(n.value(0.1f), 0.0f);
    EXPECT_EQ(n.value(0.7f), 1.0f);

    n.f.thresholdLow = n.f.thresholdHigh = 0.5f;  // equal: a step, 0.5 itself kept
    EXPECT_EQ(n.value(0.49f), 0.0f);
    EXPECT_EQ(n.value(0.5f), 0.5f);
    EXPECT_EQ(n.value(0.51f), 1.0f);

    n.f.thresholdLow = 0.6f;  // above high: a hard step at low
    n.f.thresholdHigh = 0.4f;
    EXPECT_EQ(n.value(0.59f), 0.0f);
    EXPECT_EQ(n.value(0.6f), 1.0f);
}

TEST(NoiseNode, OctavesCountFractionalLevelsInFull) {
    NoiseFixture n;
    n.f.type = 1;
    n.f.phase = 0.75f;
    n.f.xform.m[12] = 1.0f;  // p + (1, 0, 0), then / size
    n.f.size = 0.5f;
    for (float levels : {0.0f, 0.3f, 1.0f, 2.5f, 3.0f}) {
        n.sv.clear();
        n.f.levels = levels;
        // Octave f adds (2 * 0.75 - 1) / f; a fraction counts as a whole octave.
        const int octaves = static_cast<int>(std::ceil(levels));
        float sum = 0.0f;
        for (int i = 0; i < octaves; ++i) sum += 0.5f / static_cast<float>(1 << i);
        EXPECT_FLOAT_EQ(n.value(0.75f), (sum + 1.0f) * 0.5f) << levels;
        auto calls = n.sv.callsTo(vhost::kSvcNoise3);
        ASSERT_EQ(calls.size(), static_cast<size_t>(octaves)) << levels;
        for (int i = 0; i < octaves; ++i) {
            const float f = static_cast<float>(1 << i);
            EXPECT_EQ(calls[i].args, (std::vector<float>{f * 4, f * 4, f * 6, 0.75f}));
        }
    }
    n.f.type = 2;  // turbulence: the magnitudes, not remapped
    n.f.levels = 2.5f;
    EXPECT_FLOAT_EQ(n.value(0.25f), 0.875f);

    // Absurd counts neither hang nor run away; NaN gives no octave.
    n.f.levels = INFINITY;
    n.sv.clear();
    n.value(0.25f);
    EXPECT_EQ(n.sv.count(vhost::kSvcNoise3), 128);
    n.f.levels = NAN;
    EXPECT_EQ(n.value(0.25f), 0.0f);
}

TEST(NoiseNode, OtherTypesAndNaNGiveTheFirstColour) {
    NoiseFixture n;
    for (int32_t type : {3, -1}) {
        n.sv.clear();
        n.f.type = type;
        EXPECT_EQ(n.value(0.7f), 0.0f);
        EXPECT_EQ(n.sv.count(vhost::kSvcNoise3), 0);
    }
    // A zero size sends 0 * inf = NaN to the host; its NaN answer falls to v = 0.
    n.f.type = 0;
    n.f.size = 0.0f;
    n.noise = NAN;
    EXPECT_TRUE(same(evaluateNoise(n.sv, float3(0), n.f.color1, n.f.color2, n.f), n.f.color1));
}

// ---- Tile ----------------------------------------------------------------------

// 4 x 4 cells of 0.25 with mortar 0.1 of a cell on each side; jitter-free noise2.
struct TileFixture {
    TestServices sv;
    float hash = 0.3f;
    TileFields f;
    const float4 brick{0.5f, 0.25f, 0.1f, 0.5f};
    const float4 mortar{0.0f, 0.0f, 1.0f, 1.0f};
    TileFixture() {
        sv.noise2Function = [](float2) { return 0.5f; };
        sv.noise1Function = [this](float) { return hash; };
        f.horizontalCount = f.verticalCount = 3.975f;
        f.horizontalGap = f.verticalGap = 0.025f;
    }
    float4 at(float u, float v) { return evaluateTile(sv, float2(u, v), brick, mortar, f); }
    float mask(float u, float v) { return brickMask(sv, u, v, f).mask; }
};

TEST(TileNode, HardEdgesAndRunningBond) {
    TileFixture t;
    // Row 0 is not shifted: mortar for fx < 0.1 and fx >= 0.9, brick between, no ramp.
    const float v0 = 0.125f;
    EXPECT_EQ(t.mask(0.25f * 1.099f, v0), 0.0f);
    EXPECT_EQ(t.mask(0.25f * 1.101f, v0), 1.0f);
    EXPECT_EQ(t.mask(0.25f * 1.899f, v0), 1.0f);
    EXPECT_EQ(t.mask(0.25f * 1.901f, v0), 0.0f);
    EXPECT_EQ(t.mask(0.375f, 0.25f * 0.099f), 0.0f) << "the same across rows";

    // Row 1 is shifted by half a brick, plus lineShift.
    const float v1 = 0.375f;
    EXPECT_EQ(t.mask(0.375f, v1), 0.0f);
    EXPECT_EQ(t.mask(0.25f, v1), 1.0f);
    t.f.lineShift = 0.5f;
    EXPECT_EQ(t.mask(0.375f, v1), 1.0f);
    EXPECT_EQ(t.mask(0.25f, v1), 0.0f);
    t.f.lineShift = 0.0f;

    // Jitter lookups (the second with u and v swapped) and the row hash r + 0.5 + seed.
    t.f.randomSeed = 2;
    t.sv.clear();
    t.mask(0.375f, v0);
    auto jitter = t.sv.callsTo(vhost::kSvcNoise2);
    ASSERT_EQ(jitter.size(), 2u);
    EXPECT_EQ(jitter[0].args, (std::vector<float>{25.5f, 8.5f}));
    EXPECT_EQ(jitter[1].args, (std::vector<float>{8.5f, 25.5f}));
    EXPECT_EQ(t.sv.callsTo(vhost::kSvcNoise1).at(0).args, std::vector<float>{2.5f});

    // Ids: k (r + 1) + seed + 0.5 with k = column + 1 / cw; the brick cut by the
    // right end shares the first brick's id.
    EXPECT_EQ(brickMask(t.sv, 0.375f, v0, t.f).id, 5.0f * 1.0f + 2.0f + 0.5f);
    EXPECT_EQ(brickMask(t.sv, 0.95f, v1, t.f).id, brickMask(t.sv, 0.05f, v1, t.f).id);
    EXPECT_EQ(brickMask(t.sv, 0.05f, v1, t.f).id, 4.0f * 2.0f + 2.5f);
}

TEST(TileNode, VarianceHolesAndRepeat) {
    TileFixture t;
    t.hash = 0.9f;
    EXPECT_TRUE(same(t.at(0.375f, 0.125f), t.brick)) << "no variance: exactly the brick colour";
    t.f.colorVariance = 0.5f;  // (2 * 0.9 - 1) * 0.5 + 1 = 1.4
    t.f.fadeVariance = 0.25f;  // 1.2
    const float4 varied = t.at(0.375f, 0.125f);
    EXPECT_FLOAT_EQ(varied.x, 0.84f);
    EXPECT_FLOAT_EQ(varied.z, 0.168f);
    EXPECT_FLOAT_EQ(varied.w, 0.84f);
    t.hash = 0.0f;
    t.f.colorVariance = 2.0f;  // -1: raised to 0
    EXPECT_TRUE(same(t.at(0.375f, 0.125f), float4(0.0f)));

    t.f.colorVariance = t.f.fadeVariance = 0.0f;
    t.f.holes = 100;
    t.sv.clear();
    EXPECT_TRUE(same(t.at(0.375f, 0.125f), t.mortar)) << "100: everything is mortar";
    EXPECT_EQ(t.sv.count(vhost::kSvcNoise1), 3) << "row and colours, no hole draw";
    t.f.holes = 50;  // t = 1/51
    t.hash = 0.6f;   // x = 0.2: a hole
    EXPECT_EQ(t.mask(0.375f, 0.125f), 0.0f);
    t.hash = 0.45f;  // x = -0.1, squared 0.01: kept
    EXPECT_EQ(t.mask(0.375f, 0.125f), 1.0f);
    t.f.holes = 0;
    t.hash = 0.6f;
    EXPECT_EQ(t.mask(0.375f, 0.125f), 1.0f);

    // Outside [0, 1]: wrapped, or transparent black without asking the host.
    EXPECT_TRUE(same(t.at(1.375f, -0.875f), t.at(0.375f, 0.125f)));
    t.f.repeatY = false;
    t.sv.clear();
    EXPECT_TRUE(same(t.at(0.375f, -0.875f), float4(0.0f)));
    EXPECT_TRUE(t.sv.calls.empty());
    // Exactly 1 is not wrapped; there the edges widen to a whole unit on both axes,
    // m = (1 - 2 gx)(1 - 2 gy).
    EXPECT_FLOAT_EQ(t.at(0.375f, 1.0f).x, 0.64f * t.brick.x);

    // Degenerate counts stay finite.
    t.f.horizontalCount = t.f.horizontalGap = 0.0f;
    const float4 c = t.at(0.375f, 0.125f);
    EXPECT_TRUE(std::isfinite(c.x + c.y + c.z + c.w));
}

TEST(TileNode, RowAndColumnEdits) {
    TileFixture t;
    // Every second row (1-based) gets bricks of half the width: in row 2, u = 0.4375
    // falls on an edge instead of the middle of a brick.
    const float u = 0.4375f, v = 0.375f;
    EXPECT_EQ(t.mask(u, v), 1.0f);
    t.f.useRowEdit = true;
    t.f.changeRow = 0.5f;
    EXPECT_EQ(t.mask(u, v), 0.0f);
    EXPECT_EQ(t.mask(u, 0.125f), 1.0f) << "row 1 unedited";
    t.f.perRow = 0;
    EXPECT_EQ(t.mask(u, v), 1.0f) << "perRow 0 edits nothing";
    t.f.perRow = 2;

    // With the column edit on as well, the row edit needs the column to pass too.
    t.f.useColumnEdit = true;
    t.f.changeColumn = 1.0f;
    EXPECT_EQ(t.mask(0.1875f, v), 1.0f) << "column 1 fails: no edit at all";

    // Column 2 gets half-height bricks.
    t.f.useRowEdit = false;
    t.f.changeColumn = 0.5f;
    EXPECT_EQ(t.mask(0.375f, 0.0625f), 1.0f);
    EXPECT_EQ(t.mask(0.375f, 0.125f), 0.0f);
    EXPECT_EQ(t.mask(0.125f, 0.125f), 1.0f) << "column 1 unedited";
}

// ---- UnifiedBitmap ---------------------------------------------------------------

TEST(BitmapNode, AmountScalesColourAndXformAddsRowsTwoAndThree) {
    BitmapFields f;
    f.amount = 2.0f;
    EXPECT_TRUE(same(evaluateBitmap(float2(0.5f, 0.5f), f), float4(0, 0, 0, 1))) << "no texture";
    vhost::TestTexture tex(float4(0.5f, 0.25f, 1.0f, 0.5f));
    f.texture = tex.handle();
    f.xform.m[8] = 0.1f;
    f.xform.m[12] = 0.2f;
    f.xform.m[9] = 0.3f;
    f.xform.m[13] = 0.4f;
    EXPECT_TRUE(same(evaluateBitmap(float2(0.5f, 0.25f), f), float4(1.0f, 0.5f, 2.0f, 0.5f)));
    ASSERT_EQ(tex.lookups.size(), 1u);
    EXPECT_FLOAT_EQ(tex.lookups[0][0], 0.8f);
    EXPECT_FLOAT_EQ(tex.lookups[0][1], 0.95f);
}

}  // namespace

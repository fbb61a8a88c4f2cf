// The Noise and Tile nodes against worked values, on scripted host noise.
#include <gtest/gtest.h>

#include <cmath>

#pragma GCC diagnostic ignored "-Warray-bounds"  // see ward_core_test.cpp

#include "materials/ward/noise_node.h"
#include "materials/ward/tile_node.h"
#include "testkit/test_services.h"

namespace {

using namespace pxs;
using vhost::TestServices;

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

// ---- UnifiedBitmap ---------------------------------------------------------------

}  // namespace

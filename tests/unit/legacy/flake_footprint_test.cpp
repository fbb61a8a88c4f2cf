// The car paint's footprint grid and its sRGB encoding.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "materials/legacy/XRite.h"

namespace {

using pxs::flakeFootprint;
using pxs::FlakeGrid;

constexpr float kMaxFlakes = 7.0f, kFlakeFactor = 4.0f, kFlakeSize = 0.001953125f;

FlakeGrid defaults(float distance, float facing) {
    return flakeFootprint(distance, facing, kMaxFlakes, kFlakeFactor, kFlakeSize);
}

TEST(FlakeFootprint, GrowsWithDistanceAndObliquityUpToTheLimit) {
    // Head-on at distance 1: 1.28 flakes, 5.12 samples a side.
    FlakeGrid g = defaults(1.0f, 1.0f);
    EXPECT_EQ(g.size, 6);
    EXPECT_NEAR(g.edgeWeight, 0.12f, 1e-5f);

    // Seen at 60 degrees from the normal the footprint widens by 1/sqrt(0.5).
    g = defaults(1.0f, 0.5f);
    EXPECT_EQ(g.size, 8);
    EXPECT_NEAR(g.edgeWeight, 7.2407734f - 7.0f, 1e-4f);

    // Far away, and grazing below the facing threshold: 28 whole samples.
    for (float facing : {1.0f, 0.00009f, 0.0f, -0.5f}) {
        g = defaults(facing == 1.0f ? 100.0f : 1.0f, facing);
        EXPECT_EQ(g.size, 28) << facing;
        EXPECT_EQ(g.edgeWeight, 1.0f) << facing;
    }
}

TEST(FlakeFootprint, WholeCountsNeedNoPartialEdge) {
    // 0.0025 / flakeSize = 1.28 flakes per unit of distance: 3.125 gives exactly 4.
    FlakeGrid g = defaults(3.125f, 1.0f);
    EXPECT_EQ(g.size, 16);
    EXPECT_EQ(g.edgeWeight, 1.0f);
    // A sliver above a whole count is dropped rather than added as a 17th sample.
    g = flakeFootprint(3.125f, 1.0f, kMaxFlakes, 4.0000125f, kFlakeSize);
    EXPECT_EQ(g.size, 16);
    EXPECT_EQ(g.edgeWeight, 1.0f);
}

TEST(FlakeFootprint, DegenerateParametersStayBounded) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Nothing to integrate: no samples (the paint's flake layer is then black).
    for (float factor : {0.0f, -3.0f, nan}) {
        EXPECT_EQ(flakeFootprint(1.0f, 1.0f, kMaxFlakes, factor, kFlakeSize).size, 0) << factor;
    }
    EXPECT_EQ(flakeFootprint(1.0f, 1.0f, 0.00001f, kFlakeFactor, 0.0f).size, 0);
    // Absurdly wide footprints are capped instead of overflowing the count.
    for (float maxFlakes : {1e6f, 1e30f, inf}) {
        FlakeGrid g = flakeFootprint(100.0f, 0.0f, maxFlakes, kFlakeFactor, kFlakeSize);
        EXPECT_EQ(g.size, pxs::kMaxFlakeGrid) << maxFlakes;
        EXPECT_EQ(g.edgeWeight, 1.0f);
    }
    // A zero flake size makes every footprint maximal, not undefined.
    EXPECT_EQ(flakeFootprint(1.0f, 1.0f, kMaxFlakes, kFlakeFactor, 0.0f).size, 28);
    EXPECT_EQ(flakeFootprint(0.0f, 1.0f, kMaxFlakes, kFlakeFactor, 0.0f).size, 28);
}

TEST(SrgbEncoding, LinearToeAndPowerShoulder) {
    const pxs::float3 e = pxs::encodeSrgb(pxs::float3(0.0031308f, 0.5f, 1.0f));
    EXPECT_NEAR(e.x, 0.040449936f, 1e-8f);
    EXPECT_NEAR(e.y, 0.73535698f, 1e-6f);
    EXPECT_NEAR(e.z, 1.0f, 1e-6f);
    // Just above the toe the two pieces meet; below zero the toe continues.
    const pxs::float3 f = pxs::encodeSrgb(pxs::float3(0.0031309f, -0.5f, 0.2f));
    EXPECT_NEAR(f.x, 0.0404512f, 1e-6f);
    EXPECT_FLOAT_EQ(f.y, -6.46f);
    EXPECT_NEAR(f.z, 0.48452920f, 1e-6f);
}

}  // namespace

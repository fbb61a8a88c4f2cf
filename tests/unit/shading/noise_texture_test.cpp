// The filtered noise texture against worked values, on scripted host noise.
#include <gtest/gtest.h>

#include <cmath>

#include "shading/noise_texture.h"
#include "testkit/test_services.h"

namespace {

using namespace pxs;
using vhost::kSvcNoise3;
using vhost::TestServices;

TEST(FilteredTurbulence, OctavesBeyondTheFilterAddTheirMean) {
    TestServices sv;
    sv.noise3Function = [](float, float, float, float) { return -0.5f; };
    // 1.5 octaves computed out of 3.25 asked: the rest of f = 2, all of f = 4
    // and a quarter of f = 8 come in at the tail weight.
    float sum = filteredTurbulence(sv, float3(1, 2, 3), 1.5f, 3.25f, 0.0f, kNoiseTailWeight);
    float tail = 0.5f / 2.0f + 1.0f / 4.0f + 0.25f / 8.0f;
    EXPECT_FLOAT_EQ(sum, 0.5f + 0.5f * 0.5f / 2.0f + tail * kNoiseTailWeight);
    EXPECT_EQ(sv.count(kSvcNoise3), 2);
}

TEST(SmoothThreshold, SoftCornersJoinTheRamp) {
    const float lo = 0.2f, hi = 0.9f, w = 0.05f;
    EXPECT_EQ(smoothThreshold(lo - w - 0.01f, lo, hi, w), 0.0f);
    EXPECT_EQ(smoothThreshold(hi + w + 0.01f, lo, hi, w), 1.0f);
    EXPECT_FLOAT_EQ(smoothThreshold(0.5f, lo, hi, w), 0.3f / 0.7f);
    // Halfway into the lower corner s = 0.75; at each corner's end the ramp takes over.
    EXPECT_NEAR(smoothThreshold(lo + 0.5f * w, lo, hi, w), 0.84375f * (0.5f * w) / 0.7f, 1e-7f);
    EXPECT_NEAR(smoothThreshold(lo + w - 1e-6f, lo, hi, w), w / 0.7f, 1e-5f);
    EXPECT_NEAR(smoothThreshold(hi - w, lo, hi, w), (hi - w - lo) / 0.7f, 1e-5f);
    EXPECT_NEAR(smoothThreshold(hi + w, lo, hi, w), 1.0f, 1e-6f);
}

}  // namespace

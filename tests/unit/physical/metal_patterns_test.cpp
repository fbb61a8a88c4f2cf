// The metal's cut-out patterns, patina mask, anodised colour and procedural bump.
// (Where each pattern puts its holes is checked through the test host.)
#include <gtest/gtest.h>

#include <cmath>

#include "materials/physical/metal_patterns.h"
#include "testkit/test_services.h"

namespace {

using namespace pxs;
using namespace pxs::metal;
using vhost::TestServices;

TEST(MetalCutouts, SoftPatternsAreBoundedContinuousAndPeriodic) {
    const struct {
        int32_t mode;
        float2 period;
    } patterns[] = {{kCutoutSlots, {2.0f, 2.0f}},
                    {kCutoutHexagons, {1.0f, 1.7320508f}},
                    {kCutoutDiamonds, {1.0f, 1.0f}}};
    for (const auto& pat : patterns) {
        bool partial = false;
        float previous = cutoutPattern(pat.mode, float2(0.0f, 0.37f), 1.0f, 2.0f);
        for (int i = 1; i <= 4000; ++i) {
            const float2 p(0.001f * static_cast<float>(i), 0.37f + 0.0007f * static_cast<float>(i));
            const float cv = cutoutPattern(pat.mode, p, 1.0f, 2.0f);
            ASSERT_GE(cv, 0.0f);
            ASSERT_LE(cv, 1.0f);
            EXPECT_LE(std::fabs(cv - previous), 0.08f) << "mode " << pat.mode << " step " << i;
            partial = partial || (cv > 0.05f && cv < 0.95f);
            previous = cv;
            const float2 q(p.x + pat.period.x, p.y + pat.period.y);
            EXPECT_NEAR(cutoutPattern(pat.mode, q, 1.0f, 2.0f), cv, 0.02f) << "mode " << pat.mode;
        }
        EXPECT_TRUE(partial) << "mode " << pat.mode << " has a soft edge";
    }
}

TEST(MetalCutouts, DegenerateInputIsSolid) {
    for (int32_t mode = 1; mode <= 6; ++mode) {
        EXPECT_EQ(cutoutPattern(mode, float2(0.5f, 0.5f), 0.0f, 0.0f), 1.0f) << mode;
        EXPECT_EQ(cutoutPattern(mode, float2(NAN, 0.5f), 1.0f, 1.0f), 1.0f) << mode;
    }
    for (int32_t mode = 4; mode <= 6; ++mode) {
        EXPECT_EQ(cutoutPattern(mode, float2(0.5f, 0.5f), 1.0f, 0.0f), 1.0f) << "no hole size";
    }
    EXPECT_EQ(cutoutPattern(9, float2(0.5f, 0.5f), 1.0f, 1.0f), 1.0f);
    const float2 cell = cutoutCell(float2(0.5f, 0.25f), 4.0f, 1.0f, 1.0f, 0.75f);
    EXPECT_FLOAT_EQ(cell.x, 0.75f);
    EXPECT_FLOAT_EQ(cell.y, 0.25f);
}

// A 2D noise that is the same everywhere, chosen so that the patina's sine wave
// lands at x.
void constantPatinaNoise(TestServices& sv, float x) {
    const float sum = std::asin(2.0f * x - 1.0f);
    const float n = sum / (1.0f + 0.7f + 0.49f + 0.343f);
    sv.noise2Function = [n](float2) { return n; };
}

TEST(MetalPatina, MaskCoversTheTopPercentWithARampBelow) {
    const struct {
        float x, percent, mask;
    } cases[] = {
        {0.9f, 0.2f, 0.2f},    // in the top 20 %
        {0.77f, 0.2f, 0.05f},  // three quarters down the ramp of width 0.04
        {0.7f, 0.2f, 0.0f},    // below the ramp
        {0.99f, 0.0f, 0.0f},   // no coverage
        {0.3f, 1.0f, 1.0f},    // everywhere
    };
    for (const auto& c : cases) {
        TestServices sv;
        constantPatinaNoise(sv, c.x);
        EXPECT_NEAR(patinaMask(&sv, float2(1.0f, 2.0f), c.percent), c.mask, 2e-4f)
            << c.x << " " << c.percent;
    }
    TestServices sv;
    patinaMask(&sv, float2(1.0f, 2.0f), 0.5f);
    const auto calls = sv.callsTo(vhost::kSvcNoise2);
    ASSERT_EQ(calls.size(), 4u);
    const float scales[] = {0.1f, 0.3f, 0.9f, 2.7f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(calls[i].args[0], scales[i], 1e-6f);
        EXPECT_NEAR(calls[i].args[1], 2.0f * scales[i], 1e-6f);
    }
}

}  // namespace

// The environment colour adjustment and lookup direction, against worked values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "shading/ibl.h"
#include "testkit/harness.h"

namespace {

using namespace pxs;

// Chosen so that every step is exact: lum = 0.25*0.25 + 0.5*0.5 + 0.25*1 = 0.5625.
const float3 kL(0.25f, 0.5f, 0.25f);
const float3 kC(0.25f, 0.5f, 1.0f);
const float3 kOne(1.0f);

float3 adjust(float3 c, float2 contrast, int32_t mode, float3 gain, float saturation) {
    return adjustIBLColour(c, contrast, mode, gain, saturation, kL);
}

TEST(IBLAdjustment, ContrastGainSaturationSteps) {
    const float3 g(2.0f, 0.5f, 4.0f);
    const struct {
        float2 contrast;
        int32_t mode;
        float3 gain;
        float saturation;
        float3 expected;
    } cases[] = {
        {{0.3f, 0.0f}, 0, g, 1.0f, float3(0.3f)},                  // factor 0: the pivot
        {{0.5f, 0.5f}, 0, g, 1.0f, {0.375f, 0.5f, 0.75f}},         // halfway to the pivot
        {{1.0f, 2.0f}, 0, g, 1.0f, {-0.5f, 0.0f, 1.0f}},           // no clamp below zero
        {{0.5f, 1.0f}, 1, g, 1.0f, {0.5f, 0.25f, 4.0f}},           // times the gain
        {{0.5f, 1.0f}, 2, kOne, 1.0f, float3(0.5625f)},            // grey at the luminance
        {{0.5f, 1.0f}, 2, g, 1.0f, {1.125f, 0.28125f, 2.25f}},     // luminance times gain
        {{0.5f, 1.0f}, 5, g, 1.0f, kC},                            // unknown mode: no gain
        {{0.5f, 1.0f}, -1, g, 1.0f, kC},                           //
        {{0.5f, 1.0f}, 0, g, 0.0f, float3(0.5625f)},               // saturation 0: grey
        {{0.5f, 1.0f}, 0, g, 2.0f, {-0.0625f, 0.4375f, 1.4375f}},  // 2: twice as far
        {{0.5f, 1.0f}, 1, g, 0.0f, float3(1.25f)},                 // luminance after gain
        {{0.5f, 0.5f}, 2, float3(2.0f), 3.0f, float3(1.0625f)},    // all three in order
    };
    for (const auto& c : cases) {
        EXPECT_FLOAT3_EXACT(adjust(kC, c.contrast, c.mode, c.gain, c.saturation), c.expected)
            << "mode " << c.mode << " contrast " << c.contrast.y << " sat " << c.saturation;
    }
}

// A general matrix (unnormalised result) is checked through the default environment.
TEST(CubeLookup, RowsZeroTwoOneWithTheThirdNegated) {
    EXPECT_FLOAT3_EXACT(cubeLookupDirection(kIdentity3, {0, 0, 1}), float3(0, 1, 0));
    EXPECT_FLOAT3_EXACT(cubeLookupDirection(kIdentity3, {0, 1, 0}), float3(0, 0, -1));
}

}  // namespace

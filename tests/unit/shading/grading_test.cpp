// The legacy grading chain against worked values.
#include <gtest/gtest.h>

#include "shading/grading.h"
#include "testkit/harness.h"

namespace {

using namespace pxs;

const ContrastStage kNoContrast{float3(0.3f, 0.6f, 0.9f), 1.0f};
const GainStage kNoGain{0, float3(5.0f, 6.0f, 7.0f), 1.0f};
const float3 kV(0.2f, 0.4f, 0.6f);
// 0.2125 * 0.2 + 0.7154 * 0.4 + 0.0721 * 0.6
const float kLumV = 0.37192f;

TEST(Grading, ZeroTermContrastYieldsTheTermPivot) {
    const float3 pivot(0.25f, 0.5f, 0.75f);
    for (float3 v : {kV, float3(0.0f), float3(8.0f, -3.0f, 0.5f)}) {
        EXPECT_FLOAT3_EXACT(gradeTerm(v, {{pivot, 0.0f}, kNoContrast}, {kNoGain}, 1.0f), pivot);
    }
    // Stages nest innermost first: (1 - kG) pG + (v kT + (1 - kT) pT) kG.
    const float3 out = gradeTerm(kV, {{float3(1.0f), 0.5f}, {float3(0.0f), 2.0f}}, {kNoGain}, 1.0f);
    EXPECT_FLOAT3(out, float3(1.2f, 1.4f, 1.6f));
}

TEST(Grading, ColourGainTintsTheLuminanceAndScalarGainsStillApply) {
    // The global stage has the colour gain; term and channel stages scale by 2 and 3.
    const float3 out = gradeTerm(
        kV, {kNoContrast},
        {{0, float3(9.0f), 2.0f}, {1, float3(1.0f, 0.5f, 0.25f), 9.0f}, {7, float3(9.0f), 3.0f}},
        1.0f);
    EXPECT_TRUE(vtest::near3(out, float3(6 * kLumV, 3 * kLumV, 1.5f * kLumV), 2e-6f));

    // Two colour stages multiply; the luminance is taken once.
    const float3 two = gradeTerm(
        kV, {}, {{1, float3(2.0f, 1.0f, 1.0f), 1.0f}, {1, float3(1.0f, 3.0f, 1.0f), 1.0f}}, 1.0f);
    EXPECT_TRUE(vtest::near3(two, float3(2 * kLumV, 3 * kLumV, kLumV), 1e-6f));
}

TEST(Grading, SaturationAboutTheLuminanceOfTheGainedColour) {
    const GainStage doubled{0, float3(1.0f), 2.0f};
    const float l = 2 * kLumV;
    EXPECT_TRUE(vtest::near3(gradeTerm(kV, {}, {doubled}, 0.0f), float3(l), 1e-6f));
    // s = 2: each channel moves away from the luminance by its own distance again.
    EXPECT_TRUE(vtest::near3(gradeTerm(kV, {}, {doubled}, 2.0f),
                             float3(0.8f - l, 1.6f - l, 2.4f - l), 2e-6f));
    EXPECT_NEAR(gradingLuminance(float3(1.0f)), 1.0f, 1e-6f);
}

}  // namespace

// The filtered noise texture against worked values, on scripted host noise.
#include <gtest/gtest.h>

#include <cmath>

#include "shading/noise_texture.h"
#include "testkit/test_services.h"

namespace {

using namespace pxs;
using vhost::kSvcNoise3;
using vhost::TestServices;

TEST(NoiseFilter, FloorsKeepDivisionsFinite) {
    NoiseFilter tiny = noiseFilter(float3(1, 0, 0), 0.0f, 30.0f, float3(0));
    EXPECT_EQ(tiny.q.x, 1.0f / 1e-5f);
    EXPECT_NEAR(tiny.levels, std::log2(1e5f), 1e-3f);
    EXPECT_NEAR(tiny.width, 2e-6f, 1e-12f);
    EXPECT_EQ(noiseFilter(float3(1, 0, 0), NAN, 2.0f, float3(0.5f)).q.x, 1.0f / 1e-5f);
}

TEST(NoiseTextureValue, TypesOctavesAndFade) {
    TestServices sv;
    float noise = 0.0f;
    sv.noise3Function = [&](float, float, float, float) { return noise; };
    const float3 q(0.5f, 1.0f, -2.0f);
    auto value = [&](float levels, int32_t type) {
        return noiseTextureValue(sv, q, levels, 0.01f, kNoiseAverage, type, 0.75f, 0.0f, 0.0f,
                                 kNoiseTailWeight);
    };

    // Plain: -1 maps to 0, 1 to 1.
    noise = -1.0f;
    EXPECT_EQ(value(2.0f, kNoisePlain), 0.0f);
    noise = 1.0f;
    EXPECT_EQ(value(2.0f, kNoisePlain), 1.0f);

    // Fractal with 2.5 octaves: f = 1, 2 in full and half of f = 4.
    noise = 0.4f;
    sv.clear();
    EXPECT_FLOAT_EQ(value(2.5f, kNoiseFractal), (0.4f + 0.2f + 0.5f * 0.1f + 1.0f) * 0.5f);
    auto calls = sv.callsTo(kSvcNoise3);
    ASSERT_EQ(calls.size(), 3u);
    const float freq[3] = {1, 2, 4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].args,
                  (std::vector<float>{freq[i] * q.x, freq[i] * q.y, freq[i] * q.z, 0.75f}))
            << "octave " << i << " at f * q, phase unscaled";
    }

    // Turbulence sums magnitudes.
    noise = -0.4f;
    EXPECT_FLOAT_EQ(value(2.5f, kNoiseTurbulence), 0.4f + 0.2f + 0.5f * 0.1f);
    EXPECT_EQ(value(2.5f, 7), 0.0f) << "unknown type";

    // Below one octave the value fades towards the average: a quarter per octave.
    noise = 1.0f;
    EXPECT_FLOAT_EQ(value(0.0f, kNoisePlain), 0.25f * kNoiseAverage + 0.75f);
    EXPECT_FLOAT_EQ(value(-2.0f, kNoisePlain), 0.75f * kNoiseAverage + 0.25f);
    sv.clear();
    EXPECT_EQ(value(-3.5f, kNoisePlain), kNoiseAverage);
    EXPECT_EQ(sv.count(kSvcNoise3), 0);

    // Thresholds only when low < high.
    noise = 0.0f;  // v = 0.5
    auto cut = [&](float low, float high) {
        return noiseTextureValue(sv, q, 2.0f, 0.01f, kNoiseAverage, kNoisePlain, 0.0f, low, high,
                                 kNoiseTailWeight);
    };
    EXPECT_EQ(cut(0.9f, 0.2f), 0.5f);
    EXPECT_FLOAT_EQ(cut(0.2f, 0.9f), 0.3f / 0.7f);
    EXPECT_EQ(cut(0.6f, 0.9f), 0.0f);
}

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

TEST(PatternPlacement, MatrixRowsThenRotationsXYZThenScaleAndOffset) {
    const float3 p(1, 2, 3);
    // Rows pick (y, z, x); no rotation.
    matrix3 m = {{0, 1, 0, 0, 0, 1, 1, 0, 0}};
    float3 placed = patternPlacement(p, &m, float3(1), float3(2, 3, 4), float3(0));
    EXPECT_EQ(placed.x, 2 * 2.0f + 2);
    EXPECT_EQ(placed.y, 3 * 3.0f + 3);
    EXPECT_EQ(placed.z, 4 * 1.0f + 4);

    // A quarter turn about x then y sends the x axis to -z; the other order would give +y.
    const float h = kHalfPi;
    float3 xy = patternPlacement(p, nullptr, float3(0), float3(1), float3(h, h, 0));
    EXPECT_NEAR(xy.x, -3, 1e-5f);
    EXPECT_NEAR(xy.y, 1, 1e-5f);
    EXPECT_NEAR(xy.z, -2, 1e-5f);
    float3 xyz = patternPlacement(p, nullptr, float3(0), float3(1), float3(h, h, h));
    EXPECT_NEAR(xyz.x, -3, 1e-5f);
    EXPECT_NEAR(xyz.y, 2, 1e-5f);
    EXPECT_NEAR(xyz.z, 1, 1e-5f);
}

TEST(NoiseTextureBump, GradientAlongTheAxesInScaledSpace) {
    TestServices sv;
    // A linear noise: the value's gradient is half of (0.3, -0.2, 0.1) in scaled
    // space, whatever the size; the colours' contrast is 1.
    sv.noise3Function = [](float x, float y, float z, float) {
        return 0.3f * x - 0.2f * y + 0.1f * z;
    };
    NoiseTextureSettings s;
    s.size = 2.0f;
    s.levels = 5.0f;
    const float3 p(0.4f, -0.2f, 0.6f);
    float3 g = noiseTextureBump(sv, p, s, float3(1, 0, 0), float3(0, 1, 0), float3(0, 0, 1));
    EXPECT_NEAR(g.x, 0.15f, 1e-4f);
    EXPECT_NEAR(g.y, -0.1f, 1e-4f);
    EXPECT_NEAR(g.z, 0.05f, 1e-4f);
    auto calls = sv.callsTo(kSvcNoise3);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_FLOAT_EQ(calls[0].args[0], p.x / 2) << "the centre is the scaled point";
    EXPECT_FLOAT_EQ(calls[1].args[0], p.x / 2 + 0.1f) << "offsets come after scaling";
}

}  // namespace

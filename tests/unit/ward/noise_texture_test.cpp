// The filtered noise texture against worked values, on scripted host noise.
#include <gtest/gtest.h>

#include <cmath>

#include "host/test_services.h"
#include "materials/ward/noise_texture.h"

namespace {

using namespace pxs;
using vhost::kSvcNoise3;
using vhost::TestServices;

// The constants of the three Ward uses: image fade 4, procedural bump 1, bumps 5 to 7.
NoiseFilter fadeFilter() {
    return noiseFilter(float3(1, 2, 3), 0.015f, 3.0f, float3(0.5f));
}

TEST(NoiseFilterLimits, WardUses) {
    NoiseFilter fade = fadeFilter();
    EXPECT_NEAR(fade.levels, std::log2(0.03f), 1e-4f) << "about -5.06 octaves";

    NoiseFilter bump1 = noiseFilter(float3(0), 1.3f, 2.0f, float3(0.5f));
    EXPECT_NEAR(bump1.levels, 1.37851f, 1e-4f);
    EXPECT_NEAR(bump1.width, 0.2f * 0.5f / 1.3f, 1e-6f);

    NoiseFilter bump5 = noiseFilter(float3(0), 150.0f, 5.0f, float3(0.5f));
    EXPECT_EQ(bump5.levels, 5.0f) << "all five octaves stay";
    EXPECT_NEAR(bump5.width, 0.000666667f, 1e-8f);

    // Floors: no division by zero for a zero size or footprint.
    NoiseFilter tiny = noiseFilter(float3(1, 0, 0), 0.0f, 30.0f, float3(0));
    EXPECT_EQ(tiny.q.x, 1.0f / 1e-5f);
    EXPECT_NEAR(tiny.levels, std::log2(1e5f), 1e-3f);
    EXPECT_NEAR(tiny.width, 2e-6f, 1e-12f);
    NoiseFilter nanSize = noiseFilter(float3(1, 0, 0), NAN, 2.0f, float3(0.5f));
    EXPECT_EQ(nanSize.q.x, 1.0f / 1e-5f);
}

TEST(NoiseTextureColour, ImageFadeFourIsTheConstantMix) {
    TestServices sv;
    NoiseTextureSettings s;
    s.size = 0.015f;
    s.levels = 3.0f;
    s.colour1 = float4(0.58f);
    s.colour2 = float4(0.65f);
    s.low = 0.0f;
    s.high = 1.0f;
    s.footprint = float3(0.5f);
    float4 c = noiseTextureColour(sv, float3(0.2f, -7.0f, 40.0f), s);
    for (float channel : {c.x, c.y, c.z, c.w}) EXPECT_NEAR(channel, 0.595125f, 1e-6f);
    EXPECT_EQ(sv.count(kSvcNoise3), 0) << "filtered away: no noise is computed";
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
}

TEST(NoiseTextureValue, ThresholdOnlyWhenLowBelowHigh) {
    TestServices sv;
    sv.noise3Function = [](float, float, float, float) { return 0.0f; };  // v = 0.5
    auto value = [&](float low, float high) {
        return noiseTextureValue(sv, float3(0), 2.0f, 0.01f, kNoiseAverage, kNoisePlain, 0.0f, low,
                                 high, kNoiseTailWeight);
    };
    EXPECT_EQ(value(0.0f, 0.0f), 0.5f);
    EXPECT_EQ(value(0.9f, 0.2f), 0.5f);
    EXPECT_FLOAT_EQ(value(0.2f, 0.9f), 0.3f / 0.7f);
    EXPECT_EQ(value(0.6f, 0.9f), 0.0f);
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

// Both corners blend the straight ramp, which runs a little past 0 and 1 there,
// so the result may leave [0, 1] by a hair; what matters is that no branch
// boundary jumps and the ends are exact.
TEST(SmoothThreshold, ContinuousRampWithSoftCorners) {
    const float lo = 0.2f, hi = 0.9f, w = 0.05f;
    EXPECT_EQ(smoothThreshold(lo - w - 0.01f, lo, hi, w), 0.0f);
    EXPECT_EQ(smoothThreshold(hi + w + 0.01f, lo, hi, w), 1.0f);
    EXPECT_FLOAT_EQ(smoothThreshold(0.5f, lo, hi, w), 0.3f / 0.7f);
    // Lower corner: s = 0.75 halfway into its upper half.
    EXPECT_NEAR(smoothThreshold(lo + 0.5f * w, lo, hi, w), 0.75f * 0.75f * 1.5f * (0.5f * w) / 0.7f,
                1e-7f);
    float previous = 0.0f;
    for (int i = 0; i <= 1000; ++i) {
        float x = (lo - w) + (hi - lo + 2 * w) * static_cast<float>(i) / 1000.0f;
        float v = smoothThreshold(x, lo, hi, w);
        EXPECT_LE(std::fabs(v - previous), 0.01f) << "no jump at " << x;
        EXPECT_GE(v, -0.01f);
        EXPECT_LE(v, 1.01f);
        previous = v;
    }
    EXPECT_NEAR(previous, 1.0f, 1e-6f);
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

TEST(NoiseTextureBump, GradientAlongTheAxesScaledByContrast) {
    TestServices sv;
    // A linear noise: the value's gradient is half of (0.3, -0.2, 0.1) in scaled space.
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

    // A tilted axis, and the contrast of the Ward bumps 5 to 7.
    s.colour1 = float4(0.135294f);
    s.colour2 = float4(0.901961f);
    float3 t = noiseTextureBump(sv, p, s, float3(0.6f, 0.8f, 0), float3(0, 0, 1), float3(0, 0, 1));
    const float k = 0.901961f - 0.135294f;
    EXPECT_NEAR(t.x, k * 0.5f * (0.18f - 0.16f), 1e-4f);
    EXPECT_NEAR(t.y, k * 0.05f, 1e-4f);
}

}  // namespace

// The Ward family's parameterless surface routines against worked values.
#include <gtest/gtest.h>

#include <cmath>

#include "materials/ward/ward_surface.h"
#include "testkit/test_services.h"

namespace {

using namespace pxs;
using vhost::TestServices;

TEST(GlossToRoughness, PiecesAndTheirJoins) {
    EXPECT_FLOAT_EQ(glossToRoughness(1.0f), 0.0505339f) << "g = 0";
    EXPECT_FLOAT_EQ(glossToRoughness(0.0f), 1.0f) << "g = 1";
    EXPECT_FLOAT_EQ(glossToRoughness(2.0f), 0.0505339f) << "clamped";
    EXPECT_FLOAT_EQ(glossToRoughness(-1.0f), 1.0f) << "clamped";
    // At g = 0.5 the quadratic ends near 0.2155 and the cubic starts near 0.1991.
    EXPECT_NEAR(glossToRoughness(0.5f + 1e-6f), 0.2155f, 1e-3f);
    EXPECT_NEAR(glossToRoughness(0.5f), 0.1991f, 1e-3f);
    // At g = 0.9 the cubic ends near 0.6993 and the line starts at 0.7.
    EXPECT_NEAR(glossToRoughness(0.1f + 1e-6f), 0.6993f, 1e-3f);
    EXPECT_NEAR(glossToRoughness(0.1f - 1e-6f), 0.7f, 1e-4f);
    EXPECT_FLOAT_EQ(glossToRoughness(0.75f), 1.11078f * 0.0625f - 0.225494f * 0.25f + 0.0505339f);
}

TEST(RefractGlossRemap, EndsAndClamp) {
    EXPECT_EQ(refractGlossRemap(0.0f), 1.0f);
    EXPECT_EQ(refractGlossRemap(-0.01f), 1.0f);
    EXPECT_EQ(refractGlossRemap(1.005f), 0.0001f);
    EXPECT_FLOAT_EQ(refractGlossRemap(0.5f), std::exp(-2.478f) * 0.8082f);
    EXPECT_EQ(refractGlossRemap(3.0f), 0.0001f);
    EXPECT_EQ(refractGlossRemap(-1.0f), 1.0f);
}

TEST(ImageFadeBlend, OverlayThenMultiplyWeightedByFade) {
    const float3 b(0.3f, 0.8f, 0.5f);
    EXPECT_TRUE(imageFadeBlend(b, float3(0.9f), 0.0f) == b) << "no fade";
    float3 r = imageFadeBlend(b, float3(0.5f, 0.25f, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(r.x, 0.15f) << "dark base: 2bs, then times s";
    EXPECT_FLOAT_EQ(r.y, 0.7f * 0.25f) << "light base: screen-like overlay, then times s";
    EXPECT_FLOAT_EQ(r.z, 1.0f);
    float3 half = imageFadeBlend(b, float3(0.25f), 0.5f);
    EXPECT_FLOAT_EQ(half.y, 0.75f + (0.75f * 0.25f - 0.75f) * 0.5f);
}

TEST(BendTowardViewer, OnlyNormalsFacingAwayAreTurned) {
    const float3 v(0, 0, 1), nb(std::sin(1.0f), 0, std::cos(1.0f));
    EXPECT_TRUE(bendTowardViewer(v, normalize(float3(0.1f, 0, 1)), v) == v) << "kept";
    // Facing the viewer less than nf: turned to theta = (a - b) x2 + b from v, in
    // the plane of v and nb.
    const float3 nf = normalize(float3(0.3f, 0, 1));
    const float x2 = dot(v, nf), b = std::acos(x2);
    float3 r = bendTowardViewer(v, nf, nb);
    EXPECT_NEAR(std::acos(dot(r, v)), (1.0f - b) * x2 + b, 1e-3f);
    EXPECT_NEAR(r.y, 0.0f, 1e-6f);
    EXPECT_NEAR(length(r), 1.0f, 1e-6f);
    // Unit vectors whose dot product rounds to 1.00000012 must not turn into NaN.
    const float3 v1(0.400509924f, 0.903791666f, -0.150838941f);
    const float3 n1(0.400488913f, 0.90381217f, -0.150772512f);
    ASSERT_GT(dot(normalize(v1), normalize(n1)), 1.0f);
    r = bendTowardViewer(v1, n1, normalize(n1 + float3(0.3f, 0, 0)));
    EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.z));
}

TEST(WardNoiseUses, FilterLimits) {
    // Image fade 4 is filtered away entirely: about -5.06 octaves.
    NoiseTextureSettings fade = wardFadeNoise();
    EXPECT_NEAR(noiseFilter(float3(0), fade.size, fade.levels, fade.footprint).levels, -5.0589f,
                1e-3f);
    NoiseTextureSettings bump = wardBumpNoise();
    NoiseFilter f1 = noiseFilter(float3(0), bump.size, bump.levels, bump.footprint);
    EXPECT_NEAR(f1.levels, 1.3785f, 1e-4f) << "bump 1: two octaves asked, 1.38 allowed";
    EXPECT_NEAR(f1.width, 0.0769f, 1e-4f);
    NoiseTextureSettings grain = wardGrainNoise(2);
    NoiseFilter f5 = noiseFilter(float3(0), grain.size, grain.levels, grain.footprint);
    EXPECT_EQ(f5.levels, 5.0f) << "bumps 5 to 7 keep all five";
    EXPECT_NEAR(f5.width, 0.000667f, 1e-6f);
    EXPECT_EQ(grain.type, kNoiseTurbulence);
    TestServices sv;
    float4 c = noiseTextureColour(sv, float3(3, 1, 2), fade);
    for (float channel : {c.x, c.y, c.z, c.w}) EXPECT_NEAR(channel, 0.595125f, 1e-6f);
    EXPECT_EQ(sv.count(vhost::kSvcNoise3), 0) << "filtered away: no noise is computed";
}

TEST(WardPatterns, SoftNoiseAndTurbulenceShapes) {
    TestServices sv;
    float n = 0.0f;
    sv.noise3Function = [&](float, float, float, float w) {
        EXPECT_EQ(w, 0.0f);
        return n;
    };
    const float base = (1.0f - 0.1695186f) * kNoiseAverage;
    n = -1.0f;  // v = 0: pressed to 0
    EXPECT_FLOAT_EQ(softNoise(sv, float3(0)), base);
    n = 0.0f;  // v = 0.5: untouched
    EXPECT_FLOAT_EQ(softNoise(sv, float3(0)), base + 0.1695186f * 0.5f);
    n = 0.7f;  // v = 0.85: pulled towards 1
    float s = 0.25f / 0.79999995f, w = s * s * (3 - 2 * s);
    EXPECT_FLOAT_EQ(softNoise(sv, float3(0)), base + 0.1695186f * ((1 - w) * 0.85f + w));

    std::vector<float3> points;
    float m = 0.1f;
    sv.noise3bFunction = [&](float3 p) {
        points.push_back(p);
        return -m;
    };
    EXPECT_FLOAT_EQ(turbulence(sv, float3(1, 2, 3)), std::pow(0.1f * 1.9375f, 0.25f));
    ASSERT_EQ(points.size(), 5u);
    EXPECT_TRUE(points[4] == float3(16, 32, 48)) << "octave 4 at 16 y";
    m = 1.0f;
    EXPECT_EQ(turbulence(sv, float3(1, 2, 3)), 1.0f) << "sums above 1 saturate";
}

TEST(WardPatterns, CellPassNearestFeaturePoints) {
    TestServices sv;
    // Jitter 1 puts every feature point on the integer lattice.
    sv.cellJitterFunction = [](float3) { return float3(1.0f); };
    const PatternAxes axes{float3(1, 0, 0), float3(0, 1, 0), float3(0, 0, 1)};
    const float3 x(3.1f, 5.2f, 7.15f);
    CellPass c = cellPass(sv, x / 0.285714f, axes);
    // Nearest point (3, 5, 7); second nearest (3, 6, 7), far enough for no fade.
    const float3 d = x / 0.285714f * 0.285714f - float3(3, 5, 7);
    const float f1 = dot(d, d);
    const float r = 2.555556f * f1;
    ASSERT_LT(r, 0.2f);
    const float3 dir = (5.0f * r) * (2.555556f * d);
    EXPECT_NEAR(c.dir.x, dir.x, 1e-5f);
    EXPECT_NEAR(c.dir.y, dir.y, 1e-5f);
    EXPECT_NEAR(c.dir.z, dir.z, 1e-5f);
    EXPECT_NEAR(c.weight, 1.0f - r / 0.3f, 1e-5f);
    int jitters = sv.count(vhost::kSvcCellJitter);
    EXPECT_LT(jitters, 27) << "cells that cannot beat the second distance are skipped";
    EXPECT_GE(jitters, 8);

    // Axes map the direction: swapping tangent and bitangent swaps x and y.
    CellPass swapped = cellPass(sv, x / 0.285714f, {axes.bitangent, axes.tangent, axes.normal});
    EXPECT_NEAR(swapped.dir.x, c.dir.y, 1e-6f);

    // Smoke: the cell direction faded by 1 - tau, plus the turbulence gradient
    // weighted by 0.9 - w.
    sv.noise3bFunction = [](float3 p) { return 0.01f * (p.x + 2.0f * p.y); };
    const float3 q = x / 0.285714f, y0 = 0.05f * q;
    const float tau = turbulence(sv, y0);
    const float3 g = 10.0f * float3(turbulence(sv, y0 + float3(0.1f, 0, 0)) - tau,
                                    turbulence(sv, y0 + float3(0, 0.1f, 0)) - tau, 0.0f);
    ASSERT_GT(g.y, 0.001f);
    float3 smoke = smokeBump(sv, q, axes);
    EXPECT_NEAR(smoke.x, (1 - tau) * c.dir.x + (0.9f - c.weight) * g.x, 1e-5f);
    EXPECT_NEAR(smoke.y, (1 - tau) * c.dir.y + (0.9f - c.weight) * g.y, 1e-5f);
    EXPECT_NEAR(smoke.z, (1 - tau) * c.dir.z, 1e-5f);
}

TEST(WardPatterns, RippleIsTheSoftNoiseGradient) {
    TestServices sv;
    // Inside the untouched band of the soft noise, a linear host noise gives a
    // constant gradient: 10 * 0.1695186 * 0.5 * 0.1 * (0.1, -0.2, 0.3).
    sv.noise3Function = [](float x, float y, float z, float) {
        return 0.1f * x - 0.2f * y + 0.3f * z;
    };
    const PatternAxes axes{float3(0, 1, 0), float3(0, 0, 1), float3(1, 0, 0)};
    float3 g = rippleBump(sv, float3(0.1f, 0.2f, 0.1f), axes);
    const float k = 10 * 0.1695186f * 0.5f * 0.1f;
    EXPECT_NEAR(g.x, k * -0.2f, 1e-5f) << "along the tangent attribute";
    EXPECT_NEAR(g.y, k * 0.3f, 1e-5f) << "along the bitangent attribute";
    EXPECT_NEAR(g.z, k * 0.1f, 1e-5f) << "along the facing normal";
}

}  // namespace

// Light-leak fade, the light loop, the ambient term and the component sum.
#include "shading/lighting.h"
#include "testkit/harness.h"

namespace {

using namespace pxs;
using vhost::TestServices;

using vtest::light;

TEST(LightLeak, FadeLimitsAndMidpoint) {
    float3 n(0, 0, 1);
    for (float c : {-1.0f, 0.0f, 0.04f, 0.05f}) {
        EXPECT_EQ(
            lightLeakFactor(normalize(float3(1, 0, 0)) * std::sqrt(1 - c * c) + float3(0, 0, c), n),
            0.0f)
            << c;
    }
    for (float c : {0.25f, 0.5f, 1.0f}) EXPECT_EQ(lightLeakFactor(float3(0, 0, c), n), 1.0f) << c;
    EXPECT_NEAR(lightLeakFactor(float3(0, 0, 0.15f), n), 0.5f, 1e-6f);
    // Rising smoothly: a quarter of the way up gives t^2 (3 - 2t) = 0.15625.
    EXPECT_NEAR(lightLeakFactor(float3(0, 0, 0.1f), n), 0.15625f, 1e-5f);
}

TEST(LightLoop, SumsEveryNodeWeightedByLeakFactorAndContribution) {
    TestServices sv;
    sv.setLights({light(float3(0, 0, 1), 0.5f, float3(1, 2, 4)),
                  light(float3(0, 0.9949874f, 0.1f), 2.0f, float3(1, 1, 1)),
                  light(float3(0, 0, -1), 1.0f, float3(9, 9, 9))});
    float3 p(1, 2, 3);
    float3 n(0, 0, 1);
    int evaluated = 0;
    float3 sum = lightLoop(&sv, p, n, [&](float3 l) {
        ++evaluated;
        return l.z > 0.5f ? float3(0.5f, 0.25f, 1.0f) : float3(1.0f);
    });
    // Head-on: value * 1 * 0.5 * C; at L.N = 0.1 the leak factor is 0.15625; below: 0.
    EXPECT_EQ(evaluated, 3);
    EXPECT_NEAR(sum.x, 0.25f + 0.3125f, 1e-5f);
    EXPECT_NEAR(sum.y, 0.25f + 0.3125f, 1e-5f);
    EXPECT_NEAR(sum.z, 2.0f + 0.3125f, 1e-5f);
    ASSERT_EQ(sv.count(vhost::kSvcGetLights), 1);
    EXPECT_EQ(sv.calls[0].args, (std::vector<float>{0, 1, 2, 3, 0, 0, 1})) << "mask 0, P, N";

    TestServices dark;
    EXPECT_TRUE(lightLoop(&dark, p, n, [](float3) { return 1.0f; }) == float3(0.0f));
}

TEST(AmbientTerm, WeightedAmbientPlusIndirectThenOccluded) {
    TestServices sv;
    sv.ambientLightValue = float3(0.2f, 0.2f, 0.2f);
    sv.globalIlluminationValue = float3(0.1f, 0.0f, 0.0f);
    sv.ambientOcclusionValue = float3(0.5f, 0.5f, 1.0f);
    float3 q(1, 0, 0);
    float3 m(0, 1, 0);
    float3 a = ambientTerm(&sv, float3(0.5f, 1.0f, 0.25f), q, m);
    // W * (ambient + indirect) = (0.15, 0.2, 0.05), times the open fraction.
    EXPECT_NEAR(a.x, 0.075f, 1e-7f);
    EXPECT_NEAR(a.y, 0.1f, 1e-7f);
    EXPECT_NEAR(a.z, 0.05f, 1e-7f);
    auto gi = sv.callsTo(vhost::kSvcGlobalIllumination);
    ASSERT_EQ(gi.size(), 1u);
    EXPECT_EQ(gi[0].args.back(), 1.0f) << "importance max(W)";
    auto ao = sv.callsTo(vhost::kSvcAmbientOcclusion);
    ASSERT_EQ(ao.size(), 1u);
    EXPECT_EQ(ao[0].args, (std::vector<float>{1, 0, 0, 0, 1, 0, 0.2f})) << "Q, M, max(W')";
}

TEST(ShadingComponents, SumTakesSixComponentsAndOccludesOnlyDirectDiffuse) {
    ShadingComponents c;
    for (int k = 0; k < kComponentCount; ++k) {
        EXPECT_TRUE(c.c[k] == float4(0, 0, 0, 1));
        c.set(static_cast<Component>(k), float3(float(1 << k)));
    }
    // Summed: 1 (x occlusion), 4, 8, 32, 128, 512; not summed: 2, 16, 64, 256.
    float3 s = c.sum(float3(0.5f, 0.0f, 1.0f));
    EXPECT_EQ(s.x, 0.5f + 4 + 8 + 32 + 128 + 512);
    EXPECT_EQ(s.y, 4.0f + 8 + 32 + 128 + 512);
    EXPECT_EQ(s.z, 1.0f + 4 + 8 + 32 + 128 + 512);
    EXPECT_EQ(c.c[kReflection].w, 1.0f) << "set keeps the alpha";
}

}  // namespace

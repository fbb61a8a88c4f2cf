// corvid_Mtl_ShadowPlane through the test host (the shadow factor itself is
// checked in unit/frame/shadow_catcher_test.cpp).

#include "testkit/harness.h"

namespace {

using pxs::float3;
using vtest::Fields;
using vtest::Light;
using vtest::Shader;

const float3 kDirection(0.6f, 0, -0.8f);

pxs::ShadingState hit(int32_t rayType = pxs::kRayCamera) {
    return vhost::StateBuilder()
        .ray(float3(-2, 2, 4), kDirection)
        .hit(float3(1, 2, 0), float3(0, 0, 1))
        .rayType(rayType)
        .build();
}

TEST(ShadowPlane, ShowsTheRayBehindDarkenedByTheShadowFactor) {
    Shader s("corvid_Mtl_ShadowPlane");
    s.param<float3>("shadowColor") = float3(0.2f, 0.4f, 0.6f);
    // Visible share 0.25 and a partial occlusion: factor (0.348, 0.685, 0.553).
    const float3 factor(0.348f, 0.685f, 0.553f);
    // The camera's ray goes on as a continuation ray, every other type as itself.
    const struct { int32_t type, traced; } cases[] = {{1, 4}, {2, 2}, {4, 4}, {16, 16}, {32, 32}};
    for (const auto& c : cases) {
        vhost::TestServices sv;
        sv.setLights({Light{float3(1), float3(0.5f)}});
        sv.ambientOcclusionValue = float3(0.5f, 1, 0.25f);
        sv.rayValue = float3(0.5f, 1, 2);
        pxs::ShadingState st = hit(c.type), before = st;
        s.shade(sv, st);
        EXPECT_TRUE(
            vtest::near3(st.outColor, float3(0.5f * factor.x, factor.y, 2 * factor.z), 1e-6f));
        EXPECT_NEAR(st.outAlpha, 1 - factor.x, 1e-6f);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);
        ASSERT_EQ(vtest::serviceSlots(sv),
                  (std::vector<int>{vhost::kSvcGetLights, vhost::kSvcAmbientOcclusion,
                                    vhost::kSvcTraceRay}));
        EXPECT_EQ(sv.calls[2].args,
                  (std::vector<float>{static_cast<float>(c.traced), 1, 2, 0, 0.6f, 0, -0.8f, 1}))
            << "ray type " << c.type;
    }
}

TEST(ShadowPlane, BlocksOnlyOcclusionRaysAndContinuesStraight) {
    Shader s("corvid_Mtl_ShadowPlane");
    vhost::TestServices sv;
    for (int32_t type : {1, 2, 4, 16, 32}) {
        pxs::ShadingState st = hit(type), before = st;
        s.shadowTransmission(sv, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(type == 16 ? 0.0f : 1.0f)) << type;
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    }
    // A straight continuation, whatever the host allows.
    const pxs::ShadingState st = vtest::sampleDeterministic(s, hit(), "\0\0\0\0\0\0");
    EXPECT_EQ(st.sampleKind, pxs::kSampleSingleLobe);
    EXPECT_FLOAT3_EXACT(st.sampleDirection, kDirection);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(1, 1, 1));
    EXPECT_EQ(st.sampleCosine, 1.0f);
}

}  // namespace

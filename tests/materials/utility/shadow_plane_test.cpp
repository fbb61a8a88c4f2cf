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

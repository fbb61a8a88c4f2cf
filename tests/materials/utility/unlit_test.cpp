// corvid_Mtl_Unlit through the test host.
#include "testkit/harness.h"

namespace {

using pxs::float3;
using vtest::Fields;

TEST(Unlit, OnlyCameraRaysSeeTheColourUnclampedAndNothingCastsShadows) {
    vtest::Shader s("corvid_Mtl_Unlit");
    s.param<float3>("diffuseColor") = float3(3, 0.5f, -1);
    vhost::TestServices sv;
    for (int32_t type : {pxs::kRayCamera, pxs::kRayReflection, pxs::kRayContinuation,
                         pxs::kRayOcclusion, pxs::kRayGather}) {
        const pxs::ShadingState before = vhost::StateBuilder().rayType(type).build();
        pxs::ShadingState st = before;
        s.shade(sv, st);
        if (type == pxs::kRayCamera) {
            EXPECT_FLOAT3_EXACT(st.outColor, float3(3, 0.5f, -1));
            EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"})
                << "alpha is the host's";
        } else {
            EXPECT_EQ(st.skipHit, 1) << "type " << type;
            EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"}) << "type " << type;
        }
        st = before;
        s.shadowTransmission(sv, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(1, 1, 1)) << "type " << type;
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    }
    EXPECT_TRUE(sv.calls.empty());
}

}  // namespace

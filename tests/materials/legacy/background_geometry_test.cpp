// BackgroundGeometry through the test host.
#include <algorithm>
#include <array>

#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::StateBuilder;
using vhost::TestTexture;
using vtest::Fields;
using vtest::Shader;

const float3 kFloorHit(1, 2, 0);
const float3 kDirection(0.6f, 0, -0.8f);
const Fields& kShadeFields = vtest::kShadeFields;

// A camera ray onto a floor (normal +z) unless another normal is given.
pxs::ShadingState hit(int32_t rayType = pxs::kRayCamera, float3 n = float3(0, 0, 1)) {
    return StateBuilder()
        .ray(float3(-2, 2, 4), kDirection)
        .hit(kFloorHit, n, float3(0, 0, 1))
        .rayType(rayType)
        .build();
}

TEST(BackgroundGeometry, BlocksOnlyOcclusionRaysOverUpwardPartsAndPassesPathsThrough) {
    Shader s("BackgroundGeometry");
    vhost::TestServices sv;
    const struct {
        int32_t type;
        float nz;
        float transmission;
    } cases[] = {{16, 1, 0}, {16, 0.9f, 0}, {16, 0.89f, 1}, {1, 1, 1},
                 {2, 1, 1},  {4, 1, 1},     {32, 1, 1}};
    for (const auto& c : cases) {
        pxs::ShadingState st = hit(c.type, float3(0, 0, c.nz)), before = st;
        s.shadowTransmission(sv, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(c.transmission)) << c.type << " " << c.nz;
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

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

TEST(BackgroundGeometry, ReflectionAndGatherRaysSeeTheCubes) {
    Shader s("BackgroundGeometry");
    vhost::TestServices sv;
    TestTexture reflect(float4(0.1f, 0.2f, 0.3f, 0.5f), 3), diffuse(float4(0.2f, 0.4f, 0.6f, 1), 3);

    // An empty reflection cube is black; alpha stays the host's.
    pxs::ShadingState st = hit(pxs::kRayReflection), before = st;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0, 0, 0));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"});

    s.param<pxs::TextureHandle>("reflectCube") = reflect.handle();
    st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.1f, 0.2f, 0.3f)) << "raw, not graded";
    // The identity rotation reads (x, z, -y).
    ASSERT_EQ(reflect.lookups.size(), 1u);
    EXPECT_EQ(reflect.lookups[0], (std::array<float, 3>{0.6f, -0.8f, 0}));
    EXPECT_TRUE(sv.calls.empty()) << "no shadows for a reflection ray";

    // Without the switch a reflection ray sees the surface like a camera ray.
    s.param<bool>("useCubeReflection") = false;
    st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(1, 1, 1));
    EXPECT_EQ(vhost::changedFields(before, st), kShadeFields);

    // Gather rays: the diffuse cube through the global and reflection-channel stages.
    s.set({{"diffuseCube", diffuse.handle()},
           {"globalIBLGainValue", 2.0f},
           {"reflectIBLChannelGainSource", 1},
           {"reflectIBLChannelGainColor", float3(1, 0.5f, 0.25f)},
           {"globalIBLSatValue", 0.0f}});
    st = hit(pxs::kRayGather);
    before = st;
    sv.clear();
    s.shade(sv, st);
    // Luminance 0.37192 tinted, doubled, then fully desaturated: the luminance of that.
    const float grey = 2 * 0.37192f * (0.2125f + 0.7154f * 0.5f + 0.0721f * 0.25f);
    EXPECT_TRUE(vtest::near3(st.outColor, float3(grey, grey, grey), 1e-6f));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"});
    EXPECT_TRUE(sv.calls.empty());
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

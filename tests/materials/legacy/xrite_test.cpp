// XRite through the test host. Expected colours were worked out by hand from the
// paint's layers (double precision), not from the implementation.
#include <array>
#include <cmath>

#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::StateBuilder;
using vhost::TestTexture;
using vtest::Fields;
using vtest::Shader;

// A hit whose flake-texture origin is exact: u0 = 0.25 * 4 = 1, v0 = (0.75 * 0.0625 +
// 38 * 0.0078125) * 64 = 22. Seen head-on from distance 1.
const float3 kHit(0.25f, 0.3f, 1.75f);

float3 offset(float dx, float dy, float dz) {
    return float3(kHit.x + dx, kHit.y + dy, kHit.z + dz);
}

StateBuilder headOn() {
    StateBuilder b;
    b.ray(offset(0, 0, 1), float3(0, 0, -1)).hit(kHit, float3(0, 0, 1));
    return b;
}

// Cube maps and the clear-coat reflection of the worked examples.
struct Scene {
    TestTexture diffuse{float4(0.5f, 0.5f, 0.5f, 1), 3};
    TestTexture specular{float4(0.5f, 0.25f, 0.75f, 1), 3};  // sum 1.5: glow weight 1/16
    TestTexture reflect{float4(0.6f, 0.6f, 0.6f, 1), 3};     // sum 1.8: sparkle weight 0.1296
    vhost::TestServices sv;

    explicit Scene(Shader& s) {
        s.set({{"diffuseCube", diffuse.handle()},
               {"specularCube", specular.handle()},
               {"reflectCube", reflect.handle()}});
        sv.reflectionValue = float3(0.2f, 0.4f, 0.6f);
    }
};

TEST(XRite, IntegratesFlakesOverTheWeightedFootprint) {
    Shader s("XRite");
    Scene scene(s);
    // Flat flakes, except that the first column (v = 22) leans too far to sparkle.
    TestTexture flakes([](const float* uv) {
        return uv[1] < 22.001f ? float4(0.5f, 0.5f, 0.5f, 1) : float4(0.5f, 0.5f, 1, 1);
    });
    s.param<pxs::TextureHandle>("flakeNormalTexture") = flakes.handle();

    pxs::ShadingState st = headOn().build(), before = st;
    s.shade(scene.sv, st);
    // Sparkle over 5.12 x 5 of the 5.12 x 5.12 weight, glow over all of it, coat 0.04.
    EXPECT_TRUE(
        vtest::near3(st.outColor, float3(0.0476850532f, 0.0558363495f, 0.0615338275f), 2e-7f));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"}) << "alpha is the host's";

    // A 6 x 6 grid from (u0, v0) in steps of flakeSize, rows of constant u.
    ASSERT_EQ(flakes.lookups.size(), 36u);
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j) {
            const auto& c = flakes.lookups[i * 6 + j];
            EXPECT_EQ(c[0], 1.0f + i * 0.001953125f);
            EXPECT_EQ(c[1], 22.0f + j * 0.001953125f);
        }
    }
    EXPECT_EQ(scene.specular.lookups.size(), 36u) << "glow: every sample";
    EXPECT_EQ(scene.reflect.lookups.size(), 30u) << "sparkle: flat flakes only";
    // Flat flakes mirror the view back up: (0, 0, 1) reads the cube at (0, 1, 0).
    EXPECT_EQ(scene.reflect.lookups[0], (std::array<float, 3>{0, 1, 0}));
    ASSERT_EQ(scene.diffuse.lookups.size(), 1u);
    EXPECT_EQ(scene.diffuse.lookups[0], (std::array<float, 3>{0, 1, 0})) << "base along N";

    // The services: the unused light list, then the clear-coat mirror ray.
    ASSERT_EQ(scene.sv.calls.size(), 2u);
    EXPECT_EQ(scene.sv.calls[0].slot, vhost::kSvcGetLights);
    EXPECT_EQ(scene.sv.calls[0].args, (std::vector<float>{-2, 0.25f, 0.3f, 1.75f, 0, 0, 1}));
    EXPECT_EQ(scene.sv.calls[1].slot, vhost::kSvcTraceReflection);
    EXPECT_EQ(scene.sv.calls[1].args, (std::vector<float>{0.25f, 0.3f, 1.75f, 0, 0, 1, 1}));
}

TEST(XRite, DegenerateInputsGiveFiniteColoursAndTheGridIsCapped) {
    Shader s("XRite");
    Scene scene(s);
    TestTexture flakes(float4(0.5f, 0.5f, 1, 1));
    s.param<pxs::TextureHandle>("flakeNormalTexture") = flakes.handle();
    pxs::matrix4 zero{};
    // No view frame (matrixA zero), no flake frame, the hit at the ray origin.
    pxs::ShadingState st = headOn().matrixA(zero).matrixB(zero).ray(kHit, float3(0, 0, -1)).build();
    s.shade(scene.sv, st);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(st.outColor[k])) << k;

    // An absurd footprint limit seen edge-on: the grid stops at 256 a side.
    s.param<float>("maxFlakes") = 1e30f;
    st = headOn().ray(offset(-1, 0, 0), float3(1, 0, 0)).build();
    s.shade(scene.sv, st);
    EXPECT_EQ(flakes.lookups.size(), 256u * 256u);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(st.outColor[k])) << k;
}

}  // namespace

// XRite through the test host. Expected colours were worked out by hand from the
// paint's layers (double precision), not from the implementation.
#include <array>
#include <cmath>

#include "testkit/alloc_counter.h"
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

const pxs::matrix4 kIdentity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

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

// The solid paint's colour under the default cubes and clear coat: 12.92 * 0.5 *
// diffuse under a coat of 0.04.
const float3 kOpaque(0.031654f * 0.96f + 0.008f, 0.031654f * 0.96f + 0.016f,
                     0.02907f * 0.96f + 0.024f);

TEST(XRiteParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("XRite", 3, vtest::blockDeclarations(R"(
        reverseNormal b; faceForward b;
        xriteDiffuse c (0.00490000006, 0.00490000006, 0.00449999981);
        flakeColor c (0.104000002, 0.105999999, 0.108000003);
        flakeColor2 c (0.0952999964, 0.0957999974, 0.0975999981);
        fresnel 4 (0.0399999991, 0.899999976, 2.5, 1); xriteIsSolid b; coarseness f 0.656000018;
        specIntensity f 1; diffIntensity f 1; contributionFactor f 0.75; maxFlakes f 7;
        flakeFactor f 4; flakeSize f 0.001953125; flakeNormalTexture t; diffuseCube u;
        specularCube u; reflectCube u; uv a 1@24)"));
}

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

TEST(XRite, LookupsBrighterThanWhiteKeepTheirColour) {
    Shader s("XRite");
    Scene scene(s);
    TestTexture flakes(float4(0.5f, 0.5f, 1, 1));
    s.set({{"flakeNormalTexture", flakes.handle()}, {"specIntensity", 2.0f}});
    TestTexture reflect(float4(2, 1.5f, 1, 1), 3), specular(float4(1.5f, 1.5f, 1.5f, 1), 3);
    s.set({{"reflectCube", reflect.handle()}, {"specularCube", specular.handle()}});
    pxs::ShadingState st = headOn().build();
    s.shade(scene.sv, st);
    // Sparkle: flakeColor * cube * 2; glow: flakeColor2 unscaled.
    EXPECT_TRUE(vtest::near3(st.outColor, float3(0.301542605f, 0.255125692f, 0.204429452f), 2e-7f));
}

TEST(XRite, FootprintSaturatesForDistantAndGrazingViews) {
    Shader s("XRite");
    TestTexture flakes(float4(0.5f, 0.5f, 1, 1));
    s.param<pxs::TextureHandle>("flakeNormalTexture") = flakes.handle();
    vhost::TestServices sv;
    const pxs::ShadingState views[] = {
        headOn().ray(offset(0, 0, 100), float3(0, 0, -1)).build(),
        // Edge-on to the shading normal: facing 0.
        headOn().ray(offset(-1, 0, 0), float3(1, 0, 0)).build(),
    };
    for (const pxs::ShadingState& view : views) {
        flakes.lookups.clear();
        pxs::ShadingState st = view;
        s.shade(sv, st);
        EXPECT_EQ(flakes.lookups.size(), 28u * 28u);
    }
}

TEST(XRite, FlakeFrameFollowsTheMappingNormalIntoWorldSpace) {
    Shader s("XRite");
    Scene scene(s);
    // A flake tilted fully along the texture's tangent, half up.
    TestTexture flakes(float4(1, 0.5f, 0.5f, 1));
    s.param<pxs::TextureHandle>("flakeNormalTexture") = flakes.handle();
    // Head-on, the tangent is (0, -1, 0); a quarter turn about z carries it to (1, 0, 0).
    pxs::matrix4 turn = kIdentity;
    turn.m[0] = 0, turn.m[1] = 1, turn.m[4] = -1, turn.m[5] = 0;
    pxs::ShadingState st = headOn().matrixB(turn).build();
    s.shade(scene.sv, st);
    // nf = (1, 0, 0.5); its mirror of the view (0, 0, 1) is (1, 0, -0.5), read at (1, -0.5, 0).
    ASSERT_FALSE(scene.specular.lookups.empty());
    const auto& d = scene.specular.lookups[0];
    EXPECT_NEAR(d[0], 1.0f, 1e-6f);
    EXPECT_NEAR(d[1], -0.5f, 1e-6f);
    EXPECT_NEAR(d[2], 0.0f, 1e-6f);
    EXPECT_TRUE(scene.reflect.lookups.empty()) << "z 0.5 is below the contribution factor";
}

TEST(XRite, SolidPaintIsTheEncodedBaseUnderTheClearCoat) {
    Shader s("XRite");
    Scene scene(s);
    TestTexture flakes(float4(0.5f, 0.5f, 1, 1));
    s.set({{"flakeNormalTexture", flakes.handle()}, {"xriteIsSolid", true}});

    pxs::ShadingState st = headOn().build();
    s.shade(scene.sv, st);
    EXPECT_TRUE(vtest::near3(st.outColor, kOpaque, 1e-7f));
    EXPECT_TRUE(flakes.lookups.empty());
    EXPECT_TRUE(scene.specular.lookups.empty());
    EXPECT_TRUE(scene.reflect.lookups.empty());

    // The view angle is measured after matrixA: its third row (0, 1, 1) turns the head-on
    // view 45 degrees away from the mapping normal.
    pxs::matrix4 a = kIdentity;
    a.m[9] = 1;
    st = headOn().matrixA(a).build();
    s.shade(scene.sv, st);
    EXPECT_TRUE(
        vtest::near3(st.outColor, float3(0.0454221030f, 0.0617790144f, 0.0757632571f), 2e-7f));
}

TEST(XRite, NormalSwitchesSetTheSignOfTheNormal) {
    Shader s("XRite");
    vhost::TestServices sv;
    // reverse, faceForward, back face -> sign. Face-forwarding sets the sign on back
    // faces; it neither negates a reversed normal nor touches front faces.
    const struct {
        bool reverse, faceForward, backFace;
        float sign;
    } cases[] = {{true, false, false, -1},
                 {false, true, true, -1},
                 {true, true, true, -1},
                 {true, true, false, -1},
                 {false, true, false, 1}};
    for (const auto& c : cases) {
        s.param<bool>("reverseNormal") = c.reverse;
        s.param<bool>("faceForward") = c.faceForward;
        pxs::ShadingState st =
            StateBuilder()
                .ray(float3(-0.6f, 0, 0.8f), float3(0.6f, 0, -0.8f))
                .hit(float3(0, 0, 0), float3(0, 0, 1), float3(0, 0, c.backFace ? -1.0f : 1.0f))
                .build();
        sv.clear();
        s.shade(sv, st);
        EXPECT_EQ(sv.calls[0].args, (std::vector<float>{-2, 0, 0, 0, 0, 0, c.sign}));
    }
}

TEST(XRite, MaskCutsOutOrBlendsWithoutWritingAlpha) {
    Shader s("XRite");
    Scene scene(s);
    s.param<bool>("xriteIsSolid") = true;
    scene.sv.transmissionValue = float3(1, 0, 0.5f);
    scene.sv.transmissionAlpha = 0.25f;

    s.param<float3>("maskingColor") = float3(1.0f);
    pxs::ShadingState st = headOn().build(), before = st;
    s.shade(scene.sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"});
    EXPECT_EQ(st.skipHit, 1);
    EXPECT_TRUE(scene.sv.calls.empty());

    s.param<float3>("maskingColor") = float3(0.5f, 0.0f, 0.25f);
    st = before;
    s.shade(scene.sv, st);
    EXPECT_TRUE(vtest::near3(st.outColor,
                             float3(0.5f * kOpaque.x + 0.5f, kOpaque.y, 0.75f * kOpaque.z + 0.125f),
                             1e-7f));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outColor"});
    const auto traced = scene.sv.callsTo(vhost::kSvcTraceTransmission);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].args, (std::vector<float>{0.25f, 0.3f, 1.75f, 0, 0, -1, 1}));
}

TEST(XRite, OcclusionDarkensEverythingAndTheColourIsClamped) {
    Shader s("XRite");
    Scene scene(s);
    s.set({{"xriteIsSolid", true}, {"ambientOcclusionMode", 2}});
    pxs::ShadingState st = headOn().attribute(8, float4(0.25f, 1, 1, 1)).build();
    s.shade(scene.sv, st);
    EXPECT_TRUE(vtest::near3(
        st.outColor, float3(kOpaque.x * 0.25f, kOpaque.y * 0.25f, kOpaque.z * 0.25f), 1e-7f))
        << "the coat too";

    // A bright or negative reflection stays inside [0, 1].
    s.param<int32_t>("ambientOcclusionMode") = 0;
    scene.sv.reflectionValue = float3(100.0f, -100.0f, 50.0f);
    st = headOn().build();
    s.shade(scene.sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(1, 0, 1));
}

TEST(XRite, ShadowTransmissionIsTheMask) {
    Shader s("XRite");
    vhost::TestServices sv;
    TestTexture mask([](const float* uv) { return float4(uv[0], uv[1], 1, 1); });
    s.set({{"maskingMode", 1}, {"maskingTexture", mask.handle()}});
    // The mask reads the "uv" attribute at 24, not "uv1" at 0.
    pxs::ShadingState st =
        headOn().attribute(0, float2(0.9f, 0.9f)).attribute(24, float2(0.25f, 0.5f)).build();
    const pxs::ShadingState before = st;
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3_EXACT(st.outTransmission, float3(0.25f, 0.5f, 1));
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    EXPECT_TRUE(sv.calls.empty());

    s.param<int32_t>("maskingMode") = 0;
    st = before;
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3_EXACT(st.outTransmission, float3(0, 0, 0)) << "unmasked paint is opaque";
}

TEST(XRite, DegenerateInputsGiveFiniteColoursWithoutAllocating) {
    Shader s("XRite");
    Scene scene(s);
    TestTexture flakes(float4(0.5f, 0.5f, 1, 1));
    s.param<pxs::TextureHandle>("flakeNormalTexture") = flakes.handle();
    pxs::matrix4 zero{};
    // No view frame (matrixA zero), no flake frame, the hit at the ray origin.
    pxs::ShadingState st = headOn().matrixA(zero).matrixB(zero).ray(kHit, float3(0, 0, -1)).build();
    // Nothing records here, so any allocation would be the paint's.
    scene.sv.record = false;
    for (TestTexture* t : {&flakes, &scene.diffuse, &scene.specular, &scene.reflect}) {
        t->record = false;
    }
    const auto allocations = vtest::allocationCounts().allocations;
    s.shade(scene.sv, st);
    EXPECT_EQ(vtest::allocationCounts().allocations, allocations);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(st.outColor[k])) << k;
    flakes.record = true;

    // An absurd footprint limit seen edge-on: the grid stops at 256 a side.
    s.param<float>("maxFlakes") = 1e30f;
    st = headOn().ray(offset(-1, 0, 0), float3(1, 0, 0)).build();
    s.shade(scene.sv, st);
    EXPECT_EQ(flakes.lookups.size(), 256u * 256u);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isfinite(st.outColor[k])) << k;
}

}  // namespace

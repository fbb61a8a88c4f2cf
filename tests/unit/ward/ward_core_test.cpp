// The Ward core's surface inputs (lobe weights, roughness, frames) against worked
// values, on the image-map policy of corvid_Mtl_Ward.
#include <gtest/gtest.h>

#include <cmath>

// TestTexture::sample reads a third coordinate only for cube maps; once inlined next
// to a float2 lookup GCC cannot see that branch is dead and warns.
#pragma GCC diagnostic ignored "-Warray-bounds"

#include "materials/ward/ward_core.h"
#include "testkit/state_builder.h"
#include "testkit/test_services.h"
#include "testkit/test_texture.h"

namespace {

using namespace pxs;
using vhost::StateBuilder;
using vhost::TestServices;
using vhost::TestTexture;

::testing::AssertionResult near(float3 a, float3 e, float tol = 1e-6f) {
    if (std::fabs(a.x - e.x) <= tol && std::fabs(a.y - e.y) <= tol && std::fabs(a.z - e.z) <= tol) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs ("
                                         << e.x << ", " << e.y << ", " << e.z << ")";
}

// A hit at the origin, normal +z, tangent attribute +x, seen from above.
struct Fixture {
    WardParams w;
    TestServices sv;
    ShadingState st = StateBuilder()
                          .ray(float3(0, -3, 4), float3(0, 0.6f, -0.8f))
                          .attribute(WardImageInputs::kTangentOffset, float3(1, 0, 0))
                          .attribute(WardImageInputs::kBitangentOffset, float3(0, 1, 0))
                          .build();
    WardHit<WardImageInputs> hit() { return WardHit<WardImageInputs>({w}, &sv, st); }
};

TEST(WardLobeWeights, FrontAndBackWithTransparencyAndTranslucency) {
    Fixture f;
    const float3 diffuse(0.5f, 0.4f, 0.2f);
    f.w.diffuseColor = diffuse;
    f.w.brdfCurvePower = 5.0f;
    const float r = 0.03125f * 0.9f + 0.1f;  // cs = 0.5
    const float t = 0.3f, l = 0.6f;
    const float3 k = float3(t) + (1 - t) * diffuse;

    // Opaque: the back side keeps nothing, and gets no reflectivity.
    WardLobes opaqueBack = f.hit().lobeWeights(false, false, 0.5f);
    EXPECT_TRUE(opaqueBack.d == float3(0.0f) && opaqueBack.s == float3(0.0f));

    f.w.transparency = true;
    f.w.transparencyValue = t;
    f.w.translucencyValue = l;
    WardLobes front = f.hit().lobeWeights(true, false, 0.5f);
    EXPECT_TRUE(near(front.s, float3(r)));
    EXPECT_TRUE(near(front.d, diffuse * (1 - r) * (1 - t)));
    EXPECT_TRUE(near(front.k, k));
    EXPECT_TRUE(near(front.x, (1 - r) * t * k));

    WardLobes back = f.hit().lobeWeights(false, false, 0.5f);
    EXPECT_TRUE(back.s == float3(0.0f));
    EXPECT_TRUE(near(back.d, diffuse * t * l)) << "translucent light from behind";
    EXPECT_TRUE(near(back.x, t * (1 - l) * k));

    WardLobes shadowBack = f.hit().lobeWeights(false, true, 0.5f);
    EXPECT_TRUE(near(shadowBack.x, (1 - r) * t * (1 - l) * k)) << "transmit brings reflectivity";

    // The transparency map blends with the value by the fade.
    TestTexture map(float4(0.8f, 0, 0, 1));
    f.w.transparencyMapEnable = true;
    f.w.transparencyMap = map.handle();
    f.w.transparencyAmount = 0.5f;
    f.w.transparencyFade = 0.25f;
    EXPECT_FLOAT_EQ(f.hit().transparency(), 0.75f * 0.3f + 0.8f * 0.5f * 0.25f);
    f.w.transparency = false;
    EXPECT_EQ(f.hit().transparency(), 0.0f);
    EXPECT_EQ(f.hit().translucency(), 0.0f);
}

TEST(WardLobeWeights, MetalTintAndImageFade) {
    Fixture f;
    const float3 diffuse(0.5f, 0.4f, 0.2f);
    f.w.diffuseColor = diffuse;
    f.w.isMetal = true;
    f.w.reflectivity = 0.5f;
    WardLobes metal = f.hit().lobeWeights(true, false, 1.0f);
    EXPECT_TRUE(near(metal.s, diffuse * 0.5f)) << "white specular takes the diffuse colour";
    EXPECT_TRUE(near(metal.d, diffuse * 0.5f * 0.5f)) << "1 - lum(S) r, then 1 - r";

    f.w.isMetal = false;
    f.w.reflectivity = 0.0f;
    f.w.imageFadeEnable = 1;
    EXPECT_TRUE(f.hit().lobeWeights(true, false, 1.0f).d == diffuse) << "mode 1 needs a map";
    f.w.imageFadeEnable = 4;
    f.w.imageFade = 0.5f;
    float3 faded = f.hit().lobeWeights(true, false, 1.0f).d;
    EXPECT_TRUE(near(faded, imageFadeBlend(diffuse, float3(0.595125f), 0.5f)));
    EXPECT_EQ(f.sv.count(vhost::kSvcNoise3), 0) << "the fade noise is filtered away";

    // Mode 1 with a map: the map's alpha times the fade blends colour and map.
    TestTexture map(float4(1.0f, 0.0f, 0.0f, 0.5f));
    f.w.imageFadeEnable = 1;
    f.w.imageFade = 0.5f;
    f.w.diffuseMapEnable = true;
    f.w.diffuseMap = map.handle();
    f.w.diffuseAmount = 0.8f;
    EXPECT_TRUE(near(f.hit().lobeWeights(true, false, 1.0f).d,
                     0.75f * diffuse + 0.25f * float3(0.8f, 0, 0)));
}

TEST(WardRoughness, MapRemapAnisotropyAndFloor) {
    Fixture f;
    TestTexture gloss(float4(0.75f, 0, 0, 1));
    f.w.roughMapEnable = true;
    f.w.roughMap = gloss.handle();
    f.w.anisotropyValue = 2.0f;
    WardRoughness r = f.hit().roughness();
    EXPECT_EQ(r.ax, glossToRoughness(0.75f));
    EXPECT_EQ(r.ay, 2.0f * glossToRoughness(0.75f));
    // A zero roughness would divide the lobe by zero: it stops at the floor.
    f.w.roughMapEnable = false;
    f.w.roughValue = 0.0f;
    f.w.anisotropyMapEnable = true;  // no texture: anisotropy 0
    r = f.hit().roughness();
    EXPECT_EQ(r.ax, kMinWardRoughness);
    EXPECT_EQ(r.ay, kMinWardRoughness);
}

TEST(WardFrames, HeightMapsRotationAndWhichFrameTheyBend) {
    Fixture f;
    // Height rising along u: bends the normal towards -T.
    TestTexture slope([](const float* uv) { return float4(uv[0], 0, 0, 1); });
    f.w.anisoRotationValue = kHalfPi;
    WardFrames fr = f.hit().frames();
    EXPECT_TRUE(near(fr.a.t, float3(0, 1, 0))) << "T turns towards B";
    EXPECT_TRUE(near(fr.a.b, float3(-1, 0, 0)));
    EXPECT_TRUE(near(fr.b.t, float3(0, 1, 0))) << "both frames rotate";

    f.w.anisoRotationValue = 0.0f;
    f.w.normal1MapEnable = true;
    f.w.normal1Map = slope.handle();
    f.w.normal1Amount = 10.0f;
    f.w.procedureMapEnable = 1;
    f.w.procedureMapAmount = 1.0f;
    fr = f.hit().frames();
    const float du = -0.001f;
    float3 bent = normalize(float3(du * 10.0f * 3.33f, 0, 1));
    EXPECT_TRUE(near(fr.a.n, bent, 1e-5f)) << "height map 1 bends frame a";
    EXPECT_TRUE(fr.b.n == float3(0, 0, 1)) << "and not frame b";
    EXPECT_EQ(f.sv.count(vhost::kSvcNoise3), 0) << "height map 1 replaces the procedural bump";

    f.w.normal1MapEnable = false;
    f.w.procedureMapEnable = 0;
    f.w.normal0MapEnable = true;
    f.w.normal0Map = slope.handle();
    f.w.normal0Amount = 10.0f;
    fr = f.hit().frames();
    EXPECT_TRUE(near(fr.a.n, bent, 1e-5f));
    EXPECT_TRUE(near(fr.b.n, bent, 1e-5f)) << "height map 0 bends both";
}

TEST(WardFrames, GrainBumpKeepsFiveOctavesAndClampsTheGradient) {
    Fixture f;
    f.st.position = float3(0.3f, 0.2f, 0.1f);
    f.sv.noise3Function = [](float x, float y, float z, float w) {
        EXPECT_EQ(w, 1.5f);
        return 0.01f * (x + 2.0f * y - z);
    };
    f.w.procedureMapEnable = 6;  // fractal
    f.w.procedureMapAmount = 2.0f;
    WardFrames fr = f.hit().frames();
    EXPECT_EQ(f.sv.count(vhost::kSvcNoise3), 4 * 5) << "four values of five octaves";
    // Five octaves of a linear noise sum to 5 n; the threshold 0.2..0.9 divides by
    // 0.7; the negative z component is clamped to 0.
    const float k = 0.901961f - 0.135294f;
    const float gain = k * 0.5f * 5.0f / 0.7f;
    float3 expected = normalize(float3(2.0f * gain * 0.01f, 2.0f * gain * 0.02f, 1.0f));
    EXPECT_TRUE(near(fr.a.n, expected, 2e-4f));
    EXPECT_TRUE(fr.b.n == float3(0, 0, 1));
}

TEST(WardLighting, BumpedNormalIsBentTowardTheViewer) {
    Fixture f;
    // A steep height map tips frame a's normal away from the grazing viewer.
    TestTexture slope(
        [](const float* uv) { return float4(-15.015f * uv[0] - 7.5075f * uv[1], 0, 0, 1); });
    f.w.normal1MapEnable = true;
    f.w.normal1Map = slope.handle();
    f.w.normal1Amount = 10.0f;
    f.st.rayDirection = normalize(float3(0, 0.95f, -0.3f));
    const float3 bumped = f.hit().frames().a.n;
    const float3 bent = bendTowardViewer(-f.st.rayDirection, float3(0, 0, 1), bumped);
    ASSERT_GT(length(bent - bumped), 0.01f) << "the case must need the bend";
    f.sv.clear();
    f.hit().lighting();
    auto traces = f.sv.callsTo(vhost::kSvcTraceGlossyReflection);
    ASSERT_EQ(traces.size(), 1u);
    const float3 r = reflectGuarded(f.st.rayDirection, bent, f.st.geometricNormal);
    ASSERT_GT(length(r - reflectGuarded(f.st.rayDirection, bumped, f.st.geometricNormal)), 0.01f);
    EXPECT_TRUE(near(float3(traces[0].args[3], traces[0].args[4], traces[0].args[5]), r, 1e-5f));

    // Lights are gathered about frame b's normal, or the fully bumped one on request.
    auto lightNormal = [&] {
        f.sv.clear();
        f.hit().lighting();
        auto c = f.sv.callsTo(vhost::kSvcGetLights)[0].args;
        return float3(c[4], c[5], c[6]);
    };
    EXPECT_TRUE(lightNormal() == float3(0, 0, 1));
    f.w.normal1AsShadingNormal = true;
    EXPECT_TRUE(near(lightNormal(), bent, 1e-5f));
}

}  // namespace

// Guarded reflection, refraction, Fresnel forms and GGX terms against worked values.

#include <cmath>

#include "shading/scattering.h"
#include "testkit/harness.h"

namespace {

using namespace pxs;

const float kS = std::sqrt(0.5f);

TEST(ReflectGuarded, BumpedNormalReflectionIsLiftedToTheGuardHeight) {
    // A bump tilted towards the viewer sends the plain reflection to (-0.979, 0, -0.201).
    float3 i(kS, 0, -kS);
    float3 nf = normalize(float3(-1, 0, 0.3f));
    float3 ngf(0, 0, 1);
    ASSERT_LT(dot(ngf, reflect(i, nf)), 0.0f);
    // The unit directions of the I-nf plane at height 0.05 are (+-sqrt(1 - 0.0025), 0,
    // 0.05); the one reached with the larger share of nf keeps travelling backwards.
    float3 r = reflectGuarded(i, nf, ngf);
    EXPECT_TRUE(vtest::near3(r, float3(-std::sqrt(1.0f - 0.0025f), 0, 0.05f), 2e-6f));
    EXPECT_NEAR(length(r), 1.0f, 1e-6f);
}

TEST(ReflectGuarded, ImpossibleOrDegenerateCasesFallBackToTheNormal) {
    // The I-nf plane never rises 0.05 above the surface: no solution.
    float3 i = normalize(float3(1, 0, -0.01f));
    float3 nf(0, 1, 0);
    float3 r = reflectGuarded(i, nf, float3(0, 0, 1));
    EXPECT_TRUE(r == nf);

    // A ray exactly in the geometric plane with a bumped normal that reflects it
    // straight down: finite, and the normal.
    float3 bumped = normalize(float3(1, 0, 1));
    float3 g = reflectGuarded(float3(1, 0, 0), bumped, float3(0, 0, 1));
    EXPECT_TRUE(std::isfinite(g.x) && std::isfinite(g.y) && std::isfinite(g.z));
    EXPECT_TRUE(g == bumped);
}

TEST(RefractDirection, SnellAndTotalInternalReflection) {
    // 45 degrees into glass of index 1.5: sin(t) = sin(45)/1.5 = 0.4714045, cos(t) = 0.8819171.
    float3 t = refractDirection(float3(kS, 0, -kS), float3(0, 0, 1), 1.0f / 1.5f);
    EXPECT_TRUE(vtest::near3(t, float3(0.4714045f, 0, -0.8819171f), 2e-6f));
    // Leaving glass at 60 degrees: 1.5 * sin(60) > 1.
    float3 tir = refractDirection(float3(0.8660254f, 0, 0.5f), float3(0, 0, -1), 1.5f);
    EXPECT_TRUE(tir == float3(0, 0, 0));
    // Index ratio 1: straight through.
    EXPECT_FLOAT3(refractDirection(float3(kS, 0, -kS), float3(0, 0, 1), 1.0f), float3(kS, 0, -kS));
    // An infinite ratio head-on has no discriminant: NaN, or blocked when asked.
    const float3 head(0, 0, -1), up(0, 0, 1);
    EXPECT_TRUE(std::isnan(refractDirection(head, up, INFINITY).x));
    EXPECT_TRUE(refractDirection(head, up, INFINITY, UndefinedRefraction::kBlocked) ==
                float3(0.0f));
}

TEST(Fresnel, SchlickLimitsAndClamping) {
    EXPECT_FLOAT_EQ(fresnelSchlick(1.0f, 0.04f), 0.04f);
    EXPECT_EQ(fresnelSchlick(0.0f, 0.04f), 1.0f);
    EXPECT_FLOAT_EQ(fresnelSchlick(0.5f, 0.04f), 0.07f);  // 0.04 + 0.96 / 32
    EXPECT_EQ(fresnelSchlick(-0.5f, 0.04f), 1.0f) << "cosine clamped to 0";
    EXPECT_FLOAT_EQ(fresnelSchlick(2.0f, 0.04f), 0.04f) << "cosine clamped to 1";
    EXPECT_EQ(fresnelSchlick(0.0f, 1.5f), 1.0f) << "result clamped";
}

TEST(Fresnel, CurveLimitsAndFixedForms) {
    for (float x : {0.0f, 0.3f, 0.7f, 1.0f}) {
        EXPECT_EQ(fresnelCurve(x, 5.0f, 0.3f, 0.3f), 0.3f) << x;
        EXPECT_EQ(fresnelCurve(x, 0.0f, 0.25f, 1.0f), 1.0f) << "power 0 is the grazing value";
    }
    EXPECT_EQ(fresnelCurve(1.0f, 5.0f, 0.1f, 1.0f), 0.1f);
    EXPECT_FLOAT_EQ(fresnelCurve(0.5f, 2.0f, 0.2f, 1.0f), 0.4f);  // 0.25 * 0.8 + 0.2
    EXPECT_FLOAT_EQ(fresnelCurve(0.5f, 1.0f, 1.5f, 0.5f), 1.0f) << "not clamped: F0 > F90 works";

    EXPECT_FLOAT_EQ(mirrorFresnel(1.0f), 0.92f);
    EXPECT_FLOAT_EQ(mirrorFresnel(-1.0f), 0.92f) << "either side of the surface";
    EXPECT_EQ(mirrorFresnel(0.0f), 1.0f);
    EXPECT_FLOAT_EQ(topcoatFresnel(1.0f), 0.3f);
    EXPECT_EQ(topcoatFresnel(0.0f), 1.0f);
}

TEST(Ggx, DistributionValuesAndSupport) {
    EXPECT_EQ(ggxD(float3(0.6f, 0, -0.8f), 0.25f), 0.0f);
    EXPECT_EQ(ggxD(float3(1, 0, 0), 0.25f), 0.0f);
    // At the normal D = 1 / (pi a2).
    EXPECT_NEAR(ggxD(float3(0, 0, 1), 0.25f), 1.2732395f, 2e-6f);
    // cos = 0.8: tan^2 = 0.5625, D = a2 / (pi cos^4 (a2 + tan^2)^2) = 0.25 / (pi 0.4096 0.6601563).
    EXPECT_NEAR(ggxD(float3(0.6f, 0, 0.8f), 0.25f), 0.2942954f, 1e-6f);
}

TEST(Ggx, MaskingZeroOnTheWrongSide) {
    float3 v(0.6f, 0, 0.8f);
    EXPECT_EQ(ggxG1(v, float3(-0.8f, 0, 0.6f), 0.25f), 0.0f) << "v perpendicular to h";
    EXPECT_EQ(ggxG1(v, normalize(float3(-1, 0, 0.1f)), 0.25f), 0.0f) << "v behind h";
    EXPECT_EQ(ggxG1(float3(0, 0, 1), float3(0, 0, 1), 0.25f), 1.0f);
    // 2 / (1 + sqrt(1 + 0.25 * 0.5625)).
    EXPECT_NEAR(ggxG1(v, float3(0, 0, 1), 0.25f), 0.9671179f, 1e-6f);
    EXPECT_EQ(ggxG1(float3(1, 0, 0), float3(0, 0, 1), 0.25f), 0.0f) << "grazing direction";
}

TEST(MicrofacetDielectric, ReflectionIsReciprocalAndTransmissionFollowsEtaSquared) {
    float3 wo = normalize(float3(0.3f, 0.1f, 0.9f));
    float3 wi = normalize(float3(-0.4f, 0.2f, 0.8f));
    float a2 = 0.09f;
    float fr = microfacetDielectric(wo, wi, 1.0f, 1.5f, a2, 1.0f);
    EXPECT_GT(fr, 0.0f);
    EXPECT_NEAR(fr, microfacetDielectric(wi, wo, 1.0f, 1.5f, a2, 1.0f), 1e-5f * fr);
    EXPECT_EQ(microfacetDielectric(wo, wi, 1.0f, 1.5f, a2, 0.0f), 0.0f)
        << "no transmission towards the viewer's side";

    // Through the interface: generalised reciprocity ft(o->i) / etaT^2 = ft(i->o) / etaI^2.
    float3 wt = normalize(float3(-0.2f, -0.1f, -0.9f));
    float ft = microfacetDielectric(wo, wt, 1.0f, 1.5f, a2, 0.0f);
    float back = microfacetDielectric(wt, wo, 1.5f, 1.0f, a2, 0.0f);
    EXPECT_GT(ft, 0.0f);
    EXPECT_NEAR(ft / 2.25f, back, 1e-4f * back);
    EXPECT_EQ(microfacetDielectric(wo, wt, 1.0f, 1.5f, a2, 1.0f), 0.0f)
        << "no reflection into the far side";
    // Straight through at index ratio 1 has no half vector: no value, no NaN.
    EXPECT_EQ(microfacetDielectric(float3(0, 0, 1), float3(0, 0, -1), 1.0f, 1.0f, a2, 0.5f), 0.0f);
}

}  // namespace

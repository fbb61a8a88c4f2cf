// Named inputs at the edge of a formula's domain, where finite parameters could give NaN or
// infinite results. Where a formula has no finite value the term gives nothing (0), like
// any contribution that fails its validity test.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "testkit/harness.h"

namespace {

using pxs::float3;

bool finite3(float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A paint with a black base and no highlight: only the pearl and the colour shift
// light it.
vtest::Shader pearlPaint() {
    vtest::Shader s("corvid_Mtl_MetallicPaint");
    s.set({{"u_baseColor", pxs::float4(0.0f, 0.0f, 0.0f, 1.0f)},
           {"u_base00Reflectivity", 0.0f},
           {"u_base90Reflectivity", 0.0f},
           {"u_pearl", 1},
           {"u_baseHighlightSpread", 0.8f},
           {"u_baseBiasFactor", 1.0f}});
    return s;
}

pxs::ShadingState lightState(float3 axis, float3 direction, float distance) {
    return vhost::StateBuilder().light(float3(0, 0, distance), direction, axis, distance).build();
}

TEST(NonFiniteInput, NegativeDistanceScaleGivesNoLight) {
    for (const char* cls : {"qzPointLight", "qzSpotLight"}) {
        vtest::Shader light(cls);
        light.param<float3>("attenuationFactors") = float3(-2.0f, 0.5f, 0.0f);
        if (std::string(cls) == "qzSpotLight") {
            // A hard-edged hemisphere: the rim factor is 1 wherever a >= 0.
            light.param<float>("cosPenumbra") = 0.0f;
            light.param<float>("cosUmbra") = 0.0f;
        }
        vhost::TestServices sv;
        pxs::ShadingState st = lightState(float3(0, 0, -1), float3(0, 0, 1), 3.0f);
        light.shade(sv, st);
        // (3 / -2)^0.5 has no value.
        EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, float3(0.0f)) << cls;

        // Integral exponents keep their value: (3 / -2)^2 = 2.25, saturate(1 - 2.25) = 0;
        // (1 / -2)^1 = -0.5 gives saturate(1.5) = 1.
        light.param<float3>("attenuationFactors") = float3(-2.0f, 1.0f, 0.0f);
        st = lightState(float3(0, 0, -1), float3(0, 0, 1), 1.0f);
        light.shade(sv, st);
        EXPECT_TRUE(finite3(st.lightSample.lightColor)) << cls;
        EXPECT_GT(st.lightSample.lightColor.x, 0.0f) << cls;
    }
}

TEST(NonFiniteInput, SpotConeExponentBelowZeroAtTheRim) {
    vtest::Shader spot("qzSpotLight");
    // A cone as wide as a hemisphere reaches a = 0, where 0^z is infinite for z < 0.
    spot.param<float>("cosPenumbra") = 0.0f;
    spot.param<float>("cosUmbra") = 0.0f;
    spot.param<float3>("attenuationFactors") = float3(10.0f, 1.0f, -1.5f);
    vhost::TestServices sv;
    pxs::ShadingState st = lightState(float3(1, 0, 0), float3(0, 0, 1), 2.0f);
    spot.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, float3(0.0f));

    // Inside the cone the negative exponent keeps its finite value: 0.5^-1.5.
    st = lightState(float3(0, 0.8660254f, 0.5f), float3(0, 0, 1), 2.0f);
    spot.shade(sv, st);
    const float s = 0.8f * std::pow(0.5f, -1.5f);
    EXPECT_FLOAT3(st.lightSample.lightColor, float3(0.1f * s, 1.0f * s, 0.5f * s));
}

TEST(NonFiniteInput, GlazingNegativeMapAmountTransmitsNothing) {
    vtest::Shader glazing("corvid_Mtl_Glazing");
    vhost::TestTexture grey(pxs::float4(0.5f, 0.5f, 0.5f, 1.0f));
    grey.record = false;
    glazing.param<uint8_t>("u_transmittanceMapEnable") = 1;
    glazing.param<pxs::TextureHandle>("u_transmittanceMap") = grey.handle();
    glazing.param<pxs::matrix3>("u_transmittanceTransform") = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    glazing.param<float>("u_level") = 0.3f;
    vhost::TestServices sv;
    sv.transmissionValue = float3(1.0f);

    glazing.param<float>("u_transmittanceAmount") = 0.0f;
    pxs::ShadingState black = vhost::StateBuilder().build();
    glazing.shade(sv, black);

    // (0.5 * -0.8)^(1 / 0.3): a fractional power of a negative number.
    glazing.param<float>("u_transmittanceAmount") = -0.8f;
    pxs::ShadingState st = vhost::StateBuilder().build();
    glazing.shade(sv, st);
    EXPECT_TRUE(finite3(st.outColor));
    EXPECT_FLOAT3_EXACT(st.outColor, black.outColor);
}

TEST(NonFiniteInput, MetallicPaintPearlAndShapingWithoutAValue) {
    vtest::Shader paint = pearlPaint();
    vhost::TestServices sv;
    // The shading normal leans past the view ray: -(I.Nf) = -0.69 has no power 0.4.
    // The pearl is that of a grazing view, (1 - 0^0.4) (1 - shaped^3) f^2.
    const float3 n = vtest::unit(float3(1.0f, 0.0f, 0.3f));
    sv.setLights({vtest::light(n, 0.5f, float3(1.0f))});
    pxs::ShadingState st = vtest::viewing(vtest::viewAt(60), n).build();
    paint.shade(sv, st);
    const float shaped = std::pow(0.5f, 0.8f);
    const float w = (1.0f - shaped * shaped * shaped) * 0.25f;
    EXPECT_FLOAT3(st.outColor, vtest::scaled(float3(w * 0.8f, w * 0.12f, 0.0f), 0.25f));

    // An unlit light (factor 0) shaped by a negative exponent, 0^-0.8: it adds
    // nothing, and the lit one keeps its colour shift.
    paint.set({{"u_pearl", 0}, {"u_baseBiasFactor", -1.0f}, {"u_hueWeight", 1.0f}});
    paint.param<float3>("u_shiftedColor") = float3(1.0f, 0.5f, 0.25f);
    sv.setLights({vtest::light(float3(0, 0, 1), 0.5f, float3(1.0f))});
    pxs::ShadingState one = vtest::viewing(float3(0, 0, -1)).build();
    paint.shade(sv, one);
    sv.setLights({vtest::light(float3(0, 0, 1), 0.0f, float3(1.0f)),
                  vtest::light(float3(0, 0, 1), 0.5f, float3(1.0f))});
    st = vtest::viewing(float3(0, 0, -1)).build();
    paint.shade(sv, st);
    EXPECT_GT(one.outColor.x, 0.0f);
    EXPECT_FLOAT3_EXACT(st.outColor, one.outColor);

    // Exactly grazing with a negative pearl exponent: 0^-0.4 is infinite, and the
    // tint's zero blue channel would meet it as 0 * inf.
    paint.set({{"u_pearl", 1}, {"u_pearlIor", -0.2f}, {"u_baseBiasFactor", 1.0f}});
    sv.setLights({vtest::light(float3(0, 0, 1), 0.5f, float3(1.0f))});
    st = vtest::viewing(float3(1, 0, 0)).build();
    paint.shade(sv, st);
    EXPECT_TRUE(finite3(st.outColor));
}

TEST(NonFiniteInput, DielectricGainPastTheFloatRangeAbsorbsNothing) {
    vtest::Shader glass("corvid_Mtl_Dielectric");
    vhost::TestTexture map(pxs::float4(2.0f, 2.0f, 0.5f, 1.0f));
    map.record = false;
    glass.set({{"u_falloffEnable", true},
               {"u_transmittanceMapEnable", true},
               {"u_transmittanceMap", map.handle()},
               {"u_absorptionCoef", float3(0.0f, 0.01f, 0.0f)}});
    vhost::TestServices sv;
    sv.glossyTransmissionValue = float3(0.5f);
    // Leaving the glass head-on after 5 units inside.
    const pxs::ShadingState leaving = vtest::viewing(float3(0, 0, 1)).ior(1.52f, 1.0f).build();
    pxs::ShadingState st = leaving;
    glass.shade(sv, st);
    // Red: -ln 2 / 0, an infinite gain; green: 10^(5 ln 2 / 0.01), past the float
    // range. Both pass unabsorbed. Blue: -ln 0.5 / 0 still absorbs everything.
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.5f, 0.5f, 0.0f));

    // A gain within the float range keeps its value.
    glass.param<float3>("u_absorptionCoef") = float3(1.0f);
    st = leaving;
    glass.shade(sv, st);
    EXPECT_FLOAT_EQ(st.outColor.x, 0.5f * std::pow(10.0f, 5.0f * std::log(2.0f)));

    // Shadows: the same for a negative coefficient.
    glass.param<float3>("u_absorptionCoef") = float3(-10.0f, -0.2f, 0.0f);
    st = leaving;
    glass.shadowTransmission(sv, st);
    const float t = st.outTransmission.z;
    EXPECT_GT(t, 0.0f);
    EXPECT_FLOAT3(st.outTransmission, float3(t, 10.0f * t, t));
}

TEST(NonFiniteInput, DielectricIndexZeroRefractsNothing) {
    vtest::Shader glass("corvid_Mtl_Dielectric");
    glass.param<float>("u_ior") = 0.0f;
    // Entering head-on: the ratio 1 / 0 is infinite, and here the cosine rounds to
    // a little above 1, so k = 1 - inf * (1 - cm^2) is +inf instead of -inf.
    const float3 n = vtest::unit(float3(0.0f, 0.039f, 1.0f));
    const float3 i = vtest::scaled(n, -1.0f);
    vhost::TestServices sv;
    pxs::ShadingState st =
        vtest::viewing(i, n, n).ior(1.0f, 1.0f).allowLobes(0, 0, 0, 1, 1, 1).build();
    const pxs::ShadingState before = st;
    glass.sampleBsdf(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"sampleKind"});
    EXPECT_EQ(st.sampleKind, pxs::kSampleNone);

    // With reflection allowed the event reflects, straight back.
    st = vtest::viewing(i, n, n).ior(1.0f, 1.0f).build();
    glass.sampleBsdf(sv, st);
    EXPECT_EQ(st.sampleKind, pxs::kSampleSmoothTransmission);
    EXPECT_TRUE(vtest::near3(st.sampleDirection, n, 1e-6f));
}

// random() = 0 picks the cosine lobe although a black diffuse gives it probability
// 0; with a narrow Ward lobe (0.05) seen head-on, the draw (0.9, 0.5) leaves at
// (0.8, 0, 0.6), where the lobe's density is about 2e-42: 1 / pdf overflows.
TEST(NonFiniteInput, MixtureSampleOfAZeroProbabilityLobeHasNoContinuation) {
    vtest::Shader ward("corvid_Mtl_Ward");
    ward.param<float>("u_roughValue") = 0.05f;
    vtest::Shader paint("corvid_Mtl_MetallicPaint");
    paint.set({{"u_baseColor", pxs::float4(0.0f, 0.0f, 0.0f, 1.0f)}, {"u_baseRoughValue", 0.05f}});
    const pxs::ShadingState before = vtest::viewing(float3(0, 0, -1)).build();
    // The paint first passes its topcoat event (0.5 > Ft = 0.3).
    for (const auto& [shader, randoms] :
         {std::pair<vtest::Shader*, std::vector<float>>{&ward, {0.0f, 0.9f, 0.5f}},
          {&paint, {0.5f, 0.0f, 0.9f, 0.5f}}}) {
        vhost::TestServices sv;
        sv.randoms = randoms;
        pxs::ShadingState st = before;
        shader->sampleBsdf(sv, st);
        EXPECT_EQ(st.sampleKind, pxs::kSampleNone) << st.sampleWeight;
        EXPECT_TRUE(vtest::near3(st.sampleDirection, float3(0.8f, 0.0f, 0.6f), 1e-5f));
        const std::vector<std::string> written = vhost::changedFields(before, st);
        EXPECT_EQ(std::count(written.begin(), written.end(), "sampleWeight"), 0);

        // Any other number draws from the Ward lobe, with a finite weight.
        vhost::TestServices other;
        other.randoms = randoms;
        other.randoms[randoms.size() - 3] = 0.25f;
        st = before;
        shader->sampleBsdf(other, st);
        EXPECT_EQ(st.sampleKind, pxs::kSampleLobeMixture);
        EXPECT_TRUE(std::isfinite(st.sampleWeight));
    }
}

}  // namespace

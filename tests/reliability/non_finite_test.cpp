// Named inputs that once turned finite parameters into NaN or infinite results.
// Where a formula has no finite value the term gives nothing (0), like any
// contribution that fails its validity test.
#include <cmath>

#include "support/harness.h"

namespace {

using pxs::float3;

bool finite3(float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

pxs::ShadingState lightState(float3 axis, float3 direction, float distance) {
    return vhost::StateBuilder().light(float3(0, 0, distance), direction, axis, distance).build();
}

TEST(NonFiniteRegression, NegativeDistanceScaleGivesNoLight) {
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

TEST(NonFiniteRegression, SpotConeExponentBelowZeroAtTheRim) {
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

TEST(NonFiniteRegression, GlazingNegativeMapAmountTransmitsNothing) {
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

}  // namespace

// qzPointLight and qzSpotLight through the test host.
#include <cmath>
#include <limits>

#include "support/harness.h"

namespace {

using pxs::float3;
using vhost::DeclType;
using vhost::StateBuilder;
using vtest::Shader;

using Fields = std::vector<std::string>;
const Fields kBothOutputs = {"lightColor", "lightTransmission"};
const float3 kPoint(1, 2, 3);
const float3 kLightPosition(1, 2, 13);

// A point lit along the spot axis itself (a = 1), distance d.
pxs::ShadingState lightSample(float d, float3 direction = float3(0, 0, 1)) {
    return StateBuilder()
        .hit(kPoint, float3(0, 0, 1))
        .light(kLightPosition, direction, float3(0, 0, 1), d)
        .build();
}

float3 scaled(float3 v, float s) {
    return float3(v.x * s, v.y * s, v.z * s);
}

// A direction whose dot product with the axis (0, 0, 1) is exactly a.
float3 atCosine(float a) {
    return float3(std::sqrt(1.0f - a * a), 0, a);
}

TEST(PointLightParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("qzPointLight", 32,
                              {{"color", DeclType::Float3, "(1, 0.5, 0.100000001)"},
                               {"castShadows", DeclType::Bool, "true"},
                               {"range", DeclType::Float, "10000"},
                               {"attenuationFactors", DeclType::Float3, "(1, 0, 0)"}});
}

TEST(SpotLightParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("qzSpotLight", 32,
                              {{"color", DeclType::Float3, "(0.100000001, 1, 0.5)"},
                               {"range", DeclType::Float, "10000"},
                               {"attenuationFactors", DeclType::Float3, "(1, 0, 0)"},
                               {"castShadows", DeclType::Bool, "true"},
                               {"cosPenumbra", DeclType::Float, "0.899999976"},
                               {"cosUmbra", DeclType::Float, "0.949999988"}});
}

// What both lights share, seen on the spot light's axis where its cone adds nothing.
class BothLights : public ::testing::TestWithParam<const char*> {};

TEST_P(BothLights, RangeEdgeIsLitAndBeyondIsUntouched) {
    Shader s(GetParam());
    s.param<float>("range") = 50.0f;
    vhost::TestServices sv;
    pxs::ShadingState st = lightSample(50.0f), before = st;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), kBothOutputs);
    ASSERT_EQ(sv.calls.size(), 1u);
    EXPECT_EQ(sv.calls[0].slot, vhost::kSvcTraceShadow);
    EXPECT_EQ(sv.calls[0].args, (std::vector<float>{1, 2, 3, 1, 2, 13})) << "point to light";

    sv.clear();
    st = lightSample(std::nextafter(50.0f, 100.0f));
    before = st;
    s.shade(sv, st);
    EXPECT_TRUE(vhost::changedFields(before, st).empty());
    EXPECT_TRUE(sv.calls.empty());

    // A NaN distance is not beyond the range: the light goes on.
    st = lightSample(std::numeric_limits<float>::quiet_NaN());
    before = st;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), kBothOutputs);
}

TEST_P(BothLights, DistanceFalloffAndShadowRequest) {
    Shader s(GetParam());
    const float3 color(2, 1, 0.5f);
    s.param<float3>("color") = color;
    vhost::TestServices sv;
    sv.shadowValue = float3(0.25f, 0.5f, 0.75f);

    pxs::ShadingState st = lightSample(3.0f);
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, float3(0, 0, 0)) << "exponent 0";
    EXPECT_FLOAT3_EXACT(st.lightSample.lightTransmission, sv.shadowValue);

    s.param<float3>("attenuationFactors") = float3(10, 2, 0);
    const struct { float d, f; } cases[] = {{0, 1}, {5, 0.75f}, {10, 0}, {20, 0}};
    for (const auto& c : cases) {
        st = lightSample(c.d);
        s.shade(sv, st);
        EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, scaled(color, c.f)) << "d = " << c.d;
    }

    s.param<bool>("castShadows") = false;
    sv.clear();
    st = lightSample(5.0f);
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.lightSample.lightTransmission, float3(1, 1, 1));
    EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, scaled(color, 0.75f));
    EXPECT_TRUE(sv.calls.empty()) << "no shadow request";
}

// The plain formula divides 0 by 0 at the light itself when the scale is 0.
TEST_P(BothLights, ZeroDistanceScaleIsFiniteEverywhere) {
    Shader s(GetParam());
    s.param<float3>("color") = float3(1, 1, 1);
    vhost::TestServices sv;
    for (float scale : {0.0f, -0.0f}) {
        for (float exponent : {2.0f, 1.0f, 0.5f, 0.0f, -1.0f}) {
            s.param<float3>("attenuationFactors") = float3(scale, exponent, 0);
            pxs::ShadingState atLight = lightSample(0.0f), away = lightSample(7.0f);
            s.shade(sv, atLight);
            s.shade(sv, away);
            float3 c = atLight.lightSample.lightColor;
            SCOPED_TRACE(::testing::Message() << "scale " << scale << " exponent " << exponent);
            EXPECT_TRUE(std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z));
            EXPECT_FLOAT3_EXACT(c, away.lightSample.lightColor) << "same as any other distance";
            if (!std::signbit(scale) && exponent >= 0.0f) {
                EXPECT_FLOAT3_EXACT(c, float3(0, 0, 0)) << "no distance over which light reaches";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lights, BothLights, ::testing::Values("qzPointLight", "qzSpotLight"));

TEST(SpotLight, RimBetweenTheCones) {
    Shader s("qzSpotLight");
    s.param<float3>("color") = float3(1, 1, 1);
    s.param<float3>("attenuationFactors") = float3(10, 2, 0);  // f = 1 at d = 0
    vhost::TestServices sv;
    const struct {
        float a, r;
    } cases[] = {{0.9f, 0}, {(0.9f + 0.95f) / 2, 0.5f}, {0.95f, 1}, {0.99f, 1}};
    for (const auto& c : cases) {
        pxs::ShadingState st = lightSample(0.0f, atCosine(c.a)), before = st;
        s.shade(sv, st);
        EXPECT_TRUE(vtest::near3(st.lightSample.lightColor, float3(c.r), 1e-5f)) << "a = " << c.a;
        EXPECT_EQ(vhost::changedFields(before, st), kBothOutputs) << "a = " << c.a;
    }

    // Just outside the outer cone, or behind the light: the host's values stay.
    for (float3 dir : {atCosine(std::nextafter(0.9f, 0.0f)), float3(0, 0, -1)}) {
        sv.clear();
        pxs::ShadingState st = lightSample(0.0f, dir), before = st;
        s.shade(sv, st);
        EXPECT_TRUE(vhost::changedFields(before, st).empty());
        EXPECT_TRUE(sv.calls.empty());
    }

    // Inner cone not inside the outer one: a hard edge, no division by zero.
    for (float umbra : {0.9f, 0.8f}) {
        s.param<float>("cosUmbra") = umbra;
        pxs::ShadingState st = lightSample(0.0f, atCosine(0.9f));
        s.shade(sv, st);
        EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, float3(1, 1, 1)) << "umbra " << umbra;
    }
}

TEST(SpotLight, ConeCosinePower) {
    Shader s("qzSpotLight");
    s.param<float3>("color") = float3(2, 1, 0.5f);
    const float a = 0.96f;  // inside the inner cone: r = 1
    vhost::TestServices sv;
    const struct { float z, g; } cases[] = {{0, 1}, {1, a}, {2, a * a}};
    for (const auto& c : cases) {
        s.param<float3>("attenuationFactors") = float3(10, 2, c.z);
        pxs::ShadingState st = lightSample(5.0f, atCosine(a));
        s.shade(sv, st);
        EXPECT_TRUE(
            vtest::near3(st.lightSample.lightColor, scaled(float3(2, 1, 0.5f), 0.75f * c.g), 1e-6f))
            << "z = " << c.z;
    }
}

}  // namespace

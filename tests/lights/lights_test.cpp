// qzPointLight and qzSpotLight through the test host.
#include <cmath>
#include <limits>

#include "testkit/harness.h"

namespace {

using pxs::float3;
using vtest::scaled;
using vtest::Shader;

const vtest::Fields kBothOutputs = {"lightColor", "lightTransmission"};

// A point at (1, 2, 3) lit from (1, 2, 13) at distance d, along `direction` against
// the spot axis (0, 0, 1).
pxs::ShadingState lightSample(float d, float3 direction = float3(0, 0, 1)) {
    return vhost::StateBuilder()
        .hit(float3(1, 2, 3), float3(0, 0, 1))
        .light(float3(1, 2, 13), direction, float3(0, 0, 1), d)
        .build();
}

// A direction whose dot product with the axis (0, 0, 1) is exactly a.
float3 atCosine(float a) {
    return float3(std::sqrt(1.0f - a * a), 0, a);
}

// Shades one light sample; true when the light wrote its two outputs, false when
// it left the state (and the services) alone.
bool lit(const Shader& s, vhost::TestServices& sv, pxs::ShadingState& st) {
    const pxs::ShadingState before = st;
    const size_t calls = sv.calls.size();
    s.shade(sv, st);
    const vtest::Fields changed = vhost::changedFields(before, st);
    if (changed.empty()) {
        EXPECT_EQ(sv.calls.size(), calls);
        return false;
    }
    EXPECT_EQ(changed, kBothOutputs);
    return true;
}

// What both lights share, seen on the spot light's axis where its cone adds nothing.
class BothLights : public ::testing::TestWithParam<const char*> {};

TEST_P(BothLights, RangeEdgeIsLitAndBeyondIsUntouched) {
    Shader s(GetParam());
    s.param<float>("range") = 50.0f;
    vhost::TestServices sv;
    pxs::ShadingState st = lightSample(50.0f);
    EXPECT_TRUE(lit(s, sv, st));
    ASSERT_EQ(vtest::serviceSlots(sv), std::vector<int>{vhost::kSvcTraceShadow});
    EXPECT_EQ(sv.calls[0].args, (std::vector<float>{1, 2, 3, 1, 2, 13})) << "point to light";
    st = lightSample(std::nextafter(50.0f, 100.0f));
    EXPECT_FALSE(lit(s, sv, st));
    // A NaN distance is not beyond the range: the light goes on.
    st = lightSample(std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(lit(s, sv, st));
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

INSTANTIATE_TEST_SUITE_P(Lights, BothLights, ::testing::Values("qzPointLight", "qzSpotLight"));

TEST(SpotLight, RimBetweenTheConesAndConeCosinePower) {
    Shader s("qzSpotLight");
    s.param<float3>("color") = float3(2, 1, 0.5f);
    vhost::TestServices sv;
    // r: the rim's smoothstep between the cones; g = a^z; f = 0.75 at d = 5.
    const struct {
        float a, z, rg;
    } cases[] = {{0.9f, 0, 0},      {(0.9f + 0.95f) / 2, 0, 0.5f}, {0.95f, 0, 1}, {0.99f, 0, 1},
                 {0.96f, 1, 0.96f}, {0.96f, 2, 0.96f * 0.96f}};
    for (const auto& c : cases) {
        s.param<float3>("attenuationFactors") = float3(10, 2, c.z);
        pxs::ShadingState st = lightSample(0.0f, atCosine(c.a));
        EXPECT_TRUE(lit(s, sv, st));
        EXPECT_TRUE(
            vtest::near3(st.lightSample.lightColor, scaled(float3(2, 1, 0.5f), c.rg), 1e-5f))
            << "a = " << c.a << ", z = " << c.z;
    }
    // Just outside the outer cone, or behind the light: the host's values stay.
    for (float3 dir : {atCosine(std::nextafter(0.9f, 0.0f)), float3(0, 0, -1)}) {
        pxs::ShadingState st = lightSample(0.0f, dir);
        EXPECT_FALSE(lit(s, sv, st));
    }
    // Inner cone not inside the outer one: a hard edge, no division by zero.
    s.param<float3>("attenuationFactors") = float3(10, 2, 0);
    for (float umbra : {0.9f, 0.8f}) {
        s.param<float>("cosUmbra") = umbra;
        pxs::ShadingState st = lightSample(0.0f, atCosine(0.9f));
        s.shade(sv, st);
        EXPECT_FLOAT3_EXACT(st.lightSample.lightColor, float3(2, 1, 0.5f)) << "umbra " << umbra;
    }
}

}  // namespace

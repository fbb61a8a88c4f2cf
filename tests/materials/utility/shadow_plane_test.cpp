// corvid_Mtl_ShadowPlane through the test host.
#include <algorithm>
#include <cstring>

#include "support/harness.h"

namespace {

using pxs::float3;
using vhost::DeclType;
using vhost::StateBuilder;
using vtest::Shader;

using Fields = std::vector<std::string>;
const float3 kPosition(1, 2, 0);
const float3 kDirection(0.6f, 0, -0.8f);

pxs::LightNode light(float3 color, float3 transmission, int32_t type = pxs::kLightTinted) {
    pxs::LightNode n{};
    n.lightColor = color;
    n.lightTransmission = transmission;
    n.type = type;
    return n;
}

pxs::ShadingState hit(int32_t rayType = pxs::kRayCamera) {
    return StateBuilder()
        .ray(float3(-2, 2, 4), kDirection)
        .hit(kPosition, float3(0, 0, 1))
        .rayType(rayType)
        .build();
}

std::vector<int> slots(const vhost::TestServices& sv) {
    std::vector<int> out;
    for (const vhost::ServiceCall& c : sv.calls) out.push_back(c.slot);
    return out;
}

TEST(ShadowPlaneParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_ShadowPlane", 11,
                              {{"shadowColor", DeclType::Float3, "(0, 0, 0)"},
                               {"shadowIntensity", DeclType::Float, "0.699999988"}});
}

TEST(ShadowPlane, RemovesItselfWhereNothingShadowsOrOccludes) {
    Shader s("corvid_Mtl_ShadowPlane");
    const std::vector<pxs::LightNode> scenes[] = {
        {},
        {light(float3(1, 0.5f, 0.1f), float3(1, 1, 1)),
         light(float3(2, 2, 2), float3(1, 1, 1), pxs::kLightSkip)},
    };
    for (const auto& lights : scenes) {
        vhost::TestServices sv;
        sv.setLights(lights);
        pxs::ShadingState st = hit(), before = st;
        s.shade(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"}) << lights.size();
        EXPECT_EQ(st.skipHit, 1);
        ASSERT_EQ(slots(sv), (std::vector<int>{vhost::kSvcGetLights, vhost::kSvcAmbientOcclusion}));
        EXPECT_EQ(sv.calls[0].args, (std::vector<float>{0, 1, 2, 0, 0, 0, 1}));
        EXPECT_EQ(sv.calls[1].args, (std::vector<float>{1, 2, 0, 0, 0, 1, 1}));
    }
}

TEST(ShadowPlane, DarkensTheBackgroundByShadowAndOcclusion) {
    const float3 white(1, 1, 1), black(0, 0, 0);
    const struct {
        const char* name;
        std::vector<pxs::LightNode> lights;
        float3 open, shadowColor;
        float intensity;
        float3 factor;
    } cases[] = {
        {"fully shadowed", {light(white, black)}, white, black, 0.7f, float3(0.3f)},
        // The visibility enters twice: R = 0.25.
        {"half visible", {light(white, float3(0.5f))}, white, black, 0.7f, float3(0.475f)},
        // Every node counts, whatever its type: R = 0.5.
        {"two lights",
         {light(white, white), light(white, black, 10001)},
         white,
         black,
         0.7f,
         float3(0.65f)},
        // No light at all: R = 1, only occlusion darkens, towards the shadow colour.
        {"occlusion only", {}, {0.5f, 1, 0.25f}, {0.2f, 0.4f, 0.6f}, 0.7f, {0.6f, 1, 0.7f}},
        {"invisible shadows", {light(white, black)}, float3(0.5f), black, 0, float3(0.5f)},
    };
    for (const auto& c : cases) {
        Shader s("corvid_Mtl_ShadowPlane");
        s.param<float3>("shadowColor") = c.shadowColor;
        s.param<float>("shadowIntensity") = c.intensity;
        vhost::TestServices sv;
        sv.setLights(c.lights);
        sv.ambientOcclusionValue = c.open;
        sv.rayValue = float3(0.5f, 1, 2);
        pxs::ShadingState st = hit(), before = st;
        s.shade(sv, st);
        SCOPED_TRACE(c.name);
        float3 f = c.factor;
        EXPECT_TRUE(vtest::near3(st.outColor, float3(0.5f * f.x, f.y, 2 * f.z), 1e-6f));
        float smallest = std::min(f.x, std::min(f.y, f.z));
        EXPECT_NEAR(st.outAlpha, 1 - smallest, 1e-6f);
        EXPECT_EQ(vhost::changedFields(before, st), (Fields{"outColor", "outAlpha"}));
    }
}

TEST(ShadowPlane, TracesTheSameRayOnBehindItself) {
    Shader s("corvid_Mtl_ShadowPlane");
    const struct { int32_t type, traced; } cases[] = {{1, 4}, {2, 2}, {4, 4}, {16, 16}, {32, 32}};
    for (const auto& c : cases) {
        vhost::TestServices sv;
        sv.setLights({light(float3(1, 1, 1), float3(0, 0, 0))});
        pxs::ShadingState st = hit(c.type);
        s.shade(sv, st);
        ASSERT_EQ(slots(sv), (std::vector<int>{vhost::kSvcGetLights, vhost::kSvcAmbientOcclusion,
                                               vhost::kSvcTraceRay}));
        EXPECT_EQ(sv.calls[2].args,
                  (std::vector<float>{static_cast<float>(c.traced), 1, 2, 0, 0.6f, 0, -0.8f, 1}))
            << "ray type " << c.type;
    }
}

TEST(ShadowPlane, BlocksOnlyOcclusionRaysAndContinuesStraight) {
    Shader s("corvid_Mtl_ShadowPlane");
    vhost::TestServices sv;
    for (int32_t type : {1, 2, 4, 16, 32}) {
        pxs::ShadingState st = hit(type), before = st;
        s.shadowTransmission(sv, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(type == 16 ? 0.0f : 1.0f)) << type;
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
    }

    // The allow flags are not consulted.
    pxs::ShadingState st = hit();
    std::memset(st.allowLobe, 0, sizeof st.allowLobe);
    pxs::ShadingState before = st;
    s.sampleBsdf(sv, st);
    EXPECT_FLOAT3_EXACT(st.sampleDirection, kDirection);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(1, 1, 1));
    EXPECT_EQ(st.sampleCosine, 1.0f);
    EXPECT_EQ(st.sampleWeight, 1.0f);
    EXPECT_EQ(st.sampleKind, pxs::kSampleSingleLobe);
    EXPECT_EQ(
        vhost::changedFields(before, st),
        (Fields{"sampleDirection", "sampleValue", "sampleCosine", "sampleWeight", "sampleKind"}));
    EXPECT_TRUE(sv.calls.empty());
}

}  // namespace

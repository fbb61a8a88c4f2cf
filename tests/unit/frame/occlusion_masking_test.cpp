// The occlusion and masking block: every occlusion rule and the masking of shade.
#include <gtest/gtest.h>

#include "frame/occlusion_masking.h"
#include "host/recording_registry.h"
#include "testkit/harness.h"
#include "testkit/state_builder.h"
#include "testkit/test_services.h"
#include "testkit/test_texture.h"

namespace {

using namespace pxs;
using vhost::StateBuilder;
using vhost::TestServices;

using Block = OcclusionMasking<32, 40>;  // the Ward variants' packing

TEST(AmbientOcclusion, RulesInPrecedenceOrder) {
    const float3 color(0.2f, 0.4f, 0.6f);
    const float3 k(0.1f, 0.5f, 0.3f);  // w = 0.5
    auto precalc = [&](float o) {      // factor 0.5
        float a = (1.0f - o) * 0.5f * 0.5f;
        return float3(a * color.x + (1 - a), a * color.y + (1 - a), a * color.z + (1 - a));
    };
    pxs::ShadingState st = StateBuilder()
                               .ray(float3(0, 0, -5), float3(0, 0, 1))
                               .hit(float3(1, 2, 3), float3(0, 0.6f, 0.8f), float3(0, 0, 1))
                               .attribute(40, float4(0.6f, 0, 0, 0))
                               .build();
    TestServices sv;
    sv.ambientOcclusionValue = float3(0.2f, 0.5f, 0.8f);
    Block b;
    EXPECT_TRUE(b.evaluateAmbientOcclusion(&sv, st, k) == float3(1.0f)) << "defaults: none";

    b.ambientOcclusionFactor = 0.5f;
    b.ambientOcclusionColor = color;
    b.usingRaytracedAO = true;
    b.ambientOcclusionMode = 1;  // no texture: red 0
    EXPECT_FLOAT3(b.evaluateAmbientOcclusion(&sv, st, k), precalc(0.0f));
    b.ambientOcclusionMode = 2;  // vertex colour red
    EXPECT_FLOAT3(b.evaluateAmbientOcclusion(&sv, st, k), precalc(0.6f));
    EXPECT_TRUE(sv.calls.empty()) << "a precomputed source wins over tracing";

    for (bool precalcOn : {false, true}) {  // mode 2 switched off; mode 3 names no source
        b.usePrecalcAO = precalcOn;
        b.ambientOcclusionMode = precalcOn ? 3 : 2;
        sv.clear();
        float3 A = b.evaluateAmbientOcclusion(&sv, st, k);
        for (int i = 0; i < 3; ++i) {
            float a = (1.0f - (0.5f * sv.ambientOcclusionValue[i] + 0.5f)) * 0.5f;
            EXPECT_FLOAT_EQ(A[i], (1.0f - a) + a * color[i]);
        }
        // Seen from below: the normal turns to face the ray; weight 1.
        ASSERT_EQ(sv.count(vhost::kSvcAmbientOcclusion), 1);
        EXPECT_EQ(sv.calls[0].args, (std::vector<float>{1, 2, 3, 0, -0.6f, -0.8f, 1.0f}));
    }
    for (int32_t mode : {1, 2, 0}) {  // k = (1, 1, 1) switches every rule off
        b.usePrecalcAO = true;
        b.ambientOcclusionMode = mode;
        EXPECT_TRUE(b.evaluateAmbientOcclusion(&sv, st, float3(1, 0, 0)) == float3(1.0f));
    }
}

TEST(Masking, SkipKeepOrMixWithWhatLiesBehind) {
    const float3 c(0.8f, 0.4f, 0.2f);
    vhost::TestTexture tex(float4(0.5f, 0.25f, 0.0f, 1.0f));
    Block b;
    b.masking.mode = kChannelPlanar;
    b.masking.texture = tex.handle();
    // The mask projects the mapping point, not the position: only the first hit
    // lies inside the planar slab.
    const pxs::ShadingState inside = StateBuilder()
                                         .hit(float3(0, 0, 9), float3(0, 0, 1))
                                         .mapping(float3(0, 0, 0.5f), float3(0, 0, 1))
                                         .build();
    const pxs::ShadingState outside =
        StateBuilder().mapping(float3(0, 0, 9), float3(0, 0, 1)).build();
    TestServices sv;
    int shaded = 0;
    auto shadeColor = [&] { return ++shaded, c; };

    pxs::ShadingState st = outside;
    b.applyMasking(&sv, &st, float2(), shadeColor);
    EXPECT_EQ(vhost::changedFields(outside, st), std::vector<std::string>{"skipHit"});
    EXPECT_EQ(st.skipHit, 1);
    EXPECT_EQ(shaded, 0) << "a removed surface is not shaded";

    sv.transmissionValue = float3(0.0f, 1.0f, 0.5f);
    for (bool serviceSetsAlpha : {false, true}) {
        if (serviceSetsAlpha) sv.transmissionAlpha = 0.25f;
        sv.clear();
        st = inside;
        b.applyMasking(&sv, &st, float2(), shadeColor);
        EXPECT_FLOAT3(st.outColor, float3(0.5f * 0.8f, 0.75f * 0.4f + 0.25f * 1.0f, 0.2f));
        EXPECT_EQ(st.outAlpha, serviceSetsAlpha ? 0.25f : 1.0f);
        EXPECT_EQ(vhost::changedFields(inside, st),
                  (std::vector<std::string>{"outColor", "outAlpha"}));
        ASSERT_EQ(sv.count(vhost::kSvcTraceTransmission), 1);
        EXPECT_EQ(sv.calls[0].args, (std::vector<float>{0, 0, 9, 0, 0, -1, 1.0f}));
        EXPECT_TRUE(sv.calls[0].preset == float4(c, 1.0f));
    }

    sv.clear();  // the default mask keeps the hit as it is, without a trace
    st = inside;
    Block().applyMasking(&sv, &st, float2(), shadeColor);
    EXPECT_TRUE(st.outColor == c && st.outAlpha == 1.0f);
    EXPECT_TRUE(sv.calls.empty());
}

}  // namespace

// The occlusion and masking block: registration at the offsets a class picks,
// every occlusion rule, the debug view, and the masking frame of shade.
#include <gtest/gtest.h>

#include "frame/occlusion_masking.h"
#include "host/recording_registry.h"
#include "host/state_builder.h"
#include "host/test_services.h"
#include "host/test_texture.h"
#include "support/harness.h"

namespace {

using namespace pxs;
using vhost::StateBuilder;
using vhost::TestServices;

// The Ward variants' packing: attributes of their own come first.
using Block = OcclusionMasking<32, 40>;

TEST(OcclusionMaskingBlock, RegistersInOrderWithTheClassOffsets) {
    vhost::RecordingRegistry registry;
    Block block;
    Declarer declare(&registry, nullptr, kCapShade);
    block.declare(declare);
    std::vector<std::string> names;
    for (const auto& d : registry.declarations) names.push_back(d.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{
                  "", "ambientOcclusionTexture", "ambientOcclusionMode", "ambientOcclusionFactor",
                  "ambientOcclusionColor", "usePrecalcAO", "showAmbientOnly", "usingRaytracedAO",
                  "uv1", "vtxcolor", "maskingColor", "maskingMode", "maskingTexture",
                  "maskingTextureMatrix", "maskingInvertTexture", "maskingAngularRepeat",
                  "maskingUVMatrix", "maskingFromAlpha"}));
    const vhost::Declaration* uv1 = registry.find("uv1");
    const vhost::Declaration* vtx = registry.find("vtxcolor");
    ASSERT_TRUE(uv1 && vtx);
    EXPECT_EQ(uv1->attributeKind, 1);
    EXPECT_EQ(uv1->attributeOffset, 32);
    EXPECT_EQ(vtx->attributeKind, 3);
    EXPECT_EQ(vtx->attributeOffset, 40);
}

TEST(AmbientOcclusion, RulesInPrecedenceOrder) {
    vhost::TestTexture tex(float4(0.25f, 0.9f, 0.9f, 0.9f));
    const float3 color(0.2f, 0.4f, 0.6f);
    const float3 k(0.1f, 0.5f, 0.3f);  // w = 0.5
    pxs::ShadingState st = StateBuilder()
                               .attribute(32, float2(0.3f, 0.7f))
                               .attribute(40, float4(0.6f, 0, 0, 0))
                               .build();
    auto precalc = [&](float o, float factor) {
        float a = (1.0f - o) * factor * 0.5f;
        return float3(a * color.x + (1 - a), a * color.y + (1 - a), a * color.z + (1 - a));
    };

    Block b;
    TestServices sv;
    EXPECT_TRUE(b.evaluateAmbientOcclusion(&sv, st, k) == float3(1.0f)) << "defaults: none";

    b.ambientOcclusionTexture = tex.handle();
    b.ambientOcclusionFactor = 0.5f;
    b.ambientOcclusionColor = color;
    b.usingRaytracedAO = true;  // a precomputed source wins over tracing
    b.ambientOcclusionMode = 1;
    EXPECT_FLOAT3(b.evaluateAmbientOcclusion(&sv, st, k), precalc(0.25f, 0.5f));
    ASSERT_EQ(tex.lookups.size(), 1u);
    EXPECT_EQ(tex.lookups[0][0], 0.3f) << "uv1 read at the declared offset";
    EXPECT_EQ(tex.lookups[0][1], 0.7f);
    b.ambientOcclusionMode = 2;  // vertex colour red
    EXPECT_FLOAT3(b.evaluateAmbientOcclusion(&sv, st, k), precalc(0.6f, 0.5f));
    EXPECT_EQ(sv.count(vhost::kSvcAmbientOcclusion), 0);

    Block none;  // mode 1 without a texture: red 0, fully occluded
    none.ambientOcclusionMode = 1;
    EXPECT_TRUE(none.evaluateAmbientOcclusion(&sv, st, float3(0.0f)) == float3(0.0f));

    // Tracing: mode 2 with the precomputed switch off, and a mode that names no source.
    sv.ambientOcclusionValue = float3(0.2f, 0.5f, 0.8f);
    st = StateBuilder()
             .ray(float3(0, 0, -5), float3(0, 0, 1))
             .hit(float3(1, 2, 3), float3(0, 0.6f, 0.8f), float3(0, 0, 1))
             .build();
    for (int32_t mode : {2, 3}) {
        b.usePrecalcAO = mode == 3;
        b.ambientOcclusionMode = mode;
        sv.clear();
        float3 A = b.evaluateAmbientOcclusion(&sv, st, k);
        for (int i = 0; i < 3; ++i) {
            float o = 0.5f * sv.ambientOcclusionValue[i] + 0.5f;
            float a = (1.0f - o) * 0.5f;
            EXPECT_FLOAT_EQ(A[i], (1.0f - a) + a * color[i]) << "mode " << mode;
        }
        ASSERT_EQ(sv.count(vhost::kSvcAmbientOcclusion), 1);
        // Seen from below the geometric surface: the normal turns to face the ray.
        EXPECT_EQ(sv.calls[0].args, (std::vector<float>{1, 2, 3, 0, -0.6f, -0.8f, 1.0f}));
    }
}

TEST(AmbientOcclusion, FullReductionDisablesEveryRule) {
    vhost::TestTexture tex(float4(0.0f));
    TestServices sv;
    sv.ambientOcclusionValue = float3(0.0f);
    pxs::ShadingState st = StateBuilder().build();
    Block b;
    b.ambientOcclusionTexture = tex.handle();
    b.usingRaytracedAO = true;
    for (int32_t mode : {1, 2, 0}) {
        b.ambientOcclusionMode = mode;
        EXPECT_TRUE(b.evaluateAmbientOcclusion(&sv, st, float3(1, 0.5f, 0)) == float3(1.0f))
            << "mode " << mode;
    }
}

TEST(AmbientOcclusion, ShowAmbientOnlyNeedsAnActiveSource) {
    const float3 c(0.3f, 0.6f, 0.9f), ao(0.7f, 0.2f, 0.5f);
    const struct {
        bool show, precalc, traced;
        int32_t mode;
        bool grey;
    } cases[] = {
        {true, true, false, 1, true},   {true, true, false, 2, true}, {true, true, false, 0, false},
        {true, false, false, 1, false}, {true, false, true, 0, true}, {false, true, true, 1, false},
        {true, true, false, -1, false},
    };
    for (const auto& t : cases) {
        Block b;
        b.showAmbientOnly = t.show;
        b.usePrecalcAO = t.precalc;
        b.usingRaytracedAO = t.traced;
        b.ambientOcclusionMode = t.mode;
        EXPECT_TRUE(b.applyShowAmbientOnly(c, ao) == (t.grey ? float3(0.2f) : c))
            << t.show << t.precalc << t.traced << " mode " << t.mode;
    }
}

TEST(Masking, SkipKeepOrMixWithWhatLiesBehind) {
    const float3 c(0.8f, 0.4f, 0.2f);
    Block b;
    b.masking.mode = kChannelPlanar;
    vhost::TestTexture tex(float4(0.5f, 0.25f, 0.0f, 1.0f));
    b.masking.texture = tex.handle();
    // The mask reads the mapping point, not the position: only the first hit is
    // inside the planar slab.
    pxs::ShadingState inside = StateBuilder()
                                   .hit(float3(0, 0, 9), float3(0, 0, 1))
                                   .mapping(float3(0, 0, 0.5f), float3(0, 0, 1))
                                   .build();
    pxs::ShadingState outside = StateBuilder()
                                    .hit(float3(0, 0, 0.5f), float3(0, 0, 1))
                                    .mapping(float3(0, 0, 9), float3(0, 0, 1))
                                    .build();

    TestServices sv;
    int calls = 0;
    auto shadeColor = [&] {
        ++calls;
        return c;
    };
    pxs::ShadingState st = outside;
    b.applyMasking(&sv, &st, float2(), shadeColor);
    EXPECT_EQ(vhost::changedFields(outside, st), std::vector<std::string>{"skipHit"});
    EXPECT_EQ(st.skipHit, 1);
    EXPECT_EQ(calls, 0) << "a removed surface is not shaded";

    sv.transmissionValue = float3(0.0f, 1.0f, 0.5f);
    for (bool serviceSetsAlpha : {false, true}) {
        if (serviceSetsAlpha) sv.transmissionAlpha = 0.25f;
        sv.clear();
        st = inside;
        b.applyMasking(&sv, &st, float2(), shadeColor);
        EXPECT_FLOAT3(st.outColor, float3(0.5f * 0.8f + 0.5f * 0.0f, 0.75f * 0.4f + 0.25f * 1.0f,
                                          1.0f * 0.2f + 0.0f * 0.5f));
        EXPECT_EQ(st.outAlpha, serviceSetsAlpha ? 0.25f : 1.0f);
        EXPECT_EQ(vhost::changedFields(inside, st),
                  (std::vector<std::string>{"outColor", "outAlpha"}));
        ASSERT_EQ(sv.count(vhost::kSvcTraceTransmission), 1);
        const vhost::ServiceCall& call = sv.calls[0];
        EXPECT_EQ(call.args, (std::vector<float>{0, 0, 9, 0, 0, -1, 1.0f}));
        EXPECT_TRUE(call.preset == float4(c, 1.0f));
    }

    // The default mask keeps every hit as it is: no trace.
    sv.clear();
    st = inside;
    Block().applyMasking(&sv, &st, float2(), shadeColor);
    EXPECT_TRUE(st.outColor == c);
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_TRUE(sv.calls.empty());
    EXPECT_EQ(calls, 3);
}

}  // namespace

// corvid_Mtl_AmbientOnly through the test host.
#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::StateBuilder;
using vtest::Shader;

TEST(AmbientOnlyParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_AmbientOnly", 1, vtest::blockDeclarations());
}

TEST(AmbientOnly, WhiteUnlessTheDebugViewShowsAnActiveSource) {
    Shader s("corvid_Mtl_AmbientOnly");
    vhost::TestServices sv;
    vhost::TestTexture tex(float4(0.25f, 1, 1, 1));
    s.param<int32_t>("ambientOcclusionMode") = 1;
    s.param<float3>("maskingColor") = float3(1.0f);  // never cuts this material out
    const pxs::ShadingState before = StateBuilder().attribute(0, float2(0.125f, 0.375f)).build();
    auto shade = [&] {
        pxs::ShadingState st = before;
        s.shade(sv, st);
        EXPECT_EQ(st.outAlpha, 1.0f);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);
        return st.outColor;
    };
    EXPECT_FLOAT3_EXACT(shade(), float3(1.0f));
    s.param<bool>("showAmbientOnly") = true;
    EXPECT_FLOAT3_EXACT(shade(), float3(0.0f)) << "no texture: fully occluded";
    s.param<pxs::TextureHandle>("ambientOcclusionTexture") = tex.handle();
    EXPECT_FLOAT3_EXACT(shade(), float3(0.25f));
    ASSERT_EQ(tex.lookups.size(), 1u);
    EXPECT_TRUE(tex.lookups[0][0] == 0.125f && tex.lookups[0][1] == 0.375f) << "at uv1";
    s.param<bool>("usePrecalcAO") = false;
    EXPECT_FLOAT3_EXACT(shade(), float3(1.0f)) << "no active source";
    EXPECT_EQ(tex.lookups.size(), 1u);
    EXPECT_TRUE(sv.calls.empty());

    s.param<bool>("usingRaytracedAO") = true;
    sv.ambientOcclusionValue = float3(0.5f, 0.25f, 1.0f);
    EXPECT_FLOAT3_EXACT(shade(), float3(0.25f)) << "the darkest traced channel";
}

}  // namespace

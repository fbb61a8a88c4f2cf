// corvid_Mtl_AmbientOnly through the test host.
#include "support/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::DeclType;
using vhost::StateBuilder;
using vtest::Shader;

TEST(AmbientOnlyParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations(
        "corvid_Mtl_AmbientOnly", 1,
        {{"ambientOcclusionTexture", DeclType::Texture2D, "texture(null, -1)"},
         {"ambientOcclusionMode", DeclType::Int, "0"},
         {"ambientOcclusionFactor", DeclType::Float, "1"},
         {"ambientOcclusionColor", DeclType::Float3, "(0, 0, 0)"},
         {"usePrecalcAO", DeclType::Bool, "true"},
         {"showAmbientOnly", DeclType::Bool, "false"},
         {"usingRaytracedAO", DeclType::Bool, "false"},
         {"uv1", DeclType::Attribute, "1@0"},
         {"vtxcolor", DeclType::Attribute, "3@8"},
         {"maskingColor", DeclType::Float3, "(0, 0, 0)"},
         {"maskingMode", DeclType::Int, "0"},
         {"maskingTexture", DeclType::Texture2D, "texture(null, -1)"},
         {"maskingTextureMatrix", DeclType::Matrix4, ""},
         {"maskingInvertTexture", DeclType::Bool, "false"},
         {"maskingAngularRepeat", DeclType::Float, "1"},
         {"maskingUVMatrix", DeclType::Matrix3, ""},
         {"maskingFromAlpha", DeclType::Bool, "false"}});
}

TEST(AmbientOnly, WhiteWithoutTheDebugViewAndNeverMasked) {
    Shader s("corvid_Mtl_AmbientOnly");
    vhost::TestServices sv;
    vhost::TestTexture tex(float4(0.0f));
    s.param<pxs::TextureHandle>("ambientOcclusionTexture") = tex.handle();
    s.param<int32_t>("ambientOcclusionMode") = 1;
    s.param<bool>("usingRaytracedAO") = true;
    s.param<float3>("maskingColor") = float3(1.0f);
    pxs::ShadingState st = StateBuilder().build();
    const pxs::ShadingState before = st;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(1.0f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(vhost::changedFields(before, st), (std::vector<std::string>{"outColor", "outAlpha"}));
    EXPECT_TRUE(sv.calls.empty()) << "the occlusion is not evaluated";
    EXPECT_TRUE(tex.lookups.empty());
}

TEST(AmbientOnly, DebugViewShowsTheOcclusionAsGrey) {
    Shader s("corvid_Mtl_AmbientOnly");
    s.param<bool>("showAmbientOnly") = true;
    vhost::TestTexture tex(float4(0.25f, 1, 1, 1));
    pxs::ShadingState st = StateBuilder()
                               .attribute(0, float2(0.125f, 0.375f))
                               .attribute(8, float4(0.5f, 0, 0, 0))
                               .build();
    const pxs::ShadingState before = st;
    auto shade = [&](vhost::TestServices& sv) {
        pxs::ShadingState out = st;
        s.shade(sv, out);
        EXPECT_EQ(out.outAlpha, 1.0f);
        EXPECT_EQ(vhost::changedFields(before, out),
                  (std::vector<std::string>{"outColor", "outAlpha"}));
        return out.outColor;
    };
    vhost::TestServices sv;

    s.param<int32_t>("ambientOcclusionMode") = 1;
    EXPECT_FLOAT3_EXACT(shade(sv), float3(0.0f)) << "no texture: fully occluded, black";
    s.param<pxs::TextureHandle>("ambientOcclusionTexture") = tex.handle();
    EXPECT_FLOAT3_EXACT(shade(sv), float3(0.25f));
    ASSERT_EQ(tex.lookups.size(), 1u);
    EXPECT_EQ(tex.lookups[0][0], 0.125f) << "looked up at uv1";
    EXPECT_EQ(tex.lookups[0][1], 0.375f);

    s.param<int32_t>("ambientOcclusionMode") = 2;
    s.param<float3>("ambientOcclusionColor") = float3(0.0f, 0.5f, 1.0f);
    EXPECT_FLOAT3_EXACT(shade(sv), float3(0.5f)) << "vertex colour red, darkest channel";

    s.param<bool>("usePrecalcAO") = false;
    EXPECT_FLOAT3_EXACT(shade(sv), float3(1.0f)) << "no active source";
    EXPECT_TRUE(sv.calls.empty());

    s.param<bool>("usingRaytracedAO") = true;
    s.param<float>("ambientOcclusionFactor") = 0.5f;
    sv.ambientOcclusionValue = float3(0.5f, 0.25f, 1.0f);
    // o = 0.5 r + 0.5 = (0.75, 0.625, 1); a = 1 - o; A = (1 - a) + a C = (0.75, 0.8125, 1).
    EXPECT_FLOAT3(shade(sv), float3(0.75f));
    EXPECT_EQ(sv.count(vhost::kSvcAmbientOcclusion), 1);
}

}  // namespace

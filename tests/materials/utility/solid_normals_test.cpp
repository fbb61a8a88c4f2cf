// corvid_Mtl_Solid and corvid_Mtl_NormalsOnly through the test host.
#include <cmath>

#include "support/harness.h"

namespace {

using pxs::float3;
using vhost::DeclType;
using vhost::StateBuilder;
using vtest::Shader;

// A hit at the origin seen along `dir`, shading normal n, geometric normal ng.
pxs::ShadingState view(float3 dir, float3 n, float3 ng) {
    return StateBuilder().ray(float3(0, 0, 5), dir).hit(float3(0, 0, 0), n, ng).build();
}

const float kInvSqrt2 = 1.0f / std::sqrt(2.0f);

TEST(SolidParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_Solid", 1,
                              {{"reverseNormal", DeclType::Bool, "false"},
                               {"faceForward", DeclType::Bool, "false"},
                               {"patchState", DeclType::Int, "0"}});
}

TEST(NormalsOnlyParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_NormalsOnly", 1,
                              {{"reverseNormal", DeclType::Bool, "false"},
                               {"faceForward", DeclType::Bool, "false"},
                               {"faceLight", DeclType::Bool, "false"}});
}

TEST(Solid, TintByPatchStateTimesFacingCosine) {
    Shader s("corvid_Mtl_Solid");
    vhost::TestServices sv;
    // 45 degrees: c = 1/sqrt(2).
    float3 dir = pxs::float3(0, kInvSqrt2, -kInvSqrt2);
    const struct {
        int32_t state;
        float3 tint;
    } cases[] = {{0, {0.69f, 0.58f, 0.69f}},
                 {1, {0.69f, 0.58f, 0.69f}},
                 {2, {0.85f, 0.85f, 0.85f}},
                 {3, {0, 0, 0}},
                 {-1, {0, 0, 0}}};
    for (const auto& c : cases) {
        s.param<int32_t>("patchState") = c.state;
        pxs::ShadingState st = view(dir, float3(0, 0, 1), float3(0, 0, 1));
        pxs::ShadingState before = st;
        s.shade(sv, st);
        float cosine = std::fabs(dir.z);
        EXPECT_FLOAT3(st.outColor, float3(c.tint.x * cosine, c.tint.y * cosine, c.tint.z * cosine))
            << "patchState " << c.state;
        EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"outColor"})
            << "outAlpha stays the host's";
    }
    EXPECT_TRUE(sv.calls.empty());
}

TEST(Solid, SignOfNormalDoesNotMatterAndGrazingIsBlack) {
    Shader s("corvid_Mtl_Solid");
    vhost::TestServices sv;
    pxs::ShadingState a = view(float3(0, 0, -1), float3(0, 0, 1), float3(0, 0, 1));
    pxs::ShadingState b = a;
    s.shade(sv, a);
    s.param<bool>("reverseNormal") = true;
    s.param<bool>("faceForward") = true;
    s.shade(sv, b);
    EXPECT_FLOAT3_EXACT(a.outColor, b.outColor);
    EXPECT_FLOAT3_EXACT(a.outColor, float3(0.69f, 0.58f, 0.69f));

    pxs::ShadingState grazing = view(float3(1, 0, 0), float3(0, 0, 1), float3(0, 0, 1));
    s.shade(sv, grazing);
    EXPECT_FLOAT3_EXACT(grazing.outColor, float3(0, 0, 0));
}

TEST(NormalsOnly, DefaultPaletteFrontBlueBackYellow) {
    Shader s("corvid_Mtl_NormalsOnly");
    vhost::TestServices sv;
    pxs::ShadingState front = view(float3(0, 0, -1), float3(0, 0, 1), float3(0, 0, 1));
    pxs::ShadingState before = front;
    s.shade(sv, front);
    // d = -1: (-0.05 d, -0.05 d, -0.8 d).
    EXPECT_FLOAT3(front.outColor, float3(0.05f, 0.05f, 0.8f));
    EXPECT_EQ(front.outAlpha, 1.0f);
    EXPECT_EQ(vhost::changedFields(before, front),
              (std::vector<std::string>{"outColor", "outAlpha"}));

    // The viewer sees the back: d = +1 gives yellow.
    pxs::ShadingState back = view(float3(0, 0, 1), float3(0, 0, 1), float3(0, 0, 1));
    s.shade(sv, back);
    EXPECT_FLOAT3(back.outColor, float3(1, 1, 0));

    // reverseNormal swaps the two regions.
    s.param<bool>("reverseNormal") = true;
    pxs::ShadingState swapped = view(float3(0, 0, -1), float3(0, 0, 1), float3(0, 0, 1));
    s.shade(sv, swapped);
    EXPECT_FLOAT3(swapped.outColor, float3(1, 1, 0));
}

TEST(NormalsOnly, MismatchedShadingNormalClampsToBlack) {
    Shader s("corvid_Mtl_NormalsOnly");
    vhost::TestServices sv;
    // Front face of the geometry, shading normal pointing away from the viewer: d > 0, g < 0.
    pxs::ShadingState st = view(float3(0, 0, -1), float3(0, 0, -1), float3(0, 0, 1));
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0, 0, 0));
}

TEST(NormalsOnly, FaceForwardGreenWinsOverFaceLightTan) {
    Shader s("corvid_Mtl_NormalsOnly");
    vhost::TestServices sv;
    float3 dir(0, kInvSqrt2, -kInvSqrt2);
    s.param<bool>("faceLight") = true;
    pxs::ShadingState tan = view(dir, float3(0, 0, 1), float3(0, 0, 1));
    s.shade(sv, tan);
    float c = kInvSqrt2;
    EXPECT_FLOAT3(tan.outColor, float3(0.45f * c, 0.65f * c, 0.35f * c));

    s.param<bool>("faceForward") = true;
    pxs::ShadingState green = view(dir, float3(0, 0, 1), float3(0, 0, 1));
    s.shade(sv, green);
    EXPECT_FLOAT3(green.outColor, float3(0.05f * c, 0.8f * c, 0.05f * c));

    pxs::ShadingState grazing = view(float3(1, 0, 0), float3(0, 0, 1), float3(0, 0, 1));
    s.shade(sv, grazing);
    EXPECT_FLOAT3_EXACT(grazing.outColor, float3(0, 0, 0));
    EXPECT_EQ(grazing.outAlpha, 1.0f);
}

TEST(NormalsOnly, NaNInputPassesThroughClamp) {
    Shader s("corvid_Mtl_NormalsOnly");
    vhost::TestServices sv;
    s.param<bool>("faceLight") = true;
    pxs::ShadingState st = view(float3(0, 0, -1), float3(NAN, 0, 1), float3(0, 0, 1));
    s.shade(sv, st);
    EXPECT_TRUE(std::isnan(st.outColor.x));
}

}  // namespace

// corvid_Mtl_Solid and corvid_Mtl_NormalsOnly through the test host.
#include <cmath>

#include "testkit/harness.h"

namespace {

using pxs::float3;
using vtest::Shader;

const float kC = 1.0f / std::sqrt(2.0f);
const float3 kUp(0, 0, 1), kDown(0, 0, -1), kOblique(0, kC, -kC), kGrazing(1, 0, 0);

// A hit at the origin seen along `dir`, shading normal n, geometric normal +z.
pxs::ShadingState view(float3 dir, float3 n = kUp) {
    return vhost::StateBuilder().ray(float3(0, 0, 5), dir).hit(float3(0), n, kUp).build();
}

TEST(Solid, TintByPatchStateTimesFacingCosine) {
    Shader s("corvid_Mtl_Solid");
    vhost::TestServices sv;
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
        pxs::ShadingState st = view(kOblique), before = st;
        s.shade(sv, st);
        EXPECT_FLOAT3(st.outColor, vtest::scaled(c.tint, kC)) << "patchState " << c.state;
        EXPECT_EQ(vhost::changedFields(before, st), vtest::Fields{"outColor"})
            << "outAlpha stays the host's";
    }
    // The sign of the normal does not matter; grazing is black.
    s.param<int32_t>("patchState") = 0;
    s.param<bool>("reverseNormal") = true;
    s.param<bool>("faceForward") = true;
    pxs::ShadingState st = view(kDown);
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.69f, 0.58f, 0.69f));
    st = view(kGrazing);
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0, 0, 0));
    EXPECT_TRUE(sv.calls.empty());
}

TEST(NormalsOnly, PaletteBySwitchesAndSide) {
    const struct {
        const char* name;
        bool reverse, faceForward, faceLight;
        float3 dir, n, colour;
    } cases[] = {
        // d = N.I = -1: (-0.05 d, -0.05 d, -0.8 d); the back (d = +1) is yellow.
        {"front", false, false, false, kDown, kUp, {0.05f, 0.05f, 0.8f}},
        {"back", false, false, false, kUp, kUp, {1, 1, 0}},
        {"reversed front", true, false, false, kDown, kUp, {1, 1, 0}},
        // Front face, shading normal away from the viewer: d > 0, clamped to black.
        {"mismatched", false, false, false, kDown, kDown, {0, 0, 0}},
        {"faceLight tan", false, false, true, kOblique, kUp, {0.45f * kC, 0.65f * kC, 0.35f * kC}},
        {"faceForward green wins",
         false,
         true,
         true,
         kOblique,
         kUp,
         {0.05f * kC, 0.8f * kC, 0.05f * kC}},
        {"grazing", false, true, true, kGrazing, kUp, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        Shader s("corvid_Mtl_NormalsOnly");
        s.param<bool>("reverseNormal") = c.reverse;
        s.param<bool>("faceForward") = c.faceForward;
        s.param<bool>("faceLight") = c.faceLight;
        vhost::TestServices sv;
        pxs::ShadingState st = view(c.dir, c.n), before = st;
        s.shade(sv, st);
        EXPECT_FLOAT3(st.outColor, c.colour) << c.name;
        EXPECT_EQ(st.outAlpha, 1.0f);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);
    }
    // NaN passes through the clamp.
    Shader s("corvid_Mtl_NormalsOnly");
    s.param<bool>("faceLight") = true;
    vhost::TestServices sv;
    pxs::ShadingState st = view(kDown, float3(NAN, 0, 1));
    s.shade(sv, st);
    EXPECT_TRUE(std::isnan(st.outColor.x));
}

}  // namespace

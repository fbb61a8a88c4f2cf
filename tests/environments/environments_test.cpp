// corvid_Env_Default and corvid_Env_Backplate through the test host.
#include <cmath>

#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::StateBuilder;
using vhost::TestTexture;
using Lookups = std::vector<std::array<float, 3>>;

constexpr float kW = 512.0f, kH = 256.0f;  // powers of two keep u and v exact
const float3 kBackground(0.0f, 0.5f, 0.7f), kImage(0.1f, 0.2f, 0.3f), kCube(0.6f, 0.7f, 0.8f);
// Answers of the two graded cubes set up by Env: the reflection cube doubled,
// the diffuse cube grey at its luminance 0.5*0.5 + 0.5*0.25.
const float3 kReflection(0.5f, 1.0f, 2.0f), kDiffuse(0.375f);

// Either environment with every map bound to a colour of its own.
struct Env {
    vtest::Shader s;
    TestTexture image{float4(kImage, 0.9f), 2}, backplate{float4(kCube, 0.9f), 3};
    TestTexture reflection{float4(0.25f, 0.5f, 1.0f, 0.3f), 3};
    TestTexture diffuse{float4(0.5f, 0.25f, 0.0f, 0.3f), 3};

    explicit Env(const std::string& name, bool bind = true) : s(name) {
        s.set({{"IBLLuminanceFactors", float3(0.5f, 0.5f, 0.0f)},
               {"diffuseIBLGainMode", 2},
               {"reflectIBLGainMode", 1},
               {"reflectIBLGain", float3(2.0f)}});
        if (!bind) return;
        s.set({{"reflectionCube", reflection.handle()}, {"diffuseCube", diffuse.handle()}});
        if (s.registry.find("backplateCube")) {
            s.set({{"backgroundImage", image.handle()},
                   {"backplateCube", backplate.handle()},
                   {"uv_scale", float2(1.0f / kW, 1.0f / kH)}});
        }
    }
    // Shades one ray; only the two outputs may change and no service is called.
    pxs::ShadingState shade(StateBuilder b) {
        vhost::TestServices sv;
        pxs::ShadingState st = b.build();
        const pxs::ShadingState before = st;
        s.shade(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kShadeFields);
        EXPECT_TRUE(sv.calls.empty());
        return st;
    }
    pxs::ShadingState shade(int32_t type, float2 pixel = {kW / 2, kH / 2}) {
        return shade(StateBuilder().rayType(type).pixel(pixel, int32_t(kH)));
    }
};

TEST(DefaultEnv, BranchesByRayTypeAndSignedDepth) {
    Env env("corvid_Env_Default");
    const struct {
        int32_t type, depth, limit;
        float3 colour;
    } cases[] = {{1, 0, 4, kBackground}, {4, 3, 4, kBackground},  {16, 0, 4, kBackground},
                 {2, 0, 4, kReflection}, {32, 0, 4, kDiffuse},    {32, 4, 4, kReflection},
                 {1, 9, 4, kReflection}, {1, -1, 0, kBackground}, {1, 0, -1, kReflection},
                 {32, -3, -2, kDiffuse}};
    for (const auto& c : cases) {
        pxs::ShadingState st = env.shade(StateBuilder().rayType(c.type).depth(c.depth, c.limit));
        EXPECT_FLOAT3_EXACT(st.outColor, c.colour) << c.type << " at " << c.depth << "/" << c.limit;
        EXPECT_EQ(st.outAlpha, vtest::near3(c.colour, kBackground) ? 0.0f : 1.0f) << c.type;
    }
}

TEST(BackplateEnv, BranchOrder) {
    const struct {
        bool image, cube, cubeReflection;
        int32_t type;
        float3 colour;
    } cases[] = {
        {false, false, true, 1, kBackground}, {false, false, true, 4, kBackground},
        {false, false, true, 2, kReflection}, {true, true, true, 2, kReflection},
        {true, false, false, 2, kBackground}, {true, false, true, 16, kBackground},
        {true, false, true, 32, kDiffuse},    {true, false, true, 1, kImage},
        {true, false, true, 4, kImage},       {true, true, false, 1, kCube},
        {true, true, false, 4, kCube},
    };
    for (const auto& c : cases) {
        Env env("corvid_Env_Backplate");
        env.s.param<bool>("useBackgroundImage") = c.image;
        env.s.param<bool>("useCubeBackplate") = c.cube;
        env.s.param<bool>("useCubeReflection") = c.cubeReflection;
        pxs::ShadingState st = env.shade(c.type);
        EXPECT_FLOAT3_EXACT(st.outColor, c.colour) << c.type << c.image << c.cube;
        bool graded = vtest::near3(c.colour, kReflection) || vtest::near3(c.colour, kDiffuse);
        EXPECT_EQ(st.outAlpha, graded ? 1.0f : 0.0f) << c.type << c.image << c.cube;
    }
}

TEST(BackplateEnv, ImageMappingFlipsRowsWithInclusiveBounds) {
    Env env("corvid_Env_Backplate");
    env.s.param<bool>("useBackgroundImage") = true;
    // u just above 1, v below 0, NaN: the background colour, and no lookup.
    for (float2 outside :
         {float2(std::nextafter(kW, 2 * kW), 0), float2(0, kH + 1), float2(NAN, 0)}) {
        pxs::ShadingState st = env.shade(1, outside);
        EXPECT_FLOAT3_EXACT(st.outColor, kBackground) << outside.x << ", " << outside.y;
        EXPECT_EQ(st.outAlpha, 0.0f);
    }
    EXPECT_TRUE(env.image.lookups.empty());
    for (float2 inside : {float2(0, kH), float2(kW, 0), float2(kW / 4, kH / 4)}) {
        pxs::ShadingState st = env.shade(1, inside);
        EXPECT_FLOAT3_EXACT(st.outColor, kImage);
        EXPECT_EQ(st.outAlpha, 0.0f) << "not the image's alpha";
    }
    // A non-negative render height replaces the state's imageHeight; offsets add.
    env.s.set({{"render_size", float2(-1.0f, 2 * kH)}, {"uv_offset", float2(0.25f, -0.5f)}});
    env.shade(4, {0, kH});
    EXPECT_EQ(env.image.lookups,
              (Lookups{{0, 0, 0}, {1, 1, 0}, {0.25f, 0.75f, 0}, {0.25f, 0.5f, 0}}));
}

}  // namespace

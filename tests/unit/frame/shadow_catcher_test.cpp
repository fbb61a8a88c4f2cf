// The shadow catchers' light visibility and shadow factor against worked values.
#include "frame/shadow_catcher.h"

#include "testkit/harness.h"

namespace {

using pxs::float3;
using vtest::Light;

TEST(ShadowCatcher, VisibilityWeighsEachLightByItsBrightestChannel) {
    const float3 white(1.0f), black(0.0f);
    const struct {
        const char* name;
        std::vector<pxs::LightNode> lights;
        float total;
        float3 ratio;
    } cases[] = {
        {"no lights", {}, 0, white},
        {"full light", {Light{white, white}}, 1, white},
        {"fully shadowed", {Light{white, black}}, 1, black},
        // The transmission enters twice: 0.5 * 0.5.
        {"half visible", {Light{white, float3(0.5f)}}, 1, float3(0.25f)},
        // Every node counts, whatever its type.
        {"two lights", {Light{white, white}, Light{white, black, 10001}}, 2, float3(0.5f)},
        {"skip record", {Light{{1, 0.5f, 0.1f}, white}, Light{{2, 2, 2}, white, -1}}, 3, white},
        // A black record weighs nothing, and alone it means no shadow.
        {"black record", {Light{black, black}, Light{white, white}}, 1, white},
        {"only a black record", {Light{black, black}}, 0, white},
    };
    for (const auto& c : cases) {
        vhost::TestServices sv;
        sv.setLights(c.lights);
        const pxs::LightVisibility v = pxs::lightVisibility(&sv, float3(1, 2, 0), float3(0, 0, 1));
        EXPECT_EQ(v.total, c.total) << c.name;
        EXPECT_FLOAT3_EXACT(v.ratio(), c.ratio) << c.name;
        EXPECT_EQ(sv.calls.at(0).args, (std::vector<float>{0, 1, 2, 0, 0, 0, 1})) << "mask 0, P, N";
    }
}

TEST(ShadowCatcher, FactorDarkensTowardsTheShadowColour) {
    const float3 white(1.0f), black(0.0f), tint(0.2f, 0.4f, 0.6f);
    const struct {
        float3 ratio, open, color;
        float intensity;
        float3 factor;
    } cases[] = {
        {white, white, black, 1, white},
        {black, white, black, 1, black},
        {black, white, black, 0.7f, float3(0.3f)},
        {float3(0.25f), white, black, 0.7f, float3(0.475f)},
        {float3(0.5f), white, black, 0.7f, float3(0.65f)},
        // Occlusion alone darkens towards the colour; then both together.
        {white, {0.5f, 1, 0.25f}, tint, 0.7f, {0.6f, 1, 0.7f}},
        {float3(0.25f), {1, 0.5f, 1}, tint, 0.5f, {0.7f, 0.5425f, 0.85f}},
        {black, float3(0.5f), black, 0, float3(0.5f)},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(vtest::near3(pxs::shadowCatcherFactor(c.ratio, c.open, c.color, c.intensity),
                                 c.factor, 1e-6f))
            << c.ratio.x << " " << c.open.x << " " << c.intensity;
    }
    EXPECT_FLOAT3_EXACT(pxs::shadowTint(tint, 0.5f), float3(0.6f, 0.7f, 0.8f));
}

}  // namespace

// corvid_Mtl_MetallicPaint through the test host.
#include <cmath>

#include "src/frame/math.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::TestServices;
using vtest::Fields;
using vtest::light;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

float3 at(float degrees) {
    return vtest::viewAt(degrees);
}

float topcoatFresnel(float c) {
    return 0.3f + 0.7f * std::pow(1.0f - c, 5.0f);
}

TEST(MetallicPaintSampling, TopcoatMirrorIsChosenWithItsFresnelEvenWithoutTopcoat) {
    Shader s("corvid_Mtl_MetallicPaint");
    const float ft = topcoatFresnel(0.8660254f);
    const struct {
        const char* name;
        uint8_t glossy;
        float u;
        int kind;
        float weight;
    } cases[] = {
        {"below Ft", 1, ft - 1e-4f, pxs::kSampleSingleLobe, 1.0f / ft},
        {"at Ft", 1, ft + 1e-4f, pxs::kSampleLobeMixture, 0.0f},
        {"glossy not allowed", 0, 0.999f, pxs::kSampleSingleLobe, 1.0f},
    };
    for (const auto& c : cases) {
        ShadingState st = viewing(at(30)).allowLobes(c.glossy, 0, 1, 1, 1, 1).build();
        const ShadingState before = st;
        TestServices sv;
        sv.randoms = {c.u, 0.3f, 0.4f, 0.6f};
        s.sampleBsdf(sv, st);
        EXPECT_EQ(st.sampleKind, c.kind) << c.name;
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields) << c.name;
        if (c.kind != pxs::kSampleSingleLobe) continue;
        EXPECT_FLOAT3(st.sampleValue, float3(ft));
        EXPECT_FLOAT3(st.sampleDirection, float3(0.5f, 0, 0.8660254f));
        EXPECT_EQ(st.sampleCosine, 1.0f);
        EXPECT_NEAR(st.sampleWeight, c.weight, 1e-5f) << c.name;
        EXPECT_EQ(sv.count(vhost::kSvcRandom), 1);
    }
}

}  // namespace

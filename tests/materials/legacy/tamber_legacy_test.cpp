// TamberLegacy through the test host: its light sums, lobe choice and shadow
// transmission.
#include <cmath>

#include "src/frame/math.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::StateBuilder;

const float3 kUp(0, 0, 1);

using vtest::Edit;

struct Legacy {
    vtest::Shader s{"TamberLegacy"};
    vhost::TestServices sv;

    Legacy& set(std::initializer_list<Edit> edits) {
        s.set(edits);
        return *this;
    }
    template <class T>
    T& p(const char* name) {
        return s.param<T>(name);
    }
    // shade on a copy of `st`, checking that only the colour and alpha change.
    ShadingState shade(const ShadingState& st = StateBuilder().build()) {
        ShadingState out = st;
        s.shade(sv, out);
        EXPECT_EQ(vhost::changedFields(st, out), vtest::kShadeFields);
        return out;
    }
    std::vector<float> args(int slot, size_t i = 0) const { return sv.callsTo(slot).at(i).args; }

    // The continuation operations, each with services of its own.
    ShadingState sample(std::vector<float> randoms, ShadingState st = StateBuilder().build()) {
        vhost::TestServices own;
        own.randoms = std::move(randoms);
        s.sampleBsdf(own, st);
        return st;
    }
    ShadingState evaluate(float u, ShadingState st) {
        vhost::TestServices own;
        own.randoms = {u};
        s.evaluateBsdf(own, st);
        return st;
    }
    float3 shadow(const ShadingState& st = StateBuilder().build()) {
        ShadingState out = st;
        vhost::TestServices own;
        s.shadowTransmission(own, out);
        return out.outTransmission;
    }
};

// ---- shade ------------------------------------------------------------------

TEST(TamberLegacyShade, PlainLightAddsDiffuseAndBothHighlights) {
    Legacy m;
    m.set({{"transparencyMode", -1}});
    // Head-on: Dc * Lc plus both highlights at reflectance 0.66, times the
    // specular colours 0.5.
    m.sv.setLights({vtest::Light{float3(1.0f), float3(1.0f), 2, kUp, float3(0.5f)}});
    EXPECT_FLOAT3(m.shade().outColor, float3(0.33f, 0.33f, 0.83f));
}

// The box projection of an x-dominant normal reads (y, z), or (z, y) with
// "triplanarXY"; the texture answers with its coordinates, shown unlit.
TEST(TamberLegacyShade, BoxAxesFollowTriplanarXY) {
    vhost::TestTexture tex([](const float* c) { return float4(c[0], c[1], 0.0f, 0.25f); });
    for (bool xy : {false, true}) {
        Legacy m;
        m.set({{"transparencyMode", -1},
               {"specularColor", float3(0.0f)},
               {"specular2Color", float3(0.0f)},
               {"usingHDRbuffer", true},
               {"diffuseMode", 3},
               {"selfIlluminance", true},
               {"triplanarXY", xy}});
        m.p<pxs::TextureHandle>("diffuseTexture") = tex.handle();
        const ShadingState st =
            StateBuilder().mapping(float3(1, 2, 3), float3(-0.9f, 0.3f, 0.3f)).build();
        EXPECT_FLOAT3_EXACT(m.shade(st).outColor, xy ? float3(3, 2, 0) : float3(2, 3, 0));
    }
}

// ---- path continuation and shadows ----------------------------------------------

const float kInvPi = 0.3183099f;

TEST(TamberLegacyPaths, LobeChoiceProbabilities) {
    // Mask 0.25, reflectivity 0.5 of the rest, then transparency 0.5 of what is
    // left: mask below 0.25, mirror below 0.625, transmission below 0.8125.
    Legacy m;
    m.p<float3>("maskingColor") = float3(0.25f);
    m.p<float3>("reflectivityColor") = float3(0.5f);
    m.p<float3>("transparencyColor") = float3(0.5f, 0.25f, 0.25f);
    const float3 i(0.6f, 0, -0.8f);
    const ShadingState st =
        StateBuilder().ray(-i, i).sampleDirection(float3(0, 0.6f, 0.8f)).build();
    const struct {
        float u;
        int32_t kind;  // -1: the hit is skipped
    } cases[] = {{0.0f, -1},   {0.2499f, -1}, {0.25f, 4},   {0.6249f, 4},
                 {0.625f, 32}, {0.8124f, 32}, {0.8125f, 1}, {0.99f, 1}};
    for (const auto& c : cases) {
        const ShadingState out = m.sample({c.u, 0.25f, 0.36f}, st);
        const ShadingState ev = m.evaluate(c.u, st);
        if (c.kind == -1) {
            EXPECT_EQ(out.skipHit, 1) << c.u;
            EXPECT_EQ(ev.skipHit, 1) << c.u;
            continue;
        }
        EXPECT_EQ(out.sampleKind, c.kind) << c.u;
        EXPECT_EQ(ev.skipHit, c.kind == 32 ? 1 : st.skipHit) << "evaluate, u " << c.u;
        if (c.kind == 4) {
            EXPECT_FLOAT3_EXACT(out.sampleDirection, float3(0.6f, 0, 0.8f));
            EXPECT_FLOAT3_EXACT(out.sampleValue, float3(kInvPi));
            EXPECT_FLOAT3_EXACT(ev.sampleValue, float3(0.0f));
            EXPECT_FLOAT_EQ(ev.sampleCosine, 0.8f);
        } else if (c.kind == 32) {
            EXPECT_FLOAT3_EXACT(out.sampleDirection, i);
            EXPECT_FLOAT3(out.sampleValue, float3(1.0f, 0.5f, 0.5f) * kInvPi);
        }
        if (c.kind != 1) {
            EXPECT_EQ(out.sampleCosine, 1.0f);
            EXPECT_EQ(out.sampleWeight, 1.0f);
        }
    }
    // The mirror and the straight transmission both need allowLobe2.
    ShadingState closed = st;
    closed.allowLobe[2] = 0;
    closed.allowLobe[3] = closed.allowLobe[4] = closed.allowLobe[5] = 1;
    EXPECT_EQ(m.sample({0.3f}, closed).sampleKind, 0);
    EXPECT_EQ(m.sample({0.7f}, closed).sampleKind, 0);
}

TEST(TamberLegacyPaths, ShadowTransmissionCases) {
    Legacy m;
    m.p<float3>("maskingColor") = float3(1.0f);
    EXPECT_FLOAT3_EXACT(m.shadow(), float3(1.0f)) << "fully masked";
    m.p<float3>("maskingColor") = float3(0.0f);
    m.p<int32_t>("transparencyMode") = -1;
    EXPECT_FLOAT3_EXACT(m.shadow(), float3(0.0f)) << "opaque";

    m.p<int32_t>("transparencyMode") = 0;
    m.p<float3>("reflectivityColor") = float3(0.25f);
    EXPECT_FLOAT3(m.shadow(), float3(0.6f)) << "0.8 transparency, 0.25 reflectivity";

    // Absorption: through a thin slab its thickness; through a solid the path
    // inside, only when leaving it.
    m.p<float3>("absorbanceRGB") = float3(0.25f);
    const ShadingState leaving = StateBuilder().ray(float3(0, 0, -2), float3(0, 0, 1)).build();
    EXPECT_FLOAT3(m.shadow(), float3(0.6f)) << "entering";
    EXPECT_FLOAT3(m.shadow(leaving), float3(0.6f * std::exp(-0.5f)));
    m.p<float>("simulatedThickness") = 4.0f;
    EXPECT_FLOAT3(m.shadow(), float3(0.6f * std::exp(-1.0f)));

    // A planar mask outside its slab does not remove the surface here.
    Legacy planar;
    vhost::TestTexture tex(float4(0.5f, 0.5f, 0.5f, 1.0f));
    planar.p<int32_t>("maskingMode") = 2;
    planar.p<pxs::TextureHandle>("maskingTexture") = tex.handle();
    planar.p<int32_t>("transparencyMode") = -1;
    EXPECT_FLOAT3(planar.shadow(StateBuilder().mapping(float3(0, 0, 3), float3(0, 0, 1)).build()),
                  float3(0.5f));
    // Transparency as mask: 1 - (1 - 0.5)(1 - 0.8).
    planar.p<int32_t>("transparencyMode") = 0;
    planar.p<bool>("transparencyBlocksHighlights") = true;
    EXPECT_FLOAT3(planar.shadow(), float3(0.9f));
}

}  // namespace

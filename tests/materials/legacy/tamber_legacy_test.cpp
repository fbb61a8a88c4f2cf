// TamberLegacy through the test host: registration, the fields each operation
// may write, the channels and shade.
#include <cmath>

#include "src/frame/math.h"
#include "testkit/alloc_counter.h"
#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::StateBuilder;
using vhost::TestTexture;

const float kS = std::sqrt(0.5f);
const float3 kUp(0, 0, 1);
const float3 kOblique(kS, 0, -kS);  // 45 degrees onto the +z surface

pxs::LightNode light(int32_t type, float3 dir, float3 color44, float3 color16 = float3(),
                     float3 visibility = float3(1.0f)) {
    return vtest::Light{color44, visibility, type, dir, color16};
}

ShadingState along(float3 dir) {
    return StateBuilder().ray(-5.0f * dir, dir).build();
}

using vtest::Edit;
// Opaque, lights silent, unclamped: only what a test switches on shows.
const std::initializer_list<Edit> kQuiet{{"transparencyMode", -1},
                                         {"diffuseColor", float3(0.0f)},
                                         {"specularColor", float3(0.0f)},
                                         {"specular2Color", float3(0.0f)},
                                         {"usingHDRbuffer", true}};
const std::initializer_list<Edit> kHalfTransparent{{"transparencyMode", 0},
                                                   {"transparencyColor", float3(0.5f)}};

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

float3 at(const std::vector<float>& args, size_t i) {
    return float3(args.at(i), args.at(i + 1), args.at(i + 2));
}

TEST(TamberLegacyParams, DeclarationOrderTypesAndDefaults) {
    vtest::expectDeclarations("TamberLegacy", 15, vtest::declarationRows(R"(
        shadowColor c (0, 0, 0); shadowIntensity f 1; reverseNormal b; faceForward b;
        faceLight b; showNormalsOnly b; showAmbientOnly b; usingRaytracedAO b;
        diffuseColor c (0, 0, 1); diffuseMode i; diffuseTexture t; diffuseTextureMatrix M;
        diffuseAngularRepeat f 1; diffuseUVMatrix m; diffuseIBLGainColor c (1, 1, 1);
        diffuseIBLContrastPivot c (1, 1, 1); diffuseIBLContrastValue f 1;
        diffuseIBLGainSource i; diffuseLightGainValue f 1;
        specularColor c (0.5, 0.5, 0.5); specularREG c (0.660000026, 0.330000013, 1);
        specular2REG c (0.660000026, 0.330000013, 1); specularMode i; specularTexture t;
        specularTextureMatrix M; specularAngularRepeat f 1; specular2Color c (0.5, 0.5, 0.5);
        specularUVMatrix m; specularIBLGainColor c (1, 1, 1);
        specularIBLContrastPivot c (1, 1, 1); specularIBLContrastValue f 1;
        specularIBLGainSource i; specularLightGainValue f 1; specular2LightGainValue f 1;
        transparencyColor c (0.800000012, 0.800000012, 0.800000012); transparencyMode i;
        transparencyTexture t; transparencyTextureMatrix M; transparencyAngularRepeat f 1;
        transparencyInvert b; transparencyFromDiffuse b; transparencyUVMatrix m;
        transparencyBlocksHighlights b;
        bumpMode i -1; bumpTexture t; bumpTextureMatrix M; bumpTextureMatrixInverse M;
        bumpAngularRepeat f 1; bumpDepth f 1; bumpUVMatrix m;
        maskingColor c (0, 0, 0); maskingMode i; maskingTexture t; maskingTextureMatrix M;
        maskingInvertTexture b; maskingAngularRepeat f 1; maskingUVMatrix m;
        maskingFromAlpha b;
        reflectivityColor c (0, 0, 0); useUniformReflectivity B; fresnel 4 (0, 0, 0, 0);
        reflectLight b; reflectIBLGainColor c (1, 1, 1); reflectIBLGainSource i;
        reflectIBLGainValue f 1; reflectionCubeIBL u; useReflectionCubeIBL b;
        surfaceRoughness f 0; refractiveIndex f 1; simulatedThickness f 0; IBLDiffMode i -1;
        IBLSpecMode i -1; diffuseIBLGainValue f 1; specularIBLGainValue f 1; diffuseIBLCube u;
        specularIBLCube u;
        globalIBLContrastPivot c (1, 1, 1); globalIBLContrastValue f 1;
        globalIBLGainColor c (1, 1, 1); globalIBLSatValue f 1; globalIBLGainSource i;
        globalIBLGainValue f 1; globalIBLMatrix m;
        diffuseIBLChannelContrastPivot c (1, 1, 1); diffuseIBLChannelContrastValue f 1;
        diffuseIBLChannelGainColor c (1, 1, 1); diffuseIBLChannelGainSource i;
        diffuseIBLChannelGainValue f 1; diffuseIBLChannelSatValue f 1;
        specularIBLChannelContrastPivot c (1, 1, 1); specularIBLChannelContrastValue f 1;
        specularIBLChannelGainColor c (1, 1, 1); specularIBLChannelGainSource i;
        specularIBLChannelGainValue f 1; specularIBLChannelSatValue f 1;
        reflectIBLChannelContrastPivot c (1, 1, 1); reflectIBLChannelContrastValue f 1;
        reflectIBLChannelGainColor c (1, 1, 1); reflectIBLChannelGainSource i;
        reflectIBLChannelGainValue f 1; reflectIBLChannelSatValue f 1;
        ambientOcclusionTexture t; ambientOcclusionMode i; ambientOcclusionFactor f 1;
        ambientOcclusionColor c (0, 0, 0); usePrecalcAO B; absorbanceRGB c (-1, -1, -1);
        useAlpha B; globalIllumIntensity f 1; unlitSurface b; selfIlluminance b;
        usingHDRbuffer b; triplanarXY b;
        uv a 1@0; uv1 a 1@8; tangent a 2@16; bitangent a 2@28; vtxcolor a 3@40)"));
}

TEST(TamberLegacy, EachOperationWritesOnlyItsFieldsAndAllocatesNothing) {
    using vtest::Fields;
    const Fields& sample = vtest::kSampleFields;
    const Edit masked{"maskingColor", float3(0.5f)};
    const struct {
        int slot;
        std::vector<Edit> edits;
        float u;  // 0.9: the diffuse lobe
        Fields expected;
    } cases[] = {
        {vhost::kSlotShade, {}, 0.9f, vtest::kShadeFields},
        {vhost::kSlotShade, {{"maskingColor", float3(1.0f)}}, 0.9f, {"skipHit"}},
        {vhost::kSlotShade, {{"showNormalsOnly", true}}, 0.9f, {"outColor"}},
        {vhost::kSlotShade,
         {{"showAmbientOnly", true}, {"usingRaytracedAO", true}},
         0.9f,
         {"outColor"}},
        {vhost::kSlotShadowTransmission, {}, 0.9f, {"outTransmission"}},
        {vhost::kSlotEvaluateBsdf, {}, 0.9f, {"sampleValue", "sampleCosine"}},
        {vhost::kSlotEvaluateBsdf, {masked}, 0.25f, {"skipHit"}},
        {vhost::kSlotSampleBsdf, {}, 0.9f, sample},
        {vhost::kSlotSampleBsdf, {masked}, 0.25f, {"skipHit"}},
        {-vhost::kSlotSampleBsdf, {}, 0.9f, {"sampleKind"}},  // diffuse lobe not allowed
    };
    for (const auto& c : cases) {
        Legacy m;
        for (const Edit& e : c.edits) m.set({e});
        m.sv.randoms = {c.u, 0.5f, 0.5f};
        m.sv.record = false;
        ShadingState st = StateBuilder().sampleDirection(kUp).build();
        if (c.slot < 0) st.allowLobe[0] = 0;
        const ShadingState before = st;
        const auto allocations = vtest::allocationCounts().allocations;
        vhost::callPerHit(m.s.get(), std::abs(c.slot), &m.sv, &st);
        EXPECT_EQ(vtest::allocationCounts().allocations, allocations) << c.slot;
        EXPECT_EQ(vhost::changedFields(before, st), c.expected) << c.slot;
    }
}

// ---- channels ---------------------------------------------------------------

// The diffuse colour on its own: self-illuminance shows it at full strength.
// The texture answers with its coordinates.
float3 diffuseAt(int32_t mode, float3 point, float3 normal, std::initializer_list<Edit> edits = {},
                 float2 uv = float2()) {
    TestTexture tex([](const float* c) { return float4(c[0], c[1], 0.0f, 0.25f); });
    Legacy m;
    m.set(kQuiet).set({{"diffuseMode", mode}, {"selfIlluminance", true}}).set(edits);
    m.p<pxs::TextureHandle>("diffuseTexture") = tex.handle();
    return m.shade(StateBuilder().mapping(point, normal).attribute(0, uv).build()).outColor;
}

TEST(TamberLegacyChannels, EveryModeReadsItsCoordinates) {
    const float3 q(0.25f, 0.5f, 2.0f);
    EXPECT_FLOAT3_EXACT(diffuseAt(-1, q, kUp), float3(0.0f));
    EXPECT_FLOAT3_EXACT(diffuseAt(0, q, kUp, {{"diffuseColor", float3(0, 0, 1)}}), float3(0, 0, 1));
    EXPECT_FLOAT3_EXACT(diffuseAt(7, q, kUp), float3(0.0f)) << "unknown modes are off";
    EXPECT_FLOAT3_EXACT(
        diffuseAt(1, q, kUp, {{"diffuseUVMatrix", pxs::matrix3{{2, 0, 0, 0, 1, 0, 0.5f, 0, 1}}}},
                  float2(0.25f, 0.75f)),
        float3(1.0f, 0.75f, 0));
    EXPECT_FLOAT3_EXACT(diffuseAt(2, q, kUp), float3(0.25f, 0.5f, 0));
    EXPECT_FLOAT3_EXACT(diffuseAt(3, q, kUp), float3(0.25f, 0.5f, 0));
    // atan2(-0.25, 0) = -pi/2: s = (-0.25 + 0.5) * 2.
    EXPECT_TRUE(vtest::near3(diffuseAt(4, q, kUp, {{"diffuseAngularRepeat", 2.0f}}),
                             float3(0.5f, 2.0f, 0), 1e-6f));
}

TEST(TamberLegacyChannels, BoxAxesWithAndWithoutTriplanarXY) {
    const struct {
        float3 normal, plain, triplanar;
    } cases[] = {
        {float3(-0.9f, 0.3f, 0.3f), float3(2, 3, 0), float3(3, 2, 0)},  // x dominant
        {float3(0.3f, 0.9f, 0.3f), float3(1, 3, 0), float3(1, 3, 0)},   // y dominant
        {float3(0.3f, 0.3f, -0.9f), float3(1, 2, 0), float3(1, 2, 0)},  // z dominant
        {float3(0.5f, 0.5f, 0.5f), float3(1, 3, 0), float3(1, 2, 0)},   // three-way tie
    };
    for (const auto& c : cases) {
        // The sign of the normal never matters.
        EXPECT_FLOAT3_EXACT(diffuseAt(3, float3(1, 2, 3), c.normal, {{"reverseNormal", true}}),
                            c.plain);
        EXPECT_FLOAT3_EXACT(diffuseAt(3, float3(1, 2, 3), c.normal, {{"triplanarXY", true}}),
                            c.triplanar);
    }
}

TEST(TamberLegacyChannels, TransparencyFromDiffuseAlphaAndInversion) {
    // Unmasked and unreflective, the shadow transmission is T itself.
    auto transparency = [](std::initializer_list<Edit> edits) {
        TestTexture tex(float4(0.5f, 0.5f, 0.5f, 0.25f));
        Legacy m;
        m.set({{"diffuseMode", 1}}).set(edits);
        m.p<pxs::TextureHandle>("diffuseTexture") = tex.handle();
        ShadingState st = StateBuilder().build();
        m.s.shadowTransmission(m.sv, st);
        return st.outTransmission;
    };
    EXPECT_FLOAT3_EXACT(transparency({}), float3(0.8f)) << "own channel, constant";
    EXPECT_FLOAT3_EXACT(transparency({{"transparencyInvert", true}}), float3(1.0f - 0.8f))
        << "inverted even in constant mode";
    EXPECT_FLOAT3_EXACT(transparency({{"transparencyFromDiffuse", true}}), float3(0.75f));
    EXPECT_FLOAT3_EXACT(
        transparency({{"transparencyFromDiffuse", true}, {"transparencyInvert", true}}),
        float3(0.25f));
}

TEST(TamberLegacyChannels, MaskFromAlphaInvertAndPlanarSlab) {
    Legacy m;
    TestTexture tex(float4(0.2f, 0.3f, 0.4f, 1.0f));
    m.set({{"maskingMode", 2}, {"maskingFromAlpha", true}});
    m.p<pxs::TextureHandle>("maskingTexture") = tex.handle();
    auto skipped = [&](ShadingState st) {
        m.s.shade(m.sv, st);
        return st.skipHit == 1;
    };
    const ShadingState inside = StateBuilder().build();
    const ShadingState outside = StateBuilder().mapping(float3(0, 0, 1.5f), kUp).build();
    EXPECT_TRUE(skipped(inside)) << "alpha 1 masks fully";
    m.set({{"maskingInvertTexture", true}});
    EXPECT_FALSE(skipped(inside));
    EXPECT_TRUE(skipped(outside)) << "outside the slab -1 <= depth <= 1";
    m.set({{"maskingMode", 0}, {"maskingColor", float3(0.999f, 1, 1)}});
    EXPECT_FALSE(skipped(outside));
}

// ---- shade ------------------------------------------------------------------

TEST(TamberLegacyShade, DefaultsShowUntintedIndirectLight) {
    Legacy m;
    m.sv.globalIlluminationValue = float3(0.2f, 0.4f, 0.6f);
    m.sv.glossyTransmissionValue = float3(0.5f);
    ShadingState st = m.shade();
    // The default constant transparency 0.8 lets the traced background through.
    EXPECT_FLOAT3(st.outColor, float3(0.44f, 0.48f, 0.52f));
    EXPECT_FLOAT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(m.args(vhost::kSvcGetLights), (std::vector<float>{-1024, 0, 0, 0, 0, 0, 1}));
    EXPECT_NEAR(m.args(vhost::kSvcGlobalIllumination)[6], 0.2f, 1e-6f);

    // Opaque: the blue diffuse colour does not tint the indirect light.
    m.set({{"transparencyMode", -1}, {"globalIllumIntensity", 1.5f}});
    m.sv.clear();
    st = m.shade();
    EXPECT_FLOAT3(st.outColor, float3(0.3f, 0.6f, 0.9f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(m.args(vhost::kSvcGlobalIllumination)[6], 1.0f) << "weight max(Dc)";
}

TEST(TamberLegacyShade, LightRecordsSkippedTintedAndPlain) {
    Legacy m;
    m.set({{"transparencyMode", -1}});
    m.sv.setLights({light(pxs::kLightSkip, kUp, float3(9.0f), float3(9.0f)),
                    light(2, kUp, float3(0.0f), float3(9.0f))});
    EXPECT_FLOAT3_EXACT(m.shade().outColor, float3(0.0f));
    // Head-on: Dc * Lc plus both highlights at reflectance 0.66, times the
    // specular colours 0.5.
    m.sv.setLights({light(2, kUp, float3(1.0f), float3(0.5f))});
    EXPECT_FLOAT3(m.shade().outColor, float3(0.33f, 0.33f, 0.83f));
    // The diffuse term follows the clamped cosine: 0.5 at 60 degrees, 0 below.
    Legacy flat;
    flat.set(
        {{"transparencyMode", -1}, {"specularColor", float3(0)}, {"specular2Color", float3(0)}});
    flat.sv.setLights({light(2, float3(std::sqrt(0.75f), 0, 0.5f), float3(1.0f), float3(1.0f)),
                       light(2, -kUp, float3(1.0f), float3(1.0f))});
    EXPECT_FLOAT3(flat.shade().outColor, float3(0, 0, 0.5f));
    // A tinted light reaches only the second highlight by default; 75% shadowed
    // towards shadowColor 0.2: Lc = 0.75 * 0.2 * 0.5 + 0.25 * 0.5.
    m.set({{"shadowColor", float3(0.2f)}, {"specular2LightGainValue", 2.0f}});
    m.sv.setLights({light(1, kUp, float3(0.5f), float3(9.0f), float3(0.25f))});
    EXPECT_FLOAT3(m.shade().outColor, float3(0.66f * 0.2f * 0.5f * 2.0f));
    m.set({{"unlitSurface", true}});
    m.sv.clear();
    EXPECT_FLOAT3_EXACT(m.shade().outColor, float3(0.0f));
    EXPECT_EQ(m.sv.count(vhost::kSvcGetLights), 0);
}

TEST(TamberLegacyShade, HighlightGeometryAndCubicFresnel) {
    const float f0 = 0.1f, a = 0.4f;
    Legacy m;
    m.set(kQuiet).set({{"specularColor", float3(1.0f)}, {"specularREG", float3(f0, a, 7.0f)}});
    const float3 view = pxs::normalize(float3(0.5f, 0, -1));
    // Mirror direction, off-plane, grazing light (masked), light overhead (nl > nv),
    // and a grazing view.
    const struct {
        float3 i, l;
    } cases[] = {
        {view, pxs::normalize(float3(0.5f, 0, 1))},
        {view, pxs::normalize(float3(0.2f, 0.3f, 1))},
        {view, pxs::normalize(float3(-1, 0, 0.05f))},
        {view, kUp},
        {pxs::normalize(float3(1, 0, -0.1f)), pxs::normalize(float3(-1, 0, 0.3f))},
    };
    for (const auto& c : cases) {
        m.sv.setLights({light(2, c.l, float3(1.0f), float3(1.0f))});
        const float3 h = pxs::normalize(c.l - c.i);
        const float nh = h.z, vh = pxs::dot(h, -c.i), nl = c.l.z, nv = -c.i.z;
        const float g = std::fmin(1.0f, std::fmin(2 * nh * nv / vh, 2 * nh * nl / vh)) / nv;
        const float d = std::pow(a * a / (nh * nh * (a * a - 1) + 1), 2.0f);
        const float s = g * d * (f0 + (1 - f0) * std::pow(1 - vh, 3.0f));
        EXPECT_NEAR(m.shade(along(c.i)).outColor.x, s, 2e-5f * s) << c.l.x << " " << c.i.x;
    }
    // No highlight for a view from behind or exactly edge-on.
    m.sv.setLights({light(2, kUp, float3(1.0f), float3(1.0f))});
    for (float3 i : {kUp, float3(1, 0, 0)}) {
        EXPECT_FLOAT3_EXACT(m.shade(along(i)).outColor, float3(0.0f));
    }
}

TEST(TamberLegacyShade, ImageBasedDiffuseAndSpecularModes) {
    TestTexture diffuseCube(float4(0.2f, 0.2f, 0.2f, 1), 3), specularCube(float4(0.3f), 3);
    const int32_t modes[] = {0, 1, 2, -1};
    const float diffuse[] = {0.55f, 0.45f, 0.15f, 0.1f};
    const float specular[] = {0.546f, 0.396f, 0.15f, 0.0f};
    for (int di = 0; di < 4; ++di) {
        for (int si = 0; si < 4; ++si) {
            Legacy m;
            m.set(kQuiet).set({{"diffuseColor", float3(0.5f)},
                               {"specularColor", float3(0.5f)},
                               {"diffuseLightGainValue", 2.0f},
                               {"specularLightGainValue", 3.0f},
                               {"IBLDiffMode", modes[di]},
                               {"IBLSpecMode", modes[si]}});
            m.p<pxs::TextureHandle>("diffuseIBLCube") = diffuseCube.handle();
            m.p<pxs::TextureHandle>("specularIBLCube") = specularCube.handle();
            m.sv.globalIlluminationValue = float3(0.1f);
            // Tinted, unshadowed, head-on: Da = 0.4, S1a = 0.66 * 0.4.
            m.sv.setLights({light(1, kUp, float3(0.4f))});
            EXPECT_FLOAT3(m.shade().outColor, float3(diffuse[di] + specular[si]))
                << "IBLDiffMode " << modes[di] << ", IBLSpecMode " << modes[si];
        }
    }
    // Looked up in modes 0 and 2 only, in the cubes' y-up frame.
    EXPECT_EQ(diffuseCube.lookups.size(), 8u);
    EXPECT_EQ(specularCube.lookups.size(), 8u);
    EXPECT_TRUE(diffuseCube.lookups[0] == (std::array<float, 3>{0, 1, 0}));
    EXPECT_TRUE(specularCube.lookups[0] == (std::array<float, 3>{0, 1, 0}));
}

TEST(TamberLegacyShade, EachGradedTermReadsItsOwnStages) {
    const float3 cube(0.1f, 0.2f, 0.4f);
    // cube * gain, then saturation s about its luminance.
    auto graded = [&](float gain, float s) {
        const float3 v = cube * gain;
        return v * s + float3((1 - s) * (0.2125f * v.x + 0.7154f * v.y + 0.0721f * v.z));
    };
    const struct {
        std::vector<Edit> term;
        float3 expected;
    } cases[] = {
        {{{"diffuseColor", float3(1.0f)}, {"IBLDiffMode", 2}}, graded(2 * 3 * 5, 0.5f * 2)},
        {{{"specularColor", float3(1.0f)}, {"IBLSpecMode", 2}}, graded(7 * 3 * 13, 0.25f * 2)},
        {{{"reflectivityColor", float3(1.0f)}, {"useReflectionCubeIBL", true}},
         graded(11 * 3 * 17, 1.5f * 2)},
    };
    for (const auto& c : cases) {
        Legacy m;
        TestTexture tex(float4(cube, 1.0f), 3);
        for (const char* name : {"diffuseIBLCube", "specularIBLCube", "reflectionCubeIBL"}) {
            m.p<pxs::TextureHandle>(name) = tex.handle();
        }
        m.set(kQuiet).set({{"diffuseIBLGainValue", 2.0f},
                           {"diffuseIBLChannelGainValue", 5.0f},
                           {"diffuseIBLChannelSatValue", 0.5f},
                           {"specularIBLGainValue", 7.0f},
                           {"specularIBLChannelGainValue", 13.0f},
                           {"specularIBLChannelSatValue", 0.25f},
                           {"reflectIBLGainValue", 11.0f},
                           {"reflectIBLChannelGainValue", 17.0f},
                           {"reflectIBLChannelSatValue", 1.5f},
                           {"globalIBLGainValue", 3.0f},
                           {"globalIBLSatValue", 2.0f}});
        for (const Edit& e : c.term) m.set({e});
        EXPECT_TRUE(vtest::near3(m.shade().outColor, c.expected, 2e-4f)) << c.expected.x;
    }
}

TEST(TamberLegacyShade, SolidRefractionAbsorptionAndAlpha) {
    Legacy m;
    m.set(kQuiet).set(kHalfTransparent);
    m.set({{"refractiveIndex", 1.5f}, {"surfaceRoughness", 0.3f}});
    m.sv.globalIlluminationValue = float3(0.2f);
    m.sv.glossyTransmissionValue = float3(0.6f);
    m.sv.glossyTransmissionAlpha = 0.2f;
    // Entering at 45 degrees: bent towards -N by Snell's law, nothing absorbed.
    ShadingState st = m.shade(along(kOblique));
    EXPECT_FLOAT3(st.outColor, float3(0.2f * 0.5f + 0.6f * 0.5f));
    EXPECT_FLOAT_EQ(st.outAlpha, 0.2f * 0.5f + 0.5f);
    const std::vector<float> args = m.args(vhost::kSvcTraceGlossyTransmission);
    const float sinT = kS / 1.5f;
    EXPECT_TRUE(vtest::near3(at(args, 3), float3(sinT, 0, -std::sqrt(1 - sinT * sinT)), 1e-6f));
    EXPECT_EQ(args[6], 0.3f);
    EXPECT_EQ(args[7], 0.5f);
    // An index below 1 refracts a head-on ray straight through, at unit length.
    m.set({{"refractiveIndex", 0.8f}});
    m.sv.clear();
    m.shade();
    EXPECT_TRUE(vtest::near3(at(m.args(vhost::kSvcTraceGlossyTransmission), 3), -kUp, 1e-6f));

    // Leaving head-on after 2 units inside: absorbed per channel, and the alpha
    // follows the strongest remaining channel.
    m.set({{"refractiveIndex", 1.0f}, {"absorbanceRGB", float3(0.5f, -1.0f, 0.0f)}});
    const ShadingState leaving = StateBuilder().ray(float3(0, 0, -2), kUp).build();
    st = m.shade(leaving);
    EXPECT_FLOAT3(st.outColor, float3(0.4f * std::exp(-1.0f), 0.0f, 0.4f));
    EXPECT_FLOAT_EQ(st.outAlpha, 0.6f);
    m.set({{"absorbanceRGB", float3(0.5f)}});
    const float a = std::exp(-1.0f);
    EXPECT_FLOAT_EQ(m.shade(leaving).outAlpha, ((1 - a) + a * 0.2f) * 0.5f + 0.5f);
}

TEST(TamberLegacyShade, ThinSlabContinuesFromItsFarSide) {
    Legacy m;
    m.set(kQuiet).set(kHalfTransparent);
    m.set({{"simulatedThickness", 0.1f}, {"absorbanceRGB", float3(1.0f)}});
    m.sv.globalIlluminationValue = float3(0.2f);
    m.sv.glossyTransmissionValue = float3(0.6f);
    m.sv.glossyTransmissionAlpha = 0.2f;
    ShadingState st = m.shade(along(kOblique));
    const float a = std::exp(-0.1f / kS);  // the slanted path through the slab
    EXPECT_FLOAT3(st.outColor, float3(0.2f * 0.5f + a * 0.6f * 0.5f));
    EXPECT_FLOAT_EQ(st.outAlpha, ((1 - a) + 0.2f * a) * 0.5f + 0.5f);
    std::vector<float> args = m.args(vhost::kSvcTraceGlossyTransmission);
    EXPECT_TRUE(vtest::near3(at(args, 0), float3(0.1f, 0, -0.1f), 1e-6f));
    EXPECT_FLOAT3_EXACT(at(args, 3), kOblique) << "keeps the direction";

    // Refracting: the exit point lies along the bent ray.
    m.set({{"refractiveIndex", 1.5f}});
    m.sv.clear();
    m.shade(along(kOblique));
    args = m.args(vhost::kSvcTraceGlossyTransmission);
    const float sinT = kS / 1.5f;
    EXPECT_TRUE(vtest::near3(at(args, 0),
                             float3(0.1f * sinT / std::sqrt(1 - sinT * sinT), 0, -0.1f), 1e-6f));
    EXPECT_FLOAT3_EXACT(at(args, 3), kOblique);

    // Edge-on the path never crosses the slab: it continues from the hit.
    m.sv.clear();
    st = m.shade(along(float3(1, 0, 0)));
    EXPECT_FLOAT3_EXACT(at(m.args(vhost::kSvcTraceGlossyTransmission), 0), float3(0.0f));
    EXPECT_TRUE(std::isfinite(st.outColor.x) && std::isfinite(st.outAlpha));
}

TEST(TamberLegacyShade, TotalInternalReflectionReflectsTheTransmittedShare) {
    Legacy m;
    m.set(kQuiet).set(kHalfTransparent);
    m.set({{"refractiveIndex", 1.5f}, {"absorbanceRGB", float3(0.25f)}});
    m.sv.globalIlluminationValue = float3(0.2f);
    m.sv.glossyReflectionValue = float3(0.8f);
    // Leaving the object 63 degrees off the normal, 2 units after entering it.
    const float3 i = pxs::normalize(float3(1, 0, 0.5f));
    const ShadingState st = m.shade(StateBuilder().ray(-2.0f * i, i).build());
    EXPECT_EQ(m.sv.count(vhost::kSvcTraceGlossyTransmission), 0);
    const std::vector<float> refl = m.args(vhost::kSvcTraceGlossyReflection);
    EXPECT_TRUE(vtest::near3(at(refl, 3), float3(i.x, 0, -i.z), 1e-6f));
    EXPECT_EQ(refl[7], 0.5f) << "the reflectivity became T";
    EXPECT_FLOAT3(st.outColor, float3((0.2f + 0.8f * 0.5f) * std::exp(-0.5f)));
    EXPECT_EQ(st.outAlpha, 1.0f);
}

TEST(TamberLegacyShade, ReflectionFromTraceOrCubeAndReflectLight) {
    const float3 r(0.25f, 0.5f, 0.25f);
    Legacy m;
    // The global contrast 0.5 about black halves F, and the trace's importance.
    m.set(kQuiet).set({{"reflectivityColor", r},
                       {"surfaceRoughness", 0.3f},
                       {"globalIBLContrastPivot", float3(0.0f)},
                       {"globalIBLContrastValue", 0.5f}});
    m.sv.glossyReflectionValue = float3(0.8f, 0.4f, 0.2f);
    const float3 reflected = 0.5f * float3(0.8f, 0.4f, 0.2f) * r;
    EXPECT_FLOAT3(m.shade(along(kOblique)).outColor, reflected);
    EXPECT_EQ(m.args(vhost::kSvcTraceGlossyReflection),
              (std::vector<float>{0, 0, 0, kS, 0, kS, 0.3f, 0.25f}));

    TestTexture cube(float4(0.8f, 0.4f, 0.2f, 1), 3);
    m.p<pxs::TextureHandle>("reflectionCubeIBL") = cube.handle();
    m.set({{"useReflectionCubeIBL", true}});
    m.sv.clear();
    EXPECT_FLOAT3(m.shade(along(kOblique)).outColor, reflected);
    EXPECT_EQ(m.sv.count(vhost::kSvcTraceGlossyReflection), 0);
    EXPECT_TRUE(cube.lookups.at(0) == (std::array<float, 3>{kS, kS, 0}));

    // reflectLight: the other terms give up the reflected share.
    m.set({{"reflectLight", true}, {"diffuseColor", float3(1.0f)}});
    m.sv.globalIlluminationValue = float3(0.4f);
    m.sv.clear();
    EXPECT_FLOAT3(m.shade(along(kOblique)).outColor, 0.4f * (float3(1.0f) - r) + reflected);
    EXPECT_EQ(m.args(vhost::kSvcGlobalIllumination)[6], 0.75f);
}

TEST(TamberLegacyShade, SecondHighlightRules) {
    const float3 p2(0.5f, 1.0f, 0.5f);
    // A tinted and a plain light head-on: S2a = S2b = 0.66; gain 2 on S2a only.
    auto second = [&](std::initializer_list<Edit> edits) {
        Legacy m;
        m.set(kQuiet).set({{"specular2Color", p2}, {"specular2LightGainValue", 2.0f}}).set(edits);
        m.sv.setLights({light(1, kUp, float3(1.0f)), light(2, kUp, float3(1.0f), float3(1.0f))});
        return m.shade().outColor;
    };
    const float3 both = 0.66f * 3.0f * p2;
    EXPECT_FLOAT3(second({}), both);
    EXPECT_FLOAT3(second({{"IBLSpecMode", 2}}), 0.66f * p2);
    EXPECT_FLOAT3(second({{"reflectLight", true}, {"reflectivityColor", float3(0.5f)}}),
                  0.5f * both);
    EXPECT_FLOAT3(second({{"reflectLight", true}}), both) << "uniform and zero: plain";
    EXPECT_FLOAT3(second({{"reflectLight", true},
                          {"useUniformReflectivity", false},
                          {"fresnel", float4(0, 0, 1, 1)}}),
                  float3(0.0f))
        << "a view-dependent reflectivity of 0 scales them away";
}

TEST(TamberLegacyShade, HighlightOpacityMaskPassThroughAndClamping) {
    Legacy m;
    m.set(kQuiet).set(kHalfTransparent);
    m.sv.glossyTransmissionAlpha = 0.0f;
    m.sv.globalIlluminationValue = float3(0.4f);
    EXPECT_FLOAT_EQ(m.shade().outAlpha, 0.5f);
    // A highlight of 0.66 on Y = 0.2 + 0.66 moves alpha towards 1 by S / max(Y).
    m.set({{"specularColor", float3(1.0f)}});
    m.sv.setLights({light(2, kUp, float3(1.0f), float3(1.0f))});
    const float x = 0.66f / 0.86f;
    EXPECT_NEAR(m.shade().outAlpha, (1 - x) * 0.5f + x, 1e-6f);
    m.sv.setLights({});

    // A coloured mask mixes in what is behind, per channel.
    m.set({{"maskingColor", float3(0.5f, 0.25f, 0.0f)}});
    m.sv.transmissionValue = float3(1.0f);
    m.sv.clear();
    ShadingState st = m.shade();
    EXPECT_FLOAT3(st.outColor, float3(0.6f, 0.4f, 0.2f));
    EXPECT_FLOAT_EQ(st.outAlpha, 0.75f);
    EXPECT_EQ(m.args(vhost::kSvcTraceTransmission)[6], 0.5f);
    // Transparency as mask: folded in, and the colour keeps a uniform share.
    m.set({{"transparencyBlocksHighlights", true}});
    m.sv.clear();
    st = m.shade();
    EXPECT_FLOAT3(st.outColor, float3(0.1f + 0.75f, 0.1f + 0.625f, 0.1f + 0.5f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(m.sv.count(vhost::kSvcTraceGlossyTransmission), 0);

    // Clamped unless the HDR switch is on; the alpha always.
    Legacy c;
    c.set(kQuiet).set(kHalfTransparent);
    c.sv.glossyTransmissionValue = float3(4.0f, -2.0f, 1.0f);
    c.sv.glossyTransmissionAlpha = 3.0f;
    st = c.shade();
    EXPECT_FLOAT3_EXACT(st.outColor, float3(2.0f, -1.0f, 0.5f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    c.set({{"usingHDRbuffer", false}});
    EXPECT_FLOAT3_EXACT(c.shade().outColor, float3(1.0f, 0.0f, 0.5f));
}

TEST(TamberLegacyShade, OcclusionAndDebugViews) {
    TestTexture ao(float4(0.25f, 1, 1, 1));
    Legacy m;
    m.set(kQuiet).set(kHalfTransparent);  // transparency halves the occlusion
    m.set({{"showAmbientOnly", true}, {"ambientOcclusionMode", 1}});
    m.p<pxs::TextureHandle>("ambientOcclusionTexture") = ao.handle();
    const ShadingState st =
        StateBuilder().attribute(8, float2(0.5f, 0.125f)).attribute(40, float4(0.5f)).build();
    auto view = [&] {
        ShadingState out = st;
        m.s.shade(m.sv, out);
        return out.outColor;
    };
    EXPECT_FLOAT3(view(), float3(1.0f - 0.75f * 0.5f));
    EXPECT_TRUE(ao.lookups.at(0) == (std::array<float, 3>{0.5f, 0.125f, 0})) << "at uv1";
    m.set({{"ambientOcclusionMode", 2}});  // red of "vtxcolor"
    EXPECT_FLOAT3(view(), float3(1.0f - 0.5f * 0.5f));
    m.set({{"usePrecalcAO", false}, {"usingRaytracedAO", true}, {"ambientOcclusionFactor", 0.5f}});
    m.sv.ambientOcclusionValue = float3(0.5f, 1.0f, 0.25f);
    EXPECT_FLOAT3(view(), float3(1.0f - 0.5f * 0.375f)) << "the darkest channel";
    EXPECT_EQ(m.args(vhost::kSvcAmbientOcclusion), (std::vector<float>{0, 0, 0, 0, 0, 1, 0.25f}));

    // Normals view: d = N.I = -0.8 from the front, +0.8 from the back.
    Legacy n;
    n.set({{"showNormalsOnly", true}});
    const float3 i(0, -0.6f, -0.8f);
    auto colour = [&](float3 dir) {
        ShadingState out = along(dir);
        n.s.shade(n.sv, out);
        return out.outColor;
    };
    EXPECT_FLOAT3(colour(i), float3(0.05f, 0.05f, 0.64f));
    EXPECT_FLOAT3(colour(-i), float3(0.8f, 0.8f, 0.0f));
    n.set({{"faceLight", true}});
    EXPECT_FLOAT3(colour(i), float3(0.05f, 0.64f, 0.05f));
    n.set({{"faceForward", true}});
    EXPECT_FLOAT3(colour(-i), float3(0.56f, 0.28f, 0.05f));
    EXPECT_TRUE(n.sv.calls.empty());
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

TEST(TamberLegacyPaths, GreyMaskSkipsColouredMaskContinuesStraight) {
    Legacy m;
    m.p<float3>("maskingColor") = float3(0.5f);
    EXPECT_EQ(m.sample({0.4f}).skipHit, 1);
    // Above 0.5 + 0.5 * 0.8 (the default transparency) the diffuse lobe.
    EXPECT_EQ(m.sample({0.95f, 0.25f, 0.36f}).sampleKind, 1);

    m.p<float3>("maskingColor") = float3(0.5f, 0.2f, 0.2f);
    const ShadingState st = m.sample({0.4f});
    EXPECT_NE(st.skipHit, 1);
    EXPECT_EQ(st.sampleKind, 32);
    EXPECT_FLOAT3(st.sampleValue, float3(1.0f, 0.4f, 0.4f) * kInvPi);
    EXPECT_FLOAT3_EXACT(st.sampleDirection, float3(0, 0, -1));

    // Transparency as mask: folded in before the choice.
    m.p<float3>("maskingColor") = float3(0.0f);
    m.p<float3>("transparencyColor") = float3(0.5f);
    m.p<bool>("transparencyBlocksHighlights") = true;
    EXPECT_EQ(m.sample({0.4f}).skipHit, 1);
    EXPECT_EQ(m.sample({0.6f, 0.25f, 0.36f}).sampleKind, 1) << "then always diffuse";
}

TEST(TamberLegacyPaths, DiffuseLobeFrameAndWeights) {
    Legacy m;
    m.p<int32_t>("transparencyMode") = -1;
    m.p<float3>("diffuseColor") = float3(0.5f, 0.25f, 1.0f);
    // phi = pi/2, r = 0.6: local (0, 0.6, 0.8).
    ShadingState st = m.sample({0.5f, 0.25f, 0.36f});
    EXPECT_EQ(st.sampleKind, 1);
    EXPECT_FLOAT3(st.sampleDirection, float3(0, 0.6f, 0.8f));
    EXPECT_FLOAT_EQ(st.sampleCosine, 0.8f);
    EXPECT_EQ(st.sampleWeight, 3.141593f / std::sqrt(1.0f - 0.36f));
    EXPECT_FLOAT3(st.sampleValue, float3(0.5f, 0.25f, 1.0f) * kInvPi);

    // Seen from below, the frame turns with the normal: n = (0, 0, -1).
    st = m.sample({0.5f, 0.25f, 0.36f},
                  StateBuilder().ray(float3(0, 0, -5), float3(0, 0, 1)).build());
    EXPECT_FLOAT3(st.sampleDirection, float3(0, -0.6f, -0.8f));

    // Any other normal: a unit direction at the sampled cosine on the viewer's side.
    for (float3 n : {float3(1, 2, 2) / 3.0f, float3(-0.6f, 0, 0.8f), float3(0, 0.6f, -0.8f)}) {
        const float3 i = pxs::dot(n, float3(0, 0, -1)) < 0 ? float3(0, 0, -1) : float3(0, 0, 1);
        st = m.sample({0.5f, 0.7f, 0.36f}, StateBuilder().ray(-i, i).hit(float3(), n).build());
        const float3 facing = pxs::dot(n, i) < 0 ? n : -n;
        EXPECT_NEAR(pxs::length(st.sampleDirection), 1.0f, 1e-6f);
        EXPECT_NEAR(pxs::dot(st.sampleDirection, facing), 0.8f, 1e-6f);
    }

    ShadingState closed = StateBuilder().build();
    closed.allowLobe[0] = 0;
    EXPECT_EQ(m.sample({0.5f}, closed).sampleKind, 0);

    // evaluateBsdf: the diffuse value and the cosine against the facing normal.
    st = m.evaluate(0.5f, StateBuilder().sampleDirection(float3(0, 0.6f, 0.8f)).build());
    EXPECT_FLOAT3(st.sampleValue, float3(0.5f, 0.25f, 1.0f) * kInvPi);
    EXPECT_FLOAT_EQ(st.sampleCosine, 0.8f);
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

TEST(TamberLegacyShade, NormalMapFramesFromAttributesOrBoxAxes) {
    // The texel tilts 45 degrees towards -U; the bent normal reaches getLights.
    TestTexture bump(float4(1.0f, 0.5f, 1.0f, 1.0f));
    auto bent = [&](std::initializer_list<Edit> edits, float3 mappingNormal = kUp) {
        Legacy m;
        m.set({{"bumpMode", 1}}).set(edits);
        m.p<pxs::TextureHandle>("bumpTexture") = bump.handle();
        m.shade(StateBuilder()
                    .mapping(float3(), mappingNormal)
                    .attribute(16, float3(1, 0, 0))
                    .attribute(28, float3(0, 1, 0))
                    .build());
        return at(m.args(vhost::kSvcGetLights), 4);
    };
    EXPECT_FLOAT3(bent({}), float3(-kS, 0, kS));
    EXPECT_FLOAT3(bent({{"reverseNormal", true}}), float3(kS, 0, -kS)) << "tangent turns too";
    EXPECT_FLOAT3(bent({{"bumpDepth", 0.0f}}), kUp);
    // Box: an x-facing side projects onto (y, z), so U is the second inverse row.
    EXPECT_FLOAT3(bent({{"bumpMode", 3}}, float3(1, 0, 0)), float3(0, -kS, kS));
}

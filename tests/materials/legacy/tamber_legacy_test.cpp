// TamberLegacy through the test host: registration, the fields each operation
// may write, the channels and shade.
#include <cmath>

#include "src/frame/math.h"
#include "support/alloc_counter.h"
#include "support/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::DeclType;
using vhost::StateBuilder;
using vhost::TestServices;
using vhost::TestTexture;

const float kS = std::sqrt(0.5f);
const std::vector<std::string> kShadeFields{"outColor", "outAlpha"};

pxs::LightNode light(int32_t type, float3 dir, float3 color44, float3 color16 = float3(),
                     float3 visibility = float3(1.0f)) {
    pxs::LightNode n{};
    n.direction = dir;
    n.lightColor = color44;
    n.lightContribution = color16;
    n.lightTransmission = visibility;
    n.type = type;
    return n;
}

struct Legacy {
    vtest::Shader s{"TamberLegacy"};
    TestServices sv;

    template <class T>
    T& p(const char* name) {
        return s.param<T>(name);
    }
    // shade on a copy of `st`; checks that only the colour and alpha were written.
    ShadingState shade(const ShadingState& st = StateBuilder().build()) {
        ShadingState out = st;
        s.shade(sv, out);
        EXPECT_EQ(vhost::changedFields(st, out), kShadeFields);
        return out;
    }
    // Opaque, with every light term silenced except what a test switches on.
    void quiet() {
        p<int32_t>("transparencyMode") = -1;
        p<float3>("diffuseColor") = float3(0.0f);
        p<float3>("specularColor") = float3(0.0f);
        p<float3>("specular2Color") = float3(0.0f);
        p<bool>("usingHDRbuffer") = true;
    }
};

TEST(TamberLegacyParams, DeclarationOrderTypesAndDefaults) {
    vtest::expectDeclarations(
        "TamberLegacy", 15,
        {
            {"shadowColor", DeclType::Float3, "(0, 0, 0)"},
            {"shadowIntensity", DeclType::Float, "1"},
            {"reverseNormal", DeclType::Bool, "false"},
            {"faceForward", DeclType::Bool, "false"},
            {"faceLight", DeclType::Bool, "false"},
            {"showNormalsOnly", DeclType::Bool, "false"},
            {"showAmbientOnly", DeclType::Bool, "false"},
            {"usingRaytracedAO", DeclType::Bool, "false"},
            {"diffuseColor", DeclType::Float3, "(0, 0, 1)"},
            {"diffuseMode", DeclType::Int, "0"},
            {"diffuseTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"diffuseTextureMatrix", DeclType::Matrix4, ""},
            {"diffuseAngularRepeat", DeclType::Float, "1"},
            {"diffuseUVMatrix", DeclType::Matrix3, ""},
            {"diffuseIBLGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"diffuseIBLContrastPivot", DeclType::Float3, "(1, 1, 1)"},
            {"diffuseIBLContrastValue", DeclType::Float, "1"},
            {"diffuseIBLGainSource", DeclType::Int, "0"},
            {"diffuseLightGainValue", DeclType::Float, "1"},
            {"specularColor", DeclType::Float3, "(0.5, 0.5, 0.5)"},
            {"specularREG", DeclType::Float3, "(0.660000026, 0.330000013, 1)"},
            {"specular2REG", DeclType::Float3, "(0.660000026, 0.330000013, 1)"},
            {"specularMode", DeclType::Int, "0"},
            {"specularTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"specularTextureMatrix", DeclType::Matrix4, ""},
            {"specularAngularRepeat", DeclType::Float, "1"},
            {"specular2Color", DeclType::Float3, "(0.5, 0.5, 0.5)"},
            {"specularUVMatrix", DeclType::Matrix3, ""},
            {"specularIBLGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"specularIBLContrastPivot", DeclType::Float3, "(1, 1, 1)"},
            {"specularIBLContrastValue", DeclType::Float, "1"},
            {"specularIBLGainSource", DeclType::Int, "0"},
            {"specularLightGainValue", DeclType::Float, "1"},
            {"specular2LightGainValue", DeclType::Float, "1"},
            {"transparencyColor", DeclType::Float3, "(0.800000012, 0.800000012, 0.800000012)"},
            {"transparencyMode", DeclType::Int, "0"},
            {"transparencyTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"transparencyTextureMatrix", DeclType::Matrix4, ""},
            {"transparencyAngularRepeat", DeclType::Float, "1"},
            {"transparencyInvert", DeclType::Bool, "false"},
            {"transparencyFromDiffuse", DeclType::Bool, "false"},
            {"transparencyUVMatrix", DeclType::Matrix3, ""},
            {"transparencyBlocksHighlights", DeclType::Bool, "false"},
            {"bumpMode", DeclType::Int, "-1"},
            {"bumpTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"bumpTextureMatrix", DeclType::Matrix4, ""},
            {"bumpTextureMatrixInverse", DeclType::Matrix4, ""},
            {"bumpAngularRepeat", DeclType::Float, "1"},
            {"bumpDepth", DeclType::Float, "1"},
            {"bumpUVMatrix", DeclType::Matrix3, ""},
            {"maskingColor", DeclType::Float3, "(0, 0, 0)"},
            {"maskingMode", DeclType::Int, "0"},
            {"maskingTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"maskingTextureMatrix", DeclType::Matrix4, ""},
            {"maskingInvertTexture", DeclType::Bool, "false"},
            {"maskingAngularRepeat", DeclType::Float, "1"},
            {"maskingUVMatrix", DeclType::Matrix3, ""},
            {"maskingFromAlpha", DeclType::Bool, "false"},
            {"reflectivityColor", DeclType::Float3, "(0, 0, 0)"},
            {"useUniformReflectivity", DeclType::Bool, "true"},
            {"fresnel", DeclType::Float4, "(0, 0, 0, 0)"},
            {"reflectLight", DeclType::Bool, "false"},
            {"reflectIBLGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"reflectIBLGainSource", DeclType::Int, "0"},
            {"reflectIBLGainValue", DeclType::Float, "1"},
            {"reflectionCubeIBL", DeclType::TextureCube, "texture(null, -1)"},
            {"useReflectionCubeIBL", DeclType::Bool, "false"},
            {"surfaceRoughness", DeclType::Float, "0"},
            {"refractiveIndex", DeclType::Float, "1"},
            {"simulatedThickness", DeclType::Float, "0"},
            {"IBLDiffMode", DeclType::Int, "-1"},
            {"IBLSpecMode", DeclType::Int, "-1"},
            {"diffuseIBLGainValue", DeclType::Float, "1"},
            {"specularIBLGainValue", DeclType::Float, "1"},
            {"diffuseIBLCube", DeclType::TextureCube, "texture(null, -1)"},
            {"specularIBLCube", DeclType::TextureCube, "texture(null, -1)"},
            {"globalIBLContrastPivot", DeclType::Float3, "(1, 1, 1)"},
            {"globalIBLContrastValue", DeclType::Float, "1"},
            {"globalIBLGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"globalIBLSatValue", DeclType::Float, "1"},
            {"globalIBLGainSource", DeclType::Int, "0"},
            {"globalIBLGainValue", DeclType::Float, "1"},
            {"globalIBLMatrix", DeclType::Matrix3, ""},
            {"diffuseIBLChannelContrastPivot", DeclType::Float3, "(1, 1, 1)"},
            {"diffuseIBLChannelContrastValue", DeclType::Float, "1"},
            {"diffuseIBLChannelGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"diffuseIBLChannelGainSource", DeclType::Int, "0"},
            {"diffuseIBLChannelGainValue", DeclType::Float, "1"},
            {"diffuseIBLChannelSatValue", DeclType::Float, "1"},
            {"specularIBLChannelContrastPivot", DeclType::Float3, "(1, 1, 1)"},
            {"specularIBLChannelContrastValue", DeclType::Float, "1"},
            {"specularIBLChannelGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"specularIBLChannelGainSource", DeclType::Int, "0"},
            {"specularIBLChannelGainValue", DeclType::Float, "1"},
            {"specularIBLChannelSatValue", DeclType::Float, "1"},
            {"reflectIBLChannelContrastPivot", DeclType::Float3, "(1, 1, 1)"},
            {"reflectIBLChannelContrastValue", DeclType::Float, "1"},
            {"reflectIBLChannelGainColor", DeclType::Float3, "(1, 1, 1)"},
            {"reflectIBLChannelGainSource", DeclType::Int, "0"},
            {"reflectIBLChannelGainValue", DeclType::Float, "1"},
            {"reflectIBLChannelSatValue", DeclType::Float, "1"},
            {"ambientOcclusionTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"ambientOcclusionMode", DeclType::Int, "0"},
            {"ambientOcclusionFactor", DeclType::Float, "1"},
            {"ambientOcclusionColor", DeclType::Float3, "(0, 0, 0)"},
            {"usePrecalcAO", DeclType::Bool, "true"},
            {"absorbanceRGB", DeclType::Float3, "(-1, -1, -1)"},
            {"useAlpha", DeclType::Bool, "true"},
            {"globalIllumIntensity", DeclType::Float, "1"},
            {"unlitSurface", DeclType::Bool, "false"},
            {"selfIlluminance", DeclType::Bool, "false"},
            {"usingHDRbuffer", DeclType::Bool, "false"},
            {"triplanarXY", DeclType::Bool, "false"},
            {"uv", DeclType::Attribute, "1@0"},
            {"uv1", DeclType::Attribute, "1@8"},
            {"tangent", DeclType::Attribute, "2@16"},
            {"bitangent", DeclType::Attribute, "2@28"},
            {"vtxcolor", DeclType::Attribute, "3@40"},
        });
}

TEST(TamberLegacy, EachOperationWritesOnlyItsFieldsAndAllocatesNothing) {
    using Fields = std::vector<std::string>;
    const Fields sample{"sampleDirection", "sampleValue", "sampleCosine", "sampleWeight",
                        "sampleKind"};
    const struct {
        const char* what;
        int slot;
        void (*setup)(Legacy&, ShadingState&);
        Fields expected;
    } cases[] = {
        {"shade", vhost::kSlotShade, [](Legacy&, ShadingState&) {}, kShadeFields},
        {"fully masked",
         vhost::kSlotShade,
         [](Legacy& m, ShadingState&) { m.p<float3>("maskingColor") = float3(1.0f); },
         {"skipHit"}},
        {"normals view",
         vhost::kSlotShade,
         [](Legacy& m, ShadingState&) { m.p<bool>("showNormalsOnly") = true; },
         {"outColor"}},
        {"ambient view",
         vhost::kSlotShade,
         [](Legacy& m, ShadingState&) {
             m.p<bool>("showAmbientOnly") = m.p<bool>("usingRaytracedAO") = true;
         },
         {"outColor"}},
        {"shadow",
         vhost::kSlotShadowTransmission,
         [](Legacy&, ShadingState&) {},
         {"outTransmission"}},
        {"evaluate",
         vhost::kSlotEvaluateBsdf,
         [](Legacy&, ShadingState&) {},
         {"sampleValue", "sampleCosine"}},
        {"evaluate masked",
         vhost::kSlotEvaluateBsdf,
         [](Legacy& m, ShadingState&) {
             m.p<float3>("maskingColor") = float3(0.5f);
             m.sv.randoms = {0.25f};
         },
         {"skipHit"}},
        {"sample", vhost::kSlotSampleBsdf, [](Legacy&, ShadingState&) {}, sample},
        {"sample, diffuse not allowed",
         vhost::kSlotSampleBsdf,
         [](Legacy&, ShadingState& st) { st.allowLobe[0] = 0; },
         {"sampleKind"}},
        {"sample masked",
         vhost::kSlotSampleBsdf,
         [](Legacy& m, ShadingState&) {
             m.p<float3>("maskingColor") = float3(0.5f);
             m.sv.randoms = {0.25f};
         },
         {"skipHit"}},
    };
    for (const auto& c : cases) {
        Legacy m;
        m.sv.randoms = {0.9f, 0.5f, 0.5f};  // the diffuse lobe unless a case masks
        ShadingState st = StateBuilder().sampleDirection(float3(0, 0, 1)).build();
        c.setup(m, st);
        const ShadingState before = st;
        m.sv.record = false;
        const auto allocations = vtest::allocationCounts().allocations;
        vhost::callPerHit(m.s.get(), c.slot, &m.sv, &st);
        EXPECT_EQ(vtest::allocationCounts().allocations, allocations) << c.what;
        EXPECT_EQ(vhost::changedFields(before, st), c.expected) << c.what;
    }
}

// ---- channels ---------------------------------------------------------------

// The diffuse colour alone: self-illuminance shows it at full strength.
struct DiffuseProbe : Legacy {
    TestTexture tex{[](const float* c) { return float4(c[0], c[1], 0.0f, 0.25f); }};
    explicit DiffuseProbe(int32_t mode) {
        p<int32_t>("diffuseMode") = mode;
        p<pxs::TextureHandle>("diffuseTexture") = tex.handle();
        p<bool>("selfIlluminance") = p<bool>("usingHDRbuffer") = true;
        p<int32_t>("transparencyMode") = -1;
    }
    float3 at(float3 point, float3 normal, float2 uv = float2()) {
        return shade(StateBuilder().mapping(point, normal).attribute(0, uv).build()).outColor;
    }
};

TEST(TamberLegacyChannels, EveryModeReadsItsCoordinates) {
    const float3 q(0.25f, 0.5f, 2.0f);
    const float3 up(0, 0, 1);
    EXPECT_FLOAT3_EXACT(DiffuseProbe(-1).at(q, up), float3(0.0f));
    EXPECT_FLOAT3_EXACT(DiffuseProbe(0).at(q, up), float3(0, 0, 1));
    EXPECT_FLOAT3_EXACT(DiffuseProbe(7).at(q, up), float3(0.0f)) << "unknown modes are off";

    DiffuseProbe uv(1);
    uv.p<pxs::matrix3>("diffuseUVMatrix") = {{2, 0, 0, 0, 1, 0, 0.5f, 0, 1}};
    EXPECT_FLOAT3_EXACT(uv.at(q, up, float2(0.25f, 0.75f)), float3(1.0f, 0.75f, 0));
    EXPECT_FLOAT3_EXACT(DiffuseProbe(2).at(q, up), float3(0.25f, 0.5f, 0));
    EXPECT_FLOAT3_EXACT(DiffuseProbe(3).at(q, up), float3(0.25f, 0.5f, 0));
    DiffuseProbe cyl(4);
    cyl.p<float>("diffuseAngularRepeat") = 2.0f;
    // atan2(-0.25, 0) = -pi/2: s = (-0.25 + 0.5) * 2.
    EXPECT_TRUE(vtest::near3(cyl.at(q, up), float3(0.5f, 2.0f, 0), 1e-6f));
}

TEST(TamberLegacyChannels, BoxAxesWithAndWithoutTriplanarXY) {
    const float3 q(1, 2, 3);
    const struct {
        float3 normal;
        float3 plain, triplanar;
    } cases[] = {
        {float3(-0.9f, 0.3f, 0.3f), float3(2, 3, 0), float3(3, 2, 0)},  // x dominant
        {float3(0.3f, 0.9f, 0.3f), float3(1, 3, 0), float3(1, 3, 0)},   // y dominant
        {float3(0.3f, 0.3f, -0.9f), float3(1, 2, 0), float3(1, 2, 0)},  // z dominant
        {float3(0.5f, 0.5f, 0.5f), float3(1, 3, 0), float3(1, 2, 0)},   // three-way tie
    };
    for (const auto& c : cases) {
        DiffuseProbe box(3);
        box.p<bool>("reverseNormal") = true;  // the sign of the normal never matters
        EXPECT_FLOAT3_EXACT(box.at(q, c.normal), c.plain);
        box.p<bool>("triplanarXY") = true;
        EXPECT_FLOAT3_EXACT(box.at(q, c.normal), c.triplanar);
    }
}

TEST(TamberLegacyChannels, TransparencyFromDiffuseAlphaAndInversion) {
    // With no mask and no reflectivity the shadow transmission is T itself.
    auto transparency = [](void (*setup)(Legacy&)) {
        Legacy m;
        TestTexture tex(float4(0.5f, 0.5f, 0.5f, 0.25f));
        m.p<int32_t>("diffuseMode") = 1;
        m.p<pxs::TextureHandle>("diffuseTexture") = tex.handle();
        setup(m);
        ShadingState st = StateBuilder().build();
        m.s.shadowTransmission(m.sv, st);
        return st.outTransmission;
    };
    EXPECT_FLOAT3_EXACT(transparency([](Legacy&) {}), float3(0.8f)) << "own channel, constant";
    EXPECT_FLOAT3_EXACT(transparency([](Legacy& m) { m.p<bool>("transparencyInvert") = true; }),
                        float3(1.0f - 0.8f))
        << "the invert switch applies to the constant too";
    EXPECT_FLOAT3_EXACT(
        transparency([](Legacy& m) { m.p<bool>("transparencyFromDiffuse") = true; }), float3(0.75f))
        << "1 - diffuse alpha";
    EXPECT_FLOAT3_EXACT(transparency([](Legacy& m) {
                            m.p<bool>("transparencyFromDiffuse") = true;
                            m.p<bool>("transparencyInvert") = true;
                        }),
                        float3(0.25f));
}

TEST(TamberLegacyChannels, MaskFromAlphaInvertAndPlanarSlab) {
    Legacy m;
    TestTexture tex(float4(0.2f, 0.3f, 0.4f, 1.0f));
    m.p<int32_t>("maskingMode") = 2;
    m.p<pxs::TextureHandle>("maskingTexture") = tex.handle();
    m.p<bool>("maskingFromAlpha") = true;
    ShadingState st = StateBuilder().build();
    const ShadingState before = st;
    m.s.shade(m.sv, st);
    EXPECT_EQ(st.skipHit, 1) << "alpha 1 masks fully";

    m.p<bool>("maskingInvertTexture") = true;  // alpha 1 inverted: kept
    EXPECT_EQ(m.shade(before).outAlpha, 1.0f);
    // Outside the slab -1 <= depth <= 1 a planar mask removes the surface.
    st = StateBuilder().mapping(float3(0, 0, 1.5f), float3(0, 0, 1)).build();
    m.s.shade(m.sv, st);
    EXPECT_EQ(st.skipHit, 1);
    // A mask just short of (1, 1, 1) keeps the hit.
    m.p<int32_t>("maskingMode") = 0;
    m.p<float3>("maskingColor") = float3(0.999f, 1, 1);
    EXPECT_EQ(m.shade(before).skipHit, before.skipHit);
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
    const auto lights = m.sv.callsTo(vhost::kSvcGetLights);
    ASSERT_EQ(lights.size(), 1u);
    EXPECT_EQ(lights[0].args, (std::vector<float>{-1024, 0, 0, 0, 0, 0, 1}));
    EXPECT_NEAR(m.sv.callsTo(vhost::kSvcGlobalIllumination)[0].args[6], 0.2f, 1e-6f);

    // Opaque: the blue diffuse colour does not tint the indirect light.
    m.p<int32_t>("transparencyMode") = -1;
    m.p<float>("globalIllumIntensity") = 1.5f;
    m.sv.clear();
    st = m.shade();
    EXPECT_FLOAT3(st.outColor, float3(0.3f, 0.6f, 0.9f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(m.sv.callsTo(vhost::kSvcGlobalIllumination)[0].args[6], 1.0f) << "weight max(Dc)";
}

TEST(TamberLegacyShade, LightRecordsSkippedTintedAndPlain) {
    Legacy m;
    m.p<int32_t>("transparencyMode") = -1;
    const float3 up(0, 0, 1);
    m.sv.setLights({light(pxs::kLightSkip, up, float3(9.0f), float3(9.0f)),
                    light(2, up, float3(0.0f), float3(9.0f))});
    EXPECT_FLOAT3_EXACT(m.shade().outColor, float3(0.0f));

    // Head-on: the diffuse term Dc*Lc, and both highlights at reflectance 0.66
    // (first times the specular colour 0.5, second times specular2Color 0.5).
    m.sv.setLights({light(2, up, float3(1.0f), float3(0.5f))});
    EXPECT_FLOAT3(m.shade().outColor, float3(0.33f, 0.33f, 0.83f));

    // A shadow-tinted light reaches only the second highlight by default;
    // 75% shadowed towards shadowColor 0.2: Lc = 0.75 * 0.2 * 0.5 + 0.25 * 0.5.
    m.p<float3>("shadowColor") = float3(0.2f);
    m.p<float>("specular2LightGainValue") = 2.0f;
    m.sv.setLights({light(1, up, float3(0.5f), float3(9.0f), float3(0.25f))});
    EXPECT_FLOAT3(m.shade().outColor, float3(0.66f * 0.2f * 0.5f * 2.0f));
    m.p<bool>("unlitSurface") = true;
    m.sv.clear();
    EXPECT_FLOAT3_EXACT(m.shade().outColor, float3(0.0f));
    EXPECT_EQ(m.sv.count(vhost::kSvcGetLights), 0);
}

TEST(TamberLegacyShade, HighlightGeometryAndCubicFresnel) {
    Legacy m;
    m.quiet();
    m.p<float3>("specularColor") = float3(1.0f);
    const float f0 = 0.1f, a = 0.4f;
    m.p<float3>("specularREG") = float3(f0, a, 7.0f);
    const float3 n(0, 0, 1);
    const float3 view = pxs::normalize(float3(0.5f, 0, -1));
    // Mirror direction, off-plane, grazing light (masked), light overhead (nl > nv),
    // and a grazing view (nl > nv with a small nv).
    const struct {
        float3 i, l;
    } cases[] = {
        {view, pxs::normalize(float3(0.5f, 0, 1))},
        {view, pxs::normalize(float3(0.2f, 0.3f, 1))},
        {view, pxs::normalize(float3(-1, 0, 0.05f))},
        {view, n},
        {pxs::normalize(float3(1, 0, -0.1f)), pxs::normalize(float3(-1, 0, 0.3f))},
    };
    for (const auto& c : cases) {
        m.sv.setLights({light(2, c.l, float3(1.0f), float3(1.0f))});
        const float3 h = pxs::normalize(c.l - c.i);
        const float nh = pxs::dot(n, h), vh = pxs::dot(h, -c.i);
        const float nl = pxs::dot(n, c.l), nv = -pxs::dot(n, c.i);
        const float g = std::fmin(1.0f, std::fmin(2 * nh * nv / vh, 2 * nh * nl / vh)) / nv;
        const float d = std::pow(a * a / (nh * nh * (a * a - 1) + 1), 2.0f);
        const float fresnel = f0 + (1 - f0) * std::pow(1 - vh, 3.0f);
        const float got = m.shade(StateBuilder().ray(-c.i, c.i).build()).outColor.x;
        EXPECT_NEAR(got, g * d * fresnel, 2e-5f * g * d * fresnel) << c.l.x << " " << c.i.x;
    }
    // No highlight for a view from behind or exactly edge-on.
    m.sv.setLights({light(2, n, float3(1.0f), float3(1.0f))});
    for (float3 i : {float3(0, 0, 1), float3(1, 0, 0)}) {
        EXPECT_FLOAT3_EXACT(m.shade(StateBuilder().ray(-i, i).build()).outColor, float3(0.0f));
    }
}

TEST(TamberLegacyShade, ImageBasedDiffuseAndSpecularModes) {
    TestTexture diffuseCube(float4(0.2f, 0.2f, 0.2f, 1), 3), specularCube(float4(0.3f), 3);
    const float diffuse[] = {0.55f, 0.45f, 0.15f, 0.1f};  // modes 0, 1, 2, -1
    const float specular[] = {0.546f, 0.396f, 0.15f, 0.0f};
    const int32_t modes[] = {0, 1, 2, -1};
    for (int di = 0; di < 4; ++di) {
        for (int si = 0; si < 4; ++si) {
            Legacy m;
            m.quiet();
            m.p<float3>("diffuseColor") = m.p<float3>("specularColor") = float3(0.5f);
            m.p<pxs::TextureHandle>("diffuseIBLCube") = diffuseCube.handle();
            m.p<pxs::TextureHandle>("specularIBLCube") = specularCube.handle();
            m.p<float>("diffuseLightGainValue") = 2.0f;
            m.p<float>("specularLightGainValue") = 3.0f;
            m.p<int32_t>("IBLDiffMode") = modes[di];
            m.p<int32_t>("IBLSpecMode") = modes[si];
            m.sv.globalIlluminationValue = float3(0.1f);
            // Tinted, unshadowed, head-on: Da = 0.4, S1a = 0.66 * 0.4.
            m.sv.setLights({light(1, float3(0, 0, 1), float3(0.4f))});
            EXPECT_FLOAT3(m.shade().outColor, float3(diffuse[di] + specular[si]))
                << "IBLDiffMode " << modes[di] << ", IBLSpecMode " << modes[si];
        }
    }
    // Looked up only in modes 0 and 2; the normal (0, 0, 1) and its mirror
    // direction turn into the cubes' y-up frame.
    EXPECT_EQ(diffuseCube.lookups.size(), 8u);
    EXPECT_EQ(specularCube.lookups.size(), 8u);
    EXPECT_TRUE(diffuseCube.lookups[0] == (std::array<float, 3>{0, 1, 0}));
    EXPECT_TRUE(specularCube.lookups[0] == (std::array<float, 3>{0, 1, 0}));
}

TEST(TamberLegacyShade, EachGradedTermReadsItsOwnStages) {
    const float3 cube(0.1f, 0.2f, 0.4f);
    auto lum = [](float3 v) { return 0.2125f * v.x + 0.7154f * v.y + 0.0721f * v.z; };
    // v * gain, then saturated by s about its luminance.
    auto graded = [&](float gain, float s) {
        const float3 v = cube * gain;
        return v * s + float3((1 - s) * lum(v));
    };
    const struct {
        const char* term;
        float3 expected;
    } cases[] = {{"diffuse", graded(2 * 3 * 5, 0.5f * 2)},
                 {"specular", graded(7 * 3 * 13, 0.25f * 2)},
                 {"reflect", graded(11 * 3 * 17, 1.5f * 2)}};
    for (const auto& c : cases) {
        Legacy m;
        m.quiet();
        TestTexture tex(float4(cube, 1.0f), 3);
        for (const char* name : {"diffuseIBLCube", "specularIBLCube", "reflectionCubeIBL"}) {
            m.p<pxs::TextureHandle>(name) = tex.handle();
        }
        m.p<float>("diffuseIBLGainValue") = 2;
        m.p<float>("diffuseIBLChannelGainValue") = 5;
        m.p<float>("diffuseIBLChannelSatValue") = 0.5f;
        m.p<float>("specularIBLGainValue") = 7;
        m.p<float>("specularIBLChannelGainValue") = 13;
        m.p<float>("specularIBLChannelSatValue") = 0.25f;
        m.p<float>("reflectIBLGainValue") = 11;
        m.p<float>("reflectIBLChannelGainValue") = 17;
        m.p<float>("reflectIBLChannelSatValue") = 1.5f;
        m.p<float>("globalIBLGainValue") = 3;
        m.p<float>("globalIBLSatValue") = 2;
        const std::string term = c.term;
        if (term == "diffuse") {
            m.p<float3>("diffuseColor") = float3(1.0f);
            m.p<int32_t>("IBLDiffMode") = 2;
        } else if (term == "specular") {
            m.p<float3>("specularColor") = float3(1.0f);
            m.p<int32_t>("IBLSpecMode") = 2;
        } else {
            m.p<float3>("reflectivityColor") = float3(1.0f);
            m.p<bool>("useReflectionCubeIBL") = true;
        }
        EXPECT_TRUE(vtest::near3(m.shade().outColor, c.expected, 2e-4f)) << c.term;
    }
}

TEST(TamberLegacyShade, SolidRefractionAbsorptionAndAlpha) {
    Legacy m;
    m.quiet();
    m.p<int32_t>("transparencyMode") = 0;
    m.p<float3>("transparencyColor") = float3(0.5f);
    m.p<float>("refractiveIndex") = 1.5f;
    m.p<float>("surfaceRoughness") = 0.3f;
    m.sv.globalIlluminationValue = float3(0.2f);
    m.sv.glossyTransmissionValue = float3(0.6f);
    m.sv.glossyTransmissionAlpha = 0.2f;

    // Entering at 45 degrees: bent towards -N by Snell's law, no absorption.
    const float3 i(kS, 0, -kS);
    ShadingState st = m.shade(StateBuilder().ray(-5.0f * i, i).build());
    EXPECT_FLOAT3(st.outColor, float3(0.2f * 0.5f + 0.6f * 0.5f));
    EXPECT_FLOAT_EQ(st.outAlpha, 0.2f * 0.5f + 0.5f);
    const float sinT = kS / 1.5f;
    const std::vector<float> args = m.sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args;
    ASSERT_EQ(args.size(), 8u);
    EXPECT_TRUE(vtest::near3(float3(args[3], args[4], args[5]),
                             float3(sinT, 0, -std::sqrt(1 - sinT * sinT)), 1e-6f));
    EXPECT_EQ(args[6], 0.3f);
    EXPECT_EQ(args[7], 0.5f);

    // Leaving head-on after 2 units inside: everything is absorbed per channel,
    // and the alpha follows the strongest remaining channel.
    m.p<float>("refractiveIndex") = 1.0f;
    m.p<float3>("absorbanceRGB") = float3(0.5f, -1.0f, 0.0f);
    const ShadingState leaving = StateBuilder().ray(float3(0, 0, -2), float3(0, 0, 1)).build();
    st = m.shade(leaving);
    EXPECT_FLOAT3(st.outColor, float3(0.4f * std::exp(-1.0f), 0.0f, 0.4f));
    EXPECT_FLOAT_EQ(st.outAlpha, 0.6f);
    m.p<float3>("absorbanceRGB") = float3(0.5f);
    const float a = std::exp(-1.0f);
    EXPECT_FLOAT_EQ(m.shade(leaving).outAlpha, ((1 - a) + a * 0.2f) * 0.5f + 0.5f);
}

TEST(TamberLegacyShade, ThinSlabContinuesFromItsFarSide) {
    Legacy m;
    m.quiet();
    m.p<int32_t>("transparencyMode") = 0;
    m.p<float3>("transparencyColor") = float3(0.5f);
    m.p<float>("simulatedThickness") = 0.1f;
    m.p<float3>("absorbanceRGB") = float3(1.0f);
    m.sv.globalIlluminationValue = float3(0.2f);
    m.sv.glossyTransmissionValue = float3(0.6f);
    m.sv.glossyTransmissionAlpha = 0.2f;
    const float3 i(kS, 0, -kS);
    const ShadingState oblique = StateBuilder().ray(-5.0f * i, i).build();

    ShadingState st = m.shade(oblique);
    const float a = std::exp(-0.1f / kS);  // the slanted path through the slab
    EXPECT_FLOAT3(st.outColor, float3(0.2f * 0.5f + a * 0.6f * 0.5f));
    EXPECT_FLOAT_EQ(st.outAlpha, ((1 - a) + 0.2f * a) * 0.5f + 0.5f);
    std::vector<float> args = m.sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args;
    EXPECT_TRUE(vtest::near3(float3(args[0], args[1], args[2]), float3(0.1f, 0, -0.1f), 1e-6f));
    EXPECT_TRUE(vtest::near3(float3(args[3], args[4], args[5]), i)) << "keeps the direction";

    // Refracting: the exit point is on the far side along the bent ray.
    m.p<float>("refractiveIndex") = 1.5f;
    m.sv.clear();
    m.shade(oblique);
    args = m.sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args;
    const float sinT = kS / 1.5f;
    EXPECT_NEAR(args[2], -0.1f, 1e-6f);
    EXPECT_NEAR(args[0], 0.1f * sinT / std::sqrt(1 - sinT * sinT), 1e-6f);
    EXPECT_TRUE(vtest::near3(float3(args[3], args[4], args[5]), i));

    // Edge-on the path never crosses the slab: it continues from the hit.
    m.sv.clear();
    st = m.shade(StateBuilder().ray(float3(-5, 0, 0), float3(1, 0, 0)).build());
    args = m.sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args;
    EXPECT_TRUE(vtest::near3(float3(args[0], args[1], args[2]), float3(0.0f)));
    EXPECT_TRUE(std::isfinite(st.outColor.x) && std::isfinite(st.outAlpha));
}

TEST(TamberLegacyShade, TotalInternalReflectionReflectsTheTransmittedShare) {
    Legacy m;
    m.quiet();
    m.p<int32_t>("transparencyMode") = 0;
    m.p<float3>("transparencyColor") = float3(0.5f);
    m.p<float>("refractiveIndex") = 1.5f;
    m.p<float3>("absorbanceRGB") = float3(0.25f);
    m.sv.globalIlluminationValue = float3(0.2f);
    m.sv.glossyReflectionValue = float3(0.8f);
    // Leaving the object 63 degrees off the normal, 2 units after entering it.
    const float3 i = pxs::normalize(float3(1, 0, 0.5f));
    const ShadingState st = m.shade(StateBuilder().ray(-2.0f * i, i).build());
    EXPECT_EQ(m.sv.count(vhost::kSvcTraceGlossyTransmission), 0);
    const auto refl = m.sv.callsTo(vhost::kSvcTraceGlossyReflection);
    ASSERT_EQ(refl.size(), 1u);
    EXPECT_TRUE(vtest::near3(float3(refl[0].args[3], refl[0].args[4], refl[0].args[5]),
                             float3(i.x, 0, -i.z), 1e-6f));
    EXPECT_EQ(refl[0].args[7], 0.5f) << "reflectivity became T";
    EXPECT_FLOAT3(st.outColor, float3((0.2f + 0.8f * 0.5f) * std::exp(-0.5f)));
    EXPECT_EQ(st.outAlpha, 1.0f);

    // An index below 1 refracts a head-on ray straight through, at unit length.
    m.p<float>("refractiveIndex") = 0.8f;
    m.sv.clear();
    m.shade();
    const auto args = m.sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args;
    EXPECT_TRUE(vtest::near3(float3(args[3], args[4], args[5]), float3(0, 0, -1), 1e-6f));
}

TEST(TamberLegacyShade, ReflectionFromTraceOrCubeAndReflectLight) {
    Legacy m;
    m.quiet();
    const float3 r(0.25f, 0.5f, 0.25f);
    m.p<float3>("reflectivityColor") = r;
    m.p<float>("surfaceRoughness") = 0.3f;
    m.p<float3>("globalIBLContrastPivot") = float3(0.0f);
    m.p<float>("globalIBLContrastValue") = 0.5f;  // halves F, and the trace's importance
    m.sv.glossyReflectionValue = float3(0.8f, 0.4f, 0.2f);
    const float3 i(kS, 0, -kS);
    const ShadingState oblique = StateBuilder().ray(-5.0f * i, i).build();
    const float3 reflected = 0.5f * float3(0.8f, 0.4f, 0.2f) * r;

    EXPECT_FLOAT3(m.shade(oblique).outColor, reflected);
    const auto refl = m.sv.callsTo(vhost::kSvcTraceGlossyReflection);
    ASSERT_EQ(refl.size(), 1u);
    EXPECT_EQ(refl[0].args, (std::vector<float>{0, 0, 0, i.x, 0, kS, 0.3f, 0.25f}));

    TestTexture cube(float4(0.8f, 0.4f, 0.2f, 1), 3);
    m.p<pxs::TextureHandle>("reflectionCubeIBL") = cube.handle();
    m.p<bool>("useReflectionCubeIBL") = true;
    m.sv.clear();
    EXPECT_FLOAT3(m.shade(oblique).outColor, reflected);
    EXPECT_EQ(m.sv.count(vhost::kSvcTraceGlossyReflection), 0);
    ASSERT_EQ(cube.lookups.size(), 1u);
    EXPECT_TRUE(vtest::near3(float3(cube.lookups[0][0], cube.lookups[0][1], cube.lookups[0][2]),
                             float3(kS, kS, 0), 1e-6f));

    // reflectLight: the other terms give up the reflected share.
    m.p<bool>("reflectLight") = true;
    m.p<float3>("diffuseColor") = float3(1.0f);
    m.sv.globalIlluminationValue = float3(0.4f);
    m.sv.clear();
    EXPECT_FLOAT3(m.shade(oblique).outColor, 0.4f * (float3(1.0f) - r) + reflected);
    EXPECT_EQ(m.sv.callsTo(vhost::kSvcGlobalIllumination)[0].args[6], 0.75f);
}

TEST(TamberLegacyShade, SecondHighlightRules) {
    const float3 p2(0.5f, 1.0f, 0.5f);
    const float3 up(0, 0, 1);
    // One tinted and one plain light head-on: S2a = S2b = 0.66; gain 2 on S2a.
    auto second = [&](void (*setup)(Legacy&)) {
        Legacy m;
        m.quiet();
        m.p<float3>("specular2Color") = p2;
        m.p<float>("specular2LightGainValue") = 2.0f;
        m.sv.setLights({light(1, up, float3(1.0f)), light(2, up, float3(1.0f), float3(1.0f))});
        setup(m);
        return m.shade().outColor;
    };
    const float3 both = 0.66f * 3.0f * p2;
    EXPECT_FLOAT3(second([](Legacy&) {}), both);
    EXPECT_FLOAT3(second([](Legacy& m) { m.p<int32_t>("IBLSpecMode") = 2; }), 0.66f * p2);
    EXPECT_FLOAT3(second([](Legacy& m) {
                      m.p<bool>("reflectLight") = true;
                      m.p<float3>("reflectivityColor") = float3(0.5f);
                  }),
                  0.5f * both);
    EXPECT_FLOAT3(second([](Legacy& m) { m.p<bool>("reflectLight") = true; }), both)
        << "no reflectivity at all: plain";
    EXPECT_FLOAT3(second([](Legacy& m) {
                      m.p<bool>("reflectLight") = true;
                      m.p<bool>("useUniformReflectivity") = false;
                      m.p<float4>("fresnel") = float4(0, 0, 1, 1);
                  }),
                  float3(0.0f))
        << "a view-dependent reflectivity of 0 scales them away";
}

TEST(TamberLegacyShade, HighlightOpacityMaskPassThroughAndClamping) {
    Legacy m;
    m.quiet();
    m.p<int32_t>("transparencyMode") = 0;
    m.p<float3>("transparencyColor") = float3(0.5f);
    m.sv.glossyTransmissionAlpha = 0.0f;
    m.sv.globalIlluminationValue = float3(0.4f);
    EXPECT_FLOAT_EQ(m.shade().outAlpha, 0.5f);

    // A highlight of 0.66 on Y = 0.2 + 0.66: alpha moves towards 1 by S / max(Y).
    m.p<float3>("specularColor") = float3(1.0f);
    m.sv.setLights({light(2, float3(0, 0, 1), float3(1.0f), float3(1.0f))});
    const float x = 0.66f / 0.86f;
    EXPECT_NEAR(m.shade().outAlpha, (1 - x) * 0.5f + x, 1e-6f);
    m.sv.setLights({});

    // A coloured mask mixes in what is behind, per channel.
    m.p<float3>("maskingColor") = float3(0.5f, 0.25f, 0.0f);
    m.sv.transmissionValue = float3(1.0f);
    ShadingState st = m.shade();
    EXPECT_FLOAT3(st.outColor, float3(0.6f, 0.4f, 0.2f));
    EXPECT_FLOAT_EQ(st.outAlpha, 0.75f);
    EXPECT_EQ(m.sv.callsTo(vhost::kSvcTraceTransmission)[0].args[6], 0.5f);
    // Transparency as mask: folded in, and the colour keeps a uniform share.
    m.p<bool>("transparencyBlocksHighlights") = true;
    m.sv.clear();
    st = m.shade();
    EXPECT_FLOAT3(st.outColor, float3(0.1f + 0.75f, 0.1f + 0.625f, 0.1f + 0.5f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(m.sv.count(vhost::kSvcTraceGlossyTransmission), 0);

    // Clamped unless the HDR switch is on; the alpha always.
    Legacy c;
    c.quiet();
    c.p<int32_t>("transparencyMode") = 0;
    c.p<float3>("transparencyColor") = float3(0.5f);
    c.sv.glossyTransmissionValue = float3(4.0f, -2.0f, 1.0f);
    c.sv.glossyTransmissionAlpha = 3.0f;
    st = c.shade();
    EXPECT_FLOAT3_EXACT(st.outColor, float3(2.0f, -1.0f, 0.5f));
    EXPECT_EQ(st.outAlpha, 1.0f);
    c.p<bool>("usingHDRbuffer") = false;
    EXPECT_FLOAT3_EXACT(c.shade().outColor, float3(1.0f, 0.0f, 0.5f));
}

TEST(TamberLegacyShade, OcclusionAndDebugViews) {
    Legacy m;
    m.quiet();
    m.p<int32_t>("transparencyMode") = 0;
    m.p<float3>("transparencyColor") = float3(0.5f);  // halves the occlusion
    m.p<bool>("showAmbientOnly") = true;
    TestTexture ao(float4(0.25f, 1, 1, 1));
    m.p<pxs::TextureHandle>("ambientOcclusionTexture") = ao.handle();
    m.p<int32_t>("ambientOcclusionMode") = 1;
    const ShadingState st = StateBuilder()
                                .attribute(8, float2(0.5f, 0.125f))
                                .attribute(40, float4(0.5f, 0, 0, 0))
                                .build();
    auto view = [&] {
        ShadingState out = st;
        m.s.shade(m.sv, out);
        EXPECT_EQ(vhost::changedFields(st, out), std::vector<std::string>{"outColor"});
        return out.outColor;
    };
    EXPECT_FLOAT3(view(), float3(1.0f - 0.75f * 0.5f));
    EXPECT_TRUE(ao.lookups[0] == (std::array<float, 3>{0.5f, 0.125f, 0})) << "at uv1";
    m.p<int32_t>("ambientOcclusionMode") = 2;  // red of "vtxcolor"
    EXPECT_FLOAT3(view(), float3(1.0f - 0.5f * 0.5f));

    m.p<bool>("usePrecalcAO") = false;
    m.p<bool>("usingRaytracedAO") = true;
    m.p<float>("ambientOcclusionFactor") = 0.5f;
    m.sv.ambientOcclusionValue = float3(0.5f, 1.0f, 0.25f);
    EXPECT_FLOAT3(view(), float3(1.0f - 0.5f * 0.375f));  // the darkest channel
    EXPECT_EQ(m.sv.callsTo(vhost::kSvcAmbientOcclusion)[0].args,
              (std::vector<float>{0, 0, 0, 0, 0, 1, 0.25f}));

    // Normals view: d = N.I = -0.8 seen from the front, +0.8 from the back.
    Legacy n;
    n.p<bool>("showNormalsOnly") = true;
    const float3 i(0, -0.6f, -0.8f);
    auto colour = [&](float3 dir) {
        ShadingState out = StateBuilder().ray(-dir, dir).build();
        n.s.shade(n.sv, out);
        return out.outColor;
    };
    EXPECT_FLOAT3(colour(i), float3(0.05f, 0.05f, 0.64f));
    EXPECT_FLOAT3(colour(-i), float3(0.8f, 0.8f, 0.0f));
    n.p<bool>("faceLight") = true;
    EXPECT_FLOAT3(colour(i), float3(0.05f, 0.64f, 0.05f));
    n.p<bool>("faceForward") = true;
    EXPECT_FLOAT3(colour(-i), float3(0.56f, 0.28f, 0.05f));
    EXPECT_TRUE(n.sv.calls.empty());
}

}  // namespace

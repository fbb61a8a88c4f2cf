// corvid_Mtl_Metal through the test host. (Copying every field is covered for every
// class by the contract tests; the patterns themselves by the unit tests.)
#include <cmath>
#include <random>

#include "src/frame/math.h"
#include "testkit/alloc_counter.h"
#include "testkit/chi2.h"
#include "testkit/harness.h"

namespace {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;
using vhost::TestServices;
using vtest::expectArgs;
using vtest::Fields;
using vtest::light;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

float3 at(float degrees) {
    return vtest::viewAt(degrees);
}

ShadingState hitAt(float2 uv, float3 view = at(30)) {
    return viewing(view).attribute(48, uv).build();
}

// A matte metal: no highlight or reflection, so one head-on light of factor 1 and
// contribution 1 shows the diffuse colour.
Shader matteMetal(float3 diffuse) {
    Shader s("corvid_Mtl_Metal");
    s.param<float3>("u_diffuseColor") = diffuse;
    s.set({{"u_brdf00Reflectivity", 0.0f}, {"u_brdf90Reflectivity", 0.0f}});
    return s;
}

float3 shadeLit(const Shader& s, TestServices& sv, ShadingState st) {
    sv.setLights({light(float3(0, 0, 1), 1.0f, float3(1))});
    s.shade(sv, st);
    return st.outColor;
}

TEST(MetalParams, DeclarationOrderAndDefaults) {
    vtest::expectDeclarations("corvid_Mtl_Metal", 15, vtest::blockDeclarations(R"(
        u_flecksEnable b; u_flecksDiffuseColor c (1, 1, 1); u_flecksSpecularColor c (1, 1, 1);
        u_flecksSize f 0.5; u_flecksDensity f 5.5;
        u_patternEnable b; u_patternMap t; u_patternTransform m; u_patternAmount f 1;
        u_diffuseMapEnable b; u_diffuseMap t; u_diffuseColor c (0, 0, 0); u_diffuseTransform m;
        u_diffuseWeight f 0.5;
        u_specularMapEnable b; u_specularMap t; u_specularColor c (1, 1, 1);
        u_specularTransform m;
        u_roughMapEnable b; u_roughMap t; u_roughValue f 0.100000001; u_roughTransform m;
        u_glossyValueU f 0.100000001; u_glossyValueV f 0.100000001;
        u_anisotropyMapEnable b; u_anisotropyMap t; u_anisotropyValue f 1;
        u_anisotropyTransform m;
        u_anisoRotationMapEnable b; u_anisoRotationMap t; u_anisoRotationValue f 0;
        u_anisoRotationTransform m;
        u_brdfCurvePower f 5; u_brdf00Reflectivity f 0.800000012; u_brdf90Reflectivity f 1;
        u_cutoutsSwitcher i; u_cutoutMap t; u_cutoutTransform m; u_cutoutsCenter f 0.5;
        u_cutoutsSize f 1; u_cutoutsSpace f 1; u_uvScale f 1; u_otherScale f 1;
        u_uvDefScale f 1; u_cutoutAmount f 1; u_cosineUsesBump b; u_bumpSwitcher i;
        u_metalPatternScale f 1; u_reflectSwitcher i; u_anisoSwitcher i; u_anisoRotSwitcher i;
        u_anisoColor c (0, 0, 0); u_reflectColor c (1, 1, 1); u_reflMapAmount f 1;
        u_anisoMapAmount f 1; u_anisorotMapAmount f 1;
        u_brushMapEnable b; u_brushMap t; u_brushTransform m;
        u_breakMapEnable b; u_breakMap t; u_breakTransform m;
        u_bumpMapColorEnable b; u_bumpMapColor t; u_bumpMapColorTransform m;
        u_noiseanodized_tiling c (1, 1, 1); u_bumpMapAmount f 1;
        u_patinaEnable b; u_patinaMap t; u_patinaColor c (0.25, 0.5, 0.400000006);
        u_patinaGlossy f 0.400000006; u_patinaBrdf00Reflectivity f 1;
        u_reflectionHighlightOnly b; n_patinaPercent f 0;
        bitangent a 2@24; tangent a 2@36; uv a 1@48)"));
}

// evaluateBsdf of a metal for a fixed pair of directions.
float3 evaluated(const Shader& s, TestServices& sv) {
    ShadingState st = viewing(at(40)).attribute(48, float2(0.3f, 0.7f)).build();
    st.sampleDirection = unit(float3(-0.2f, 0.3f, 0.9f));
    s.evaluateBsdf(sv, st);
    return st.sampleValue;
}

// A host noise that puts the patina's sine wave at 0.9 everywhere: the top tenth.
void highPatinaNoise(TestServices& sv) {
    const float n = std::asin(0.8f) / (1.0f + 0.7f + 0.49f + 0.343f);
    sv.noise2Function = [n](float2) { return n; };
}

TEST(MetalPatina, CoverageBlendsColourRoughnessAndReflectivity) {
    auto metal = [](float3 diffuse, float rough, float f0) {
        Shader s("corvid_Mtl_Metal");
        s.param<float3>("u_diffuseColor") = diffuse;
        s.param<float>("u_roughValue") = rough;
        s.param<float>("u_anisotropyValue") = 0.5f;
        s.param<float>("u_brdf00Reflectivity") = f0;
        return s;
    };
    const float3 copper(0.8f, 0.4f, 0.2f), green(0.2f, 0.6f, 0.4f);
    Shader plain = metal(copper, 0.2f, 0.6f);
    Shader patina = metal(copper, 0.2f, 0.6f);
    patina.param<bool>("u_patinaEnable") = true;
    patina.param<float3>("u_patinaColor") = green;
    patina.set({{"u_patinaGlossy", 0.4f}, {"u_patinaBrdf00Reflectivity", 0.9f}});
    TestServices sv;
    highPatinaNoise(sv);

    // No coverage: the bare metal, wherever the noise is.
    EXPECT_FLOAT3_EXACT(evaluated(patina, sv), evaluated(plain, sv));
    // Full coverage: the patina's colour, roughness and reflectivity.
    patina.param<float>("n_patinaPercent") = 1.0f;
    EXPECT_TRUE(
        vtest::near3(evaluated(patina, sv), evaluated(metal(green, 0.4f, 0.9f), sv), 1e-6f));
    // Coverage 0.15 in the patch: colour blends by 0.15, roughness and
    // reflectivity by (0.15 / 0.3)^2 = 0.25.
    patina.param<float>("n_patinaPercent") = 0.15f;
    const float3 blend(0.85f * 0.8f + 0.15f * 0.2f, 0.85f * 0.4f + 0.15f * 0.6f,
                       0.85f * 0.2f + 0.15f * 0.4f);
    const float3 want =
        evaluated(metal(blend, 0.75f * 0.2f + 0.25f * 0.4f, 0.75f * 0.6f + 0.225f), sv);
    EXPECT_TRUE(vtest::near3(evaluated(patina, sv), want, 1e-5f * want.x));
    // Outside the patch (noise in its lower half) the metal stays bare.
    TestServices low;
    low.noise2Function = [](float2) { return -0.3f; };
    EXPECT_FLOAT3_EXACT(evaluated(patina, low), evaluated(plain, low));
}

TEST(MetalFlakes, OnlyMasksBetweenTwoHundredthsAndAHalfShow) {
    Shader s = matteMetal(float3(0, 0, 0.5f));
    s.set({{"u_flecksEnable", true}, {"u_flecksDiffuseColor", float3(1, 0, 0)}});
    const struct {
        float noise;
        bool shows;
    } cases[] = {{0.45f, false}, {0.5f, true}, {0.8f, true}, {-0.8f, true}, {0.9f, false}};
    for (const auto& c : cases) {
        TestServices sv;
        sv.latticeNoiseFunction = [&](float3) { return c.noise; };
        const float3 got = shadeLit(s, sv, hitAt(float2(0, 0)));
        const float k = c.shows ? std::pow(std::fabs(c.noise), 5.5f) : 0.0f;
        EXPECT_NEAR(got.x, k, 1e-5f) << c.noise;
        EXPECT_NEAR(got.z, 0.5f, 1e-6f) << c.noise;
    }
}

TEST(MetalReflection, FlakeTintAndHighlightOnly) {
    Shader s("corvid_Mtl_Metal");
    s.set({{"u_brdf00Reflectivity", 0.5f},
           {"u_brdf90Reflectivity", 0.5f},
           {"u_glossyValueU", 0.2f},
           {"u_glossyValueV", 0.3f},
           {"u_anisoRotationValue", 0.5f}});

    TestServices sv;
    sv.anisotropicReflectionValue = float3(1, 1, 1);
    const float3 withReflection = shadeLit(s, sv, hitAt(float2(0, 0)));
    auto calls = sv.callsTo(vhost::kSvcTraceAnisotropicReflection);
    ASSERT_EQ(calls.size(), 1u);
    // P, the mirror direction, the axes turned by 0.5 rad, glossiness, importance F.
    const float c = std::cos(0.5f), sn = std::sin(0.5f);
    expectArgs(calls[0].args,
               {0, 0, 0, 0.5f, 0, 0.8660254f, c, sn, 0, -sn, c, 0, 0.2f, 0.3f, 0.5f});

    s.param<bool>("u_reflectionHighlightOnly") = true;
    TestServices highlights;
    highlights.anisotropicReflectionValue = float3(1, 1, 1);
    const float3 without = shadeLit(s, highlights, hitAt(float2(0, 0)));
    EXPECT_EQ(highlights.count(vhost::kSvcTraceAnisotropicReflection), 0);
    EXPECT_GT(without.x, 0.0f) << "the light's highlight stays";
    EXPECT_TRUE(vtest::near3(withReflection, without + float3(0.5f), 1e-5f));

    // Flakes tint the traced reflection: S = F * "u_flecksSpecularColor".
    s.set({{"u_reflectionHighlightOnly", false},
           {"u_flecksEnable", true},
           {"u_flecksDiffuseColor", float3(0.0f)},
           {"u_flecksSpecularColor", float3(0, 1, 0.5f)}});
    TestServices flaked;
    flaked.anisotropicReflectionValue = float3(1, 1, 1);
    flaked.latticeNoiseFunction = [](float3) { return 0.8f; };
    const float3 tinted = shadeLit(s, flaked, hitAt(float2(0, 0)));
    EXPECT_TRUE(vtest::near3(tinted, without + float3(0.0f, 0.5f, 0.25f), 1e-5f));
    ASSERT_EQ(flaked.count(vhost::kSvcTraceAnisotropicReflection), 1);
    EXPECT_FLOAT_EQ(flaked.callsTo(vhost::kSvcTraceAnisotropicReflection)[0].args.back(), 0.5f);
}

TEST(MetalReflection, SourceScalarsTurnTheHighlightOnlyInShade) {
    Shader s("corvid_Mtl_Metal");
    s.set({{"u_anisoRotationValue", 0.5f},
           {"u_anisoRotSwitcher", 1},
           {"u_anisorotMapAmount", 0.25f}});
    TestServices sv;
    ShadingState st = hitAt(float2(0, 0));
    s.shade(sv, st);
    auto calls = sv.callsTo(vhost::kSvcTraceAnisotropicReflection);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NEAR(calls[0].args[6], std::cos(0.25f), 1e-6f);
    EXPECT_NEAR(calls[0].args[7], std::sin(0.25f), 1e-6f);
    // A scalar below 0.0001 falls back to the rotation value.
    s.param<float>("u_anisorotMapAmount") = 0.00005f;
    TestServices fallback;
    st = hitAt(float2(0, 0));
    s.shade(fallback, st);
    EXPECT_NEAR(fallback.callsTo(vhost::kSvcTraceAnisotropicReflection)[0].args[6], std::cos(0.5f),
                1e-6f);
    // The anodised source reads three noise values for its colour.
    s.param<int32_t>("u_reflectSwitcher") = 4;
    TestServices anodised;
    anodised.noise2Function = [](float2) { return 0.0f; };
    st = hitAt(float2(0, 0));
    s.shade(anodised, st);
    EXPECT_EQ(anodised.count(vhost::kSvcNoise2), 3);
}

TEST(MetalCutouts, EveryModeCutsHolesThatShadeAndShadowsSeeThrough) {
    const struct {
        int32_t mode;
        float2 hole, web;
    } cases[] = {{1, {3.0f, 1.0f}, {1.0f, 1.0f}}, {2, {1.0f, 1.0f}, {0.2f, 0.2f}},
                 {3, {1.0f, 1.0f}, {0.2f, 1.0f}}, {4, {2.8f, 1.0f}, {0.0f, 1.0f}},
                 {5, {0.0f, 0.0f}, {1.0f, 0.0f}}, {6, {1.0f, 1.0f}, {1.0f, 1.6f}}};
    const float3 behind(0.1f, 0.2f, 0.3f);
    for (const auto& c : cases) {
        Shader s = matteMetal(float3(0.5f));
        s.param<int32_t>("u_cutoutsSwitcher") = c.mode;

        TestServices sv;
        sv.transmissionValue = behind;
        ShadingState st = hitAt(c.hole);
        ShadingState before = st;
        s.shadowTransmission(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), Fields{"outTransmission"});
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(1.0f)) << c.mode;
        EXPECT_FLOAT3(shadeLit(s, sv, hitAt(c.hole)), behind) << c.mode;
        auto thru = sv.callsTo(vhost::kSvcTraceTransmission);
        ASSERT_EQ(thru.size(), 1u) << c.mode;
        EXPECT_EQ(thru[0].args.back(), 1.0f) << "importance 1 - cv";

        TestServices solid;
        st = hitAt(c.web);
        s.shadowTransmission(solid, st);
        EXPECT_FLOAT3_EXACT(st.outTransmission, float3(0.0f)) << c.mode;
        EXPECT_FLOAT3(shadeLit(s, solid, hitAt(c.web)), float3(0.5f)) << c.mode;
        EXPECT_EQ(solid.count(vhost::kSvcTraceTransmission), 0) << c.mode;

        // Half the amount leaves half-open holes.
        s.param<float>("u_cutoutAmount") = 0.5f;
        TestServices half;
        half.transmissionValue = behind;
        st = hitAt(c.hole);
        s.shadowTransmission(half, st);
        EXPECT_FLOAT3(st.outTransmission, float3(0.5f)) << c.mode;
        EXPECT_FLOAT3(shadeLit(s, half, hitAt(c.hole)), float3(0.3f, 0.35f, 0.4f)) << c.mode;
    }
}

TEST(MetalCutouts, MapModeReadsRowMajorAndABlackTexelIsAFullHole) {
    Shader s = matteMetal(float3(0.5f));
    s.param<int32_t>("u_cutoutsSwitcher") = 7;
    s.param<pxs::matrix3>("u_cutoutTransform") = {{2, 0, 0.5f, 0, 1, 0, 0, 0, 1}};
    vhost::TestTexture map(
        [](const float* uv) { return uv[0] > 1.0f ? float4(1, 1, 1, 1) : float4(0, 1, 1, 1); });
    s.param<pxs::TextureHandle>("u_cutoutMap") = map.handle();
    TestServices sv;
    sv.transmissionValue = float3(0.1f, 0.2f, 0.3f);
    EXPECT_FLOAT3(shadeLit(s, sv, hitAt(float2(0.25f, 0.5f))), float3(0.1f, 0.2f, 0.3f));
    ASSERT_EQ(map.lookups.size(), 1u);
    EXPECT_FLOAT_EQ(map.lookups[0][0], 1.0f);  // 0.25 * 2 + 0.5
    EXPECT_FLOAT_EQ(map.lookups[0][1], 0.5f);
    ShadingState st = hitAt(float2(0.25f, 0.5f));
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3_EXACT(st.outTransmission, float3(1.0f));
    st = hitAt(float2(0.5f, 0.5f));
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3_EXACT(st.outTransmission, float3(0.0f)) << "white texel: solid";
    // Without a texture the whole surface is a hole.
    s.param<pxs::TextureHandle>("u_cutoutMap") = pxs::TextureHandle();
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3_EXACT(st.outTransmission, float3(1.0f));
    // No cut-outs: the metal casts a full shadow.
    s.param<int32_t>("u_cutoutsSwitcher") = 0;
    s.shadowTransmission(sv, st);
    EXPECT_FLOAT3_EXACT(st.outTransmission, float3(0.0f));
}

TEST(MetalCutouts, AFullyMaskedHitTracesNothing) {
    Shader s = matteMetal(float3(0.5f));
    s.set({{"u_cutoutsSwitcher", 2}, {"maskingColor", float3(1.0f)}});
    TestServices sv;
    ShadingState st = hitAt(float2(1.0f, 1.0f));
    const ShadingState before = st;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"skipHit"});
    EXPECT_TRUE(sv.calls.empty());

    // Half masked over a hole: the hole's view mixed with the masking trace.
    s.param<float3>("maskingColor") = float3(0.5f);
    TestServices half;
    half.transmissionValue = float3(0.2f, 0.4f, 0.6f);
    st = before;
    s.shade(half, st);
    EXPECT_EQ(vhost::changedFields(before, st), (Fields{"outColor", "outAlpha"}));
    EXPECT_FLOAT3(st.outColor, float3(0.2f, 0.4f, 0.6f));
    EXPECT_EQ(half.count(vhost::kSvcTraceTransmission), 2);
}

TEST(MetalSampling, CosineFromTheBumpedFrameOnlyWhenAsked) {
    vhost::TestTexture ramp([](const float* uv) { return float4(uv[0], 0, 0, 1); });
    for (int bump : {0, 1}) {
        Shader s("corvid_Mtl_Metal");
        s.param<float>("u_roughValue") = 0.3f;
        if (bump == 0) {
            s.set({{"u_patternEnable", true},
                   {"u_patternMap", ramp.handle()},
                   {"u_patternAmount", 30.0f}});
        } else {
            s.param<int32_t>("u_bumpSwitcher") = 1;
        }
        TestServices sv;
        sv.noise2Function = [](float2 p) { return 0.3f * p.x; };
        ShadingState st = hitAt(float2(0.2f, 0.1f));
        st.sampleDirection = float3(0, 0, 1);
        const ShadingState before = st;
        s.evaluateBsdf(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), (Fields{"sampleValue", "sampleCosine"}));
        EXPECT_EQ(st.sampleCosine, 1.0f) << "the unbumped normal";
        EXPECT_GT(st.sampleValue.x, 0.0f);

        s.param<bool>("u_cosineUsesBump") = true;
        st = before;
        s.evaluateBsdf(sv, st);
        EXPECT_LT(st.sampleCosine, 0.999f) << bump;
        EXPECT_GT(st.sampleCosine, 0.0f) << bump;
    }
}

TEST(MetalSampling, MixtureAndSingleLobeFollowTheirDensitiesAndEvaluateBsdf) {
    Shader s("corvid_Mtl_Metal");
    s.set({{"u_diffuseColor", float3(0.3f)},
           {"u_roughValue", 0.25f},
           {"u_anisotropyValue", 0.5f},
           {"u_brdf00Reflectivity", 0.5f}});
    const float view = 35.0f;
    const float3 v = at(view);
    const float f = 0.5f + 0.5f * std::pow(1.0f - std::cos(view * 0.017453293f), 5.0f);
    const float diffuseOverPi = (1.0f - f) * 0.3f / 3.14159265f;
    for (bool single : {false, true}) {
        const double pd = single ? 0.0 : 0.5;
        std::mt19937 choice(5);
        std::uniform_real_distribution<float> uniform(0.0f, 0.99999994f);
        auto state = [&] {
            ShadingState st = viewing(v).build();
            if (single) st.allowLobe[0] = st.allowLobe[1] = 0;
            return st;
        };
        auto script = [&](float u1, float u2, float u) {
            return single ? std::vector<float>{u1, u2} : std::vector<float>{u, u1, u2};
        };
        auto sample = [&](float u1, float u2) -> std::optional<float3> {
            ShadingState st = state();
            TestServices sv;
            sv.record = false;
            sv.randoms = script(u1, u2, uniform(choice));
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone) return std::nullopt;
            return st.sampleDirection;
        };
        auto density = [&](float3 d) { return vtest::wardMixtureDensity(v, d, 0.25, 0.125, pd); };
        vtest::Chi2Settings settings;
        settings.samples = 200000;
        settings.testCount = 2;
        const vtest::Chi2Result r = vtest::chi2Test(sample, density, settings);
        EXPECT_TRUE(r.passed) << (single ? "single lobe\n" : "mixture\n") << r.message;

        for (int i = 0; i < 40; ++i) {
            ShadingState st = state();
            const ShadingState before = st;
            TestServices sv;
            sv.randoms = script((i / 2 + 0.5f) / 20.0f, 0.61f, i % 2 ? 0.8f : 0.3f);
            s.sampleBsdf(sv, st);
            if (st.sampleKind == pxs::kSampleNone) continue;
            EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields);
            ASSERT_EQ(st.sampleKind, single ? pxs::kSampleSingleLobe : pxs::kSampleLobeMixture);
            EXPECT_NEAR(st.sampleWeight * density(st.sampleDirection), 1.0, 2e-3) << i;
            float3 value = st.sampleValue;
            if (single) value = value + float3(diffuseOverPi);
            const float cosine = st.sampleCosine;
            s.evaluateBsdf(sv, st);
            EXPECT_TRUE(vtest::near3(value, st.sampleValue, 2e-3f * st.sampleValue.x)) << i;
            EXPECT_FLOAT_EQ(cosine, st.sampleCosine);
        }
    }
}

TEST(MetalSampling, BackfacingViewGivesNoSample) {
    Shader s("corvid_Mtl_Metal");
    // The shading normal leans past the view: the ray meets the frame from behind.
    ShadingState st = viewing(at(60), unit(float3(1, 0, 0.2f))).build();
    const ShadingState before = st;
    TestServices sv;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), Fields{"sampleKind"});
    EXPECT_EQ(st.sampleKind, pxs::kSampleNone);
    EXPECT_EQ(sv.count(vhost::kSvcRandom) + sv.count(vhost::kSvcRandom2), 0);
}

TEST(PhysicalMaterials, NoAllocationPerHit) {
    // Every feature that runs extra code: bumps, flakes, patina, cut-outs, topcoat.
    Shader metal("corvid_Mtl_Metal");
    metal.set({{"u_flecksEnable", true},
               {"u_patinaEnable", true},
               {"n_patinaPercent", 0.5f},
               {"u_bumpSwitcher", 1},
               {"u_cutoutsSwitcher", 4},
               {"u_reflectSwitcher", 4}});
    Shader paint("corvid_Mtl_MetallicPaint");
    paint.set(
        {{"u_topcoatEnable", true}, {"u_flecksEnable", true}, {"u_finish", 1}, {"u_pearl", 1}});
    Shader glass("corvid_Mtl_Dielectric");
    glass.set({{"u_procedureMapEnable", 1}, {"u_roughValue", 0.3f}});
    for (const Shader* s : {&metal, &paint, &glass}) {
        TestServices sv;
        sv.setLights({light(float3(0, 0, 1), 1.0f, float3(1)), light(at(-40), 1.0f, float3(1))});
        sv.record = false;
        sv.randoms = {0.9f, 0.3f, 0.6f, 0.2f, 0.7f};
        ShadingState st = viewing(at(30)).attribute(48, float2(0.3f, 1.0f)).build();
        st.sampleDirection = unit(float3(0.2f, 0, 0.9f));
        const auto allocations = vtest::allocationCounts().allocations;
        s->shade(sv, st);
        s->shadowTransmission(sv, st);
        s->evaluateBsdf(sv, st);
        s->sampleBsdf(sv, st);
        EXPECT_EQ(vtest::allocationCounts().allocations, allocations);
    }
}

}  // namespace

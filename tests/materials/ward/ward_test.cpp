// corvid_Mtl_Ward through the test host.
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <sstream>

#include "testkit/alloc_counter.h"
#include "testkit/chi2.h"
#include "testkit/harness.h"

namespace {

using pxs::float3;
using pxs::float4;
using vhost::DeclType;
using vhost::TestServices;
using vhost::TestTexture;
using vtest::light;
using vtest::Shader;
using vtest::unit;
using vtest::viewing;

// Just enough vector arithmetic for the expected values.
float3 operator+(float3 a, float3 b) {
    return float3(a.x + b.x, a.y + b.y, a.z + b.z);
}
float3 operator-(float3 a, float3 b) {
    return float3(a.x - b.x, a.y - b.y, a.z - b.z);
}
float3 operator*(float3 a, float3 b) {
    return float3(a.x * b.x, a.y * b.y, a.z * b.z);
}
float3 operator*(float s, float3 a) {
    return float3(s * a.x, s * a.y, s * a.z);
}
float3 operator*(float3 a, float s) {
    return s * a;
}

constexpr const char* kWard = "corvid_Mtl_Ward";
constexpr float kInvPi = 0.3183099f;
constexpr double kPiD = 3.14159265358979;

// The Ward rows in registration order, "name type [default]" separated by ';':
// b bool (false), i int, f float, c colour, t texture (empty), T the second texture
// kind (empty), m UV transform (identity).
const char* const kWardRows = R"(
u_procedureMapEnable i 0; u_procedureMapTiling c (1, 1, 1); u_procedureMapAmount f 0; u_smokeMap T;
u_normal0MapEnable b; u_normal0Map t; u_normal0AmountMapEnable b; u_normal0AmountMap t;
u_normal0AmountTransform m; u_normal0Amount f 0; u_normal0Transform m;
u_normal1MapEnable b; u_normal1Map t; u_normal1Amount f 0; u_normal1Transform m;
u_normal1AsShadingNormal b;
u_diffuseMapEnable b; u_diffuseMap t; u_diffuseColor c (0, 0, 0); u_diffuseTransform m;
u_diffuseAmount f 1;
u_imageFadeEnable i 0; u_imageFade f 1; u_imageFadeMap t; u_imageFadeTransform m;
u_imageFadeAmount f 1; u_imageFadeColor c (0, 0, 0);
u_specularMapEnable b; u_specularMap t; u_specularColor c (1, 1, 1); u_specularTransform m;
u_specularAmount f 1;
u_roughMapEnable b; u_roughMap t; u_roughValue f 0.00999999978; u_roughTransform m;
u_roughAmount f 1; u_reflectGlossyValue f 0;
u_refractGlossyMapEnable b; u_refractGlossyMap t; u_refractGlossyTransform m;
u_refractGlossyAmount f 1; u_refractGlossyValue f 0;
u_anisotropyMapEnable b; u_anisotropyMap t; u_anisotropyValue f 1; u_anisotropyTransform m;
u_anisotropyAmount f 1;
u_anisoRotationMapEnable b; u_anisoRotationMap t; u_anisoRotationValue f 0;
u_anisoRotationTransform m; u_anisoRotationAmount f 1; u_brdfCurvePower f 0;
u_brdf00ReflectMapEnable b; u_brdf00ReflectMap t; u_brdf00ReflectTransform m;
u_brdf00ReflectAmount f 1; u_brdf00Reflectivity f 0.100000001;
u_brdf90ReflectMapEnable b; u_brdf90ReflectMap t; u_brdf90ReflectTransform m;
u_brdf90Reflectivity f 1; u_brdf90ReflectAmount f 1; u_reflectivity f 1; u_isMetal b;
u_transparency b; u_transparencyMapEnable b; u_transparencyMap t; u_transparencyValue f 0;
u_transparencyTransform m; u_transparencyFade f 0; u_ior f 1.33000004; u_transparencyAmount f 1;
u_translucencyMapEnable b; u_translucencyMap t; u_translucencyValue f 0;
u_translucencyTransform m; u_translucencyAmount f 1;
u_cutoutMapEnable b; u_cutoutMap t; u_cutoutTransform m; u_cutoutAmount f 1;
u_additionalMapEnable b; u_additionalMap t; u_additionalColor c (0, 0, 0);
u_additionalMapTransform m; u_additionalAmount f 1;
u_cosineUsesBump b; u_reflectionHighlightOnly b)";

TEST(WardParams, DeclarationOrderTypesDefaultsAndAttributes) {
    std::vector<vtest::ExpectedParam> p = vtest::blockDeclarations();
    p.push_back({"bitangent", DeclType::Attribute, "2@24"});
    p.push_back({"tangent", DeclType::Attribute, "2@36"});
    p.push_back({"uv", DeclType::Attribute, "1@48"});
    const std::map<char, std::pair<DeclType, std::string>> kinds = {
        {'b', {DeclType::Bool, "false"}},
        {'i', {DeclType::Int, ""}},
        {'f', {DeclType::Float, ""}},
        {'c', {DeclType::Float3, ""}},
        {'t', {DeclType::Texture2D, "texture(null, -1)"}},
        {'T', {DeclType::TextureB, "texture(null, -1)"}},
        {'m', {DeclType::Matrix3, "(1, 0, 0, 0, 1, 0, 0, 0, 1)"}}};
    std::istringstream rows(kWardRows);
    for (std::string row; std::getline(rows, row, ';');) {
        std::istringstream fields(row);
        std::string name, kind, value;
        fields >> name >> kind;
        std::getline(fields >> std::ws, value);
        const auto& k = kinds.at(kind[0]);
        p.push_back({name, k.first, value.empty() ? k.second : value});
    }
    ASSERT_EQ(p.size(), 17u + 3u + 90u);
    vtest::expectDeclarations(kWard, 15, p);
}

// The view used below: 36.9 degrees off the normal, mirror direction (0, 0.6, 0.8).
const float3 kView(0, 0.6f, -0.8f);
const float3 kMirror(0, 0.6f, 0.8f);

float mirrorCosine(float3 d) {
    return d.x * kMirror.x + d.y * kMirror.y + d.z * kMirror.z;
}

TEST(Ward, DefaultIsAPureSharpWhiteReflector) {
    Shader s(kWard);
    TestServices sv;
    sv.glossyReflectionValue = float3(0.2f, 0.4f, 0.6f);
    sv.setLights({light(float3(0, -0.6f, 0.8f), 1.0f, float3(5.0f))});  // off the mirror
    const pxs::ShadingState before = viewing(kView).build();
    pxs::ShadingState st = before;
    s.shade(sv, st);
    EXPECT_FLOAT3_EXACT(st.outColor, float3(0.2f, 0.4f, 0.6f)) << "reflection only";
    EXPECT_EQ(st.outAlpha, 1.0f);
    EXPECT_EQ(vhost::changedFields(before, st), (std::vector<std::string>{"outColor", "outAlpha"}));
    auto traces = sv.callsTo(vhost::kSvcTraceGlossyReflection);
    ASSERT_EQ(traces.size(), 1u);
    vtest::expectArgs(traces[0].args, {0, 0, 0, 0, 0.6f, 0.8f, 0.0f, 1.0f});
    EXPECT_EQ(sv.count(vhost::kSvcAmbientLight), 0) << "black diffuse: no ambient term";

    // A light exactly at the mirror direction shows the whole, narrow lobe.
    sv.setLights({light(kMirror, 1.0f, float3(1.0f))});
    sv.glossyReflectionValue = float3(0.0f);
    st = before;
    s.shade(sv, st);
    EXPECT_NEAR(st.outColor.x, 1.0f / (12.566372f * 1e-4f * 0.8f), 0.5f);
}

TEST(Ward, AdditionalColourTimesClampedMapTimesAmount) {
    Shader s(kWard);
    TestServices sv;
    TestTexture extra(float4(0.5f, 2.0f, -1.0f, 1.0f));
    s.param<float3>("u_additionalColor") = float3(1.0f, 0.5f, 1.0f);
    s.param<float>("u_additionalAmount") = 2.0f;
    pxs::ShadingState st = viewing(kView).build();
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(1.0f, 0.5f, 1.0f)) << "without the map, the colour alone";
    s.param<bool>("u_additionalMapEnable") = true;
    s.param<pxs::TextureHandle>("u_additionalMap") = extra.handle();
    s.shade(sv, st);
    EXPECT_FLOAT3(st.outColor, float3(1.0f, 1.0f, 0.0f));
}

TEST(Ward, CutoutZeroAndOne) {
    Shader s(kWard);
    TestServices sv;
    sv.glossyReflectionValue = float3(0.2f, 0.4f, 0.6f);
    sv.transmissionValue = float3(0.1f, 0.7f, 0.3f);
    float coverage = 1.0f;
    TestTexture cutout([&](const float*) { return float4(coverage, 0, 0, 1); });
    s.param<bool>("u_cutoutMapEnable") = true;
    s.param<pxs::TextureHandle>("u_cutoutMap") = cutout.handle();
    const pxs::ShadingState before = viewing(kView).build();
    auto run = [&](bool shadow) {
        sv.clear();
        pxs::ShadingState st = before;
        shadow ? s.shadowTransmission(sv, st) : s.shade(sv, st);
        return st;
    };

    EXPECT_FLOAT3_EXACT(run(false).outColor, float3(0.2f, 0.4f, 0.6f)) << "solid";
    EXPECT_EQ(sv.count(vhost::kSvcTraceTransmission), 0) << "nothing behind a solid cut-out";
    EXPECT_FLOAT3_EXACT(run(true).outTransmission, float3(0.0f));

    coverage = 0.0f;
    EXPECT_FLOAT3_EXACT(run(false).outColor, float3(0.1f, 0.7f, 0.3f)) << "only what is behind";
    EXPECT_EQ(sv.count(vhost::kSvcGetLights) + sv.count(vhost::kSvcTraceGlossyReflection), 0);
    EXPECT_FLOAT3_EXACT(run(true).outTransmission, float3(1.0f));

    coverage = 0.25f;
    pxs::ShadingState part = run(false);
    EXPECT_FLOAT3(part.outColor, 0.25f * float3(0.2f, 0.4f, 0.6f) + 0.75f * sv.transmissionValue);
    vtest::expectArgs(sv.callsTo(vhost::kSvcTraceTransmission)[0].args,
                      {0, 0, 0, 0, 0.6f, -0.8f, 0.75f});
    EXPECT_FLOAT3(run(true).outTransmission, float3(0.75f));

    // With transparency the material passes t K (here 0.25) and the holes pass all.
    s.param<bool>("u_transparency") = true;
    s.param<float>("u_transparencyValue") = 0.5f;
    s.param<float>("u_reflectivity") = 0.0f;
    EXPECT_FLOAT3(run(true).outTransmission, float3(0.25f * 0.25f + 0.75f));
    coverage = 0.0f;
    EXPECT_FLOAT3(run(true).outTransmission, float3(1.0f)) << "a hole casts no shadow";
    s.param<bool>("u_cutoutMapEnable") = false;
    EXPECT_FLOAT3(run(true).outTransmission, float3(0.25f));
}

TEST(Ward, BackSideTranslucencyRefractionAndNoReflection) {
    Shader s(kWard);
    TestServices sv;
    const float3 diffuse(0.5f, 0.4f, 0.2f);
    const float t = 0.4f, l = 0.5f;
    s.param<float3>("u_diffuseColor") = diffuse;
    s.param<float>("u_reflectivity") = 0.5f;
    s.param<bool>("u_transparency") = true;
    s.param<float>("u_transparencyValue") = t;
    s.param<float>("u_translucencyValue") = l;
    s.param<float>("u_refractGlossyValue") = 0.3f;
    sv.glossyTransmissionValue = float3(0.5f);
    sv.ambientLightValue = float3(0.1f);
    sv.setLights({light(float3(0, 0.6f, -0.8f), 0.5f, float3(2.0f))});
    // Seen from below: the facing normal is -z.
    pxs::ShadingState st = viewing(float3(0, 0, 1)).build();
    s.shade(sv, st);

    const float3 k = float3(t) + (1 - t) * diffuse;
    const float3 front = diffuse * 0.5f * (1 - t);  // the lit side's weights, r = 0.5
    const float3 through = diffuse * t * l * k;     // the far side's, r = 0
    const float3 x2 = t * (1 - l) * k;
    // Lights and ambient light reach both weights, each from its own side.
    EXPECT_TRUE(
        vtest::near3(st.outColor, front + through + x2 * 0.5f + 0.1f * (front + through), 1e-5f));
    auto ambient = sv.callsTo(vhost::kSvcAmbientLight);
    ASSERT_EQ(ambient.size(), 2u);
    EXPECT_EQ(ambient[0].args[5], -1.0f);
    EXPECT_EQ(ambient[1].args[5], 1.0f);
    auto lists = sv.callsTo(vhost::kSvcGetLights);
    ASSERT_EQ(lists.size(), 2u);
    vtest::expectArgs(lists[0].args, {0, 0, 0, 0, 0, 0, -1});
    vtest::expectArgs(lists[1].args, {0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(sv.count(vhost::kSvcTraceGlossyReflection), 0) << "no reflection from the back";
    vtest::expectArgs(sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args,
                      {0, 0, 0, 0, 0, 1, 0.3f, 0.14f});

    // Beyond the critical angle the ray leaving the object reflects instead.
    sv.clear();
    st = viewing(float3(0.8f, 0, 0.6f)).build();
    s.shade(sv, st);
    vtest::expectArgs(sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args,
                      {0, 0, 0, 0.8f, 0, -0.6f, 0.3f, 0.14f});

    // Entering: refracted by medium / ior about the lighting normal, weighted by X.
    sv.clear();
    st = viewing(kView).ior(1.0f, 1.0f).build();
    s.shade(sv, st);
    const float eta = 1.0f / 1.33f, ci = 0.8f;
    const float kk = (ci * ci - 1.0f) * (eta * eta) + 1.0f;
    const float3 refr = eta * kView + (eta * ci - std::sqrt(kk)) * float3(0, 0, 1);
    vtest::expectArgs(sv.callsTo(vhost::kSvcTraceGlossyTransmission)[0].args,
                      {0, 0, 0, refr.x, refr.y, refr.z, 0.3f, 0.5f * t * k.x});
}

TEST(Ward, OnlyPermittedFieldsWritten) {
    Shader s(kWard);
    TestServices sv;
    TestTexture smoke(float4(1.0f));
    s.param<float3>("u_diffuseColor") = float3(0.3f);
    s.param<float>("u_reflectivity") = 0.5f;
    s.param<int32_t>("u_procedureMapEnable") = 2;  // smoke
    s.param<float>("u_procedureMapAmount") = 0.5f;
    s.param<pxs::TextureHandle>("u_smokeMap") = smoke.handle();
    s.param<bool>("u_transparency") = true;
    s.param<float>("u_transparencyValue") = 0.3f;
    sv.setLights({light(unit(float3(0.2f, 0.1f, 1)), 1.0f, float3(1.0f))});
    for (float3 view : {kView, float3(0, 0, 1)}) {
        const pxs::ShadingState before = viewing(view)
                                             .attribute(24, float3(0, 1, 0))
                                             .sampleDirection(unit(float3(0.1f, 0.2f, 1)))
                                             .build();
        pxs::ShadingState st = before;
        s.shade(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st),
                  (std::vector<std::string>{"outColor", "outAlpha"}));
        EXPECT_TRUE(std::isfinite(st.outColor.x + st.outColor.y + st.outColor.z));
        st = before;
        s.shadowTransmission(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"outTransmission"});
        st = before;
        s.evaluateBsdf(sv, st);
        EXPECT_EQ(vhost::changedFields(before, st),
                  (std::vector<std::string>{"sampleValue", "sampleCosine"}));
    }
    EXPECT_GT(sv.count(vhost::kSvcCellJitter), 0) << "the smoke pattern ran";
    EXPECT_GT(sv.count(vhost::kSvcNoise3b), 0);
    EXPECT_TRUE(smoke.lookups.empty()) << "the smoke map is handed on, never read";

    // A fully masked hit only says so.
    s.param<float3>("maskingColor") = float3(1.0f);
    const pxs::ShadingState before = viewing(kView).build();
    pxs::ShadingState st = before;
    s.shade(sv, st);
    EXPECT_EQ(vhost::changedFields(before, st), std::vector<std::string>{"skipHit"});
}

// ---- sampling ------------------------------------------------------------------

float3 cosineMapped(float xi1, float xi2) {  // the concentric map, for xi2 = 0.5
    float r = 2 * xi1 - 1 - 1e-6f;
    EXPECT_EQ(xi2, 0.5f);
    return float3(r, 0, std::sqrt(1 - r * r));
}

TEST(WardSampling, LobeChoiceFollowsPd) {
    Shader s(kWard);
    const pxs::ShadingState before = viewing(kView).build();
    auto sample = [&](std::vector<float> randoms) {
        TestServices sv;
        sv.randoms = std::move(randoms);
        pxs::ShadingState st = before;
        s.sampleBsdf(sv, st);
        EXPECT_EQ(sv.count(vhost::kSvcRandom), 1);
        EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields);
        EXPECT_EQ(st.sampleKind, pxs::kSampleLobeMixture);
        return st;
    };

    // Black diffuse: pd = 0, the Ward lobe even for a small number.
    pxs::ShadingState st = sample({0.05f, 0.2f, 0.7f});
    EXPECT_GT(mirrorCosine(st.sampleDirection), 0.999f);

    // Black specular (reflectivity 0): pd = 1, the cosine lobe even for 0.99.
    s.param<float3>("u_diffuseColor") = float3(0.5f, 0.4f, 0.2f);
    s.param<float>("u_reflectivity") = 0.0f;
    st = sample({0.99f, 0.75f, 0.5f});
    float3 d = cosineMapped(0.75f, 0.5f);
    EXPECT_FLOAT3(st.sampleDirection, d);
    EXPECT_FLOAT3(st.sampleValue, float3(0.5f, 0.4f, 0.2f) * kInvPi);
    EXPECT_NEAR(st.sampleWeight, 1.0f / (d.z * kInvPi), 1e-4f);

    // Both: pd = 0.5.
    s.param<float>("u_reflectivity") = 0.5f;
    st = sample({0.5f, 0.75f, 0.5f});
    EXPECT_FLOAT3(st.sampleDirection, d) << "0.5 is not above pd";
    EXPECT_NEAR(st.sampleWeight, 1.0f / (0.5f * d.z * kInvPi), 1e-3f) << "Ward pdf ~0 there";
    st = sample({0.51f, 0.75f, 0.5f});
    EXPECT_GT(mirrorCosine(st.sampleDirection), 0.999f);
}

TEST(WardSampling, LobeOnlyPathAndRejection) {
    Shader s(kWard);
    s.param<float3>("u_diffuseColor") = float3(0.5f, 0.4f, 0.2f);
    s.param<float>("u_reflectivity") = 0.5f;
    s.param<float>("u_roughValue") = 0.3f;
    const pxs::ShadingState before = viewing(kView).allowLobes(0, 0, 1, 1, 1, 1).build();
    TestServices sv;
    sv.randoms = {0.2f, 0.3f};
    pxs::ShadingState st = before;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(sv.count(vhost::kSvcRandom), 0) << "no lobe choice";
    EXPECT_EQ(st.sampleKind, pxs::kSampleSingleLobe);
    EXPECT_EQ(vhost::changedFields(before, st), vtest::kSampleFields);
    // The value is the specular part: the evaluation minus the diffuse term.
    pxs::ShadingState ev = before;
    ev.sampleDirection = st.sampleDirection;
    s.evaluateBsdf(sv, ev);
    const float3 spec = ev.sampleValue - float3(0.25f, 0.2f, 0.1f) * kInvPi;
    EXPECT_TRUE(vtest::near3(st.sampleValue, spec, 1e-3f * spec.x));
    EXPECT_EQ(ev.sampleCosine, st.sampleCosine);

    // A half vector that reflects below the surface: only sampleKind is written.
    sv.randoms = {0.25f, 0.999f};
    st = viewing(unit(float3(0, 1, -0.1f))).allowLobes(0, 0, 1, 1, 1, 1).build();
    pxs::ShadingState b = st;
    s.sampleBsdf(sv, st);
    EXPECT_EQ(vhost::changedFields(b, st), std::vector<std::string>{"sampleKind"});
    EXPECT_EQ(st.sampleKind, pxs::kSampleNone);
    // The viewer below the surface frame: nothing to sample, nothing to evaluate.
    st = viewing(kView, float3(0, 0, -1), float3(0, 0, 1)).sampleDirection(kMirror).build();
    b = st;
    s.evaluateBsdf(sv, st);
    EXPECT_FLOAT3_EXACT(st.sampleValue, float3(0.0f));
    EXPECT_EQ(st.sampleCosine, 0.0f);
    EXPECT_EQ(vhost::changedFields(b, st),
              (std::vector<std::string>{"sampleValue", "sampleCosine"}));
}

// A rough, anisotropic, rotated material with both lobes (pd = 0.5).
struct RoughWard {
    Shader s{kWard};
    static constexpr float ax = 0.2f, ay = 0.4f, angle = 0.5f;
    RoughWard() {
        s.param<float3>("u_diffuseColor") = float3(0.5f, 0.4f, 0.2f);
        s.param<float>("u_reflectivity") = 0.5f;
        s.param<float>("u_roughValue") = ax;
        s.param<float>("u_anisotropyValue") = ay / ax;
        s.param<float>("u_anisoRotationValue") = angle;
    }
    // The density of the mixture, written out independently in frame space.
    static double density(float3 view, float3 d, double pd) {
        const double c = std::cos(angle), sn = std::sin(angle);
        auto local = [&](float3 v) {
            return std::array<double, 3>{v.x * c + v.y * sn, -v.x * sn + v.y * c, v.z};
        };
        auto o = local(d), i = local(view);
        if (o[2] <= 0) return 0.0;
        double h[3] = {o[0] - i[0], o[1] - i[1], o[2] - i[2]};
        double len = std::sqrt(h[0] * h[0] + h[1] * h[1] + h[2] * h[2]);
        for (double& x : h) x /= len;
        double e =
            std::exp(-((h[0] / ax) * (h[0] / ax) + (h[1] / ay) * (h[1] / ay)) / (h[2] * h[2]));
        double ward = e / (4 * kPiD * ax * ay * h[2] * h[2] * h[2] *
                           (h[0] * o[0] + h[1] * o[1] + h[2] * o[2]));
        return (1 - pd) * ward + pd * o[2] / kPiD;
    }
};

TEST(WardSampling, EvaluateAgreesWithSampledDirections) {
    RoughWard m;
    TestServices sv;
    sv.record = false;
    int mixture = 0;
    const vtest::AllocationCounts start = vtest::allocationCounts();
    for (float3 view : {kView, unit(float3(0.3f, 0.9f, -0.3f))}) {
        const pxs::ShadingState before = viewing(view).build();
        for (int n = 0; n < 2000; ++n) {
            pxs::ShadingState st = before;
            m.s.sampleBsdf(sv, st);
            if (st.sampleKind != pxs::kSampleLobeMixture) continue;
            ++mixture;
            pxs::ShadingState ev = before;
            ev.sampleDirection = st.sampleDirection;
            m.s.evaluateBsdf(sv, ev);
            ASSERT_TRUE(vtest::near3(ev.sampleValue, st.sampleValue, 2e-3f * st.sampleValue.x))
                << n;
            ASSERT_EQ(ev.sampleCosine, st.sampleCosine);
            double q = RoughWard::density(view, st.sampleDirection, 0.5);
            ASSERT_NEAR(1.0 / st.sampleWeight, q, 2e-3 * q) << "the weight is 1 / density";
        }
    }
    EXPECT_GT(mixture, 3000);
    EXPECT_EQ(vtest::allocationCounts().allocations, start.allocations) << "per-hit: no heap";
}

TEST(WardSampling, ChiSquareOfSampledDirections) {
    RoughWard m;
    const float3 grazing = unit(float3(0.3f, 0.9f, -0.15f));
    for (float3 view : {kView, grazing}) {
        for (bool lobeOnly : {false, true}) {
            TestServices sv;
            sv.record = false;
            const pxs::ShadingState before =
                lobeOnly ? viewing(view).allowLobes(0, 0, 1, 0, 0, 0).build()
                         : viewing(view).build();
            auto sample = [&](float, float) -> std::optional<float3> {
                pxs::ShadingState st = before;
                m.s.sampleBsdf(sv, st);
                if (st.sampleKind == pxs::kSampleNone) return std::nullopt;
                return st.sampleDirection;
            };
            auto density = [&](float3 d) {
                return RoughWard::density(view, d, lobeOnly ? 0 : 0.5);
            };
            vtest::Chi2Settings settings;
            settings.samples = 200000;
            settings.testCount = 4;
            vtest::Chi2Result r = vtest::chi2Test(sample, density, settings);
            EXPECT_TRUE(r.passed) << "lobe only " << lobeOnly << "\n" << r.message;
        }
    }
}

}  // namespace

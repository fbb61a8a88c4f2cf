#include "materials/physical/corvid_Mtl_Metal.h"

#include <cmath>

#include "frame/services.h"
#include "materials/physical/metal_patterns.h"
#include "shading/flake_field.h"
#include "shading/lighting.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"
#include "shading/ward_lobe.h"

namespace pxs {

namespace {

using Params = corvid_Mtl_Metal::Params;

// Ward roughness never reaches 0: the lobe divides by it.
constexpr float kMinRoughness = 1e-4f;

float3 rgb(float4 v) {
    return v.xyz();
}

bool isBlack(float3 c) {
    return c == float3(0.0f);
}

// The colour and specular colour the rest of the metal starts from.
float3 baseDiffuse(const Params& p, float2 uv) {
    return p.diffuseMapEnable ? rgb(sampleMap(p.diffuseMap, p.diffuseTransform, uv))
                              : p.diffuseColor;
}
float3 baseSpecular(const Params& p, float2 uv) {
    return p.specularMapEnable ? rgb(sampleMap(p.specularMap, p.specularTransform, uv))
                               : p.specularColor;
}

// Coverage of the cut-outs at uv: 1 solid, 0 a hole.
float coverage(const Params& p, float2 uv) {
    const int32_t mode = p.cutoutsSwitcher;
    if (mode <= 0) return 1.0f;
    float cv;
    if (mode == metal::kCutoutMap) {
        const float* m = p.cutoutTransform.m;
        const float2 st(uv.x * m[0] + uv.y * m[1] + m[2], uv.x * m[3] + uv.y * m[4] + m[5]);
        cv = sampleTexture(p.cutoutMap, st).x;
    } else if (mode < metal::kCutoutMap) {
        const float a = p.cutoutsSpace;
        const float b = p.cutoutsSize;
        const float2 cell =
            metal::cutoutCell(uv, p.otherScale * p.uvDefScale, a, b, p.cutoutsCenter);
        cv = metal::cutoutPattern(mode, cell, a, b);
    } else {
        return 1.0f;
    }
    // The amount fades the holes towards solid metal.
    return saturate(1.0f - saturate(p.cutoutAmount) * (1.0f - cv));
}

float patina(IRenderServices* sv, const Params& p, float2 uv) {
    if (!p.patinaEnable) return 0.0f;
    const float2 q = uv * p.uvScale;
    float m = metal::patinaMask(sv, q, p.patinaPercent);
    // A bound patina map says where patina may grow.
    if (p.patinaMap.object) m = m * saturate(sampleTexture(p.patinaMap, q).x);
    return m;
}

// Blends a base value towards its patina value along the mask's ramp.
float patinaBlend(float base, float patinaValue, float m) {
    if (m >= 0.3f) return patinaValue;
    if (m > 0.0f) {
        const float t = metal::patinaRamp(m);
        return (1.0f - t) * base + t * patinaValue;
    }
    return base;
}

// What the specular colour source yields in shade.
struct SpecularSource {
    float3 s0;
    float anisotropy;
    float rotation;
};

// What a specular source may select from: the colour map, the brush and break
// maps and the anodised noise (black when not enabled or not selected).
struct SourceMaps {
    float3 colour;
    float3 brush;
    float3 breaks;
    float3 anodised;
};

SourceMaps sourceMaps(IRenderServices* sv, const Params& p, float2 uv) {
    const float3 zero(0.0f);
    SourceMaps m;
    m.colour = (p.reflectSwitcher == 1 || p.bumpMapColorEnable)
                   ? rgb(sampleMap(p.bumpMapColor, p.bumpMapColorTransform, uv))
                   : zero;
    m.brush = p.brushMapEnable ? rgb(sampleMap(p.brushMap, p.brushTransform, uv)) : zero;
    m.breaks = p.breakMapEnable ? rgb(sampleMap(p.breakMap, p.breakTransform, uv)) : zero;
    const bool anodised = p.reflectSwitcher == 4 || p.anisoSwitcher == 4 || p.anisoRotSwitcher == 4;
    m.anodised = anodised ? metal::anodisedColour(sv, uv, p.noiseanodizedTiling) : zero;
    return m;
}

float3 specularColourSource(const Params& p, const SourceMaps& m, float2 uv) {
    if (p.bumpMapColorEnable && maxComponent(m.colour) < 0.0001f) return baseDiffuse(p, uv);
    float3 x;
    switch (p.reflectSwitcher) {
        case 1:
            x = m.colour;
            break;
        case 2:
            x = p.reflectColor * m.brush;
            break;
        case 3:
            x = m.breaks;
            break;
        case 4:
            x = m.anodised;
            break;
        default:
            x = p.reflectColor;
            break;
    }
    return x * p.reflMapAmount;
}

float anisotropySource(const Params& p, const SourceMaps& m) {
    float3 an;
    switch (p.anisoSwitcher) {
        case 1:
            an = float3(1.0f);
            break;
        case 2:
            an = m.colour;
            break;
        case 3:
            an = m.breaks;
            break;
        case 4:
            an = m.anodised;
            break;
        default:
            an = p.anisoColor;
            break;
    }
    return an.x * p.anisoMapAmount;
}

float rotationSource(const Params& p, const SourceMaps& m) {
    float3 rot;
    switch (p.anisoRotSwitcher) {
        case 1:
            rot = float3(1.0f);
            break;
        case 3:
            rot = m.breaks;
            break;
        case 4:
            rot = m.anodised;
            break;
        default:
            rot = float3(0.0f);
            break;
    }
    return rot.x * p.anisorotMapAmount;
}

SpecularSource specularSource(IRenderServices* sv, const Params& p, float2 uv) {
    const SourceMaps m = sourceMaps(sv, p, uv);
    return {specularColourSource(p, m, uv), anisotropySource(p, m), rotationSource(p, m)};
}

struct MetalFrame {
    TangentFrame frame;  // bumped and rotated
    Facing side;         // side.nf is the unbumped face-forwarded normal
    float3 din;          // the ray in frame space, pointing at the surface
};

// rotation: the source's rotation scalar; below 0.0001 in size, the rotation map
// or value takes over.
MetalFrame metalFrame(IRenderServices* sv, const Params& p, const ShadingState& st, float2 uv,
                      float rotation) {
    MetalFrame out;
    out.side = facing(st);
    TangentFrame& f = out.frame;
    f = frameFromState(st, out.side.nf);
    if (p.patternEnable) {
        bumpFromHeight(f, uv, p.patternMap, p.patternTransform, p.patternAmount, 1.0f);
        rebuildFrame(f);
    }
    if (p.bumpSwitcher == 1) {
        const float2 q = uv * (0.5f * p.uvScale * p.metalPatternScale);
        bendFrame(f, metal::proceduralBumpGradient(sv, q), p.patternAmount * p.bumpMapAmount);
    }
    float a = rotation;
    if (!(std::fabs(a) >= 0.0001f)) {
        a = p.anisoRotationMapEnable ? sampleMap(p.anisoRotationMap, p.anisoRotationTransform, uv).x
                                     : p.anisoRotationValue;
    }
    if (a != 0.0f && std::isfinite(a)) {
        const float c = std::cos(a);
        const float s = std::sin(a);
        const float3 t = c * f.t + s * f.b;
        const float3 b = -s * f.t + c * f.b;
        f.t = t;
        f.b = b;
    }
    out.din = toFrame(f, st.rayDirection);
    return out;
}

struct Roughness {
    float ax;
    float ay;
};

// anisotropy: the source's anisotropy scalar; below 0.0001 the anisotropy map
// or value takes over.
Roughness roughness(const Params& p, float2 uv, float m, float anisotropy) {
    float ax = p.roughMapEnable ? sampleMap(p.roughMap, p.roughTransform, uv).x : p.roughValue;
    ax = patinaBlend(ax, p.patinaGlossy, m);
    float an = anisotropy;
    if (!(an >= 0.0001f)) {
        an = p.anisotropyMapEnable ? sampleMap(p.anisotropyMap, p.anisotropyTransform, uv).x
                                   : p.anisotropyValue;
    }
    const float ay = an * ax;
    return {maxf(ax, kMinRoughness), maxf(ay, kMinRoughness)};
}

struct Colours {
    float3 d;
    float3 s;
    float f;
};

Colours colours(const Params& p, float2 uv, float cz, float m, float3 s0) {
    Colours c;
    const float3 diffuse = baseDiffuse(p, uv);
    c.s = maxComponent(s0) < 1e-5f ? baseSpecular(p, uv) : s0;
    c.d = p.bumpSwitcher == 7 ? c.s : diffuse;
    if (cz < 0.0f) return {float3(0.0f), float3(0.0f), 0.0f};

    float f0 = p.brdf00Reflectivity;
    if (p.patinaEnable) {
        c.d = saturate(lerp(diffuse, p.patinaColor, m));
        f0 = patinaBlend(f0, p.patinaBrdf00Reflectivity, m);
    }
    if (p.reflectSwitcher == 1 || p.reflectSwitcher == 4) {
        const float k = 1.0f - luminanceRec709(c.s) + p.diffuseWeight;
        if (!p.patinaEnable) c.s = c.d * c.s;
        c.d = saturate(k * c.d);
    }
    c.f = fresnelCurve(cz, p.brdfCurvePower, f0, p.brdf90Reflectivity);
    c.s = c.f * c.s;
    c.d = (1.0f - c.f) * c.d;
    return c;
}

// Whether the flake field puts a flake at pos; a flake adds its diffuse tint.
bool addFlakeDiffuse(IRenderServices* sv, const Params& p, float3 pos, Colours& col) {
    const float k = flakeField(sv, pos / p.flecksSize, p.flecksDensity, 0.005f).mask;
    const bool flakes = k >= 0.02f && k <= 0.5f;
    if (flakes && !isBlack(p.flecksDiffuseColor)) {
        col.d = col.d + k * p.flecksDiffuseColor * (1.0f - col.f);
    }
    return flakes;
}

// The Ward highlight and the diffuse base under the host's lights.
void addDirectLight(ShadingComponents& c, IRenderServices* sv, const ShadingState& st,
                    const MetalFrame& mf, const Colours& col, const Roughness& r, bool hasSpec) {
    const float3 din = mf.din;
    forEachLight(sv, st.position, st.normal, [&](const LightNode& node) {
        const float s = lightLeakFactor(node.direction, st.normal) * node.lightFactor;
        if (s < 0.0f) return;
        const float3 lf = toFrame(mf.frame, node.direction);
        if (din.z < 0.0f && lf.z > 0.0f && hasSpec) {
            const float3 spec = wardEval(din, lf, float3(0.0f), col.s, r.ax, r.ay);
            c.add(kDirectSpecular, spec * s * node.lightContribution);
        }
        c.add(kDirectDiffuse, col.d * s * node.lightContribution);
    });
}

float sampleCosine(const Params& p, const MetalFrame& mf, float3 wi, float3 direction) {
    return p.cosineUsesBump ? wi.z : dot(mf.side.nf, direction);
}

// The roughness and colours of the lobe under the patina.
struct Lobe {
    Roughness r;
    Colours col;
};

// One hit of the metal: the parameters, the services, the state and its uv,
// and the steps of the operations, each written once. The BSDF operations see
// no specular source: their frame turns by the rotation map or value, their
// roughness takes the anisotropy map or value and their colours start from
// "u_specularColor".
class MetalHit {
  public:
    MetalHit(const Params& p, IRenderServices* sv, const ShadingState& st)
        : p_(p), sv_(sv), st_(st), uv_(readAttribute<float2>(st, kUvAttribute)) {}

    // The components of shade.
    ShadingComponents lighting() const;

    void shadowTransmission(ShadingState* out) const;
    void evaluateBsdf(ShadingState* out) const;
    void sampleBsdf(ShadingState* out) const;

  private:
    static SpecularSource noSource() { return {float3(0.0f), 0.0f, 0.0f}; }

    MetalFrame frame(const SpecularSource& source) const {
        return metalFrame(sv_, p_, st_, uv_, source.rotation);
    }

    // Patina, roughness and colours, in this order, at the view of `mf`.
    Lobe lobe(const MetalFrame& mf, const SpecularSource& source) const {
        const float m = patina(sv_, p_, uv_);
        const Roughness r = roughness(p_, uv_, m, source.anisotropy);
        return {r, colours(p_, uv_, -mf.din.z, m, source.s0)};
    }

    void addReflection(ShadingComponents& c, const MetalFrame& mf, Colours& col, bool flakes) const;

    const Params& p_;
    IRenderServices* sv_;
    const ShadingState& st_;
    float2 uv_;
};

ShadingComponents MetalHit::lighting() const {
    ShadingComponents c;
    const float3 pos = st_.position;

    const float cv = coverage(p_, uv_);
    const bool cut = p_.cutoutsSwitcher > 0 && cv != 1.0f;
    float3 behind(0.0f);
    if (cut) {
        behind = svc::traceTransmission(sv_, pos, st_.rayDirection, 1.0f - cv,
                                        float4(0.0f, 0.0f, 0.0f, 1.0f))
                     .xyz();
    }

    const SpecularSource source = specularSource(sv_, p_, uv_);
    const MetalFrame mf = frame(source);
    Lobe lobe = this->lobe(mf, source);
    Colours& col = lobe.col;

    const bool flakes = p_.flecksEnable && addFlakeDiffuse(sv_, p_, pos, col);
    const bool hasSpec = maxComponent(col.s) > 1e-5f;
    addDirectLight(c, sv_, st_, mf, col, lobe.r, hasSpec);
    if (hasSpec && !p_.reflectionHighlightOnly) addReflection(c, mf, col, flakes);

    c.set(kSpecularColour, col.s);
    c.set(kAmbient, ambientTerm(sv_, col.d, pos, mf.frame.n));
    c.set(kAlbedoSum, col.d);

    if (p_.cutoutsSwitcher > 0) {
        c.cutHoles({kDirectDiffuse, kDirectSpecular, kAmbient, kReflection}, cv, behind);
    }
    return c;
}

// The traced anisotropic reflection; a flake reflects its own tint, which stays
// the specular colour from here on.
void MetalHit::addReflection(ShadingComponents& c, const MetalFrame& mf, Colours& col,
                             bool flakes) const {
    const TangentFrame& f = mf.frame;
    const float3 dir = reflectGuarded(st_.rayDirection, f.n, mf.side.ngf);
    if (flakes && !isBlack(p_.flecksSpecularColor)) col.s = col.f * p_.flecksSpecularColor;
    c.set(kReflection,
          col.s * svc::traceAnisotropicReflection(sv_, st_.position, dir, f.t, f.b, p_.glossyValueU,
                                                  p_.glossyValueV, maxComponent(col.s)));
}

void MetalHit::shadowTransmission(ShadingState* out) const {
    const float cv = coverage(p_, uv_);
    out->outTransmission = p_.cutoutsSwitcher > 0 && cv != 1.0f ? float3(1.0f - cv) : float3(0.0f);
}

void MetalHit::evaluateBsdf(ShadingState* out) const {
    const MetalFrame mf = frame(noSource());
    const float3 direction = st_.sampleDirection;
    const float3 wi = toFrame(mf.frame, direction);
    if (!(wi.z > 0.0f && mf.din.z < 0.0f)) {
        out->sampleValue = float3(0.0f);
        out->sampleCosine = 0.0f;
        return;
    }
    const Lobe l = lobe(mf, noSource());
    const float cosine = sampleCosine(p_, mf, wi, direction);
    out->sampleCosine = cosine;
    out->sampleValue =
        cosine > 0.0f ? wardEval(mf.din, wi, l.col.d, l.col.s, l.r.ax, l.r.ay) : float3(0.0f);
}

void MetalHit::sampleBsdf(ShadingState* out) const {
    const MetalFrame mf = frame(noSource());
    const float3 din = mf.din;
    if (!(din.z < 0.0f)) {
        out->sampleKind = kSampleNone;
        return;
    }
    const Lobe l = lobe(mf, noSource());
    sampleWardBsdf(sv_, out, mf.frame, din, l.col.d, l.col.s, l.r.ax, l.r.ay,
                   [&](float3 dout, float3 dir) { return sampleCosine(p_, mf, dout, dir); });
}

}  // namespace

void corvid_Mtl_Metal::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this,
                     kCapShade | kCapShadowTransmission | kCapEvaluateBsdf | kCapSampleBsdf);
    Params& p = params;
    p.block.declare(declare);
    declare("u_flecksEnable", p.flecksEnable);
    declare("u_flecksDiffuseColor", p.flecksDiffuseColor);
    declare("u_flecksSpecularColor", p.flecksSpecularColor);
    declare("u_flecksSize", p.flecksSize);
    declare("u_flecksDensity", p.flecksDensity);
    declare("u_patternEnable", p.patternEnable);
    declare("u_patternMap", p.patternMap);
    declare("u_patternTransform", p.patternTransform);
    declare("u_patternAmount", p.patternAmount);
    declare("u_diffuseMapEnable", p.diffuseMapEnable);
    declare("u_diffuseMap", p.diffuseMap);
    declare("u_diffuseColor", p.diffuseColor);
    declare("u_diffuseTransform", p.diffuseTransform);
    declare("u_diffuseWeight", p.diffuseWeight);
    declare("u_specularMapEnable", p.specularMapEnable);
    declare("u_specularMap", p.specularMap);
    declare("u_specularColor", p.specularColor);
    declare("u_specularTransform", p.specularTransform);
    declare("u_roughMapEnable", p.roughMapEnable);
    declare("u_roughMap", p.roughMap);
    declare("u_roughValue", p.roughValue);
    declare("u_roughTransform", p.roughTransform);
    declare("u_glossyValueU", p.glossyValueU);
    declare("u_glossyValueV", p.glossyValueV);
    declare("u_anisotropyMapEnable", p.anisotropyMapEnable);
    declare("u_anisotropyMap", p.anisotropyMap);
    declare("u_anisotropyValue", p.anisotropyValue);
    declare("u_anisotropyTransform", p.anisotropyTransform);
    declare("u_anisoRotationMapEnable", p.anisoRotationMapEnable);
    declare("u_anisoRotationMap", p.anisoRotationMap);
    declare("u_anisoRotationValue", p.anisoRotationValue);
    declare("u_anisoRotationTransform", p.anisoRotationTransform);
    declare("u_brdfCurvePower", p.brdfCurvePower);
    declare("u_brdf00Reflectivity", p.brdf00Reflectivity);
    declare("u_brdf90Reflectivity", p.brdf90Reflectivity);
    declare("u_cutoutsSwitcher", p.cutoutsSwitcher);
    declare("u_cutoutMap", p.cutoutMap);
    declare("u_cutoutTransform", p.cutoutTransform);
    declare("u_cutoutsCenter", p.cutoutsCenter);
    declare("u_cutoutsSize", p.cutoutsSize);
    declare("u_cutoutsSpace", p.cutoutsSpace);
    declare("u_uvScale", p.uvScale);
    declare("u_otherScale", p.otherScale);
    declare("u_uvDefScale", p.uvDefScale);
    declare("u_cutoutAmount", p.cutoutAmount);
    declare("u_cosineUsesBump", p.cosineUsesBump);
    declare("u_bumpSwitcher", p.bumpSwitcher);
    declare("u_metalPatternScale", p.metalPatternScale);
    declare("u_reflectSwitcher", p.reflectSwitcher);
    declare("u_anisoSwitcher", p.anisoSwitcher);
    declare("u_anisoRotSwitcher", p.anisoRotSwitcher);
    declare("u_anisoColor", p.anisoColor);
    declare("u_reflectColor", p.reflectColor);
    declare("u_reflMapAmount", p.reflMapAmount);
    declare("u_anisoMapAmount", p.anisoMapAmount);
    declare("u_anisorotMapAmount", p.anisorotMapAmount);
    declare("u_brushMapEnable", p.brushMapEnable);
    declare("u_brushMap", p.brushMap);
    declare("u_brushTransform", p.brushTransform);
    declare("u_breakMapEnable", p.breakMapEnable);
    declare("u_breakMap", p.breakMap);
    declare("u_breakTransform", p.breakTransform);
    declare("u_bumpMapColorEnable", p.bumpMapColorEnable);
    declare("u_bumpMapColor", p.bumpMapColor);
    declare("u_bumpMapColorTransform", p.bumpMapColorTransform);
    declare("u_noiseanodized_tiling", p.noiseanodizedTiling);
    declare("u_bumpMapAmount", p.bumpMapAmount);
    declare("u_patinaEnable", p.patinaEnable);
    declare("u_patinaMap", p.patinaMap);
    declare("u_patinaColor", p.patinaColor);
    declare("u_patinaGlossy", p.patinaGlossy);
    declare("u_patinaBrdf00Reflectivity", p.patinaBrdf00Reflectivity);
    declare("u_reflectionHighlightOnly", p.reflectionHighlightOnly);
    declare("n_patinaPercent", p.patinaPercent);
    declareFrameAttributes(declare);
}

void corvid_Mtl_Metal::shade(IRenderServices* sv, ShadingState* st) {
    composeShade(params.block, sv, st, readAttribute<float2>(*st, kUvAttribute), Occlusion::kApply,
                 [&] { return MetalHit(params, sv, *st).lighting(); });
}

void corvid_Mtl_Metal::shadowTransmission(IRenderServices* sv, ShadingState* st) {
    MetalHit(params, sv, *st).shadowTransmission(st);
}

void corvid_Mtl_Metal::evaluateBsdf(IRenderServices* sv, ShadingState* st) {
    MetalHit(params, sv, *st).evaluateBsdf(st);
}

void corvid_Mtl_Metal::sampleBsdf(IRenderServices* sv, ShadingState* st) {
    MetalHit(params, sv, *st).sampleBsdf(st);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Metal)

// The Ward material's per-hit core, shared by corvid_Mtl_Ward and its generated
// variants.
//
// Design. A Ward class is a parameter block plus an *inputs policy*: a small
// value type that hands the core the Ward parameters, the offsets of the
// "bitangent", "tangent" and "uv" attributes, and the three lookups a variant may
// bind to a node graph:
//
//     struct Inputs {
//         const WardParams& ward;
//         static constexpr int32_t kBitangentOffset, kTangentOffset, kUvOffset;
//         // Height map 0: bends a.n (the caller renormalises and rebuilds).
//         void bumpHeight0(TangentFrame& a, IRenderServices*, const ShadingState&,
//                          float2 uv, float amount) const;
//         // The diffuse map's texel, before the image fade.
//         float4 diffuseTexel(IRenderServices*, const ShadingState&, float2 uv) const;
//         // The cut-out coverage (1 = solid, 0 = hole).
//         float cutoutCoverage(IRenderServices*, const ShadingState&, float2 uv) const;
//     };
//
// WardImageInputs is the policy of corvid_Mtl_Ward: the three lookups read the
// "u_normal0Map", "u_diffuseMap" and "u_cutoutMap" textures. A variant derives
// its policy from WardImageInputs, redeclares the attribute offsets and hides
// only the lookups its graphs replace; the core is a template over the policy,
// so the calls resolve statically and nothing else is repeated.
//
// WardHit<Inputs> holds one hit's inputs and computes roughness, lobe weights,
// frames with every bump and the lighting components, and performs
// shadowTransmission, evaluateBsdf and sampleBsdf; wardShade composes shade.
// WardMaterial<Derived> turns them into the shader slots: a class provides
// `params` (with its occlusion and masking block as `params.block`), `inputs()`
// and declareParameters, nothing more. A variant's Params hold WardParams, its
// node fields and the block, in its own order.
//
// Everything here reads the parameters and the state and writes only the state's
// output fields; all working values live on the stack.
#pragma once

#include <cmath>
#include <type_traits>

#include "frame/occlusion_masking.h"
#include "frame/services.h"
#include "frame/shader_class.h"
#include "materials/ward/ward_params.h"
#include "materials/ward/ward_surface.h"
#include "shading/lighting.h"
#include "shading/noise_texture.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"
#include "shading/ward_lobe.h"

namespace pxs {

// Roughness below this makes the Ward normalisation overflow into NaN.
constexpr float kMinWardRoughness = 1e-4f;

// The lookups of corvid_Mtl_Ward: plain texture maps.
struct WardImageInputs {
    const WardParams& ward;

    static constexpr int32_t kBitangentOffset = 24;
    static constexpr int32_t kTangentOffset = 36;
    static constexpr int32_t kUvOffset = 48;

    void bumpHeight0(TangentFrame& a, IRenderServices*, const ShadingState&, float2 uv,
                     float amount) const {
        bumpFromHeight(a, uv, ward.normal0Map, ward.normal0Transform, amount, 1.0f);
    }
    float4 diffuseTexel(IRenderServices*, const ShadingState&, float2 uv) const {
        float4 t = sampleMap(ward.diffuseMap, ward.diffuseTransform, uv);
        return float4(t.xyz() * ward.diffuseAmount, t.w);
    }
    float cutoutCoverage(IRenderServices*, const ShadingState&, float2 uv) const {
        return sampleMap(ward.cutoutMap, ward.cutoutTransform, uv).x * ward.cutoutAmount;
    }
};

struct WardRoughness {
    float ax;  // along the tangent
    float ay;  // along the bitangent
};

// Diffuse d, specular s, transmission x and transmission tint k of one side.
struct WardLobes {
    float3 d;
    float3 s;
    float3 x{0.0f, 0.0f, 0.0f};
    float3 k{1.0f, 1.0f, 1.0f};
};

// Frame a carries every bump (and is what the lobe is evaluated in); frame b
// only height map 0 and the rotation, and gives the lighting normal unless
// "u_normal1AsShadingNormal" is set.
struct WardFrames {
    TangentFrame a;
    TangentFrame b;
};

// The surface as the lighting steps see it: frame a bent towards the viewer,
// the lighting normal nl (frame b's unless "u_normal1AsShadingNormal" is set),
// the side the ray hits, the view cosine cs against a.n and the front lobes.
struct WardLit {
    TangentFrame a;
    float3 nl;
    bool front;
    float cs;
    WardRoughness rough;
    WardLobes lobes;
    bool hasSpecular;
};

template <class Inputs>
class WardHit {
  public:
    WardHit(const Inputs& inputs, IRenderServices* services, const ShadingState& state)
        : in_(inputs),
          w_(in_.ward),
          sv_(services),
          st_(state),
          face_(facing(state)),
          uv_(readAttribute<float2>(state, Inputs::kUvOffset)) {}

    float anisoRotation() const {
        return w_.anisoRotationMapEnable
                   ? sampleMap(w_.anisoRotationMap, w_.anisoRotationTransform, uv_).x *
                         w_.anisoRotationAmount
                   : w_.anisoRotationValue;
    }

    WardRoughness roughness() const {
        float ax = w_.roughMapEnable
                       ? glossToRoughness(sampleMap(w_.roughMap, w_.roughTransform, uv_).x *
                                          w_.roughAmount)
                       : w_.roughValue;
        float a = scalarMap(w_.anisotropyMapEnable, w_.anisotropyMap, w_.anisotropyTransform,
                            w_.anisotropyValue, w_.anisotropyAmount, uv_);
        float ay = a * ax;
        // Written as tests so that NaN also ends at the floor.
        if (!(ax > kMinWardRoughness)) ax = kMinWardRoughness;
        if (!(ay > kMinWardRoughness)) ay = kMinWardRoughness;
        return {ax, ay};
    }

    float transparency() const {
        if (!w_.transparency) return 0.0f;
        if (!w_.transparencyMapEnable) return w_.transparencyValue;
        float m = sampleMap(w_.transparencyMap, w_.transparencyTransform, uv_).x;
        return (1.0f - w_.transparencyFade) * w_.transparencyValue +
               m * w_.transparencyAmount * w_.transparencyFade;
    }

    float translucency() const {
        if (!w_.transparency) return 0.0f;
        return scalarMap(w_.translucencyMapEnable, w_.translucencyMap, w_.translucencyTransform,
                         w_.translucencyValue, w_.translucencyAmount, uv_);
    }

    // The diffuse colour with the diffuse map and the image fade applied.
    float3 diffuseColour() const {
        float3 d = w_.diffuseColor;
        if (w_.diffuseMapEnable) {
            float4 t = in_.diffuseTexel(sv_, st_, uv_);
            if (w_.imageFadeEnable == 1) {
                d = lerp(w_.diffuseColor, t.xyz(), t.w * w_.imageFade);
            } else {
                d = t.xyz();
            }
        }
        if (w_.imageFadeEnable >= 2) {
            float3 fade(0.0f);
            switch (w_.imageFadeEnable) {
                case 2:
                    fade = sampleMap(w_.imageFadeMap, w_.imageFadeTransform, uv_).xyz() *
                           w_.imageFadeAmount;
                    break;
                case 3:
                    fade = w_.imageFadeColor;
                    break;
                case 4:
                    fade = noiseTextureColour(*sv_, 0.2f * st_.mappingPoint, wardFadeNoise()).xyz();
                    break;
                default:
                    break;
            }
            d = imageFadeBlend(d, fade, w_.imageFade);
        }
        return d;
    }

    // Weights of the layers for the side `front` (the back side keeps diffuse light
    // only through the translucency), at the view cosine cs. Neither front nor
    // transmit: no reflectivity at all.
    WardLobes lobeWeights(bool front, bool transmit, float cs) const {
        WardLobes o;
        o.s = w_.specularColor;
        if (w_.specularMapEnable) {
            o.s = saturate(sampleMap(w_.specularMap, w_.specularTransform, uv_).xyz() *
                           w_.specularAmount);
        }
        o.d = diffuseColour();
        cs = maxf(cs, 0.0f);
        float r00 =
            scalarMap(w_.brdf00ReflectMapEnable, w_.brdf00ReflectMap, w_.brdf00ReflectTransform,
                      w_.brdf00Reflectivity, w_.brdf00ReflectAmount, uv_);
        float r90 =
            scalarMap(w_.brdf90ReflectMapEnable, w_.brdf90ReflectMap, w_.brdf90ReflectTransform,
                      w_.brdf90Reflectivity, w_.brdf90ReflectAmount, uv_);
        float r = 0.0f;
        if (front || transmit) {
            r = clampf(fresnelCurve(clampf(cs, 0.0f, 1.0f), w_.brdfCurvePower, r00, r90), 0.0f,
                       1.0f) *
                w_.reflectivity;
        }
        if (w_.isMetal) {
            float k = 1.0f - luminanceRec709(o.s) * r;
            o.s = o.s * o.d;
            o.d = o.d * k;
        }
        o.s = o.s * r;
        o.d = o.d * (1.0f - r);
        if (!w_.transparency) {
            if (!front) o.d = float3(0.0f);
            return o;
        }
        float t = transparency();
        float l = translucency();
        o.k = float3(t) + (1.0f - t) * w_.diffuseColor;
        if (front) {
            o.d = o.d * (1.0f - t);
            o.x = (1.0f - r) * t * o.k;
        } else {
            o.d = o.d * t * l;
            o.x = (1.0f - r) * t * (1.0f - l) * o.k;
        }
        return o;
    }

    WardFrames frames() const {
        WardFrames f;
        f.a = frameFromState(st_, face_.nf, Inputs::kTangentOffset);
        if (w_.normal0MapEnable) {
            float amount = w_.normal0Amount;
            if (w_.normal0AmountMapEnable) {
                amount = amount * sampleMap(w_.normal0AmountMap, w_.normal0AmountTransform, uv_).x;
            }
            in_.bumpHeight0(f.a, sv_, st_, uv_, amount);
            rebuildFrame(f.a);
        }
        const float angle = anisoRotation();
        f.b = f.a;
        rotate(f.b, angle);
        if (w_.normal1MapEnable) {
            bumpFromHeight(f.a, uv_, w_.normal1Map, w_.normal1Transform, w_.normal1Amount, 1.0f);
            rebuildFrame(f.a);
        } else {
            proceduralBump(f.a);
        }
        rotate(f.a, angle);
        return f;
    }

    // The ten components of the lighting routine.
    ShadingComponents lighting() const;

    void shadowTransmission(ShadingState* out) const;
    void evaluateBsdf(ShadingState* out) const;
    void sampleBsdf(ShadingState* out) const;

  private:
    struct Cutout {
        float coverage;  // 1 solid, 0 a hole
        float4 behind;   // what the holes show
    };

    Cutout cutout() const;
    WardLit litSurface() const;
    void addDirectLight(ShadingComponents& c, const WardLit& lit) const;
    WardLobes addBackLight(ShadingComponents& c, const WardLit& lit) const;
    void addReflection(ShadingComponents& c, const WardLit& lit) const;
    void addRefraction(ShadingComponents& c, const WardLit& lit, float3 xs) const;
    float3 additionalColour() const;

    static void rotate(TangentFrame& f, float angle) {
        if (angle == 0.0f) return;
        float c = std::cos(angle), s = std::sin(angle);
        float3 t = f.t, b = f.b;
        f.t = c * t + s * b;
        f.b = -s * t + c * b;
    }

    PatternAxes patternAxes() const {
        return {readAttribute<float3>(st_, Inputs::kTangentOffset),
                readAttribute<float3>(st_, Inputs::kBitangentOffset), face_.nf};
    }

    void bend(TangentFrame& a, float3 v) const {
        a.n = a.n + fromFrame(a, v);
        rebuildFrame(a);
    }

    void proceduralBump(TangentFrame& a) const {
        const int32_t mode = w_.procedureMapEnable;
        const float amount = w_.procedureMapAmount;
        const float3 p = st_.position;
        const float3 q = p * w_.procedureMapTiling;
        switch (mode) {
            case 1: {
                float3 placed = patternPlacement(p, nullptr, float3(0.0f), w_.procedureMapTiling,
                                                 float3(-0.6f, -0.6f, 0.5f));
                float3 g = noiseTextureBump(*sv_, placed, wardBumpNoise(), a.t, a.b, a.n);
                bend(a, 0.5f * amount * g);
                break;
            }
            case 2:
                bend(a, amount * smokeBump(*sv_, q, patternAxes()));
                break;
            case 3:
                bend(a, amount * rippleBump(*sv_, q, patternAxes()));
                break;
            case 4:
                buildFrame(a);
                break;
            case 5:
            case 6:
            case 7: {
                float3 placed = patternPlacement(100.0f * p, nullptr, float3(0.0f),
                                                 w_.procedureMapTiling, float3(0.0f));
                float3 g = noiseTextureBump(*sv_, placed, wardGrainNoise(mode - 5), a.t, a.b, a.n);
                bend(a, amount * saturate(g));
                break;
            }
            default:
                break;
        }
    }

    float coverage() const { return in_.cutoutCoverage(sv_, st_, uv_); }

    float3 cosineNormal(const TangentFrame& a) const { return w_.cosineUsesBump ? a.n : face_.nf; }

    Inputs in_;  // a few references: kept by value
    const WardParams& w_;
    IRenderServices* sv_;
    const ShadingState& st_;
    Facing face_;
    float2 uv_;
};

// ---- lighting ------------------------------------------------------------------

template <class Inputs>
ShadingComponents WardHit<Inputs>::lighting() const {
    ShadingComponents c;
    const Cutout cut = cutout();
    if (cut.coverage == 0.0f) {
        c.set(kRefraction, cut.behind.xyz());
        c.set(kTransmissionWeight, float3(1.0f));
        return c;
    }

    const WardLit lit = litSurface();
    addDirectLight(c, lit);
    const WardLobes back = addBackLight(c, lit);
    const float3 db = back.d * back.k;
    c.set(kDiffuseAlbedo, lit.lobes.d + db);
    addReflection(c, lit);
    addRefraction(c, lit, lit.front ? lit.lobes.x : back.x);

    const float3 p = st_.position;
    const float3 ambientLit = ambientTerm(sv_, lit.lobes.d, p, lit.nl);  // lit side first
    c.set(kAmbient, ambientLit + ambientTerm(sv_, db, p, -lit.nl));
    c.set(kAlbedoSum, lit.lobes.d + db);
    c.set(kAdditional, additionalColour());

    if (w_.cutoutMapEnable) {
        c.cutHoles({kDirectDiffuse, kDirectSpecular, kAmbient, kReflection, kAdditional},
                   cut.coverage, cut.behind.xyz());
    }
    return c;
}

// Cut-out: what lies behind the holes is traced once, with the hole's share.
template <class Inputs>
typename WardHit<Inputs>::Cutout WardHit<Inputs>::cutout() const {
    Cutout out{1.0f, float4(0.0f, 0.0f, 0.0f, 1.0f)};
    if (!w_.cutoutMapEnable) return out;
    out.coverage = coverage();
    if (out.coverage != 1.0f) {
        out.behind = svc::traceTransmission(sv_, st_.position, st_.rayDirection,
                                            1.0f - out.coverage, out.behind);
    }
    return out;
}

template <class Inputs>
WardLit WardHit<Inputs>::litSurface() const {
    const float3 i = st_.rayDirection;
    WardFrames f = frames();
    f.a.n = bendTowardViewer(-i, face_.nf, f.a.n);
    buildFrame(f.a);
    WardLit lit;
    lit.a = f.a;
    lit.rough = roughness();
    lit.nl = w_.normal1AsShadingNormal ? f.a.n : f.b.n;
    lit.front = dot(i, st_.geometricNormal) <= 0.0f;
    lit.cs = -dot(i, f.a.n);
    lit.lobes = lobeWeights(true, false, lit.cs);
    lit.hasSpecular = maxComponent(lit.lobes.s) > 1e-5f;
    return lit;
}

// Direct light through the lobe of frame a, faded by the leak factor around nl.
template <class Inputs>
void WardHit<Inputs>::addDirectLight(ShadingComponents& c, const WardLit& lit) const {
    const float3 i = st_.rayDirection;
    const TangentFrame& a = lit.a;
    const float3 din = toFrame(a, i);
    const bool viewerAbove = dot(i, a.n) < 0.0f;
    forEachLight(sv_, st_.position, lit.nl, [&](const LightNode& node) {
        const float3 col = node.lightContribution;
        if (col == float3(0.0f)) return;
        const float3 l = node.direction;
        const float weight = lightLeakFactor(l, lit.nl) * node.lightFactor;
        if (viewerAbove && dot(l, a.n) > 0.0f && lit.hasSpecular) {
            float3 spec =
                wardEval(din, toFrame(a, l), float3(0.0f), lit.lobes.s, lit.rough.ax, lit.rough.ay);
            c.add(kDirectSpecular, weight * spec * col);
        }
        c.add(kDirectDiffuse, weight * lit.lobes.d * col);
    });
}

// Seen from the back, lights on the far side shine through the translucency.
// Returns the back side's lobes (black from the front).
template <class Inputs>
WardLobes WardHit<Inputs>::addBackLight(ShadingComponents& c, const WardLit& lit) const {
    WardLobes back{float3(0.0f), float3(0.0f)};
    if (lit.front) return back;
    back = lobeWeights(false, false, lit.cs);
    const float3 db = back.d * back.k;
    forEachLight(sv_, st_.position, -lit.nl, [&](const LightNode& node) {
        const float3 col = node.lightContribution;
        if (col == float3(0.0f)) return;
        c.add(kDirectDiffuse, node.lightFactor * db * col);
    });
    return back;
}

// The traced glossy reflection, seen from the front only.
template <class Inputs>
void WardHit<Inputs>::addReflection(ShadingComponents& c, const WardLit& lit) const {
    if (!lit.front) return;
    c.set(kSpecularColour, lit.lobes.s);
    if (lit.hasSpecular && !w_.reflectionHighlightOnly) {
        const float3 r = reflectGuarded(st_.rayDirection, lit.a.n, st_.geometricNormal);
        c.set(kReflection,
              lit.lobes.s * svc::traceGlossyReflection(sv_, st_.position, r, w_.reflectGlossyValue,
                                                       maxComponent(lit.lobes.s)));
    }
}

// The traced refraction with transmission weight xs; leaving the object beyond
// the critical angle reflects instead.
template <class Inputs>
void WardHit<Inputs>::addRefraction(ShadingComponents& c, const WardLit& lit, float3 xs) const {
    c.set(kTransmissionWeight, xs);
    if (!w_.transparency || xs == float3(0.0f)) return;
    const float3 i = st_.rayDirection;
    const float eta = lit.front ? st_.mediumIor / w_.ior : w_.ior / st_.outsideIor;
    const float3 refracted = refractDirection(i, lit.nl, eta);
    const bool reflectInstead = !lit.front && refracted == float3(0.0f);
    const float3 dir = reflectInstead ? reflectGuarded(i, lit.nl, -st_.geometricNormal) : refracted;
    if (dir == float3(0.0f)) return;
    const float gloss =
        w_.refractGlossyMapEnable
            ? refractGlossRemap(sampleMap(w_.refractGlossyMap, w_.refractGlossyTransform, uv_).x *
                                w_.refractGlossyAmount)
            : w_.refractGlossyValue;
    const float4 t = svc::traceGlossyTransmission(sv_, st_.position, dir, gloss, maxComponent(xs),
                                                  float4(0.0f, 0.0f, 0.0f, 1.0f));
    c.set(kRefraction, xs * t.xyz());
}

template <class Inputs>
float3 WardHit<Inputs>::additionalColour() const {
    float3 additional = w_.additionalColor;
    if (w_.additionalMapEnable) {
        const float4 t = sampleMap(w_.additionalMap, w_.additionalMapTransform, uv_);
        additional = additional * saturate(t.xyz()) * w_.additionalAmount;
    }
    return additional;
}

// ---- shadow, evaluation and sampling ---------------------------------------------

template <class Inputs>
void WardHit<Inputs>::shadowTransmission(ShadingState* out) const {
    float3 result(0.0f);
    float cov = 1.0f;
    if (w_.cutoutMapEnable) {
        cov = coverage();
        if (cov != 1.0f) result = float3(1.0f - cov);
    }
    if (w_.transparency) {
        const float3 i = st_.rayDirection;
        float3 x = lobeWeights(dot(i, st_.geometricNormal) <= 0.0f, true, -dot(i, st_.normal)).x;
        // Holes stay holes: light passes them in full, the rest through the material.
        result = w_.cutoutMapEnable ? cov * x + float3(1.0f - cov) : x;
    }
    out->outTransmission = result;
}

template <class Inputs>
void WardHit<Inputs>::evaluateBsdf(ShadingState* out) const {
    const float3 i = st_.rayDirection;
    const float3 l = st_.sampleDirection;
    const WardFrames f = frames();
    const TangentFrame& a = f.a;
    float3 value(0.0f);
    float cosine = 0.0f;
    if (dot(l, a.n) > 0.0f && dot(i, a.n) < 0.0f) {
        const WardRoughness rough = roughness();
        const WardLobes lobes = lobeWeights(true, false, -dot(i, a.n));
        float c = dot(l, cosineNormal(a));
        if (c > 0.0f) {
            cosine = c;
            value = wardEval(toFrame(a, i), toFrame(a, l), lobes.d, lobes.s, rough.ax, rough.ay);
        }
    }
    out->sampleValue = value;
    out->sampleCosine = cosine;
}

template <class Inputs>
void WardHit<Inputs>::sampleBsdf(ShadingState* out) const {
    const WardFrames f = frames();
    const TangentFrame& a = f.a;
    const float3 din = toFrame(a, st_.rayDirection);
    if (din.z >= 0.0f) {
        out->sampleKind = kSampleNone;
        return;
    }
    const WardRoughness rough = roughness();
    const WardLobes lobes = lobeWeights(true, false, -din.z);
    const float3 n = cosineNormal(a);
    sampleWardBsdf(
        sv_, out, a, din, lobes.d, lobes.s, rough.ax, rough.ay,
        [&](float3 dout, float3 dir) { return w_.cosineUsesBump ? dout.z : dot(dir, n); });
}

// ---- the per-hit operations ------------------------------------------------------

template <class Inputs, class Block>
void wardShade(const Inputs& inputs, const Block& block, IRenderServices* sv, ShadingState* st) {
    composeShade(block, sv, st, readAttribute<float2>(*st, Inputs::kUvOffset), Occlusion::kApply,
                 [&] { return WardHit<Inputs>(inputs, sv, *st).lighting(); });
}

// The shader slots of a Ward class. Derived provides `params.block` (its
// occlusion and masking block), `inputs()` (its policy) and declareParameters.
template <class Derived>
class WardMaterial : public ShaderClass<Derived, MaterialShader> {
  public:
    static constexpr uint32_t kCapabilities =
        kCapShade | kCapShadowTransmission | kCapEvaluateBsdf | kCapSampleBsdf;

    void shade(IRenderServices* sv, ShadingState* st) override {
        wardShade(self().inputs(), self().params.block, sv, st);
    }
    void shadowTransmission(IRenderServices* sv, ShadingState* st) override {
        hit(sv, st).shadowTransmission(st);
    }
    void evaluateBsdf(IRenderServices* sv, ShadingState* st) override {
        hit(sv, st).evaluateBsdf(st);
    }
    void sampleBsdf(IRenderServices* sv, ShadingState* st) override { hit(sv, st).sampleBsdf(st); }

  protected:
    ~WardMaterial() = default;

  private:
    const Derived& self() const { return static_cast<const Derived&>(*this); }
    auto hit(IRenderServices* sv, const ShadingState* st) const {
        using Inputs = std::decay_t<decltype(self().inputs())>;
        return WardHit<Inputs>(self().inputs(), sv, *st);
    }
};

}  // namespace pxs

#include "materials/physical/corvid_Mtl_MetallicPaint.h"

#include <cmath>

#include "shading/flake_field.h"
#include "shading/lighting.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"
#include "shading/ward_lobe.h"

namespace pxs {

namespace {

using Params = corvid_Mtl_MetallicPaint::Params;

// Ward roughness never reaches 0: the lobe divides by it.
constexpr float kMinRoughness = 1e-4f;

// base^exponent, or 0 where a negative base has no fractional power.
float powOrZero(float base, float exponent) {
    const float v = std::pow(base, exponent);
    return v == v ? v : 0.0f;
}

// Each channel of v, or 0 where it has no finite value.
float3 finiteOrZero(float3 v) {
    return {std::isfinite(v.x) ? v.x : 0.0f, std::isfinite(v.y) ? v.y : 0.0f,
            std::isfinite(v.z) ? v.z : 0.0f};
}

struct Layers {
    Facing side;
    TangentFrame base;
    TangentFrame top;
    float3 vt;  // the ray in the topcoat frame, pointing at the surface
    float3 vb;  // the ray in the base frame
    float ft;   // topcoat Fresnel
    float3 cd;  // base diffuse weight
    float3 ws;  // base specular weight (grey)
    float rough;
};

Layers layers(IRenderServices* sv, const Params& p, const ShadingState& st, float2 uv) {
    Layers l;
    l.side = facing(st);
    l.base = frameFromState(st, l.side.nf);
    l.top = l.base;
    if (p.finish == 1) peelBump(sv, l.top, 0.8f * st.position, p.finishPeelamount);
    l.vt = toFrame(l.top, st.rayDirection);
    l.vb = toFrame(l.base, st.rayDirection);

    l.ft = topcoatFresnel(-l.vt.z);
    const float tc = p.topcoatEnable ? 1.0f - l.ft * p.baseHighlightSpread : 1.0f;
    const float fb =
        fresnelCurve(-l.vb.z, p.baseCurvePower, p.base00Reflectivity, p.base90Reflectivity);
    const float3 cb =
        p.baseMapEnable ? sampleMap(p.baseMap, p.baseTransform, uv).xyz() : p.baseColor.xyz();
    l.cd = (1.0f - fb) * cb * tc;
    l.ws = float3(fb * tc);
    l.rough = maxf(p.baseRoughValue, kMinRoughness);
    return l;
}

// One light's share of the paint: the shaped base diffuse with its hue shift
// and pearl, and the base highlight with its flakes.
struct PaintLight {
    const Params& p;
    IRenderServices* sv;
    const ShadingState& st;
    const Layers& l;
    float shapeExponent;
    float facingBase;  // |base normal . I|
    bool hasSpec;
    // The flake field depends on the point only: evaluated once, when a lit
    // highlight first needs it.
    bool flakeDone = false;
    float flake = 0.0f;

    void add(ShadingComponents& c, const LightNode& node) {
        const float lf = node.lightFactor;
        const float s = lightLeakFactor(node.direction, st.normal) * lf;
        const float shaped = std::pow(s, shapeExponent);
        const float3 spec = highlight(toFrame(l.base, node.direction));
        const float3 d = diffuse(shaped, lf);
        // An unlit light (s = 0) shaped by a negative exponent, or a shaped
        // factor past the float range, leaves d without a finite value: such a
        // light adds no diffuse.
        c.add(kDirectDiffuse, finiteOrZero(d * s * node.lightContribution));
        c.add(kDirectSpecular, spec * s * node.lightContribution);
    }

    float3 diffuse(float shaped, float lf) const {
        float3 d = l.cd;
        if (p.baseHighlightSpread > 0.6f) d = l.cd * shaped;
        if (p.hueWeight > 0.0f) d += p.hueWeight * p.shiftedColor * shaped * facingBase;
        if (p.pearl > 0) {
            // A shading normal turned away from the viewer (a negative cosine)
            // gets the pearl of a grazing view.
            const float view = powOrZero(-dot(st.rayDirection, l.side.nf), 2.0f * p.pearlIor);
            const float w = (1.0f - view) * (1.0f - shaped * shaped * shaped) * (lf * lf);
            d += w * p.pearlColor.xyz() * p.pearlAmount;
            d = saturate(d);
        }
        return d;
    }

    // lb: the light in the base frame. A light below the base frame has no
    // highlight (the lobe is undefined there).
    float3 highlight(float3 lb) {
        const float3 vb = l.vb;
        if (!(vb.z < 0.0f && hasSpec && lb.z > 0.0f)) return float3(0.0f);
        float3 spec = wardEval(vb, lb, float3(0.0f), l.ws, l.rough, l.rough);
        if (p.flecksEnable) spec += flakeHighlight(lb);
        return spec;
    }

    float3 flakeHighlight(float3 lb) {
        if (!flakeDone) {
            flake = flakeField(sv, st.position / p.flecksSize, 2.5f, 0.05f).mask;
            flakeDone = true;
        }
        const float3 vb = l.vb;
        const float3 h = lb - vb;
        const float a4 = 4.0f * l.rough;
        const float hx = h.x / a4;
        const float hy = h.y / a4;
        const float lobe = std::exp(-(hx * hx + hy * hy) / (h.z * h.z)) /
                           (a4 * kFourPi * a4 * std::sqrt(-vb.z * lb.z));
        return flake * p.flecksColor.xyz() * lobe;
    }
};

}  // namespace

void corvid_Mtl_MetallicPaint::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapEvaluateBsdf | kCapSampleBsdf);
    Params& p = params;
    p.block.declare(declare);
    declareFrameAttributes(declare);
    declare("u_topcoatEnable", p.topcoatEnable);
    declare("u_pearl", p.pearl);
    declare("u_pearlColor", p.pearlColor);
    declare("u_pearlIor", p.pearlIor);
    declare("u_pearlAmount", p.pearlAmount);
    declare("u_finish", p.finish);
    declare("u_finishPeelamount", p.finishPeelamount);
    declare("u_baseHighlightSpread", p.baseHighlightSpread);
    declare("u_flecksEnable", p.flecksEnable);
    declare("u_flecksColor", p.flecksColor);
    declare("u_baseMapEnable", p.baseMapEnable);
    declare("u_baseMap", p.baseMap);
    declare("u_baseColor", p.baseColor);
    declare("u_baseTransform", p.baseTransform);
    declare("u_shiftedColor", p.shiftedColor);
    declare("u_hueWeight", p.hueWeight);
    declare("u_baseBiasFactor", p.baseBiasFactor);
    declare("u_baseRoughValue", p.baseRoughValue);
    declare("u_topcoatRoughValue", p.topcoatRoughValue);
    declare("u_baseCurvePower", p.baseCurvePower);
    declare("u_base00Reflectivity", p.base00Reflectivity);
    declare("u_base90Reflectivity", p.base90Reflectivity);
    declare("u_flecksSize", p.flecksSize);
}

void corvid_Mtl_MetallicPaint::shade(IRenderServices* sv, ShadingState* st) {
    const Params& p = params;
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    composeShade(p.block, sv, st, uv, Occlusion::kApply, [&] {
        ShadingComponents c;
        const float3 i = st->rayDirection;
        const float3 pos = st->position;
        const Layers l = layers(sv, p, *st, uv);
        const bool hasSpec = maxComponent(l.ws) > 1e-5f;
        c.set(kAlbedoSum, l.cd);
        c.set(kSpecularColour, l.ws);

        PaintLight light{p,
                         sv,
                         *st,
                         l,
                         p.baseHighlightSpread * p.baseBiasFactor,
                         std::fabs(dot(l.base.n, i)),
                         hasSpec};
        forEachLight(sv, pos, st->normal, [&](const LightNode& node) { light.add(c, node); });

        if (hasSpec) {
            const float3 r = reflectGuarded(i, l.side.nf, l.side.ngf);
            c.set(kReflection, weightedGlossyReflection(sv, pos, r, p.topcoatRoughValue, l.ws));
        }
        c.set(kAmbient, ambientTerm(sv, l.cd, pos, l.base.n));
        return c;
    });
}

void corvid_Mtl_MetallicPaint::evaluateBsdf(IRenderServices* sv, ShadingState* st) {
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    const Layers l = layers(sv, params, *st, uv);
    const float3 wi = toFrame(l.base, st->sampleDirection);
    if (wi.z > 0.0f && l.vb.z < 0.0f) {
        st->sampleCosine = wi.z;
        st->sampleValue = wardEval(l.vb, wi, l.cd, l.ws, l.rough, l.rough);
    } else {
        st->sampleCosine = 0.0f;
        st->sampleValue = float3(0.0f);
    }
}

void corvid_Mtl_MetallicPaint::sampleBsdf(IRenderServices* sv, ShadingState* st) {
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    const Layers l = layers(sv, params, *st, uv);
    if (!(l.vt.z < 0.0f)) {
        st->sampleKind = kSampleNone;
        return;
    }
    const bool glossyOk = st->allowLobe[0] || st->allowLobe[1];
    const float pTop = glossyOk ? l.ft : 1.0f;
    if (sv->random() < pTop) {
        writeSample(st, fromFrame(l.top, float3(l.vt.x, l.vt.y, -l.vt.z)), float3(l.ft), 1.0f, pTop,
                    kSampleSingleLobe);
        return;
    }

    // The base seen from behind (a rippled topcoat can allow it) has no lobe.
    if (!(l.vb.z < 0.0f)) {
        st->sampleKind = kSampleNone;
        return;
    }
    const auto s = sampleWardMixture(sv, l.vb, l.cd, l.ws, l.rough, l.rough);
    if (!s) {
        st->sampleKind = kSampleNone;
        return;
    }
    writeMixtureSample(st, fromFrame(l.base, s->dout), s->value, s->dout.z, s->pdf);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_MetallicPaint)

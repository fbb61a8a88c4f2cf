// Light loop, the ambient term, the shading components that a physically based
// material's lighting routine fills, and the composition of its shade.
//
// Traced rays go through the wrappers of frame/services.h (svc::traceReflection and
// the like), with the largest component of the weight that will multiply the
// result as importance.
#pragma once

#include <cmath>
#include <initializer_list>

#include "frame/math.h"
#include "frame/occlusion_masking.h"
#include "frame/services.h"
#include "vesper/host.h"

namespace pxs {

// 0 for lights at or below about 3 degrees over the shading horizon (L.N <= 0.05),
// 1 from about 14.5 degrees up (L.N >= 0.25), smooth between: lights fade in
// instead of switching on at the terminator. n is the state normal as supplied.
inline float lightLeakFactor(float3 l, float3 n) {
    float x = dot(l, n) - 0.05f;
    float t = clampf(x, 0.0f, 0.2f) / 0.2f;
    return t * t * (3.0f - 2.0f * t);
}

// Calls fn(node) for every node of the host's light list for (p, n), selection mask 0.
template <class Fn>
inline void forEachLight(IRenderServices* sv, float3 p, float3 n, Fn&& fn) {
    for (const LightNode* node = sv->getLights(0, &p, &n); node; node = node->next) fn(*node);
}

// The sum over the lights of value(L) * lightLeakFactor(L, n) * lightFactor *
// lightContribution, with value(L) a float or a float3 (the material's BSDF for L).
template <class Bsdf>
inline float3 lightLoop(IRenderServices* sv, float3 p, float3 n, Bsdf&& value) {
    float3 sum(0.0f);
    forEachLight(sv, p, n, [&](const LightNode& node) {
        sum += value(node.direction) * lightLeakFactor(node.direction, n) * node.lightFactor *
               node.lightContribution;
    });
    return sum;
}

// w times the reflection (glossy, or sharp) traced from p along d.
inline float3 weightedGlossyReflection(IRenderServices* sv, float3 p, float3 d, float glossiness,
                                       float3 w) {
    return w * svc::traceGlossyReflection(sv, p, d, glossiness, maxComponent(w));
}
inline float3 weightedReflection(IRenderServices* sv, float3 p, float3 d, float3 w) {
    return w * svc::traceReflection(sv, p, d, maxComponent(w));
}

// Ambient and indirect light at q around normal m, weighted by w and shadowed by the
// host's occlusion. Black weights and black surroundings trace nothing.
float3 ambientTerm(IRenderServices* sv, float3 w, float3 q, float3 m);

// The ten outputs of a lighting routine, each RGBA starting at (0, 0, 0, 1).
enum Component : int {
    kDirectDiffuse = 0,   // summed, times the ambient-occlusion colour
    kDiffuseAlbedo,       // not summed
    kDirectSpecular,      // summed
    kAmbient,             // summed
    kAlbedoSum,           // not summed
    kReflection,          // summed
    kSpecularColour,      // not summed
    kRefraction,          // summed
    kTransmissionWeight,  // not summed
    kAdditional,          // summed
    kComponentCount
};

struct ShadingComponents {
    float4 c[kComponentCount];

    ShadingComponents() {
        for (float4& v : c) v = float4(0.0f, 0.0f, 0.0f, 1.0f);
    }
    float3 rgb(Component k) const { return c[k].xyz(); }
    void set(Component k, float3 v) { c[k] = float4(v, c[k].w); }
    void add(Component k, float3 v) { set(k, rgb(k) + v); }

    // Cut-out holes of coverage `coverage` (1 solid, 0 a hole): the listed
    // components are scaled by it and the refraction mixed with what lies behind.
    void cutHoles(std::initializer_list<Component> scaled, float coverage, float3 behind) {
        for (Component k : scaled) set(k, rgb(k) * coverage);
        set(kRefraction, coverage * rgb(kRefraction) + (1.0f - coverage) * behind);
    }

    // The shaded colour: direct diffuse times the occlusion colour, plus the direct
    // specular, ambient, reflection, refraction and additional components.
    float3 sum(float3 occlusion) const {
        return rgb(kDirectDiffuse) * occlusion + rgb(kDirectSpecular) + rgb(kAmbient) +
               rgb(kReflection) + rgb(kRefraction) + rgb(kAdditional);
    }
};

// Whether a material's shade multiplies the direct diffuse component by the
// ambient-occlusion colour of its block.
enum class Occlusion { kSkip, kApply };

// The shade of every physically based material: a fully masked hit sets skipHit
// and runs nothing else; otherwise lighting() -> ShadingComponents fills the
// components, the occlusion colour (full effect, k = 0) darkens the direct diffuse
// one when asked, and the sum, with alpha 1, is written mixed with what lies behind
// by the mask. uv is the attribute the masking texture reads.
template <class Block, class Lighting>
inline void composeShade(const Block& block, IRenderServices* sv, ShadingState* st, float2 uv,
                         Occlusion occlusion, Lighting&& lighting) {
    block.applyMasking(sv, st, uv, [&] {
        const ShadingComponents c = lighting();
        const float3 ao = occlusion == Occlusion::kApply
                              ? block.evaluateAmbientOcclusion(sv, *st, float3(0.0f))
                              : float3(1.0f);
        return c.sum(ao);
    });
}

// Writes a deterministic continuation (a mirror or straight-through event):
// direction, value, cosine, weight 1 and kind. A value that is not finite (the
// 1 / cosine of an exactly grazing event) gives no continuation instead: only
// sampleKind 0 is written, so a path tracer never receives an infinite throughput.
inline void writeSpecularSample(ShadingState* st, float3 direction, float3 value, float cosine,
                                SampleKind kind) {
    if (!(std::isfinite(value.x) && std::isfinite(value.y) && std::isfinite(value.z))) {
        st->sampleKind = kSampleNone;
        return;
    }
    st->sampleDirection = direction;
    st->sampleValue = value;
    st->sampleCosine = cosine;
    st->sampleWeight = 1.0f;
    st->sampleKind = kind;
}

// The permission groups of a material that reflects and refracts: reflection
// (lobes 0 to 2) and transmission (lobes 3 to 5).
struct LobeGroups {
    bool reflect;
    bool transmit;
};
inline LobeGroups lobeGroups(const ShadingState& st) {
    const uint8_t* allow = st.allowLobe;
    return {allow[0] || allow[1] || allow[2], allow[3] || allow[4] || allow[5]};
}

// Writes one continuation event as given: direction, value, cosine, weight
// 1 / pdf and kind.
inline void writeSample(ShadingState* st, float3 direction, float3 value, float cosine, float pdf,
                        SampleKind kind) {
    st->sampleDirection = direction;
    st->sampleValue = value;
    st->sampleCosine = cosine;
    st->sampleWeight = 1.0f / pdf;
    st->sampleKind = kind;
}

// Writes a sample drawn from a mixture of lobes: direction, value and cosine,
// then weight 1 / pdf and kind 2, or kind 0 when the cosine is negative or the
// density not positive. A density whose reciprocal overflows gives kind 0 too: a
// lobe chosen with probability 0 (random() = 0 against pd = 0 picks the cosine
// lobe) can draw a direction the other lobe reaches with a density below 1e-38.
inline void writeMixtureSample(ShadingState* st, float3 direction, float3 value, float cosine,
                               float pdf) {
    st->sampleValue = value;
    st->sampleDirection = direction;
    st->sampleCosine = cosine;
    if (cosine >= 0.0f && pdf > 0.0f && std::isfinite(1.0f / pdf)) {
        st->sampleKind = kSampleLobeMixture;
        st->sampleWeight = 1.0f / pdf;
    } else {
        st->sampleKind = kSampleNone;
    }
}

}  // namespace pxs

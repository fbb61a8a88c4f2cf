// Light loop, traced rays, the ambient term and the shading components that a
// physically based material's lighting routine fills.
#pragma once

#include "frame/math.h"
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

// The host's tracing operations, with the four-float buffer they expect. Weight is
// the largest component of the factor that will multiply the result.
inline float3 tracedReflection(IRenderServices* sv, float3 p, float3 dir, float weight) {
    float4 out(0.0f, 0.0f, 0.0f, 1.0f);
    sv->traceReflection(reinterpret_cast<float3*>(&out), &p, &dir, weight);
    return out.xyz();
}
inline float3 tracedGlossyReflection(IRenderServices* sv, float3 p, float3 dir, float glossiness,
                                     float weight) {
    float4 out(0.0f, 0.0f, 0.0f, 1.0f);
    sv->traceGlossyReflection(reinterpret_cast<float3*>(&out), &p, &dir, glossiness, weight);
    return out.xyz();
}
// RGBA seen through the surface; `preset` is what the buffer holds before the call.
inline float4 tracedTransmission(IRenderServices* sv, float3 p, float3 dir, float weight,
                                 float4 preset = float4(0.0f, 0.0f, 0.0f, 1.0f)) {
    float4 out = preset;
    sv->traceTransmission(&out, &p, &dir, weight);
    return out;
}
inline float4 tracedGlossyTransmission(IRenderServices* sv, float3 p, float3 dir, float glossiness,
                                       float weight) {
    float4 out(0.0f, 0.0f, 0.0f, 1.0f);
    sv->traceGlossyTransmission(&out, &p, &dir, glossiness, weight);
    return out;
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

    // The shaded colour: direct diffuse times the occlusion colour, plus the direct
    // specular, ambient, reflection, refraction and additional components.
    float3 sum(float3 occlusion) const {
        return rgb(kDirectDiffuse) * occlusion + rgb(kDirectSpecular) + rgb(kAmbient) +
               rgb(kReflection) + rgb(kRefraction) + rgb(kAdditional);
    }
};

}  // namespace pxs

// Colour-returning wrappers over the host's tracing services.
//
// The contract lets a host write four floats into any tracing result, so every
// call passes a four-float buffer and hands back its colour. Use these instead of
// calling the float3* forms directly.
#pragma once

#include "vesper/host.h"

namespace pxs::svc {

inline float3 ambientLight(IRenderServices* s, const float3& p, const float3& n) {
    float4 out;
    s->ambientLight(reinterpret_cast<float3*>(&out), &p, &n);
    return out.xyz();
}
inline float3 traceShadow(IRenderServices* s, const float3& from, const float3& to) {
    float4 out;
    s->traceShadow(reinterpret_cast<float3*>(&out), &from, &to);
    return out.xyz();
}
inline float3 traceRay(IRenderServices* s, int32_t rayType, const float3& origin,
                       const float3& direction, float weight) {
    float4 out;
    s->traceRay(reinterpret_cast<float3*>(&out), rayType, &origin, &direction, weight);
    return out.xyz();
}
inline float3 traceReflection(IRenderServices* s, const float3& origin, const float3& direction,
                              float weight) {
    float4 out;
    s->traceReflection(reinterpret_cast<float3*>(&out), &origin, &direction, weight);
    return out.xyz();
}
inline float3 traceAnisotropicReflection(IRenderServices* s, const float3& origin,
                                         const float3& direction, const float3& axisU,
                                         const float3& axisV, float glossU, float glossV,
                                         float weight) {
    float4 out;
    s->traceAnisotropicReflection(reinterpret_cast<float3*>(&out), &origin, &direction, &axisU,
                                  &axisV, glossU, glossV, weight);
    return out.xyz();
}
inline float3 traceGlossyReflection(IRenderServices* s, const float3& origin,
                                    const float3& direction, float glossiness, float weight) {
    float4 out;
    s->traceGlossyReflection(reinterpret_cast<float3*>(&out), &origin, &direction, glossiness,
                             weight);
    return out.xyz();
}
inline float3 ambientOcclusion(IRenderServices* s, const float3& p, const float3& n, float weight) {
    float4 out;
    s->ambientOcclusion(reinterpret_cast<float3*>(&out), &p, &n, weight);
    return out.xyz();
}
inline float3 globalIllumination(IRenderServices* s, const float3& p, const float3& direction,
                                 float weight) {
    float4 out;
    s->globalIllumination(reinterpret_cast<float3*>(&out), &p, &direction, weight);
    return out.xyz();
}
// The transmission forms return RGBA: `preset` is what the buffer holds before
// the call (callers preset the alpha they want back when the host leaves it).
inline float4 traceTransmission(IRenderServices* s, const float3& origin, const float3& direction,
                                float weight, float4 preset) {
    s->traceTransmission(&preset, &origin, &direction, weight);
    return preset;
}
inline float4 traceGlossyTransmission(IRenderServices* s, const float3& origin,
                                      const float3& direction, float glossiness, float weight,
                                      float4 preset) {
    s->traceGlossyTransmission(&preset, &origin, &direction, glossiness, weight);
    return preset;
}

}  // namespace pxs::svc

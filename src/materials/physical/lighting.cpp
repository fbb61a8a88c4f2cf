#include "materials/physical/lighting.h"

namespace pxs {

float3 ambientTerm(IRenderServices* sv, float3 w, float3 q, float3 m) {
    if (w == float3(0.0f)) return float3(0.0f);
    float4 ambient(0.0f, 0.0f, 0.0f, 1.0f);
    float4 indirect(0.0f, 0.0f, 0.0f, 1.0f);
    sv->ambientLight(reinterpret_cast<float3*>(&ambient), &q, &m);
    sv->globalIllumination(reinterpret_cast<float3*>(&indirect), &q, &m, maxComponent(w));
    float3 a = ambient.xyz() + indirect.xyz();
    if (a == float3(0.0f)) return float3(0.0f);
    float3 lit = w * a;
    float4 open(1.0f, 1.0f, 1.0f, 1.0f);
    sv->ambientOcclusion(reinterpret_cast<float3*>(&open), &q, &m, maxComponent(lit));
    return lit * open.xyz();
}

}  // namespace pxs

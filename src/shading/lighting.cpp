#include "shading/lighting.h"

#include "frame/services.h"

namespace pxs {

float3 ambientTerm(IRenderServices* sv, float3 w, float3 q, float3 m) {
    if (w == float3(0.0f)) return float3(0.0f);
    const float3 a =
        svc::ambientLight(sv, q, m) + svc::globalIllumination(sv, q, m, maxComponent(w));
    if (a == float3(0.0f)) return float3(0.0f);
    const float3 lit = w * a;
    return lit * svc::ambientOcclusion(sv, q, m, maxComponent(lit));
}

}  // namespace pxs

#include "materials/utility/corvid_Mtl_ShadowPlane.h"

#include "frame/math.h"
#include "frame/services.h"

namespace pxs {

void corvid_Mtl_ShadowPlane::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapShadowTransmission | kCapSampleBsdf);
    declare("shadowColor", params.shadowColor);
    declare("shadowIntensity", params.shadowIntensity);
}

void corvid_Mtl_ShadowPlane::shade(IRenderServices* services, ShadingState* st) {
    const float3 c = params.shadowColor;
    const float i = params.shadowIntensity;

    // Every node counts, whatever its type.
    float unshadowed = 0.0f;
    float3 shadowed(0.0f);
    for (const LightNode* n = services->getLights(0, &st->position, &st->normal); n; n = n->next) {
        unshadowed += maxComponent(n->lightColor);
        float m = maxComponent(n->lightColor * n->lightTransmission);
        shadowed += m * n->lightTransmission;
    }

    const float3 open = svc::ambientOcclusion(services, st->position, st->normal, 1.0f);

    if (shadowed == float3(unshadowed) && open == float3(1.0f)) {
        st->skipHit = 1;
        return;
    }

    float3 ratio = unshadowed != 0.0f ? shadowed / unshadowed : float3(1.0f);
    float3 factor;
    for (int k = 0; k < 3; ++k) {
        float light = (1.0f - ratio[k]) * (i * c[k] + (1.0f - i)) + ratio[k];
        float occlusion = (1.0f - open[k]) * c[k] + open[k];
        factor[k] = light * occlusion;
    }

    // The camera's ray goes on behind the plane as a continuation ray.
    int32_t type = st->rayType == kRayCamera ? kRayContinuation : st->rayType;
    float3 behind = svc::traceRay(services, type, st->position, st->rayDirection, 1.0f);
    st->outColor = behind * factor;
    st->outAlpha = 1.0f - minComponent(factor);
}

void corvid_Mtl_ShadowPlane::shadowTransmission(IRenderServices*, ShadingState* st) {
    st->outTransmission = st->rayType == kRayOcclusion ? float3(0.0f) : float3(1.0f);
}

// A straight continuation, whatever the host allows.
void corvid_Mtl_ShadowPlane::sampleBsdf(IRenderServices*, ShadingState* st) {
    st->sampleDirection = st->rayDirection;
    st->sampleValue = float3(1.0f);
    st->sampleCosine = 1.0f;
    st->sampleWeight = 1.0f;
    st->sampleKind = kSampleSingleLobe;
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_ShadowPlane)

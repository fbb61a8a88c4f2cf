#include "materials/utility/corvid_Mtl_ShadowPlane.h"

#include "frame/math.h"
#include "frame/services.h"
#include "frame/shadow_catcher.h"

namespace pxs {

void corvid_Mtl_ShadowPlane::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapShadowTransmission | kCapSampleBsdf);
    declare("shadowColor", params.shadowColor);
    declare("shadowIntensity", params.shadowIntensity);
}

void corvid_Mtl_ShadowPlane::shade(IRenderServices* services, ShadingState* st) {
    const LightVisibility lights = lightVisibility(services, st->position, st->normal);
    const float3 open = svc::ambientOcclusion(services, st->position, st->normal, 1.0f);

    if (lights.visible == float3(lights.total) && open == float3(1.0f)) {
        st->skipHit = 1;
        return;
    }
    const float3 factor =
        shadowCatcherFactor(lights.ratio(), open, params.shadowColor, params.shadowIntensity);

    // The camera's ray goes on behind the plane as a continuation ray.
    int32_t type = st->rayType == kRayCamera ? kRayContinuation : st->rayType;
    float3 behind = svc::traceRay(services, type, st->position, st->rayDirection, 1.0f);
    st->outColor = behind * factor;
    st->outAlpha = 1.0f - minComponent(factor);
}

void corvid_Mtl_ShadowPlane::shadowTransmission(IRenderServices*, ShadingState* st) {
    st->outTransmission = st->rayType == kRayOcclusion ? float3(0.0f) : float3(1.0f);
}

void corvid_Mtl_ShadowPlane::sampleBsdf(IRenderServices*, ShadingState* st) {
    writeStraightContinuation(st);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_ShadowPlane)

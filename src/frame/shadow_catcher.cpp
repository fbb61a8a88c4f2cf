#include "frame/shadow_catcher.h"

namespace pxs {

LightVisibility lightVisibility(IRenderServices* services, const float3& p, const float3& n) {
    LightVisibility v;
    for (const LightNode* l = services->getLights(0, &p, &n); l; l = l->next) {
        const float3 c = l->lightColor;
        const float3 t = l->lightTransmission;
        v.total += maxComponent(c);
        v.visible += maxComponent(c * t) * t;
    }
    return v;
}

float3 shadowCatcherFactor(float3 ratio, float3 open, float3 color, float intensity) {
    const float3 light = (float3(1.0f) - ratio) * shadowTint(color, intensity) + ratio;
    const float3 occlusion = (float3(1.0f) - open) * color + open;
    return light * occlusion;
}

}  // namespace pxs

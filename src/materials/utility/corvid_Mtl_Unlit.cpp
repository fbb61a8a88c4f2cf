#include "materials/utility/corvid_Mtl_Unlit.h"

namespace pxs {

void corvid_Mtl_Unlit::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapShadowTransmission);
    declare("diffuseColor", params.diffuseColor);
}

void corvid_Mtl_Unlit::shade(IRenderServices*, ShadingState* st) {
    if (st->rayType != kRayCamera) {
        st->skipHit = 1;
        return;
    }
    st->outColor = params.diffuseColor;
}

void corvid_Mtl_Unlit::shadowTransmission(IRenderServices*, ShadingState* st) {
    st->outTransmission = float3(1.0f);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Unlit)

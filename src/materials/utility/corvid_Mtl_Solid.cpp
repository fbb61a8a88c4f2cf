#include "materials/utility/corvid_Mtl_Solid.h"

#include "materials/utility/view_facing.h"

namespace pxs {

void corvid_Mtl_Solid::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade);
    declare("reverseNormal", params.reverseNormal);
    declare("faceForward", params.faceForward);
    declare("patchState", params.patchState);
}

void corvid_Mtl_Solid::shade(IRenderServices*, ShadingState* st) {
    float c = std::fabs(viewFacing(*st, params.reverseNormal, params.faceForward).cosine);
    float3 tint;
    switch (params.patchState) {
        case 0:
        case 1:
            tint = float3(0.69f, 0.58f, 0.69f);
            break;
        case 2:
            tint = float3(0.85f);
            break;
        default:
            tint = float3(0.0f);
            break;
    }
    st->outColor = saturate(tint * c);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Solid)

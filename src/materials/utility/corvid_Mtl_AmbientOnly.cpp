#include "materials/utility/corvid_Mtl_AmbientOnly.h"

namespace pxs {

void corvid_Mtl_AmbientOnly::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade);
    params.declare(declare);
}

void corvid_Mtl_AmbientOnly::shade(IRenderServices* services, ShadingState* st) {
    st->outAlpha = 1.0f;
    st->outColor = float3(1.0f);
    if (!params.showAmbientOnly) return;
    const float3 ao = params.evaluateAmbientOcclusion(services, *st, float3(0.0f));
    st->outColor = params.applyShowAmbientOnly(float3(1.0f), ao);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_AmbientOnly)

#include "materials/utility/corvid_Mtl_NormalsOnly.h"

#include "materials/utility/view_facing.h"

namespace pxs {

void corvid_Mtl_NormalsOnly::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade);
    declare("reverseNormal", params.reverseNormal);
    declare("faceForward", params.faceForward);
    declare("faceLight", params.faceLight);
}

void corvid_Mtl_NormalsOnly::shade(IRenderServices*, ShadingState* st) {
    st->outAlpha = 1.0f;
    st->outColor = float3(0.0f);
    ViewFacing f = viewFacing(*st, params.reverseNormal, params.faceForward);
    float d = f.cosine;
    float c = std::fabs(d);
    float3 color;
    if (params.faceForward) {
        color = float3(0.05f * c, 0.8f * c, 0.05f * c);
    } else if (params.faceLight) {
        color = float3(0.45f * c, 0.65f * c, 0.35f * c);
    } else if (dot(f.sign * st->geometricNormal, st->rayDirection) > 0.0f) {
        color = float3(d, d, 0.0f);  // the viewer sees the back of the geometry
    } else {
        color = float3(-0.05f * d, -0.05f * d, -0.8f * d);
    }
    st->outColor = saturate(color);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_NormalsOnly)

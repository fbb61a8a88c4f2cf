// corvid_Mtl_AmbientOnly: renders a surface white, or, with "showAmbientOnly",
// its ambient-occlusion factor as grey.
//
// The bare carrier of the occlusion and masking block: it declares and copies the
// whole block but evaluates only the occlusion, and only for the debug view. The
// masking fields never cut it out. Always writes outAlpha = 1.
//
// | name                      | type    | default  | meaning                                   |
// |---------------------------|---------|----------|-------------------------------------------|
// | "ambientOcclusionTexture" | texture | none     | red channel: unoccluded fraction at "uv1" |
// | "ambientOcclusionMode"    | int     | 0        | 1 texture, 2 vertex colour; else none     |
// | "ambientOcclusionFactor"  | float   | 1        | strength, 0 = no effect                   |
// | "ambientOcclusionColor"   | float3  | (0,0,0)  | colour of full occlusion                  |
// | "usePrecalcAO"            | bool    | true     | use the source picked by the mode         |
// | "showAmbientOnly"         | bool    | false    | show min(occlusion) as grey               |
// | "usingRaytracedAO"        | bool    | false    | trace when no precomputed source applies  |
// | attribute "uv1"           | float2  | @0       | coordinates of the occlusion map          |
// | attribute "vtxcolor"      | float4  | @8       | red: occlusion in mode 2                  |
// | "maskingColor" ...        |         |          | masking channel: declared, never read     |
// | "maskingFromAlpha"        |         |          | (see occlusion_masking.h)                 |
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

class corvid_Mtl_AmbientOnly final : public ShaderClass<corvid_Mtl_AmbientOnly, MaterialShader> {
  public:
    OcclusionMasking<0, 8> params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

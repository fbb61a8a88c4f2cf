// corvid_Mtl_Mirror: a tinted perfect mirror.
//
// shade traces one guarded mirror ray (kept 0.05 above the geometric surface when a
// bumped normal would send it below) weighted by a fixed Fresnel curve, 0.92 head-on
// rising to 1 at grazing, times the tint. The ray is traced even when the tint is
// black, with importance 0. The masking channel cuts the mirror out or mixes in what
// lies behind; the ambient occlusion is declared and copied but never applied.
//
// Towards path sampling it offers one perfectly specular event (kind 4) when the host
// allows lobe 2; its value is tint / cosine, without the Fresnel curve, so that value
// times cosine is the tint. An exactly grazing view has no continuation (kind 0).
// evaluateBsdf writes nothing: a perfect mirror has no value for a given direction.
// Shadow rays see it as opaque (shadowTransmission writes nothing).
//
// | name                      | type    | default | meaning                                    |
// |---------------------------|---------|---------|--------------------------------------------|
// | "ambientOcclusionTexture" |         |         | occlusion and masking block, with "uv1" @0 |
// | ... "maskingFromAlpha"    |         |         | and "vtxcolor" @8 (see occlusion_masking.h) |
// | "u_tintColor"             | float3  | (0,0,0) | mirror tint; black renders black           |
// | attribute "uv"            | float2  | @24     | coordinates of the masking texture         |
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

class corvid_Mtl_Mirror final : public ShaderClass<corvid_Mtl_Mirror, MaterialShader> {
  public:
    static constexpr int32_t kUvOffset = 24;

    struct Params {
        OcclusionMasking<0, 8> block;
        float3 tintColor{0.0f, 0.0f, 0.0f};
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    // Announced, and empty on purpose: no value for a chosen direction.
    void evaluateBsdf(IRenderServices*, ShadingState*) override {}
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

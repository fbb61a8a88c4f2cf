// corvid_Mtl_NormalsOnly: colour-codes which side of a surface the viewer sees.
//
// Default palette: front faces blue in proportion to the facing cosine, back
// faces yellow; "faceForward" selects a green palette and "faceLight" a tan one.
// Always writes outAlpha = 1; colours are clamped to [0, 1].
//
// | name            | type | default | meaning                                          |
// |-----------------|------|---------|--------------------------------------------------|
// | "reverseNormal" | bool | false   | use the negated shading normal                   |
// | "faceForward"   | bool | false   | face the normal to the viewer; green palette     |
// | "faceLight"     | bool | false   | tan palette (when "faceForward" is off)          |
#pragma once

#include "frame/shader_class.h"

namespace pxs {

class corvid_Mtl_NormalsOnly final : public ShaderClass<corvid_Mtl_NormalsOnly, MaterialShader> {
  public:
    struct Params {
        Flag reverseNormal = false;
        Flag faceForward = false;
        Flag faceLight = false;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

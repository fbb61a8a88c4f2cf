// corvid_Mtl_Solid: a diagnostic matte tint shaded by the facing cosine.
//
// Needs no lights, textures or services: the colour is a fixed tint times
// |dot(n, rayDirection)|, clamped to [0, 1]. outAlpha is left to the host.
//
// | name            | type | default | meaning                                        |
// |-----------------|------|---------|------------------------------------------------|
// | "reverseNormal" | bool | false   | use the negated shading normal                 |
// | "faceForward"   | bool | false   | turn the normal towards the viewer first       |
// | "patchState"    | int  | 0       | 0, 1 violet-grey; 2 light grey; others black   |
#pragma once

#include "frame/shader_class.h"

namespace pxs {

class corvid_Mtl_Solid final : public ShaderClass<corvid_Mtl_Solid, MaterialShader> {
  public:
    struct Params {
        Flag reverseNormal = false;
        Flag faceForward = false;
        int32_t patchState = 0;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

// corvid_Mtl_Unlit: a flat colour seen by the camera and by nothing else.
//
// Camera rays get "diffuseColor" as it is, unclamped; every other ray passes
// through the surface (skipHit), and shadow rays are never blocked. For overlays
// and reference geometry that must show in the image without touching
// reflections, shadows or indirect light. outAlpha is left to the host.
//
// | name           | type   | default   | meaning                          |
// |----------------|--------|-----------|----------------------------------|
// | "diffuseColor" | float3 | (1, 1, 0) | the colour shown to camera rays  |
#pragma once

#include "frame/shader_class.h"

namespace pxs {

class corvid_Mtl_Unlit final : public ShaderClass<corvid_Mtl_Unlit, MaterialShader> {
  public:
    struct Params {
        float3 diffuseColor{1.0f, 1.0f, 0.0f};
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

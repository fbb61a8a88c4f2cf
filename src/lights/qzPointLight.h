// qzPointLight: a point light with a range-normalised power falloff.
//
// For one surface point the light writes the colour that arrives there and the
// shadow transmission towards the light. Points beyond "range" are left alone.
// The falloff is f = saturate(1 - pow(d / x, y)) over the distance d, with x and y
// the first two "attenuationFactors": not an inverse-square law, and with the
// default exponent 0 it is 0 everywhere, so a light left at its defaults is dark
// until the host sets an exponent. A zero distance scale gives f = 0 at every
// distance for a non-negative exponent, the light's own position included.
//
// | name                 | type   | default         | meaning                                   |
// |----------------------|--------|-----------------|-------------------------------------------|
// | "color"              | float3 | (1.0, 0.5, 0.1) | light colour and intensity                |
// | "castShadows"        | bool   | true            | ask the host for shadow transmission      |
// | "range"              | float  | 10000           | points farther than this receive nothing  |
// | "attenuationFactors" | float3 | (1, 0, 0)       | x distance scale, y exponent, z not used  |
#pragma once

#include "frame/shader_class.h"

namespace pxs {

class qzPointLight final : public ShaderClass<qzPointLight, LightShader> {
  public:
    struct Params {
        float3 color{1.0f, 0.5f, 0.1f};
        Flag castShadows = true;
        float range = 10000.0f;
        float3 attenuationFactors{1.0f, 0.0f, 0.0f};
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

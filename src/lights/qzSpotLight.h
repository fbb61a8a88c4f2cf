// qzSpotLight: the point light restricted to a cone around the light's axis.
//
// With a = saturate(dot(lightAxis, lightDirection)), points outside the outer cone
// (a below "cosPenumbra") and points beyond "range" are left alone. Inside, the
// colour is the point light's distance falloff times a smooth rim factor that
// rises from 0 at the outer cone to 1 at the inner cone, times pow(a, z) with z the
// third "attenuationFactors". When "cosUmbra" is not above "cosPenumbra" the cone
// has a hard edge.
//
// | name                 | type   | default         | meaning                                     |
// |----------------------|--------|-----------------|---------------------------------------------|
// | "color"              | float3 | (0.1, 1.0, 0.5) | light colour and intensity                  |
// | "range"              | float  | 10000           | points farther than this receive nothing    |
// | "attenuationFactors" | float3 | (1, 0, 0)       | x distance scale, y exponent, z cone power  |
// | "castShadows"        | bool   | true            | ask the host for shadow transmission        |
// | "cosPenumbra"        | float  | 0.9             | cosine of the outer cone's half angle       |
// | "cosUmbra"           | float  | 0.95            | cosine of the inner cone's half angle       |
#pragma once

#include "frame/shader_class.h"

namespace pxs {

class qzSpotLight final : public ShaderClass<qzSpotLight, LightShader> {
  public:
    struct Params {
        float3 color{0.1f, 1.0f, 0.5f};
        float range = 10000.0f;
        float3 attenuationFactors{1.0f, 0.0f, 0.0f};
        Flag castShadows = true;
        float cosPenumbra = 0.9f;
        float cosUmbra = 0.95f;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

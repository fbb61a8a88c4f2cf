#include "lights/qzPointLight.h"

#include "lights/light_common.h"

namespace pxs {

void qzPointLight::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapLight);
    declare("color", params.color);
    declare("castShadows", params.castShadows);
    declare("range", params.range);
    declare("attenuationFactors", params.attenuationFactors);
}

void qzPointLight::shade(IRenderServices* services, ShadingState* st) {
    if (beyondRange(*st, params.range)) return;
    writeLightTransmission(services, st, params.castShadows);
    float f = distanceFalloff(st->lightSample.lightDistance, params.attenuationFactors);
    st->lightSample.lightColor = f * params.color;
}

}  // namespace pxs

VESPER_EXPORT_SHADER(qzPointLight)

#include "lights/qzSpotLight.h"

#include "lights/light_common.h"

namespace pxs {

void qzSpotLight::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapLight);
    declare("color", params.color);
    declare("range", params.range);
    declare("attenuationFactors", params.attenuationFactors);
    declare("castShadows", params.castShadows);
    declare("cosPenumbra", params.cosPenumbra);
    declare("cosUmbra", params.cosUmbra);
}

void qzSpotLight::shade(IRenderServices* services, ShadingState* st) {
    if (beyondRange(*st, params.range)) return;
    const LightSample& ls = st->lightSample;
    float a = saturate(dot(ls.lightAxis, ls.lightDirection));
    // Outside the outer cone the host keeps its own values.
    if (params.cosPenumbra > a) return;
    writeLightTransmission(services, st, params.castShadows);
    // Only evaluated strictly inside the rim, so equal cosines never divide by zero.
    float r = 1.0f;
    if (params.cosUmbra > a) r = smoothstepf(params.cosPenumbra, params.cosUmbra, a);
    float f = distanceFalloff(ls.lightDistance, params.attenuationFactors);
    // A negative cone exponent is infinite where a reaches 0 (a cone opened to the
    // horizon): no light there rather than an infinite or NaN colour.
    float g = std::pow(a, params.attenuationFactors.z);
    if (!std::isfinite(g)) g = 0.0f;
    st->lightSample.lightColor = r * params.color * (f * g);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(qzSpotLight)

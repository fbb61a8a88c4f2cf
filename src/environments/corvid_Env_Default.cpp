#include "environments/corvid_Env_Default.h"

namespace pxs {

void corvid_Env_Default::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapEnvironment);
    declare("IBLLuminanceFactors", params.luminanceFactors);
    declare("globalIBLMatrix", params.iblMatrix);
    declare("diffuseIBLContrast", params.diffuse.contrast);
    declare("diffuseIBLGainMode", params.diffuse.gainMode);
    declare("diffuseIBLGain", params.diffuse.gain);
    declare("diffuseIBLSaturation", params.diffuse.saturation);
    declare("reflectIBLContrast", params.reflect.contrast);
    declare("reflectIBLGainMode", params.reflect.gainMode);
    declare("reflectIBLGain", params.reflect.gain);
    declare("reflectIBLSaturation", params.reflect.saturation);
    declare("backgroundColor", params.backgroundColor);
    declare.textureCube("reflectionCube", params.reflectionCube);
    declare.textureCube("diffuseCube", params.diffuseCube);
}

void corvid_Env_Default::shade(IRenderServices*, ShadingState* st) {
    const int32_t type = st->rayType;
    const bool withinDepth = st->rayDepth < st->rayDepthLimit;
    if (withinDepth && type != kRayReflection && type != kRayGather) {
        st->outColor = params.backgroundColor;
        st->outAlpha = 0.0f;
        return;
    }
    // At or past the depth bound every ray, gather rays included, is answered as
    // a reflection.
    const bool gather = withinDepth && type == kRayGather;
    const float4 e = lookupCube(gather ? params.diffuseCube : params.reflectionCube,
                                params.iblMatrix, st->rayDirection);
    st->outColor =
        adjustIBLColour(e.xyz(), gather ? params.diffuse : params.reflect, params.luminanceFactors);
    st->outAlpha = 1.0f;
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Env_Default)

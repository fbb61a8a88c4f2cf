#include "environments/corvid_Env_Default.h"

namespace pxs {

void corvid_Env_Default::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapEnvironment);
    params.ibl.declare(declare);
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
    const IBLSettings& ibl = params.ibl;
    st->outColor = gather ? ibl.light(params.diffuseCube, ibl.diffuse, st->rayDirection)
                          : ibl.light(params.reflectionCube, ibl.reflect, st->rayDirection);
    st->outAlpha = 1.0f;
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Env_Default)

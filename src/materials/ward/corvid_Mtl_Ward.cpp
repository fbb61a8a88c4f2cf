#include "materials/ward/corvid_Mtl_Ward.h"

namespace pxs {

void corvid_Mtl_Ward::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapabilities);
    params.block.declare(declare);
    declare.attribute(kAttributeFloat3, "bitangent", WardImageInputs::kBitangentOffset);
    declare.attribute(kAttributeFloat3, "tangent", WardImageInputs::kTangentOffset);
    declare.attribute(kAttributeFloat2, "uv", WardImageInputs::kUvOffset);
    declareWardParams(declare, params.ward);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Ward)

// corvid_Mtl_Ward_5ba0bfff: corvid_Mtl_Ward with a Noise of constant colours as height
// map 0, which bends nothing (a Noise does not read the texture coordinate).
//
// Node groups, registered after "u_reflectionHighlightOnly" and before the
// ambient-occlusion block, in this order; each node's parameters, defaults and
// meaning are in the header named (ward_variant.h has the rest of the layout):
//
// | node group (after "_ward_") | type  | parameters   |
// |-----------------------------|-------|--------------|
// | normal0_map_Noise           | Noise | noise_node.h |
#pragma once

#include "materials/ward/ward_variant.h"

namespace pxs {

// clang-format off
class corvid_Mtl_Ward_5ba0bfff final : public WardVariant<corvid_Mtl_Ward_5ba0bfff, NodeGraph<
    NoiseNode<kNormal0Map>>> {};
// clang-format on

}  // namespace pxs

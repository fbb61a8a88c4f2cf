// corvid_Mtl_Ward_120b7820: corvid_Mtl_Ward with a Noise of constant colours as
// diffuse colour.
//
// Node groups, registered after "u_reflectionHighlightOnly" and before the
// ambient-occlusion block, in this order; each node's parameters, defaults and
// meaning are in the header named (ward_variant.h has the rest of the layout):
//
// | node group (after "_ward_") | type  | parameters   |
// |-----------------------------|-------|--------------|
// | diffuse_color_Noise         | Noise | noise_node.h |
#pragma once

#include "materials/ward/ward_variant.h"

namespace pxs {

// clang-format off
class corvid_Mtl_Ward_120b7820 final : public WardVariant<corvid_Mtl_Ward_120b7820, NodeGraph<
    NoiseNode<kDiffuseColor>>> {};
// clang-format on

}  // namespace pxs

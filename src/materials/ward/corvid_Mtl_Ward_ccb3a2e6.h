// corvid_Mtl_Ward_ccb3a2e6: corvid_Mtl_Ward with a Noise mixing two UnifiedBitmaps as
// diffuse colour.
//
// Node groups, registered after "u_reflectionHighlightOnly" and before the
// ambient-occlusion block, in this order; each node's parameters, defaults and
// meaning are in the header named (ward_variant.h has the rest of the layout):
//
// | node group (after "_ward_")              | type          | parameters    |
// |------------------------------------------|---------------|---------------|
// | diffuse_color_Noise                      | Noise         | noise_node.h  |
// | diffuse_color_Noise_color1_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color2_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
#pragma once

#include "materials/ward/ward_variant.h"

namespace pxs {

// clang-format off
class corvid_Mtl_Ward_ccb3a2e6 final : public WardVariant<corvid_Mtl_Ward_ccb3a2e6, NodeGraph<
    NoiseNode<kDiffuseColor>,
    BitmapNode<kDiffuseColor, kColor1>,
    BitmapNode<kDiffuseColor, kColor2>>> {};
// clang-format on

}  // namespace pxs

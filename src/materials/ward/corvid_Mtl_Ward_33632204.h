// corvid_Mtl_Ward_33632204: corvid_Mtl_Ward with the same tree as height map 0 and as
// diffuse colour: a Noise mixing two Noises, each mixing two UnifiedBitmaps.
//
// Node groups, registered after "u_reflectionHighlightOnly" and before the
// ambient-occlusion block, in this order; each node's parameters, defaults and
// meaning are in the header named (ward_variant.h has the rest of the layout):
//
// | node group (after "_ward_")                           | type          | parameters    |
// |-------------------------------------------------------|---------------|---------------|
// | normal0_map_Noise_color1_Noise_color1_UnifiedBitmap   | UnifiedBitmap | bitmap_node.h |
// | normal0_map_Noise_color1_Noise_color2_UnifiedBitmap   | UnifiedBitmap | bitmap_node.h |
// | normal0_map_Noise_color2_Noise_color1_UnifiedBitmap   | UnifiedBitmap | bitmap_node.h |
// | normal0_map_Noise_color2_Noise_color2_UnifiedBitmap   | UnifiedBitmap | bitmap_node.h |
// | normal0_map_Noise                                     | Noise         | noise_node.h  |
// | normal0_map_Noise_color1_Noise                        | Noise         | noise_node.h  |
// | normal0_map_Noise_color2_Noise                        | Noise         | noise_node.h  |
// | diffuse_color_Noise_color1_Noise_color1_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color1_Noise_color2_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color2_Noise_color1_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color2_Noise_color2_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise                                   | Noise         | noise_node.h  |
// | diffuse_color_Noise_color1_Noise                      | Noise         | noise_node.h  |
// | diffuse_color_Noise_color2_Noise                      | Noise         | noise_node.h  |
#pragma once

#include "materials/ward/ward_variant.h"

namespace pxs {

// clang-format off
class corvid_Mtl_Ward_33632204 final : public WardVariant<corvid_Mtl_Ward_33632204, NodeGraph<
    BitmapNode<kNormal0Map, kColor1, kColor1>,
    BitmapNode<kNormal0Map, kColor1, kColor2>,
    BitmapNode<kNormal0Map, kColor2, kColor1>,
    BitmapNode<kNormal0Map, kColor2, kColor2>,
    NoiseNode<kNormal0Map>,
    NoiseNode<kNormal0Map, kColor1>,
    NoiseNode<kNormal0Map, kColor2>,
    BitmapNode<kDiffuseColor, kColor1, kColor1>,
    BitmapNode<kDiffuseColor, kColor1, kColor2>,
    BitmapNode<kDiffuseColor, kColor2, kColor1>,
    BitmapNode<kDiffuseColor, kColor2, kColor2>,
    NoiseNode<kDiffuseColor>,
    NoiseNode<kDiffuseColor, kColor1>,
    NoiseNode<kDiffuseColor, kColor2>>> {};
// clang-format on

}  // namespace pxs

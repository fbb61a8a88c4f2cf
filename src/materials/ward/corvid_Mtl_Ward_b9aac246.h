// corvid_Mtl_Ward_b9aac246: corvid_Mtl_Ward with a UnifiedBitmap as height map 0 and,
// as diffuse colour, a Noise mixing two Tiles, each of two UnifiedBitmaps.
//
// Node groups, registered after "u_reflectionHighlightOnly" and before the
// ambient-occlusion block, in this order; each node's parameters, defaults and
// meaning are in the header named (ward_variant.h has the rest of the layout):
//
// | node group (after "_ward_")                               | type          | parameters    |
// |-----------------------------------------------------------|---------------|---------------|
// | normal0_map_UnifiedBitmap                                 | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color1_Tile_brickColor_UnifiedBitmap  | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color1_Tile_mortarColor_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color2_Tile_brickColor_UnifiedBitmap  | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise_color2_Tile_mortarColor_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Noise                                       | Noise         | noise_node.h  |
// | diffuse_color_Noise_color1_Tile                           | Tile          | tile_node.h   |
// | diffuse_color_Noise_color2_Tile                           | Tile          | tile_node.h   |
#pragma once

#include "materials/ward/ward_variant.h"

namespace pxs {

// clang-format off
class corvid_Mtl_Ward_b9aac246 final : public WardVariant<corvid_Mtl_Ward_b9aac246, NodeGraph<
    BitmapNode<kNormal0Map>,
    BitmapNode<kDiffuseColor, kColor1, kBrickColor>,
    BitmapNode<kDiffuseColor, kColor1, kMortarColor>,
    BitmapNode<kDiffuseColor, kColor2, kBrickColor>,
    BitmapNode<kDiffuseColor, kColor2, kMortarColor>,
    NoiseNode<kDiffuseColor>,
    TileNode<kDiffuseColor, kColor1>,
    TileNode<kDiffuseColor, kColor2>>> {};
// clang-format on

}  // namespace pxs

// corvid_Mtl_Ward_f05db29e: corvid_Mtl_Ward with a UnifiedBitmap as height map 0 and a
// Tile of two UnifiedBitmaps (brick and mortar) as diffuse colour.
//
// Node groups, registered after "u_reflectionHighlightOnly" and before the
// ambient-occlusion block, in this order; each node's parameters, defaults and
// meaning are in the header named (ward_variant.h has the rest of the layout):
//
// | node group (after "_ward_")                  | type          | parameters    |
// |----------------------------------------------|---------------|---------------|
// | normal0_map_UnifiedBitmap                    | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Tile                           | Tile          | tile_node.h   |
// | diffuse_color_Tile_brickColor_UnifiedBitmap  | UnifiedBitmap | bitmap_node.h |
// | diffuse_color_Tile_mortarColor_UnifiedBitmap | UnifiedBitmap | bitmap_node.h |
#pragma once

#include "materials/ward/ward_variant.h"

namespace pxs {

// clang-format off
class corvid_Mtl_Ward_f05db29e final : public WardVariant<corvid_Mtl_Ward_f05db29e, NodeGraph<
    BitmapNode<kNormal0Map>,
    TileNode<kDiffuseColor>,
    BitmapNode<kDiffuseColor, kBrickColor>,
    BitmapNode<kDiffuseColor, kMortarColor>>> {};
// clang-format on

}  // namespace pxs

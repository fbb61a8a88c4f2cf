// The Tile node of the generated Ward variants: a brick pattern over the texture
// coordinate. A point lies on a brick or in the mortar (hard edges, widened only
// where the edge jitter pushes a coordinate past a whole unit); every brick gets an
// id that drives its random brightness and whether it is knocked out as a hole;
// alternate rows shift by half a brick plus "lineShift", and every n-th row or
// column can change its brick size. It mixes its two child inputs, "brickColor" and
// "mortarColor". All randomness is the host's: noise2 for the edge jitter, noise1 as
// a hash of the row and brick ids.
//
// Parameters, in registration order under the node's prefix. The host writes them
// all before shading; the defaults (a running bond of 4 x 8 bricks per unit) only
// keep an unwritten node finite.
//
// | name              | type    | default  | meaning                                        |
// |-------------------|---------|----------|------------------------------------------------|
// | "xform"           | matrix4 | identity | transform of (u, v, 1, 1)                      |
// | "verticalCount"   | float   | 8        | brick rows per unit of v                       |
// | "horizontalCount" | float   | 4        | bricks per row per unit of u                   |
// | "colorVariance"   | float   | 0        | per-brick brightness variation                 |
// | "fadeVariance"    | float   | 0        | second per-brick brightness variation          |
// | "horizontalGap"   | float   | 0.01     | mortar between the bricks of a row             |
// | "verticalGap"     | float   | 0.01     | mortar between rows                            |
// | "edgeRoughness"   | float   | 0        | edge jitter, in thousandths of a unit          |
// | "randomSeed"      | int     | 0        | added to every row and brick id                |
// | "lineShift"       | float   | 0        | extra shift of alternate rows, in bricks       |
// | "randomShift"     | float   | 0        | random shift of each row                       |
// | "changeRow"       | float   | 1        | brick width factor of edited rows              |
// | "perRow"          | int     | 2        | every perRow-th row is edited                  |
// | "useColumnEdit"   | bool    | false    | column edit on                                 |
// | "useRowEdit"      | bool    | false    | row edit on                                    |
// | "changeColumn"    | float   | 1        | brick height factor of edited columns          |
// | "perColumn"       | int     | 2        | every perColumn-th column is edited            |
// | "holes"           | int     | 0        | hole density: <= 0 none, 100 all mortar        |
// | "brickHeight"     | float   | 0.125    | registered and copied, not read                |
// | "brickWidth"      | float   | 0.25     | registered and copied, not read                |
// | "repeatX"         | bool    | true     | wrap u; off: (0, 0, 0, 0) outside [0, 1]       |
// | "repeatY"         | bool    | true     | the same for v                                 |
#pragma once

#include <cstdint>
#include <tuple>

#include "frame/math.h"
#include "frame/shader_class.h"
#include "materials/ward/node_params.h"
#include "vesper/host.h"

namespace pxs {

struct TileFields {
    matrix4 xform = kIdentity4;
    float verticalCount = 8.0f;
    float horizontalCount = 4.0f;
    float colorVariance = 0.0f;
    float fadeVariance = 0.0f;
    float horizontalGap = 0.01f;
    float verticalGap = 0.01f;
    float edgeRoughness = 0.0f;
    int32_t randomSeed = 0;
    float lineShift = 0.0f;
    float randomShift = 0.0f;
    float changeRow = 1.0f;
    int32_t perRow = 2;
    Flag useColumnEdit = false;
    Flag useRowEdit = false;
    float changeColumn = 1.0f;
    int32_t perColumn = 2;
    int32_t holes = 0;
    float brickHeight = 0.125f;
    float brickWidth = 0.25f;
    Flag repeatX = true;
    Flag repeatY = true;
};

template <>
struct NodeParams<TileFields> {
    using F = TileFields;
    static constexpr auto kList = std::make_tuple(
        nodeParam("xform", &F::xform), nodeParam("verticalCount", &F::verticalCount),
        nodeParam("horizontalCount", &F::horizontalCount),
        nodeParam("colorVariance", &F::colorVariance), nodeParam("fadeVariance", &F::fadeVariance),
        nodeParam("horizontalGap", &F::horizontalGap), nodeParam("verticalGap", &F::verticalGap),
        nodeParam("edgeRoughness", &F::edgeRoughness), nodeParam("randomSeed", &F::randomSeed),
        nodeParam("lineShift", &F::lineShift), nodeParam("randomShift", &F::randomShift),
        nodeParam("changeRow", &F::changeRow), nodeParam("perRow", &F::perRow),
        nodeParam("useColumnEdit", &F::useColumnEdit), nodeParam("useRowEdit", &F::useRowEdit),
        nodeParam("changeColumn", &F::changeColumn), nodeParam("perColumn", &F::perColumn),
        nodeParam("holes", &F::holes), nodeParam("brickHeight", &F::brickHeight),
        nodeParam("brickWidth", &F::brickWidth), nodeParam("repeatX", &F::repeatX),
        nodeParam("repeatY", &F::repeatY));
};

struct BrickMask {
    float mask;  // 1 brick, 0 mortar, soft in between
    float id;    // the brick's hash input
};

// The mask and id of the brick pattern at (u, v), u and v already wrapped.
BrickMask brickMask(IRenderServices& services, float u, float v, const TileFields& f);

// mortar (1 - m) + brick' m, brick' the brick colour times its two random
// brightness factors; not clamped.
float4 brickColour(IRenderServices& services, float u, float v, float4 brick, float4 mortar,
                   const TileFields& f);

// The node's result at uv: transformed, wrapped (or (0, 0, 0, 0) outside [0, 1]
// without repeat), brickColour clamped to [0, 1] per channel; a NaN channel, which
// only degenerate counts or gaps produce, gives 0.
float4 evaluateTile(IRenderServices& services, float2 uv, float4 brick, float4 mortar,
                    const TileFields& f);

}  // namespace pxs

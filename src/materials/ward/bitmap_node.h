// The UnifiedBitmap node of the generated Ward variants: a host image at the
// texture coordinate through a 4x4 transform, its colour scaled by an amount. The
// leaf of every graph that holds an image.
//
// Parameters, in registration order under the node's prefix. The host writes them
// all before shading; the defaults only keep an unwritten node finite.
//
// | name      | type    | default  | meaning                                          |
// |-----------|---------|----------|--------------------------------------------------|
// | "xform"   | matrix4 | identity | transform of (u, v, 1, 1): rows 2 and 3 both add |
// | "texture" | texture | none     | the image; none reads (0, 0, 0, 1)               |
// | "amount"  | float   | 1        | scale of red, green and blue (not alpha)         |
// | "isCube"  | bool    | false    | registered and copied, not read                  |
#pragma once

#include <tuple>

#include "frame/math.h"
#include "frame/shader_class.h"
#include "frame/texture.h"
#include "materials/ward/node_params.h"

namespace pxs {

struct BitmapFields {
    matrix4 xform = kIdentity4;
    TextureHandle texture;
    float amount = 1.0f;
    Flag isCube = false;
};

template <>
struct NodeParams<BitmapFields> {
    using F = BitmapFields;
    static constexpr auto kList =
        std::make_tuple(nodeParam("xform", &F::xform), nodeParam("texture", &F::texture),
                        nodeParam("amount", &F::amount), nodeParam("isCube", &F::isCube));
};

inline float4 evaluateBitmap(float2 uv, const BitmapFields& f) {
    const float* m = f.xform.m;
    const float2 at(m[0] * uv.x + m[4] * uv.y + m[8] + m[12],
                    m[1] * uv.x + m[5] * uv.y + m[9] + m[13]);
    const float4 t = sampleTexture(f.texture, at);
    return float4(t.xyz() * f.amount, t.w);
}

}  // namespace pxs

#include "materials/physical/shading_frame.h"

namespace pxs {

void bumpFromHeight(TangentFrame& f, float2 uv, const TextureHandle& map, const matrix3& transform,
                    float amount, float uvScale) {
    bumpFromHeightLookup(f, uv, transform, amount, uvScale, [&map](float2 p) {
        const float4 t = sampleTexture(map, p);
        return t.x + t.y + t.z;
    });
}

}  // namespace pxs

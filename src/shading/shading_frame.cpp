#include "shading/shading_frame.h"

#include "shading/noise_texture.h"

namespace pxs {

void bumpFromHeight(TangentFrame& f, float2 uv, const TextureHandle& map, const matrix3& transform,
                    float amount, float uvScale) {
    bumpFromHeightLookup(f, uv, transform, amount, uvScale, [&map](float2 p) {
        const float4 t = sampleTexture(map, p);
        return t.x + t.y + t.z;
    });
}

void peelBump(IRenderServices* sv, TangentFrame& f, float3 q, float amount) {
    NoiseTextureSettings n;
    n.size = 2.6f;
    n.levels = 2.0f;
    n.type = kNoisePlain;
    n.phase = 1.0f;
    bendFrame(f, noiseTextureBump(*sv, q, n, f.t, f.b, f.n), amount);
}

}  // namespace pxs

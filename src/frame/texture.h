// The one texture lookup every shader goes through.
#pragma once

#include "vesper/host.h"

namespace pxs {

// The texel at coords (a float2 for images, a float3 direction for cube maps);
// (0, 0, 0, 1) when the handle holds no texture object.
inline float4 sampleTexture(const TextureHandle& handle, const float* coords) {
    float4 out(0.0f, 0.0f, 0.0f, 1.0f);
    if (handle.object) handle.object->sample(&out, coords);
    return out;
}
inline float4 sampleTexture(const TextureHandle& handle, float2 uv) {
    return sampleTexture(handle, &uv.x);
}
inline float4 sampleTexture(const TextureHandle& handle, float3 direction) {
    return sampleTexture(handle, &direction.x);
}

}  // namespace pxs

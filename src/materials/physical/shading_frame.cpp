#include "materials/physical/shading_frame.h"

#include <cmath>

namespace pxs {

namespace {

float heightAt(const TextureHandle& map, float2 uv) {
    float4 t = sampleTexture(map, uv);
    return t.x + t.y + t.z;
}

}  // namespace

void bumpFromHeight(TangentFrame& f, float2 uv, const TextureHandle& map, const matrix3& transform,
                    float amount, float uvScale) {
    constexpr float kStep = 0.001f;
    float2 p = transformUV(uv, transform) * uvScale;
    float h = heightAt(map, p);
    float du = h - heightAt(map, float2(p.x + kStep, p.y));
    float dv = h - heightAt(map, float2(p.x, p.y + kStep));
    // Flat to within texture noise: keep the interpolated normal exactly.
    if (std::fabs(du) < 1e-5f && std::fabs(dv) < 1e-5f) return;
    f.n = f.n + (du * f.t + dv * f.b) * (amount * 3.33f);
}

}  // namespace pxs

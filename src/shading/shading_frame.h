// Surface frame and texture maps shared by the physically based and Ward materials.
//
// Conventions of the whole physical shading library:
// - I is the ray direction (pointing at the surface), N the state's shading normal,
//   Ng its geometric normal, P the hit position, all as the host supplies them.
// - Frame space has +z along the (face-forwarded, possibly bumped) shading normal,
//   x along the tangent T and y along the bitangent B.
// - Directions the host gives or receives are world space; every lobe routine works
//   in frame space.
#pragma once

#include <cmath>

#include "frame/math.h"
#include "frame/shader_class.h"
#include "frame/texture.h"
#include "frame/texture_channel.h"
#include "vesper/host.h"
#include "vesper/state.h"

namespace pxs {

// Attribute offsets of the materials that register "bitangent", "tangent" and "uv"
// after their ambient-occlusion and masking block.
constexpr int32_t kBitangentAttribute = 24;
constexpr int32_t kTangentAttribute = 36;
constexpr int32_t kUvAttribute = 48;

inline void declareFrameAttributes(Declarer& declare) {
    declare.attribute(kAttributeFloat3, "bitangent", kBitangentAttribute);
    declare.attribute(kAttributeFloat3, "tangent", kTangentAttribute);
    declare.attribute(kAttributeFloat2, "uv", kUvAttribute);
}

// Sides of a hit as the ray sees them.
struct Facing {
    float3 nf;      // shading normal turned against I; zero when I grazes Ng exactly
    float3 ngf;     // geometric normal turned against I
    bool entering;  // the ray hits the front of the geometric surface
};

inline Facing facing(float3 i, float3 n, float3 ng) {
    float d = dot(i, ng);
    return {faceForward(n, i, ng), d <= 0.0f ? ng : -ng, d <= 0.0f};
}
inline Facing facing(const ShadingState& st) {
    return facing(st.rayDirection, st.normal, st.geometricNormal);
}

// The tangent frame record: an int tag (always 3) and T, B, N packed.
struct TangentFrame {
    int32_t tag = 3;
    float3 t;
    float3 b;
    float3 n;
};
static_assert(sizeof(TangentFrame) == 40, "tag and three packed vectors");

// Rebuilds T and B around N (Gram-Schmidt); N is used as it stands.
inline void buildFrame(TangentFrame& f) {
    f.t = normalize(f.t - dot(f.t, f.n) * f.n);
    f.b = normalize(cross(f.n, f.t));
}

// After a routine bent N: N back to unit length, T and B rebuilt.
inline void rebuildFrame(TangentFrame& f) {
    f.n = normalize(f.n);
    buildFrame(f);
}

// A frame around the unit normal n alone, T and B from n's components; the
// poles (|n.z| near 1) take fixed axes.
inline TangentFrame frameAround(float3 n) {
    TangentFrame f;
    f.n = n;
    if (std::fabs(n.z) > 0.99999f) {
        f.t = float3(1.0f, 0.0f, 0.0f);
        f.b = n.z < 0.0f ? float3(0.0f, -1.0f, 0.0f) : float3(0.0f, 1.0f, 0.0f);
    } else {
        const float a = 1.0f / (1.0f + n.z);
        f.t = float3(n.y * n.y * a + n.z, -n.x * n.y * a, -n.x);
        f.b = float3(-n.x * n.y * a, n.x * n.x * a + n.z, -n.y);
    }
    return f;
}

inline float3 toFrame(const TangentFrame& f, float3 v) {
    return {dot(v, f.t), dot(v, f.b), dot(v, f.n)};
}
inline float3 fromFrame(const TangentFrame& f, float3 v) {
    return v.x * f.t + v.y * f.b + v.z * f.n;
}

// The frame of a hit: the "tangent" attribute carried into normal space by the upper
// 3x3 of matrixB, around the normal n the material chose (usually Facing::nf).
inline TangentFrame frameFromState(const ShadingState& st, float3 n,
                                   int32_t tangentOffset = kTangentAttribute) {
    TangentFrame f;
    f.t = transformDirection(readAttribute<float3>(st, tangentOffset), st.matrixB);
    f.n = n;
    buildFrame(f);
    return f;
}

// A map slot's texel at uv through its UV transform; (0, 0, 0, 1) without a texture.
inline float4 sampleMap(const TextureHandle& map, const matrix3& transform, float2 uv) {
    return sampleTexture(map, transformUV(uv, transform));
}

// A single-channel input: the map's red channel times amount when enabled (the
// constant is not involved then), else the constant.
inline float scalarMap(bool enable, const TextureHandle& map, const matrix3& transform,
                       float constant, float amount, float2 uv) {
    return enable ? sampleMap(map, transform, uv).x * amount : constant;
}

// Bends f.n by the finite-difference slope of a height field: heightAt(float2) ->
// float is read at the transformed and scaled uv and one step along u and along v,
// in that order. A flat field leaves N untouched. The caller then runs rebuildFrame.
template <class HeightAt>
void bumpFromHeightLookup(TangentFrame& f, float2 uv, const matrix3& transform, float amount,
                          float uvScale, HeightAt&& heightAt) {
    constexpr float kStep = 0.001f;
    const float2 p = transformUV(uv, transform) * uvScale;
    const float h = heightAt(p);
    const float du = h - heightAt(float2(p.x + kStep, p.y));
    const float dv = h - heightAt(float2(p.x, p.y + kStep));
    // Flat to within texture noise: keep the interpolated normal exactly.
    if (std::fabs(du) < 1e-5f && std::fabs(dv) < 1e-5f) return;
    f.n = f.n + (du * f.t + dv * f.b) * (amount * 3.33f);
}

// The same for a height map (height = r + g + b); a missing map is flat.
void bumpFromHeight(TangentFrame& f, float2 uv, const TextureHandle& map, const matrix3& transform,
                    float amount, float uvScale = 1.0f);

// Leans N along amount times the frame-space gradient g, then rebuilds the frame.
inline void bendFrame(TangentFrame& f, float3 g, float amount) {
    f.n = f.n + amount * (g.x * f.t + g.y * f.b + g.z * f.n);
    rebuildFrame(f);
}

// The fixed two-level noise relief at q (the glass's procedural bump, the paint's
// orange peel) bending f by `amount`.
void peelBump(IRenderServices* sv, TangentFrame& f, float3 q, float amount);

}  // namespace pxs

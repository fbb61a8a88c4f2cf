// Host-side vector arithmetic on the contract's value types. The reference host
// keeps its own small set so that it depends on nothing but the public headers.
#pragma once

#include <algorithm>
#include <cmath>

#include "vesper/types.h"

namespace vref {

using pxs::float2;
using pxs::float3;
using pxs::float4;

constexpr float kPi = 3.14159265f;

inline float3 operator+(float3 a, float3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline float3 operator-(float3 a, float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline float3 operator-(float3 a) {
    return {-a.x, -a.y, -a.z};
}
inline float3 operator*(float3 a, float3 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
inline float3 operator*(float3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float3 operator*(float s, float3 a) {
    return a * s;
}
inline float3 operator/(float3 a, float s) {
    return {a.x / s, a.y / s, a.z / s};
}
inline float3& operator+=(float3& a, float3 b) {
    return a = a + b;
}
inline float3& operator*=(float3& a, float3 b) {
    return a = a * b;
}
inline float dot(float3 a, float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline float3 cross(float3 a, float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(float3 a) {
    return std::sqrt(dot(a, a));
}
// A zero vector stays zero.
inline float3 normalize(float3 a) {
    float l = length(a);
    return l > 0.0f ? a / l : a;
}
inline float maxComponent(float3 a) {
    return std::max(a.x, std::max(a.y, a.z));
}
inline bool isZero(float3 a) {
    return a.x == 0.0f && a.y == 0.0f && a.z == 0.0f;
}
inline bool isFinite(float3 a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}
inline float luminance(float3 c) {
    return 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z;
}

// Any two unit vectors completing n to a right-handed orthonormal frame.
inline void orthonormalBasis(float3 n, float3* t, float3* b) {
    float s = n.z >= 0.0f ? 1.0f : -1.0f;
    float a = -1.0f / (s + n.z);
    float c = n.x * n.y * a;
    *t = {1.0f + s * n.x * n.x * a, s * c, -s * n.x};
    *b = {c, s + n.y * n.y * a, -n.y};
}

// Cosine-weighted direction around n from two uniforms in [0, 1).
inline float3 cosineHemisphere(float3 n, float u1, float u2) {
    float3 t, b;
    orthonormalBasis(n, &t, &b);
    float r = std::sqrt(u1);
    float phi = 2.0f * kPi * u2;
    float z = std::sqrt(std::max(0.0f, 1.0f - u1));
    return normalize(t * (r * std::cos(phi)) + b * (r * std::sin(phi)) + n * z);
}

// A 3x4 affine transform for row vectors: p' = p.x*r0 + p.y*r1 + p.z*r2 + t.
struct Affine {
    float3 r0{1, 0, 0}, r1{0, 1, 0}, r2{0, 0, 1}, t{0, 0, 0};

    float3 point(float3 p) const { return r0 * p.x + r1 * p.y + r2 * p.z + t; }
    float3 vector(float3 v) const { return r0 * v.x + r1 * v.y + r2 * v.z; }
    // Normals transform by the inverse transpose of the linear part.
    float3 normal(float3 n) const { return normalize(inverse().transposedVector(n)); }
    float3 transposedVector(float3 v) const { return {dot(r0, v), dot(r1, v), dot(r2, v)}; }
    Affine then(const Affine& o) const {
        Affine a;
        a.r0 = o.vector(r0);
        a.r1 = o.vector(r1);
        a.r2 = o.vector(r2);
        a.t = o.point(t);
        return a;
    }
    Affine inverse() const {
        // Rows of the inverse of the linear part, by cofactors.
        float3 c0 = cross(r1, r2), c1 = cross(r2, r0), c2 = cross(r0, r1);
        float det = dot(r0, c0);
        float inv = det != 0.0f ? 1.0f / det : 0.0f;
        Affine a;
        a.r0 = float3(c0.x, c1.x, c2.x) * inv;
        a.r1 = float3(c0.y, c1.y, c2.y) * inv;
        a.r2 = float3(c0.z, c1.z, c2.z) * inv;
        a.t = -a.vector(t);
        return a;
    }
};

}  // namespace vref

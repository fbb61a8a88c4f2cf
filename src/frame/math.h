// Arithmetic on the contract's value types, and the scalar helpers every shader uses.
//
// Results are fixed to single-precision IEEE arithmetic in the order written here
// (the build turns off floating-point contraction), so keep expression shapes as
// they are: a*b + c and c + a*b are not interchangeable once rounding matters.
#pragma once

#include <cmath>

#include "vesper/types.h"

namespace pxs {

// Constants with the digits the shaders were tuned with.
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.283185f;
constexpr float kHalfPi = 1.570796f;
constexpr float kInvPi = 0.3183099f;
constexpr float kInvTwoPi = 1.0f / kTwoPi;
constexpr float kDegToRad = 0.01745329f;
constexpr float kRadToDeg = 57.29578f;
constexpr float kEpsilon = 1e-6f;

// ---- scalar helpers ------------------------------------------------------------

inline float minf(float a, float b) {
    return b > a ? a : b;
}
inline float maxf(float a, float b) {
    return a > b ? a : b;
}
// A NaN x passes through unchanged; with lo > hi, x < lo gives lo, else hi.
inline float clampf(float x, float lo, float hi) {
    return lo > x ? lo : (x > hi ? hi : x);
}
inline float saturate(float x) {
    return clampf(x, 0.0f, 1.0f);
}
inline float signf(float x) {
    return x < 0.0f ? -1.0f : (x > 0.0f ? 1.0f : 0.0f);
}
// Callers never pass e0 == e1 unless they handle the division by zero.
inline float smoothstepf(float e0, float e1, float x) {
    float t = saturate((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}
inline float lerp(float a, float b, float t) {
    return (1.0f - t) * a + t * b;
}
// Range-normalised power falloff of the lights.
inline float rangeFalloff(float d, float range, float exponent) {
    return saturate(1.0f - std::pow(d / range, exponent));
}

// ---- float2 --------------------------------------------------------------------

inline float2 operator+(float2 a, float2 b) {
    return {a.x + b.x, a.y + b.y};
}
inline float2 operator-(float2 a, float2 b) {
    return {a.x - b.x, a.y - b.y};
}
inline float2 operator*(float2 a, float s) {
    return {a.x * s, a.y * s};
}
inline float2 operator*(float s, float2 a) {
    return {s * a.x, s * a.y};
}

// ---- float3 --------------------------------------------------------------------

inline float3 operator+(float3 a, float3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline float3 operator-(float3 a, float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline float3 operator*(float3 a, float3 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
inline float3 operator/(float3 a, float3 b) {
    return {a.x / b.x, a.y / b.y, a.z / b.z};
}
inline float3 operator*(float3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float3 operator*(float s, float3 a) {
    return {s * a.x, s * a.y, s * a.z};
}
// Division by a scalar multiplies by its reciprocal; results keep that rounding.
inline float3 operator/(float3 a, float s) {
    return a * (1.0f / s);
}
inline float3 operator-(float3 a) {
    return {-a.x, -a.y, -a.z};
}
inline float3& operator+=(float3& a, float3 b) {
    return a = a + b;
}
inline float3& operator-=(float3& a, float3 b) {
    return a = a - b;
}
inline float3& operator*=(float3& a, float3 b) {
    return a = a * b;
}
inline float3& operator*=(float3& a, float s) {
    return a = a * s;
}
inline float3& operator/=(float3& a, float3 b) {
    return a = a / b;
}
inline float3& operator/=(float3& a, float s) {
    return a = a / s;
}
inline bool operator==(float3 a, float3 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
inline bool operator!=(float3 a, float3 b) {
    return !(a == b);
}

inline float dot(float3 a, float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline float length(float3 v) {
    return std::sqrt(dot(v, v));
}
inline float3 cross(float3 a, float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float maxComponent(float3 v) {
    return maxf(maxf(v.x, v.y), v.z);
}
inline float minComponent(float3 v) {
    return minf(minf(v.x, v.y), v.z);
}
// Relative luminance of a linear RGB colour with the Rec. 709 primaries.
inline float luminanceRec709(float3 c) {
    return 0.212671f * c.x + 0.71516f * c.y + 0.072169f * c.z;
}
inline float3 abs(float3 v) {
    return {std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)};
}
inline float3 clamp(float3 v, float3 lo, float3 hi) {
    return {clampf(v.x, lo.x, hi.x), clampf(v.y, lo.y, hi.y), clampf(v.z, lo.z, hi.z)};
}
inline float3 saturate(float3 v) {
    return {saturate(v.x), saturate(v.y), saturate(v.z)};
}
inline float3 lerp(float3 a, float3 b, float t) {
    return (1.0f - t) * a + t * b;
}

// A zero vector stays zero: no division happens.
inline float3 normalize(float3 v) {
    float len = length(v);
    return len > 0.0f ? v * (1.0f / len) : v;
}
inline float3 reflect(float3 i, float3 n) {
    return i - 2.0f * dot(n, i) * n;
}
// n turned against the incoming direction i, judged with nref; zero when i is
// perpendicular to nref.
inline float3 faceForward(float3 n, float3 i, float3 nref) {
    return -signf(dot(i, nref)) * n;
}
// Converts a Z-up vector into the Y-up convention of the cube maps.
inline float3 swizzleYUp(float3 v) {
    return {v.x, v.z, -v.y};
}

// ---- float4 --------------------------------------------------------------------

inline float4 operator+(float4 a, float4 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w};
}
inline float4 operator-(float4 a, float4 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w};
}
inline float4 operator*(float4 a, float4 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z, a.w * b.w};
}
inline float4 operator*(float4 a, float s) {
    return {a.x * s, a.y * s, a.z * s, a.w * s};
}
inline float4 operator*(float s, float4 a) {
    return {s * a.x, s * a.y, s * a.z, s * a.w};
}
inline bool operator==(float4 a, float4 b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}
inline float4 lerp(float4 a, float4 b, float t) {
    return (1.0f - t) * a + t * b;
}

// ---- matrices (row vectors on the left) ----------------------------------------

inline float3 transformPoint(float3 p, const matrix4& m) {
    const float* a = m.m;
    return {p.x * a[0] + p.y * a[4] + p.z * a[8] + a[12],
            p.x * a[1] + p.y * a[5] + p.z * a[9] + a[13],
            p.x * a[2] + p.y * a[6] + p.z * a[10] + a[14]};
}
inline float3 transformDirection(float3 d, const matrix4& m) {
    const float* a = m.m;
    return {d.x * a[0] + d.y * a[4] + d.z * a[8], d.x * a[1] + d.y * a[5] + d.z * a[9],
            d.x * a[2] + d.y * a[6] + d.z * a[10]};
}
inline float3 transformDirection(float3 d, const matrix3& m) {
    const float* a = m.m;
    return {d.x * a[0] + d.y * a[3] + d.z * a[6], d.x * a[1] + d.y * a[4] + d.z * a[7],
            d.x * a[2] + d.y * a[5] + d.z * a[8]};
}
// M x v: each output is the dot product with a row.
inline float3 transposedProduct(const matrix3& m, float3 v) {
    const float* a = m.m;
    return {a[0] * v.x + a[1] * v.y + a[2] * v.z, a[3] * v.x + a[4] * v.y + a[5] * v.z,
            a[6] * v.x + a[7] * v.y + a[8] * v.z};
}
// A texture coordinate through a homogeneous 2D transform (translation in row 2).
inline float2 transformUV(float2 uv, const matrix3& m) {
    const float* a = m.m;
    return {uv.x * a[0] + uv.y * a[3] + a[6], uv.x * a[1] + uv.y * a[4] + a[7]};
}
inline matrix3 operator*(const matrix3& l, const matrix3& r) {
    matrix3 out;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i * 3 + j] =
                l.m[i * 3] * r.m[j] + l.m[i * 3 + 1] * r.m[3 + j] + l.m[i * 3 + 2] * r.m[6 + j];
        }
    }
    return out;
}
constexpr matrix3 kIdentity3 = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
constexpr matrix4 kIdentity4 = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

}  // namespace pxs

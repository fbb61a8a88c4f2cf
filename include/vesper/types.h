// Value types shared by the host and the shaders: plain single-precision records
// whose layout is part of the binary contract (no padding, 4-byte alignment).
//
// Vectors are row vectors multiplied on the left (v x M); matrices are stored in
// row order, so a point transforms as x*m[0] + y*m[4] + z*m[8] + m[12].
#pragma once

#include <cstdint>

namespace pxs {

struct float2 {
    float x, y;

    constexpr float2() : x(0.0f), y(0.0f) {}
    constexpr float2(float x_, float y_) : x(x_), y(y_) {}
};

struct float3 {
    float x, y, z;

    constexpr float3() : x(0.0f), y(0.0f), z(0.0f) {}
    constexpr explicit float3(float s) : x(s), y(s), z(s) {}
    constexpr float3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    constexpr float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
    float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
};

struct float4 {
    float x, y, z, w;

    constexpr float4() : x(0.0f), y(0.0f), z(0.0f), w(0.0f) {}
    constexpr explicit float4(float s) : x(s), y(s), z(s), w(s) {}
    constexpr float4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
    constexpr float4(const float3& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}

    constexpr float3 xyz() const { return float3(x, y, z); }
};

// 3x3 matrix, row order: m[0..2] row 0, m[3..5] row 1, m[6..8] row 2.
struct matrix3 {
    float m[9];
};

// 4x4 matrix, row order; translation lives in row 3 (m[12], m[13], m[14]).
struct matrix4 {
    float m[16];
};

static_assert(sizeof(float2) == 8, "float2 is two packed floats");
static_assert(sizeof(float3) == 12, "float3 is three packed floats");
static_assert(sizeof(float4) == 16, "float4 is four packed floats");
static_assert(sizeof(matrix3) == 36, "matrix3 is nine packed floats");
static_assert(sizeof(matrix4) == 64, "matrix4 is sixteen packed floats");

}  // namespace pxs

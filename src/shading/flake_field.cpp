#include "shading/flake_field.h"

#include <cmath>

namespace pxs {

namespace {

struct SplineWeights {
    float cell;   // floor of the coordinate
    float w[3];   // weights of lattice points cell - 1, cell, cell + 1
    float dw[3];  // their derivatives
};

// Quadratic B-spline over the three lattice points around x.
SplineWeights splineWeights(float x) {
    SplineWeights s;
    s.cell = std::floor(x);
    const float t = x - s.cell;
    const float u = 1.0f - t;
    const float c = t - 0.5f;
    s.w[0] = 0.5f * (u * u);
    s.w[1] = 0.75f - c * c;
    s.w[2] = 0.5f * (t * t);
    s.dw[0] = -u;
    s.dw[1] = -2.0f * c;
    s.dw[2] = t;
    return s;
}

float shiftAxis(float x) {
    if (x < -39999.0f) x = -39998.0f - x;
    return x + 40000.0f;
}

bool finite(float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

float3 flakeLatticeSpace(float3 q) {
    return {shiftAxis(q.x), shiftAxis(q.y), shiftAxis(q.z)};
}

LatticeNoiseSample smoothLatticeNoise(IRenderServices* services, float3 q) {
    const SplineWeights sx = splineWeights(q.x);
    const SplineWeights sy = splineWeights(q.y);
    const SplineWeights sz = splineWeights(q.z);
    LatticeNoiseSample out{0.0f, float3(0.0f)};
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 3; ++j) {
            for (int i = 0; i < 3; ++i) {
                const float3 point(sx.cell + static_cast<float>(i - 1),
                                   sy.cell + static_cast<float>(j - 1),
                                   sz.cell + static_cast<float>(k - 1));
                const float v = services->latticeNoise(&point);
                out.value += sx.w[i] * sy.w[j] * sz.w[k] * v;
                out.gradient.x += sx.dw[i] * sy.w[j] * sz.w[k] * v;
                out.gradient.y += sx.w[i] * sy.dw[j] * sz.w[k] * v;
                out.gradient.z += sx.w[i] * sy.w[j] * sz.dw[k] * v;
            }
        }
    }
    return out;
}

FlakeSample flakeField(IRenderServices* services, float3 q, float exponent, float offsetScale) {
    // A zero flake size sends the point to infinity: no flake there.
    if (!finite(q)) return {0.0f, float3(0.0f)};
    const float3 s = flakeLatticeSpace(q);
    const float3 g = smoothLatticeNoise(services, s).gradient;
    const float3 moved = s + 2.0f * g;
    const float3 cell(std::floor(moved.x), std::floor(moved.y), std::floor(moved.z));
    const LatticeNoiseSample atCell = smoothLatticeNoise(services, cell);
    const float mask = std::pow(std::fabs(atCell.value), exponent);
    return {std::isfinite(mask) ? mask : 0.0f, offsetScale * atCell.gradient};
}

}  // namespace pxs

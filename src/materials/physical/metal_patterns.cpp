#include "materials/physical/metal_patterns.h"

#include <cmath>

namespace pxs {

namespace metal {

namespace {

constexpr float kSqrt3Over2 = 0.8660254f;
// Half-width of the soft edge of the patterns 4 to 6, in cell units.
constexpr float kCutoutEdge = 0.02f;

float fract(float x) {
    return x - std::floor(x);
}
// 1 for an odd integer, 0 for an even one.
float parity(float i) {
    return i - 2.0f * std::floor(0.5f * i);
}

// 0 inside a hole of "radius" r measured by distance d, 1 outside, smooth over
// the edge; holes that do not exist leave the surface solid.
float softEdge(float d, float r) {
    if (!(r > 0.0f)) return 1.0f;
    const float e = minf(kCutoutEdge, 0.5f * r);
    return smoothstepf(r - e, r + e, d);
}

float staggeredCircles(float2 p, float r) {
    const float i0 = std::floor(p.x);
    const float j0 = std::floor(p.y);
    float best = 1e30f;
    for (int di = -1; di <= 1; ++di) {
        for (int dj = -1; dj <= 1; ++dj) {
            const float cx = i0 + static_cast<float>(di) + 0.5f;
            float cy = j0 + static_cast<float>(dj) + 0.5f;
            if (cx - 2.0f * std::floor(cx / 2.0f) < 1.0f) cy += 0.5f;
            const float dx = p.x - cx;
            const float dy = p.y - cy;
            best = minf(best, std::sqrt(dx * dx + dy * dy));
        }
    }
    return best > r ? 1.0f : 0.0f;
}

float circleGrid(float2 p, float r) {
    const float fx = fract(p.x);
    const float fy = fract(p.y);
    const float dx = 0.5f - fx;
    const float dy = 0.5f - fy;
    return std::sqrt(dx * dx + dy * dy) <= r ? 0.0f : 1.0f;
}

float staggeredSquares(float2 p, float a, float b) {
    if (p.y / 2.0f - std::floor(p.y / 2.0f) > 0.5f) p.x = p.x - 0.5f;
    const float fx = fract(p.x);
    const float fy = fract(p.y);
    const float w = 0.5f * a / (a + b);
    const float e = 1.0f - a / (a + b) + w;
    return (fx <= w || fx >= e || fy <= w || fy >= e) ? 1.0f : 0.0f;
}

// Rounded slots two cells long in rows of one cell, every other row shifted by
// half a slot. The slot is a capsule of radius r around a segment one cell long,
// which leaves the web a / (a + b) between slot ends as between rows.
float slots(float2 p, float r) {
    const float j0 = std::floor(p.y);
    float best = 1e30f;
    for (int dj = -1; dj <= 1; ++dj) {
        const float row = j0 + static_cast<float>(dj);
        const float cy = row + 0.5f;
        const float shift = parity(row);
        const float i0 = std::floor((p.x - shift) / 2.0f);
        for (int di = -1; di <= 1; ++di) {
            const float cx = 2.0f * (i0 + static_cast<float>(di)) + 1.0f + shift;
            const float dx = maxf(std::fabs(p.x - cx) - 0.5f, 0.0f);
            const float dy = p.y - cy;
            best = minf(best, std::sqrt(dx * dx + dy * dy));
        }
    }
    return softEdge(best, r);
}

// Hexagonal holes on a honeycomb lattice of unit spacing, flats facing the six
// neighbours; r is the hexagon's inner radius.
float hexagons(float2 p, float r) {
    const float j0 = std::floor(p.y / kSqrt3Over2);
    float best = 1e30f;
    for (int dj = -1; dj <= 2; ++dj) {
        const float row = j0 + static_cast<float>(dj);
        const float cy = row * kSqrt3Over2;
        const float shift = 0.5f * parity(row);
        const float i0 = std::floor(p.x - shift);
        for (int di = -1; di <= 2; ++di) {
            const float cx = i0 + static_cast<float>(di) + shift;
            const float vx = p.x - cx;
            const float vy = p.y - cy;
            const float d = maxf(std::fabs(vx), maxf(std::fabs(0.5f * vx + kSqrt3Over2 * vy),
                                                     std::fabs(-0.5f * vx + kSqrt3Over2 * vy)));
            best = minf(best, d);
        }
    }
    return softEdge(best, r);
}

// Diamond holes centred in square cells, corners along the cell axes.
float diamonds(float2 p, float r) {
    const float dx = fract(p.x) - 0.5f;
    const float dy = fract(p.y) - 0.5f;
    return softEdge(std::fabs(dx) + std::fabs(dy), r);
}

float noiseAt(IRenderServices* sv, float2 p) {
    return sv->noise2(&p);
}

// The relief of the procedural bump: two octaves of the host's 2D noise.
float relief(IRenderServices* sv, float2 q) {
    return noiseAt(sv, q) + 0.5f * noiseAt(sv, float2(2.03f * q.x + 5.2f, 2.03f * q.y + 1.3f));
}

}  // namespace

float cutoutPattern(int32_t mode, float2 p, float a, float b) {
    if (!(a + b > 0.0f) || !std::isfinite(p.x) || !std::isfinite(p.y)) return 1.0f;
    const float r = 0.5f * b / (a + b);
    switch (mode) {
        case kCutoutStaggeredCircles:
            return staggeredCircles(p, r);
        case kCutoutCircleGrid:
            return circleGrid(p, r);
        case kCutoutStaggeredSquares:
            return staggeredSquares(p, a, b);
        case kCutoutSlots:
            return slots(p, r);
        case kCutoutHexagons:
            return hexagons(p, r);
        case kCutoutDiamonds:
            return diamonds(p, r);
        default:
            return 1.0f;
    }
}

float2 cutoutCell(float2 uv, float scale, float a, float b, float center) {
    const float s = a + b;
    return {uv.x * scale / s - (center - 0.5f), uv.y * scale / s - (center - 0.5f)};
}

float patinaMask(IRenderServices* sv, float2 p, float percent) {
    const float n = noiseAt(sv, 0.1f * p) + 0.7f * noiseAt(sv, 0.3f * p) +
                    0.48999998f * noiseAt(sv, 0.90000004f * p) + 0.343f * noiseAt(sv, 2.7f * p);
    const float x = 0.5f + 0.5f * std::sin(n);
    const float p0 = saturate(percent);
    if (x >= 1.0f - p0) return p0;
    const float d = (1.0f - p0) - x;
    if (d <= 0.2f * p0) return (1.0f - d / (0.2f * p0)) * p0;
    return 0.0f;
}

float patinaRamp(float m) {
    if (m >= 0.3f) return 1.0f;
    if (m > 0.0f) {
        const float t = m / 0.3f;
        return t * t;
    }
    return 0.0f;
}

float3 anodisedColour(IRenderServices* sv, float2 uv, float3 tiling) {
    // Offsets keep the three channels' patterns apart.
    const float r = noiseAt(sv, uv * tiling.x);
    const float g = noiseAt(sv, uv * tiling.y + float2(17.3f, 5.1f));
    const float b = noiseAt(sv, uv * tiling.z + float2(-9.7f, 31.4f));
    return saturate(float3(0.5f + 0.5f * r, 0.5f + 0.5f * g, 0.5f + 0.5f * b));
}

float3 proceduralBumpGradient(IRenderServices* sv, float2 q) {
    constexpr float kStep = 0.05f;
    const float gx = (relief(sv, float2(q.x + kStep, q.y)) - relief(sv, float2(q.x - kStep, q.y))) /
                     (2.0f * kStep);
    const float gy = (relief(sv, float2(q.x, q.y + kStep)) - relief(sv, float2(q.x, q.y - kStep))) /
                     (2.0f * kStep);
    // The normal leans away from uphill; a wild host noise cannot flip it over.
    return 0.5f * float3(clampf(-gx, -4.0f, 4.0f), clampf(-gy, -4.0f, 4.0f), 0.0f);
}

}  // namespace metal

}  // namespace pxs

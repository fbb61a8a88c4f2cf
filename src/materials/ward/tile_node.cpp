#include "materials/ward/tile_node.h"

#include <cmath>

namespace pxs {

namespace {

// The edge width below which the profiles are step functions.
constexpr float kHardEdge = 1e-7f;

// One axis's brick profile across a cell: 0 in the mortar of width g at both ends
// of the cell (as fractions of it), 1 on the brick, ramps of width w between.
float profile(float fraction, float g, float w) {
    if (w >= 1.0f) return 1.0f - 2.0f * g;
    const float lo = maxf(1.0f - g / w, 0.0f);
    float up = clampf((fraction - g + w) / w, 0.0f, 1.0f);
    up = minf(maxf(up, lo), 1.0f);
    float dn = clampf((fraction - 1.0f + g + w) / w, 0.0f, 1.0f);
    dn = minf(dn, 2.0f * g / w);
    return up - dn;
}

// Every n-th index (1-based) is edited; n = 0 edits none.
bool editedIndex(float index1, int32_t every) {
    const float n = static_cast<float>(every);
    const float mod = std::trunc(index1 - std::floor(index1 / n) * n);
    return mod == 0.0f && (every == 1 || index1 != 1.0f);
}

// Wraps a coordinate into [0, 1]; false when it lies outside and must not wrap.
bool wrap(float& x, bool repeat) {
    if (x < 0.0f || x > 1.0f) {
        if (!repeat) return false;
        x = x - std::floor(x);
    }
    return true;
}

float unitChannel(float x) {
    return x != x ? 0.0f : clampf(x, 0.0f, 1.0f);
}

// The mask m of brick `id` with the holes: a brick drops out where its noise
// passes 1 / (holes + 1); 100 holes drop every brick, 0 or fewer none.
float withHoles(IRenderServices& services, float m, float id, int32_t holes) {
    if (holes <= 0) return m;
    if (holes == 100) return 0.0f;
    float hx = 2.0f * services.noise1(id) - 1.0f;
    if (hx < 0.0f) hx = hx * hx;
    const float t = 1.0f / (static_cast<float>(holes) + 1.0f);
    if (hx > t || hx / t == 1.0f) return 0.0f;
    return m;
}

}  // namespace

BrickMask brickMask(IRenderServices& services, float u, float v, const TileFields& f) {
    const float hg = f.horizontalGap, vg = f.verticalGap;
    const float seed = static_cast<float>(f.randomSeed);
    float cw = 1.0f / (f.horizontalCount + hg);
    float ch = 1.0f / (f.verticalCount + vg);

    // Row and column edits, judged on the unedited grid.
    float q = 0.0f;
    const bool rowPasses = !f.useRowEdit || editedIndex(std::floor(v / ch) + 1.0f, f.perRow);
    const bool columnPasses =
        !f.useColumnEdit || editedIndex(std::floor(u / cw) + 1.0f, f.perColumn);
    if (rowPasses && columnPasses) {
        if (f.useRowEdit) cw = cw * f.changeRow;
        if (f.useColumnEdit) {
            ch = ch * f.changeColumn;
            q = f.changeRow;
        }
    }

    // Edge jitter (note the swapped coordinates of the second lookup).
    const float a = f.edgeRoughness * 0.001f;
    const float2 pa(17.0f * u / cw, 17.0f * v / ch);
    const float ja = services.noise2(&pa);
    const float2 pb(17.0f * v / cw, 17.0f * u / ch);
    const float jb = services.noise2(&pb);
    const float ur = u + (2.0f * ja - 1.0f) * a;
    const float vr = v + (2.0f * jb - 1.0f) * a;

    // Hard edges inside the tile; jitter past a whole unit widens them.
    float w = std::fabs(std::trunc(vr)) + std::fabs(std::trunc(ur));
    if (w <= kHardEdge) w = kHardEdge;
    const float wu = w / cw, wv = w / ch;

    const float r = std::floor(vr / ch);
    const float fy = vr / ch - r;
    const float s = services.noise1(r + 0.5f + seed);
    float x = ur / cw + (2.0f * s - 1.5f) * f.randomShift;
    const float half = 0.5f * vr / ch;
    if (half - std::floor(half) > 0.5f) x = x + f.lineShift + 0.5f;
    const float col = std::floor(x);
    const float fx = x - col;

    float m = profile(fy, vg / ch, wv) * profile(fx, hg / cw, wu);

    // The brick that wraps past the right end takes the first column's number.
    float k = std::trunc(col) == std::trunc(1.0f / cw) ? 0.0f : col;
    if (q > 0.0f && 1.0f - q != 0.0f) {
        k = (k + 1.0f / cw) * (1.0f - q);
    } else {
        k = k + 1.0f / cw;
    }
    const float id = k * (r + 1.0f) + seed + 0.5f;

    return {withHoles(services, m, id, f.holes), id};
}

float4 brickColour(IRenderServices& services, float u, float v, float4 brick, float4 mortar,
                   const TileFields& f) {
    const BrickMask b = brickMask(services, u, v, f);
    // Both factors draw noise1 at the brick's id: one hash value, two strengths.
    float k1 = (2.0f * services.noise1(b.id) - 1.0f) * f.colorVariance + 1.0f;
    if (k1 < 0.0f) k1 = 0.0f;
    float4 c = brick * k1;
    float k2 = (2.0f * services.noise1(b.id) - 1.0f) * f.fadeVariance + 1.0f;
    if (k2 < 0.0f) k2 = 0.0f;
    c = c * k2;
    return mortar * (1.0f - b.mask) + c * b.mask;
}

float4 evaluateTile(IRenderServices& services, float2 uv, float4 brick, float4 mortar,
                    const TileFields& f) {
    const float* m = f.xform.m;
    float u = m[0] * uv.x + m[4] * uv.y + m[8] + m[12];
    float v = m[1] * uv.x + m[5] * uv.y + m[9] + m[13];
    if (!wrap(u, f.repeatX) || !wrap(v, f.repeatY)) return float4(0.0f);
    const float4 c = brickColour(services, u, v, brick, mortar, f);
    return {unitChannel(c.x), unitChannel(c.y), unitChannel(c.z), unitChannel(c.w)};
}

}  // namespace pxs

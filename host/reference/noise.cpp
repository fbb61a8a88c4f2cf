#include "host/reference/noise.h"

#include <cmath>

namespace vref {

namespace {

// Quintic fade of improved Perlin noise: C2 continuous across cells.
float fade(float t) {
    return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f);
}
float mix(float a, float b, float t) {
    return a + t * (b - a);
}
uint32_t cellHash(int32_t x, int32_t y, int32_t z, int32_t w, uint32_t seed) {
    uint32_t h = hashCombine(seed, static_cast<uint32_t>(x));
    h = hashCombine(h, static_cast<uint32_t>(y));
    h = hashCombine(h, static_cast<uint32_t>(z));
    return hashCombine(h, static_cast<uint32_t>(w));
}
// Uniform in [-1, 1) from a hash.
float signedUnit(uint32_t h) {
    return static_cast<float>(h >> 8) * (2.0f / 16777216.0f) - 1.0f;
}
// Gradient of a 4D lattice corner: one of the 32 edge midpoints of the tesseract.
float grad4(uint32_t h, float x, float y, float z, float w) {
    h &= 31u;
    float a = h < 24u ? x : y;
    float b = h < 16u ? y : z;
    float c = h < 8u ? z : w;
    return ((h & 1u) ? -a : a) + ((h & 2u) ? -b : b) + ((h & 4u) ? -c : c);
}
float grad3(uint32_t h, float x, float y, float z) {
    h &= 15u;
    float u = h < 8u ? x : y;
    float v = h < 4u ? y : (h == 12u || h == 14u ? x : z);
    return ((h & 1u) ? -u : u) + ((h & 2u) ? -v : v);
}
float grad2(uint32_t h, float x, float y) {
    h &= 7u;
    float u = h < 4u ? x : y;
    float v = h < 4u ? y : x;
    return ((h & 1u) ? -u : u) + ((h & 2u) ? -2.0f * v : 2.0f * v);
}

constexpr uint32_t kSeedNoise3 = 0x9e3779b9u;
constexpr uint32_t kSeedNoise3b = 0x7f4a7c15u;
constexpr uint32_t kSeedNoise2 = 0x2545f491u;
constexpr uint32_t kSeedNoise1 = 0x68e31da4u;
constexpr uint32_t kSeedLattice = 0xb5297a4du;
constexpr uint32_t kSeedJitter = 0x1b56c4e9u;

int32_t floorInt(float x) {
    return static_cast<int32_t>(std::floor(x));
}

float perlin3(float x, float y, float z, uint32_t seed) {
    int32_t ix = floorInt(x), iy = floorInt(y), iz = floorInt(z);
    float fx = x - ix, fy = y - iy, fz = z - iz;
    float u = fade(fx), v = fade(fy), s = fade(fz);
    float r[2][2];
    for (int j = 0; j < 2; ++j) {
        for (int k = 0; k < 2; ++k) {
            float a = grad3(cellHash(ix, iy + j, iz + k, 0, seed), fx, fy - j, fz - k);
            float b = grad3(cellHash(ix + 1, iy + j, iz + k, 0, seed), fx - 1, fy - j, fz - k);
            r[j][k] = mix(a, b, u);
        }
    }
    return mix(mix(r[0][0], r[1][0], v), mix(r[0][1], r[1][1], v), s);
}

}  // namespace

float noise3(float x, float y, float z, float w) {
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(z) && std::isfinite(w))) {
        return 0.0f;
    }
    int32_t i[4] = {floorInt(x), floorInt(y), floorInt(z), floorInt(w)};
    float f[4] = {x - i[0], y - i[1], z - i[2], w - i[3]};
    float value[16];
    for (int c = 0; c < 16; ++c) {
        int dx = c & 1, dy = (c >> 1) & 1, dz = (c >> 2) & 1, dw = (c >> 3) & 1;
        uint32_t h = cellHash(i[0] + dx, i[1] + dy, i[2] + dz, i[3] + dw, kSeedNoise3);
        value[c] = grad4(h, f[0] - dx, f[1] - dy, f[2] - dz, f[3] - dw);
    }
    // Interpolate along x, then y, z and w, halving the corner count each time.
    int n = 16;
    for (int axis = 0; axis < 4; ++axis) {
        float t = fade(f[axis]);
        n /= 2;
        for (int c = 0; c < n; ++c) value[c] = mix(value[2 * c], value[2 * c + 1], t);
    }
    // Corner gradients have three non-zero unit components: scale towards [-1, 1].
    return std::fmax(-1.0f, std::fmin(1.0f, value[0] * 0.87f));
}

float noise3b(float x, float y, float z) {
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(z))) return 0.0f;
    return std::fmax(-1.0f, std::fmin(1.0f, perlin3(x, y, z, kSeedNoise3b) * 0.97f));
}

float noise2(float x, float y) {
    if (!(std::isfinite(x) && std::isfinite(y))) return 0.5f;
    int32_t ix = floorInt(x), iy = floorInt(y);
    float fx = x - ix, fy = y - iy;
    float a = grad2(cellHash(ix, iy, 0, 0, kSeedNoise2), fx, fy);
    float b = grad2(cellHash(ix + 1, iy, 0, 0, kSeedNoise2), fx - 1, fy);
    float c = grad2(cellHash(ix, iy + 1, 0, 0, kSeedNoise2), fx, fy - 1);
    float d = grad2(cellHash(ix + 1, iy + 1, 0, 0, kSeedNoise2), fx - 1, fy - 1);
    float v = mix(mix(a, b, fade(fx)), mix(c, d, fade(fx)), fade(fy));
    return std::fmax(0.0f, std::fmin(1.0f, 0.5f + 0.25f * v));
}

float noise1(float x) {
    if (!std::isfinite(x)) return 0.5f;
    int32_t i = floorInt(x);
    float f = x - i;
    auto at = [](int32_t k) {
        return (signedUnit(cellHash(k, 0, 0, 0, kSeedNoise1)) + 1.0f) * 0.5f;
    };
    float v = mix(at(i), at(i + 1), fade(f));
    return v < 1.0f ? v : 0.99999994f;
}

float latticeNoise(float x, float y, float z) {
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(z))) return 0.0f;
    return signedUnit(cellHash(floorInt(x), floorInt(y), floorInt(z), 0, kSeedLattice));
}

pxs::float3 cellJitter(float x, float y, float z) {
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(z))) return {};
    uint32_t h = cellHash(floorInt(x), floorInt(y), floorInt(z), 0, kSeedJitter);
    return {signedUnit(hash32(h + 1u)), signedUnit(hash32(h + 2u)), signedUnit(hash32(h + 3u))};
}

}  // namespace vref

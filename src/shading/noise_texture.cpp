#include "shading/noise_texture.h"

#include <cmath>

namespace pxs {

namespace {

constexpr float kMinSize = 1e-5f;
constexpr float kLn2 = 0.6931478f;

float hostNoise(IRenderServices& sv, float3 q, float phase) {
    const float p[4] = {q.x, q.y, q.z, phase};
    return sv.noise3(p);
}

float3 rotateX(float3 v, float c, float s) {
    return {v.x, v.y * c - v.z * s, v.y * s + v.z * c};
}
float3 rotateY(float3 v, float c, float s) {
    return {v.x * c + v.z * s, v.y, v.z * c - v.x * s};
}
float3 rotateZ(float3 v, float c, float s) {
    return {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
}

float meanRgb(float4 c) {
    return (c.x + c.y + c.z) * 0.3333333f;
}

float valueAt(IRenderServices& sv, float3 q, const NoiseFilter& f, const NoiseTextureSettings& s) {
    return noiseTextureValue(sv, q, f.levels, f.width, s.average, s.type, s.phase, s.low, s.high,
                             s.tail);
}

}  // namespace

float3 patternPlacement(float3 p, const matrix3* matrix, float3 offset, float3 scale,
                        float3 angles) {
    float3 pm = matrix ? transposedProduct(*matrix, p) : p;
    float cx = std::cos(angles.x), sx = std::sin(angles.x);
    float cy = std::cos(angles.y), sy = std::sin(angles.y);
    float cz = std::cos(angles.z), sz = std::sin(angles.z);
    float3 out;
    for (int i = 0; i < 3; ++i) {
        float3 axis(i == 0 ? 1.0f : 0.0f, i == 1 ? 1.0f : 0.0f, i == 2 ? 1.0f : 0.0f);
        float3 r = rotateZ(rotateY(rotateX(axis, cx, sx), cy, sy), cz, sz);
        out[i] = scale[i] * dot(r, pm) + scale[i] * offset[i];
    }
    return out;
}

NoiseFilter noiseFilter(float3 p, float size, float levels, float3 footprint) {
    // Written as a test so that a NaN size also ends at the floor.
    if (!(size > kMinSize)) size = kMinSize;
    NoiseFilter f;
    f.q = p / size;
    float fw =
        ((std::fabs(footprint.x) + std::fabs(footprint.y) + std::fabs(footprint.z)) / 3.0f) / size;
    if (fw < kMinSize) fw = kMinSize;
    f.levels = minf(levels, std::log(1.0f / fw) / kLn2);
    f.width = minf(0.2f * fw, 0.4f);
    return f;
}

float smoothThreshold(float x, float lo, float hi, float w) {
    float d = hi - lo;
    if (x < lo - w) return 0.0f;
    if (x > hi + w) return 1.0f;
    if (x < lo + w) {
        float s = (x - (lo - w)) / (2.0f * w);
        return s * s * (3.0f - 2.0f * s) * (x - lo) / d;
    }
    if (x < hi - w) return (x - lo) / d;
    float s = (x - (hi - w)) / (2.0f * w);
    float k = s * s * (3.0f - 2.0f * s);
    return (x - lo) * (1.0f - k) / d + k;
}

float filteredTurbulence(IRenderServices& sv, float3 q, float lc, float l, float phase,
                         float tail) {
    float sum = 0.0f;
    float f = 1.0f;
    while (lc >= 1.0f) {
        sum += std::fabs(hostNoise(sv, f * q, phase)) / f;
        f = 2.0f * f;
        lc -= 1.0f;
        l -= 1.0f;
    }
    if (lc > 0.0f) sum += std::fabs(hostNoise(sv, f * q, phase)) * lc / f;
    if (lc < l && l >= 1.0f) {
        // The octaves beyond the filtered count contribute their mean only.
        float a = (1.0f - lc) / f;
        l -= 1.0f;
        f = 2.0f * f;
        while (l >= 1.0f) {
            a += 1.0f / f;
            l -= 1.0f;
            f = 2.0f * f;
        }
        if (l > 0.0f) a += l / f;
        sum += a * tail;
    }
    return sum;
}

float noiseTextureValue(IRenderServices& sv, float3 q, float levels, float width, float average,
                        int32_t type, float phase, float low, float high, float tail) {
    if (levels < -3.0f) return average;
    float lc = maxf(levels, 1.0f);
    float v;
    switch (type) {
        case kNoisePlain:
            v = (hostNoise(sv, q, phase) + 1.0f) * 0.5f;
            break;
        case kNoiseFractal: {
            float sum = 0.0f;
            float f = 1.0f;
            while (lc >= 1.0f) {
                sum += hostNoise(sv, f * q, phase) / f;
                f = 2.0f * f;
                lc -= 1.0f;
            }
            // Unlike the Noise node, a fractional last octave counts by its fraction.
            if (lc > 0.0f) sum += lc * hostNoise(sv, f * q, phase) / f;
            v = (sum + 1.0f) * 0.5f;
            break;
        }
        case kNoiseTurbulence:
            v = filteredTurbulence(sv, q, lc, levels, phase, tail);
            break;
        default:
            v = 0.0f;
            break;
    }
    if (low < high) v = smoothThreshold(v, low, high, width);
    if (levels < 1.0f) {
        // Between -3 and 1 octaves the pattern fades out towards its average.
        float t = ((levels + 4.0f) - 1.0f) * 0.25f;
        v = (1.0f - t) * average + t * v;
    }
    return v;
}

float4 noiseTextureColour(IRenderServices& sv, float3 p, const NoiseTextureSettings& s) {
    NoiseFilter f = noiseFilter(p, s.size, s.levels, s.footprint);
    float v = valueAt(sv, f.q, f, s);
    return s.colour1 * (1.0f - v) + s.colour2 * v;
}

float3 noiseTextureBump(IRenderServices& sv, float3 p, const NoiseTextureSettings& s, float3 t,
                        float3 b, float3 n) {
    NoiseFilter f = noiseFilter(p, s.size, s.levels, s.footprint);
    float vc = valueAt(sv, f.q, f, s);
    float vt = valueAt(sv, f.q + 0.1f * t, f, s);
    float vb = valueAt(sv, f.q + 0.1f * b, f, s);
    float vn = valueAt(sv, f.q + 0.1f * n, f, s);
    float3 g((vt - vc) / 0.1f, (vb - vc) / 0.1f, (vn - vc) / 0.1f);
    float k = meanRgb(s.colour2) - meanRgb(s.colour1);
    return k * g;
}

}  // namespace pxs

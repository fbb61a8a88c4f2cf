#include "materials/ward/ward_surface.h"

#include <cmath>

namespace pxs {

namespace {

// The smoke and ripple patterns sample 0.1 units along each axis and scale the
// differences by ten.
constexpr float kPatternStep = 0.1f;
constexpr float kPatternGain = 10.0f;

float overlayThenMultiply(float b, float s, float f) {
    float o = b >= 0.5f ? 1.0f - (1.0f - b) * 2.0f * (1.0f - s) : b * 2.0f * s;
    float b1 = b + (o - b) * f;
    return b1 + (b1 * s - b1) * f;
}

float smoothWeight(float s) {
    return s * s * (3.0f - 2.0f * s);
}

template <class Fn>
float3 forwardDifferences(float3 x, const PatternAxes& axes, float centre, Fn&& value) {
    // Braces fix the order of the host calls: tangent, bitangent, normal.
    return kPatternGain * float3{value(x + kPatternStep * axes.tangent) - centre,
                                 value(x + kPatternStep * axes.bitangent) - centre,
                                 value(x + kPatternStep * axes.normal) - centre};
}

float3 cellJitter(IRenderServices& sv, float3 cell) {
    // Room for four floats, as the host may write them.
    float4 out(0.0f);
    sv.cellJitter(reinterpret_cast<float3*>(&out), &cell);
    return out.xyz();
}

}  // namespace

float glossToRoughness(float x) {
    x = clampf(x, 0.0f, 1.0f);
    float g = 1.0f - x;
    float g2 = g * g;
    if (g < 0.5f) return 1.11078f * g2 - 0.225494f * g + 0.0505339f;
    if (g < 0.9f) return 24.1745f * (g2 * g) - 45.6128f * g2 + 28.605f * g - 5.72202f;
    return (g - 0.9f) * 3.0f + 0.7f;
}

float refractGlossRemap(float g) {
    if (std::fabs(g) <= 0.01f) return 1.0f;
    if (std::fabs(g - 1.0f) < 0.01f) return 0.0001f;
    return clampf(std::exp(-4.956f * g) * 0.8082f, 0.0001f, 1.0f);
}

float3 imageFadeBlend(float3 b, float3 s, float f) {
    return {overlayThenMultiply(b.x, s.x, f), overlayThenMultiply(b.y, s.y, f),
            overlayThenMultiply(b.z, s.z, f)};
}

float3 bendTowardViewer(float3 v, float3 nf, float3 nb) {
    v = normalize(v);
    nf = normalize(nf);
    nb = normalize(nb);
    float x2 = dot(v, nf);
    float x3 = dot(v, nb);
    if (x3 >= x2) return nb;
    // Unit dot products can round past 1; acos would give NaN there.
    float a = std::acos(clampf(x3, -1.0f, 1.0f));
    float b = std::acos(clampf(x2, -1.0f, 1.0f));
    float theta = clampf((a - b) * x2 + b, 0.0f, 1.553343f);
    float s, k;
    if (a >= 0.08f) {
        s = std::sin(theta) / std::sin(a);
        k = std::cos(theta) - s * x3;
    } else {
        s = x2;
        k = 1.0f - x2;
    }
    return normalize(k * v + s * nb);
}

float softNoise(IRenderServices& sv, float3 x) {
    const float p[4] = {x.x, x.y, x.z, 0.0f};
    float v = 0.5f * sv.noise3(p) + 0.5f;
    if (std::fabs(v) < 0.4f) {
        float s = clampf((v + 0.4f) / 0.8f, 0.0f, 1.0f);
        v = smoothWeight(s) * v;
    } else if (0.6f < v && v < 1.4f) {
        float s = clampf((v - 0.6f) / 0.79999995f, 0.0f, 1.0f);
        float w = smoothWeight(s);
        v = (1.0f - w) * v + w;
    }
    return (1.0f - 0.1695186f) * kNoiseAverage + 0.1695186f * v;
}

float3 rippleBump(IRenderServices& sv, float3 q, const PatternAxes& axes) {
    float3 x0 = 0.2f * q;
    float centre = softNoise(sv, x0);
    return forwardDifferences(x0, axes, centre, [&](float3 x) { return softNoise(sv, x); });
}

float turbulence(IRenderServices& sv, float3 y) {
    float sum = 0.0f;
    float f = 1.0f;
    for (int k = 0; k < 5; ++k) {
        float3 yk = f * y;
        sum += std::fabs(sv.noise3b(&yk)) / f;
        f = 2.0f * f;
    }
    return sum <= 1.0f ? std::pow(sum, 0.25f) : 1.0f;
}

CellPass cellPass(IRenderServices& sv, float3 q, const PatternAxes& axes) {
    const float3 x = 0.285714f * q;
    const float3 fl(std::floor(x.x), std::floor(x.y), std::floor(x.z));
    const float3 c0 = fl - float3(0.5f);
    const float3 f = x - fl;
    // Lower bounds of the squared distance to the cells below, at and above, per axis.
    float bound[3][3];
    for (int a = 0; a < 3; ++a) {
        bound[a][0] = f[a] * f[a];
        bound[a][1] = 0.0f;
        bound[a][2] = (1.0f - f[a]) * (1.0f - f[a]);
    }
    float f1 = 1e10f, f2 = 1e10f;
    float3 dir(0.0f);
    for (int i = 0; i < 3; ++i) {
        float si = bound[0][i];
        if (!(si < f2)) continue;
        for (int j = 0; j < 3; ++j) {
            float sij = si + bound[1][j];
            if (!(sij < f2)) continue;
            for (int k = 0; k < 3; ++k) {
                if (!(sij + bound[2][k] < f2)) continue;
                float3 cell = c0 + float3(static_cast<float>(i), static_cast<float>(j),
                                          static_cast<float>(k));
                float3 d = cell + 0.5f * cellJitter(sv, cell) - x;
                float e2 = dot(d, d);
                if (e2 < f1) {
                    f2 = f1;
                    f1 = e2;
                    dir = -d;
                } else if (e2 < f2) {
                    f2 = e2;
                }
            }
        }
    }
    // Near the border between two cells the direction fades out.
    float e = 10.0f * (f2 - f1);
    if (0.0f <= e && e < 1.0f) dir = e * dir;
    dir = 2.555556f * dir;
    float r = 2.555556f * f1;
    if (r < 0.0f || r > 1.2f) {
        dir = float3(0.0f);
    } else if (r < 0.2f) {
        dir = (5.0f * r) * dir;
    } else if (1.0f < r && r <= 1.2f) {
        dir = (6.0f - 5.0f * r) * dir;
    }
    CellPass out;
    out.dir = float3(dot(dir, axes.tangent), dot(dir, axes.bitangent), dot(dir, axes.normal));
    if (0.0f <= r && r < 0.3f) {
        out.weight = 1.0f - r / 0.3f;
    } else if (0.3f <= r && r <= 1.0f) {
        out.weight = (r - 0.3f) / 0.7f;
    } else {
        out.weight = 1.0f;
    }
    return out;
}

float3 smokeBump(IRenderServices& sv, float3 q, const PatternAxes& axes) {
    CellPass cells = cellPass(sv, q, axes);
    float3 y0 = 0.05f * q;
    float t0 = turbulence(sv, y0);
    float3 g = forwardDifferences(y0, axes, t0, [&](float3 y) { return turbulence(sv, y); });
    return (1.0f - t0) * cells.dir + (0.9f - cells.weight) * g;
}

NoiseTextureSettings wardBumpNoise() {
    NoiseTextureSettings s;
    s.size = 1.3f;
    s.levels = 2.0f;
    s.colour1 = float4(0.0f, 0.0f, 0.0f, 1.0f);
    s.colour2 = float4(1.0f, 1.0f, 1.0f, 1.0f);
    s.type = kNoisePlain;
    s.phase = 0.0f;
    s.low = 0.0f;
    s.high = 1.0f;
    s.footprint = float3(0.5f);
    return s;
}

NoiseTextureSettings wardGrainNoise(int32_t type) {
    NoiseTextureSettings s;
    s.size = 150.0f;
    s.levels = 5.0f;
    s.colour1 = float4(0.135294f);
    s.colour2 = float4(0.901961f);
    s.type = type;
    s.phase = 1.5f;
    s.low = 0.2f;
    s.high = 0.9f;
    s.footprint = float3(0.5f);
    return s;
}

NoiseTextureSettings wardFadeNoise() {
    NoiseTextureSettings s;
    s.size = 0.015f;
    s.levels = 3.0f;
    s.colour1 = float4(0.58f);
    s.colour2 = float4(0.65f);
    s.type = kNoisePlain;
    s.phase = 0.0f;
    s.low = 0.0f;
    s.high = 1.0f;
    s.footprint = float3(0.5f);
    return s;
}

}  // namespace pxs

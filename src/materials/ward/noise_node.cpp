#include "materials/ward/noise_node.h"

#include <cmath>

namespace pxs {

namespace {

// f doubles per octave and passes the float range after 128 of them.
constexpr float kMaxOctaves = 128.0f;

float octave(IRenderServices& services, float3 q, float f, float phase, bool absolute) {
    const float p[4] = {f * q.x, f * q.y, f * q.z, phase};
    float t = (2.0f * services.noise3(p) - 1.0f) / f;
    return absolute ? std::fabs(t) : t;
}

}  // namespace

float fractalSum(IRenderServices& services, float3 q, float levels, float phase, bool absolute) {
    float sum = 0.0f;
    float f = 1.0f;
    float l = levels;
    // Without the cap a huge level count would never count down (l - 1 == l).
    if (l > kMaxOctaves) l = kMaxOctaves;
    while (l >= 1.0f) {
        sum += octave(services, q, f, phase, absolute);
        f = 2.0f * f;
        l = l - 1.0f;
    }
    if (l > 0.0f) sum += octave(services, q, f, phase, absolute);
    return sum;
}

float noiseNodeValue(IRenderServices& services, float3 p, const matrix4& xform, int32_t type,
                     float size, float thresholdLow, float thresholdHigh, float levels,
                     float phase) {
    const float3 q = transformPoint(p, xform) * (1.0f / size);
    float v = 0.0f;
    switch (type) {
        case 0: {
            const float at[4] = {q.x, q.y, q.z, phase};
            const float n = services.noise3(at);
            v = ((2.0f * n - 1.0f) + 1.0f) * 0.5f;
            break;
        }
        case 1:
            v = (fractalSum(services, q, levels, phase, false) + 1.0f) * 0.5f;
            break;
        case 2:
            v = fractalSum(services, q, levels, phase, true);
            break;
        default:
            break;
    }
    const float lo = thresholdLow, hi = thresholdHigh;
    if (lo > v || v != v) {
        v = 0.0f;
    } else if (v > hi) {
        v = 1.0f;
    } else if (lo - hi != 0.0f) {
        v = (v - lo) / (hi - lo);
    }
    return v;
}

}  // namespace pxs

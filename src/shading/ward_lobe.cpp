#include "shading/ward_lobe.h"

#include <cmath>

namespace pxs {

namespace {

// exp(-((h.x/ax)^2 + (h.y/ay)^2) / h.z^2): unchanged by the length of h in exact
// arithmetic, but not in floats, so each caller passes h in the form its formula uses.
float wardExponent(float3 h, float ax, float ay) {
    float u = h.x / ax;
    float v = h.y / ay;
    return std::exp(-(u * u + v * v) / (h.z * h.z));
}

float wardNorm(float3 din, float3 dout, float ax, float ay) {
    return 1.0f / (std::sqrt(-din.z * dout.z) * kFourPi * ax * ay);
}

}  // namespace

float3 wardEval(float3 din, float3 dout, float3 diffuse, float3 specular, float ax, float ay) {
    float e = wardExponent(dout - din, ax, ay);
    float k = wardNorm(din, dout, ax, ay);
    return diffuse * kInvPi + specular * k * e;
}

WardValuePdf wardEvalPdf(float3 din, float3 dout, float3 diffuse, float3 specular, float ax,
                         float ay) {
    float3 h = normalize(dout - din);
    float e = wardExponent(h, ax, ay);
    float k = wardNorm(din, dout, ax, ay);
    float pdf = e / (-dot(h, din) * kFourPi * ax * ay * h.z * (h.z * h.z));
    return {diffuse * kInvPi + specular * k * e, pdf};
}

std::optional<WardSample> wardSample(float3 din, float xi1, float xi2, float3 diffuse,
                                     float3 specular, float ax, float ay) {
    float phi0 = kTwoPi * xi1;
    float c0 = std::cos(phi0);
    float s0 = std::sin(phi0);
    float tanPhi = (ay * s0) / (ax * c0);
    float cos2Phi = minf(1.0f / (tanPhi * tanPhi + 1.0f), 1.0f);
    float sin2Phi = 1.0f - cos2Phi;
    float cosPhi = std::copysign(std::sqrt(cos2Phi), c0);
    float sinPhi = std::copysign(std::sqrt(sin2Phi), s0);

    float q = 1.0f - xi2;
    float cos2Theta =
        minf(1.0f / (-std::log(q) / (cos2Phi / (ax * ax) + sin2Phi / (ay * ay)) + 1.0f), 1.0f);
    float cosTheta = std::sqrt(cos2Theta);
    float sinTheta = std::sqrt(1.0f - cos2Theta);
    float3 h(sinTheta * cosPhi, sinTheta * sinPhi, cosTheta);

    float3 dout = din - 2.0f * dot(din, h) * h;
    if (dout.z <= 0.0f) return std::nullopt;

    float3 value =
        diffuse * kInvPi + specular * q / (std::sqrt(-din.z * dout.z) * kFourPi * ax * ay);
    float pdf = q / (kFourPi * ax * ay * -dot(din, h) * cos2Theta * cosTheta);
    return WardSample{dout, value, pdf};
}

float3 cosineHemisphere(float xi1, float xi2) {
    constexpr float kQuarterPi = 0.78539824f;
    float a = 2.0f * xi1 - 1.0f;
    float b = 2.0f * xi2 - 1.0f;
    float r;
    float phi;
    if (a > -b) {
        if (a > b) {
            r = a;
            phi = kQuarterPi * (b / a);
        } else {
            r = b;
            phi = kQuarterPi * (2.0f - a / b);
        }
    } else {
        if (b > a) {
            r = -a;
            phi = kQuarterPi * (4.0f + b / a);
        } else {
            r = -b;
            phi = b != 0.0f ? kQuarterPi * (6.0f - a / b) : 0.0f;
        }
    }
    // Pulls the disk in by 1e-6 so that z = sqrt(1 - r^2) stays above 0.
    r = r - 1e-6f;
    return {r * std::cos(phi), r * std::sin(phi), std::sqrt(1.0f - r * r)};
}

float3 cosineHemispherePolar(float xi1, float xi2) {
    const float phi = kTwoPi * xi1;
    const float r = std::sqrt(xi2);
    return {std::cos(phi) * r, std::sin(phi) * r, std::sqrt(1.0f - xi2)};
}

std::optional<WardSample> sampleWardMixture(IRenderServices* sv, float3 din, float3 diffuse,
                                            float3 specular, float ax, float ay) {
    float pd = 0.5f;
    if (maxComponent(diffuse) == 0.0f) {
        pd = 0.0f;
    } else if (maxComponent(specular) == 0.0f) {
        pd = 1.0f;
    }
    const float u = sv->random();
    float2 xi;
    sv->random2(&xi);
    WardSample s;
    if (u <= pd) {
        s.dout = cosineHemisphere(xi.x, xi.y);
        const WardValuePdf e = wardEvalPdf(din, s.dout, diffuse, specular, ax, ay);
        s.value = e.value;
        s.pdf = e.pdf;
    } else {
        const auto w = wardSample(din, xi.x, xi.y, diffuse, specular, ax, ay);
        if (!w) return std::nullopt;
        s = *w;
    }
    s.pdf = (1.0f - pd) * s.pdf + pd * s.dout.z * kInvPi;
    return s;
}

std::optional<WardSample> sampleWardSpecular(IRenderServices* sv, float3 din, float3 diffuse,
                                             float3 specular, float ax, float ay) {
    float2 xi;
    sv->random2(&xi);
    auto s = wardSample(din, xi.x, xi.y, diffuse, specular, ax, ay);
    if (s) s->value = s->value - diffuse * kInvPi;
    return s;
}

}  // namespace pxs

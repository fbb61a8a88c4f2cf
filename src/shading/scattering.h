// Mirror and refraction directions, Fresnel forms and the GGX microfacet terms.
//
// GGX routines take a2 = alpha^2 and work in frame space (z along the normal).
#pragma once

#include <cmath>

#include "frame/math.h"

namespace pxs {

// Height above the geometric surface that a guarded reflection keeps.
constexpr float kReflectionGuard = 0.05f;
// pi as the microfacet distribution was tuned with (one ulp above the float pi).
constexpr float kGgxPi = 3.141593f;

// Mirror direction of I about nf, kept at least kReflectionGuard above the geometric
// surface ngf: a bumped normal must not send the ray into the object it leaves.
// Inputs are unit; nf is returned when no such direction exists.
float3 reflectGuarded(float3 i, float3 nf, float3 ngf);

// What refraction gives where its discriminant has no value (NaN: an infinite eta
// at a cosine of exactly 1, or a NaN input).
enum class UndefinedRefraction {
    kPropagate,  // a NaN direction
    kBlocked,    // (0, 0, 0), as on total internal reflection
};

// Refraction of I through n (facing against I) with eta = incident index over far index.
// Not normalised; (0, 0, 0) on total internal reflection.
inline float3 refractDirection(float3 i, float3 n, float eta,
                               UndefinedRefraction undefined = UndefinedRefraction::kPropagate) {
    float ci = std::fabs(dot(n, i));
    float k = (ci * ci - 1.0f) * (eta * eta) + 1.0f;
    if (k <= 1e-6f) return float3(0.0f);
    if (k != k && undefined == UndefinedRefraction::kBlocked) return float3(0.0f);
    return eta * i + (eta * ci - std::sqrt(k)) * n;
}

inline float fresnelSchlick(float x, float f0) {
    return clampf(f0 + (1.0f - f0) * std::pow(1.0f - saturate(x), 5.0f), 0.0f, 1.0f);
}

// Reflectivity curve between normal incidence (f0) and grazing (f90); not clamped.
inline float fresnelCurve(float x, float power, float f0, float f90) {
    return std::pow(1.0f - saturate(x), power) * (f90 - f0) + f0;
}

// The mirror's fixed curve, 0.92 head-on rising to 1 at grazing; either side counts.
inline float mirrorFresnel(float x) {
    return 0.92f + 0.07999998f * std::pow(1.0f - saturate(std::fabs(x)), 5.0f);
}

// The clear topcoat's fixed curve, 0.3 head-on rising to 1 at grazing.
inline float topcoatFresnel(float x) {
    return 0.3f + 0.7f * std::pow(1.0f - saturate(x), 5.0f);
}

// GGX normal distribution; 0 below the surface.
inline float ggxD(float3 h, float a2) {
    if (h.z <= 0.0f) return 0.0f;
    float z2 = h.z * h.z;
    float s = (1.0f - z2) / z2 + a2;
    return a2 / (z2 * z2 * kGgxPi * (s * s));
}

// Smith masking of direction v for microfacet normal h; 0 when v and h disagree on
// the side of the surface.
inline float ggxG1(float3 v, float3 h, float a2) {
    if (!(dot(v, h) * v.z > 0.0f)) return 0.0f;
    float z2 = v.z * v.z;
    float tan2 = (1.0f - z2) / z2;
    return 2.0f / (1.0f + std::sqrt(1.0f + a2 * tan2));
}

// A microfacet normal distributed as ggxD(h) * h.z, from two uniform numbers.
inline float3 ggxSampleHalf(float xi1, float xi2, float a2) {
    float theta = std::atan(std::sqrt(a2 * xi1 / (1.0f - xi1)));
    float phi = kTwoPi * xi2;
    float st = std::sin(theta);
    return {std::cos(phi) * st, std::sin(phi) * st, std::cos(theta)};
}

// Rough dielectric interface for view direction wo and light direction wi (frame
// space, both leaving the surface), indices etaI on wo's side and etaT beyond, and
// Fresnel weight f: f * reflection + (1 - f) * transmission, grey.
float microfacetDielectric(float3 wo, float3 wi, float etaI, float etaT, float a2, float f);

}  // namespace pxs

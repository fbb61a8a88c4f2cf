#include "shading/scattering.h"

namespace pxs {

float3 reflectGuarded(float3 i, float3 nf, float3 ngf) {
    float3 r = reflect(i, nf);
    if (dot(ngf, r) >= kReflectionGuard) return r;

    // R' = s*I + t*nf with ngf.R' = guard and |R'| = 1: a quadratic in t.
    float a = dot(ngf, i);
    float b = dot(nf, ngf);
    float g = dot(nf, i) * a;
    float qa = b * b + a * a - 2.0f * g * b;
    float qb = 2.0f * (g - b) * kReflectionGuard;
    float qc = 0.0025f - a * a;
    float t;
    if (qa != 0.0f) {
        float disc = qb * qb - 4.0f * qa * qc;
        if (disc < 0.0f) return nf;
        float root = std::sqrt(disc);
        t = maxf((-qb + root) / (2.0f * qa), (-qb - root) / (2.0f * qa));
    } else {
        if (qb == 0.0f) return nf;
        t = -qc / qb;
    }
    // A ray exactly in the geometric plane leaves s undetermined; nf is the sound answer.
    if (a == 0.0f) return nf;
    float s = (kReflectionGuard - t * b) / a;
    return normalize(s * i + t * nf);
}

float microfacetDielectric(float3 wo, float3 wi, float etaI, float etaT, float a2, float f) {
    float fr = 0.0f;
    float3 hr = normalize(wo + wi) * signf(wo.z);
    float g = ggxG1(wo, hr, a2) * ggxG1(wi, hr, a2);
    if (g > 0.0f) g = g * ggxD(hr, a2);
    if (g > 0.0f) fr = g / (4.0f * std::fabs(wi.z * wo.z));

    float ft = 0.0f;
    float3 ht = -normalize(etaI * wo + etaT * wi);
    g = ggxG1(wo, ht, a2) * ggxG1(wi, ht, a2);
    if (g > 0.0f) g = g * ggxD(ht, a2);
    if (g > 0.0f) {
        float iw = dot(wi, ht);
        float ow = dot(wo, ht);
        float den = etaT * iw + etaI * ow;
        ft = g * std::fabs(iw * ow) * (etaT * etaT) / (std::fabs(wi.z * wo.z) * (den * den));
    }
    return f * fr + (1.0f - f) * ft;
}

}  // namespace pxs

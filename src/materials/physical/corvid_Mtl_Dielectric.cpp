#include "materials/physical/corvid_Mtl_Dielectric.h"

#include <cmath>
#include <optional>

#include "frame/services.h"
#include "shading/lighting.h"
#include "shading/noise_texture.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"

namespace pxs {

namespace {

using Params = corvid_Mtl_Dielectric::Params;

// Below this roughness a sample is a perfect mirror or refraction event.
constexpr float kSmoothRoughness = 0.01f;
// The largest weight a rough sample may carry.
constexpr float kMaxRoughWeight = 4.0f;

// Colour c after base-10 absorption over a path of length d. A channel whose
// exponent is undefined (no distance with an infinite coefficient, or a 0/0
// coefficient from the transmittance map) absorbs nothing. So does one whose gain
// passes the float range: sigma < 0 (a map colour above 1, or a negative
// "u_absorptionCoef") over a long path, or sigma = -inf (a map colour above 1
// with a zero "u_absorptionCoef").
float absorbChannel(float c, float d, float sigma) {
    const float e = d * sigma;
    if (e != e) return c;
    const float absorbed = c * std::pow(10.0f, -e);
    return std::isfinite(absorbed) ? absorbed : c;
}

float3 absorb(float3 c, float d, float3 sigma) {
    return {absorbChannel(c.x, d, sigma.x), absorbChannel(c.y, d, sigma.y),
            absorbChannel(c.z, d, sigma.z)};
}

struct Surface {
    TangentFrame frame;
    Facing side;
    float etaI;  // index on the ray's side
    float etaT;  // index beyond the surface
    float3 wo;   // towards the viewer, frame space
    float fresnel;
    float alpha;
};

// The bumped frame, the indices and the view terms of a hit.
Surface surface(IRenderServices* sv, const Params& p, const ShadingState& st, float2 uv) {
    Surface s;
    s.side = facing(st);
    TangentFrame& f = s.frame;
    f = frameFromState(st, s.side.nf);
    if (p.normal0MapEnable) {
        bumpFromHeight(f, uv, p.normal0Map, p.normal0Transform, p.normal0Amount, p.normal0UVScale);
        rebuildFrame(f);
    } else if (p.procedureMapEnable == 1) {
        const float3 q = patternPlacement(st.position, nullptr, float3(0.0f), p.procedureMapTiling,
                                          float3(-0.6f, -0.6f, 0.5f));
        peelBump(sv, f, q, p.procedureMapAmount);
    }
    if (p.normal1MapEnable) {
        bumpFromHeight(f, uv, p.normal1Map, p.normal1Transform, p.normal1Amount, 1.0f);
        rebuildFrame(f);
    }
    s.etaI = s.side.entering ? st.mediumIor : p.ior;
    s.etaT = s.side.entering ? p.ior : st.outsideIor;
    s.wo = -toFrame(f, st.rayDirection);
    s.fresnel = fresnelSchlick(s.wo.z, p.reflectance);
    s.alpha =
        scalarMap(p.roughMapEnable, p.roughMap, p.roughTransform, p.roughValue, p.roughAmount, uv);
    return s;
}

// A sampled event: its direction in frame space and its weight.
struct Event {
    float3 wi;
    float weight;
};

// Reflection or refraction of wo about the microfacet normal m (cm = m.wo >= 0),
// chosen by the Fresnel weight f among the allowed groups. Refraction that has
// no direction reflects when reflection is allowed; empty otherwise.
std::optional<Event> chooseEvent(IRenderServices* sv, LobeGroups allowed, float3 m, float3 wo,
                                 float f, float eta) {
    const float cm = dot(m, wo);
    float w;
    bool transmit;
    if (allowed.reflect && allowed.transmit) {
        w = 1.0f;
        transmit = sv->random() > f;
    } else if (allowed.reflect) {
        w = f;
        transmit = false;
    } else {
        w = 1.0f - f;
        transmit = true;
    }
    if (transmit) {
        const float k = 1.0f - eta * eta * (1.0f - cm * cm);
        // An infinite ratio ("u_ior" 0) reflects everything, also where cm rounds
        // to a little above 1 and k to +inf.
        if (k >= 0.0f && k < INFINITY) {
            return Event{normalize((eta * cm - std::sqrt(k)) * m - eta * wo), w};
        }
        if (!allowed.reflect) return std::nullopt;
        w = 1.0f;
    }
    return Event{2.0f * cm * m - wo, w};
}

}  // namespace

void corvid_Mtl_Dielectric::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this,
                     kCapShade | kCapShadowTransmission | kCapEvaluateBsdf | kCapSampleBsdf);
    Params& p = params;
    p.block.declare(declare);
    declareFrameAttributes(declare);
    declare("u_transmittanceMapEnable", p.transmittanceMapEnable);
    declare("u_transmittanceMap", p.transmittanceMap);
    declare("u_transmittanceTransform", p.transmittanceTransform);
    declare("u_transmittanceAmount", p.transmittanceAmount);
    declare("u_procedureMapEnable", p.procedureMapEnable);
    declare("u_procedureMapTiling", p.procedureMapTiling);
    declare("u_procedureMapAmount", p.procedureMapAmount);
    declare("u_normal0MapEnable", p.normal0MapEnable);
    declare("u_normal0Map", p.normal0Map);
    declare("u_normal0Transform", p.normal0Transform);
    declare("u_normal0Amount", p.normal0Amount);
    declare("u_normal0UVScale", p.normal0UVScale);
    declare("u_normal1MapEnable", p.normal1MapEnable);
    declare("u_normal1Map", p.normal1Map);
    declare("u_normal1Transform", p.normal1Transform);
    declare("u_normal1Amount", p.normal1Amount);
    declare("u_roughMapEnable", p.roughMapEnable);
    declare("u_roughMap", p.roughMap);
    declare("u_roughValue", p.roughValue);
    declare("u_roughTransform", p.roughTransform);
    declare("u_glossyValue", p.glossyValue);
    declare("u_roughAmount", p.roughAmount);
    declare("u_ior", p.ior);
    declare("u_reflectance", p.reflectance);
    declare("u_absorptionCoef", p.absorptionCoef);
    declare("u_falloffEnable", p.falloffEnable);
    declare("u_refractColor", p.refractColor);
    declare("u_reflectColor", p.reflectColor);
}

void corvid_Mtl_Dielectric::shade(IRenderServices* sv, ShadingState* st) {
    const Params& p = params;
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    composeShade(p.block, sv, st, uv, Occlusion::kApply, [&] {
        ShadingComponents c;
        const float3 i = st->rayDirection;
        const float3 pos = st->position;
        const Surface s = surface(sv, p, *st, uv);
        const TangentFrame& f = s.frame;
        const float a2 = s.alpha * s.alpha;
        const bool entering = s.side.entering;
        const float eta = s.etaI / s.etaT;

        c.set(kDirectSpecular, lightLoop(sv, pos, st->normal, [&](float3 l) {
                  return microfacetDielectric(s.wo, toFrame(f, l), s.etaI, s.etaT, a2, s.fresnel);
              }));

        const float3 refracted = refractDirection(i, f.n, eta);
        const bool internalReflection = !entering && refracted == float3(0.0f);

        const float fr = entering ? s.fresnel : 0.0f;
        const float3 wr = fr * p.reflectColor;
        c.set(kTransmissionWeight, wr);
        if (entering && wr != float3(0.0f)) {
            const float3 r = reflectGuarded(i, f.n, st->geometricNormal);
            c.set(kReflection, weightedGlossyReflection(sv, pos, r, p.glossyValue, wr));
        }

        const float3 wt = (1.0f - fr) * p.refractColor;
        if (wt != float3(0.0f)) {
            const float3 d =
                internalReflection ? reflectGuarded(i, f.n, -st->geometricNormal) : refracted;
            // Light cannot enter from a denser medium at this angle: no refraction.
            if (d == float3(0.0f)) return c;
            float3 ct =
                wt * svc::traceGlossyTransmission(sv, pos, d, p.glossyValue, maxComponent(wt),
                                                  float4(0.0f, 0.0f, 0.0f, 1.0f))
                         .xyz();
            if (p.falloffEnable && !entering) {
                float3 sigma = p.absorptionCoef;
                if (p.transmittanceMapEnable) {
                    const float3 tex =
                        sampleMap(p.transmittanceMap, p.transmittanceTransform, uv).xyz() *
                        p.transmittanceAmount;
                    sigma = float3(-std::log(tex.x), -std::log(tex.y), -std::log(tex.z)) /
                            p.absorptionCoef;
                }
                ct = absorb(ct, length(pos - st->rayOrigin), sigma);
            }
            c.set(kRefraction, ct);
        }
        return c;
    });
}

void corvid_Mtl_Dielectric::shadowTransmission(IRenderServices*, ShadingState* st) {
    const float3 i = st->rayDirection;
    const float3 nf = faceForward(st->normal, i, st->geometricNormal);
    const float f = fresnelSchlick(-dot(i, nf), params.reflectance);
    float3 s = (1.0f - f) * params.refractColor;
    if (dot(i, st->geometricNormal) > 0.0f) {
        s = absorb(s, length(st->position - st->rayOrigin), params.absorptionCoef);
    }
    st->outTransmission = s;
}

void corvid_Mtl_Dielectric::evaluateBsdf(IRenderServices* sv, ShadingState* st) {
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    const Surface s = surface(sv, params, *st, uv);
    const float3 wi = toFrame(s.frame, st->sampleDirection);
    const float v = microfacetDielectric(s.wo, wi, s.etaI, s.etaT, s.alpha * s.alpha, s.fresnel);
    st->sampleValue = float3(v);
    st->sampleCosine = std::fabs(wi.z);
}

void corvid_Mtl_Dielectric::sampleBsdf(IRenderServices* sv, ShadingState* st) {
    const LobeGroups allowed = lobeGroups(*st);
    if (!allowed.reflect && !allowed.transmit) {
        st->sampleKind = kSampleNone;
        return;
    }
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    const Surface s = surface(sv, params, *st, uv);
    const float3 wo = s.wo;
    const float f = s.fresnel;
    const float a2 = s.alpha * s.alpha;
    const float eta = s.etaI / s.etaT;

    // Leaving the glass, and near-perfect surfaces, sample the smooth interface.
    const bool smooth = !s.side.entering || s.alpha < kSmoothRoughness;
    float3 m(0.0f, 0.0f, 1.0f);
    if (!smooth) {
        float2 xi;
        sv->random2(&xi);
        m = ggxSampleHalf(xi.x, xi.y, a2);
    }
    const float cm = dot(m, wo);
    if (cm < 0.0f) {
        st->sampleKind = kSampleNone;
        return;
    }

    const std::optional<Event> e = chooseEvent(sv, allowed, m, wo, f, eta);
    if (!e) {
        st->sampleKind = kSampleNone;
        return;
    }
    const float3 wi = e->wi;
    float w = e->weight;

    SampleKind kind = kSampleSmoothTransmission;
    if (!smooth) {
        const float g = ggxG1(wo, m, a2) * cm * ggxG1(wi, m, a2) / (m.z * wo.z);
        w = w * clampf(g, 0.0f, kMaxRoughWeight);
        kind = kSampleRoughTransmission;
    }
    // A view exactly along the surface has no defined weight: no continuation.
    if (!std::isfinite(w)) {
        st->sampleKind = kSampleNone;
        return;
    }
    writeSample(st, fromFrame(s.frame, wi), float3(w), 1.0f, 1.0f, kind);
    st->outsideIor = s.etaT;
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Dielectric)

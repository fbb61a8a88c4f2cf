#include "materials/physical/corvid_Mtl_Glazing.h"

#include <cmath>

#include "frame/services.h"
#include "shading/lighting.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"

namespace pxs {

namespace {

// A map colour below zero (a negative amount) has no fractional power: that
// channel transmits nothing instead of a NaN.
float powOrZero(float base, float exponent) {
    const float v = std::pow(base, exponent);
    return v == v ? v : 0.0f;
}

}  // namespace

void corvid_Mtl_Glazing::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this,
                     kCapShade | kCapShadowTransmission | kCapEvaluateBsdf | kCapSampleBsdf);
    params.block.declare(declare);
    declareFrameAttributes(declare);
    declare("u_reflectance", params.reflectance);
    declare("u_reflectColor", params.reflectColor);
    declare("u_refractColor", params.refractColor);
    declare("u_rough", params.rough);
    declare("u_level", params.level);
    declare("u_transmittanceMapEnable", params.transmittanceMapEnable);
    declare("u_transmittanceMap", params.transmittanceMap);
    declare("u_transmittanceTransform", params.transmittanceTransform);
    declare("u_transmittanceAmount", params.transmittanceAmount);
}

float corvid_Mtl_Glazing::reflectionFraction() const {
    return params.reflectance * params.reflectance / params.level;
}

float corvid_Mtl_Glazing::lampValue(float3 wo, float3 wi) const {
    // A thin pane: both sides have index 1, and Rg stands in for the Fresnel term.
    return microfacetDielectric(wo, wi, 1.0f, 1.0f, params.rough, reflectionFraction());
}

void corvid_Mtl_Glazing::shade(IRenderServices* sv, ShadingState* st) {
    const float2 uv = readAttribute<float2>(*st, kUvAttribute);
    composeShade(params.block, sv, st, uv, Occlusion::kApply, [&] {
        ShadingComponents c;
        const float3 i = st->rayDirection;
        const float3 p = st->position;
        const Facing side = facing(*st);
        const TangentFrame frame = frameFromState(*st, side.nf);
        const float3 wo = -toFrame(frame, i);
        const float rg = reflectionFraction();

        c.set(kDirectSpecular, lightLoop(sv, p, st->normal, [&](float3 l) {
                  return lampValue(wo, toFrame(frame, l));
              }));

        const float3 w = rg * params.reflectColor;
        if (w != float3(0.0f)) {
            const float3 r = reflectGuarded(i, side.nf, side.ngf);
            c.set(kReflection, weightedReflection(sv, p, r, w));
        }

        float3 ct = params.refractColor;
        if (params.transmittanceMapEnable) {
            const float3 m =
                sampleMap(params.transmittanceMap, params.transmittanceTransform, uv).xyz() *
                params.transmittanceAmount;
            const float e = 1.0f / params.level;
            ct = float3(powOrZero(m.x, e), powOrZero(m.y, e), powOrZero(m.z, e));
        }
        const float3 wt = (1.0f - rg) * ct;
        if (wt != float3(0.0f)) {
            // Straight on: a thin pane does not bend the ray.
            const float4 behind =
                svc::traceTransmission(sv, p, i, maxComponent(wt), float4(0.0f, 0.0f, 0.0f, 1.0f));
            c.set(kRefraction, wt * behind.xyz());
        }
        return c;
    });
}

void corvid_Mtl_Glazing::shadowTransmission(IRenderServices*, ShadingState* st) {
    st->outTransmission = (1.0f - reflectionFraction()) * params.refractColor;
}

void corvid_Mtl_Glazing::evaluateBsdf(IRenderServices*, ShadingState* st) {
    const Facing side = facing(*st);
    const TangentFrame frame = frameFromState(*st, side.nf);
    const float3 wo = -toFrame(frame, st->rayDirection);
    const float3 wi = toFrame(frame, st->sampleDirection);
    st->sampleValue = float3(lampValue(wo, wi));
    st->sampleCosine = std::fabs(wi.z);
}

void corvid_Mtl_Glazing::sampleBsdf(IRenderServices* sv, ShadingState* st) {
    const LobeGroups allowed = lobeGroups(*st);
    const bool reflectOk = allowed.reflect;
    const bool transmitOk = allowed.transmit;
    if (!reflectOk && !transmitOk) {
        st->sampleKind = kSampleNone;
        return;
    }
    const float3 i = st->rayDirection;
    const float3 nf = faceForward(st->normal, i, st->geometricNormal);
    const float rg = reflectionFraction();

    bool transmit;
    float w;
    if (reflectOk && transmitOk) {
        transmit = sv->random() > rg;
        w = 1.0f;
    } else {
        transmit = transmitOk;
        w = transmit ? 1.0f - rg : rg;
    }

    if (transmit) {
        // Leaves through the back: the cosine is negative, value times cosine is
        // w * "u_refractColor".
        const float c = dot(nf, i);
        writeSpecularSample(st, i, w / c * params.refractColor, c, kSampleSmoothTransmission);
    } else {
        const float cr = -dot(nf, i);
        writeSpecularSample(st, i + 2.0f * cr * nf, w / cr * params.reflectColor, cr,
                            kSampleSingleLobe);
    }
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Glazing)

// Host-made shader objects for the renderer's tests: each runs a test-supplied
// function in its per-hit slots, so a test can see what the renderer passes and
// script what the shader asks of the services.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "host/reference/image_io.h"
#include "host/reference/integrator.h"
#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vrtest {

using PerHit = std::function<void(pxs::IRenderServices*, pxs::ShadingState*)>;

class ScriptedMaterial final : public pxs::MaterialShader {
  public:
    explicit ScriptedMaterial(uint32_t caps) : caps_(caps) {}
    ScriptedMaterial(uint32_t caps, PerHit shade) : caps_(caps), shade_(std::move(shade)) {}
    PerHit onShadow, onEvaluate, onSample;

    void* destroy(unsigned) override { return this; }
    void declareParameters(pxs::IParameterRegistry* r) override {
        r->declareCapabilities(this, caps_);
        r->declareVertexAttribute(this, pxs::kAttributeFloat2, "uv", 0);
    }
    void copyParameters(const pxs::IShaderBase*) override {}
    void shade(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        if (shade_) shade_(sv, st);
    }
    void shadowTransmission(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        if (onShadow) onShadow(sv, st);
    }
    void evaluateBsdf(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        if (onEvaluate) onEvaluate(sv, st);
    }
    void sampleBsdf(pxs::IRenderServices* sv, pxs::ShadingState* st) override {
        if (onSample) onSample(sv, st);
    }

  private:
    uint32_t caps_;
    PerHit shade_;
};

class ScriptedLight final : public pxs::LightShader {
  public:
    explicit ScriptedLight(PerHit shade) : shade_(std::move(shade)) {}
    void* destroy(unsigned) override { return this; }
    void declareParameters(pxs::IParameterRegistry* r) override {
        r->declareCapabilities(this, pxs::kCapLight);
    }
    void copyParameters(const pxs::IShaderBase*) override {}
    void shade(pxs::IRenderServices* sv, pxs::ShadingState* st) override { shade_(sv, st); }

  private:
    PerHit shade_;
};

class ScriptedEnvironment final : public pxs::EnvironmentShader {
  public:
    explicit ScriptedEnvironment(PerHit shade) : shade_(std::move(shade)) {}
    void* destroy(unsigned) override { return this; }
    void declareParameters(pxs::IParameterRegistry* r) override {
        r->declareCapabilities(this, pxs::kCapEnvironment);
    }
    void copyParameters(const pxs::IShaderBase*) override {}
    void shade(pxs::IRenderServices* sv, pxs::ShadingState* st) override { shade_(sv, st); }

  private:
    PerHit shade_;
};

inline int addMaterial(vref::Scene& scene, pxs::IShaderBase* shader) {
    return scene.addMaterial(vref::declareShader("scripted", "scripted", shader));
}

// A square of side `size` centred at `centre`, facing `normal` (+z, -y or +y).
inline void addSquare(vref::Scene& scene, int material, vref::float3 centre, vref::float3 normal,
                      float size = 1000.0f) {
    vref::Affine a;
    if (normal.y < -0.5f) {
        a.r1 = vref::float3(0, 0, 1), a.r2 = vref::float3(0, -1, 0);
    } else if (normal.y > 0.5f) {
        a.r1 = vref::float3(0, 0, -1), a.r2 = vref::float3(0, 1, 0);
    }
    a.t = centre;
    scene.addObject("square", vref::makePlane(size, size), a, material);
}

constexpr float kInvPi = 1.0f / vref::kPi;

// Lambertian scattering of albedo `diffuse` about +z, plus with probability
// `mirror` a mirror event of that weight: sampleBsdf draws the mirror (kind 4) or
// a cosine direction (kind 1, or 2 for the mixture); evaluateBsdf gives the diffuse
// part, or nothing (`evaluates` false), or a random half of the time twice the
// value (`randomEvaluate`). A translucent surface scatters light from below as
// from above.
struct Surface {
    float diffuse = 1.0f, mirror = 0.0f;
    bool evaluates = true, randomEvaluate = false, translucent = false;
};

inline void sampleSurface(const Surface& m, pxs::IRenderServices* sv, pxs::ShadingState* st) {
    float u = sv->random();
    if (u < m.mirror) {
        vref::float3 d = st->rayDirection;
        st->sampleDirection = vref::float3(d.x, d.y, -d.z);
        st->sampleValue = vref::float3(1.0f), st->sampleCosine = 1.0f, st->sampleWeight = 1.0f;
        st->sampleKind = pxs::kSampleSingleLobe;
        return;
    }
    pxs::float2 r;
    sv->random2(&r);
    float z = std::sqrt(1.0f - r.y), s = std::sqrt(r.y), phi = 2.0f * vref::kPi * r.x;
    st->sampleDirection = vref::float3(s * std::cos(phi), s * std::sin(phi), z);
    st->sampleValue = vref::float3(m.diffuse * kInvPi);
    st->sampleCosine = z;
    st->sampleWeight = vref::kPi / (z * (1.0f - m.mirror));
    st->sampleKind = m.mirror > 0.0f ? pxs::kSampleLobeMixture : pxs::kSampleDiffuse;
}

inline void evaluateSurface(const Surface& m, pxs::IRenderServices* sv, pxs::ShadingState* st) {
    float c = m.translucent ? std::fabs(st->sampleDirection.z) : st->sampleDirection.z;
    if (!m.evaluates || !(c > 0.0f)) return;
    float scale = m.randomEvaluate ? (sv->random() < 0.5f ? 2.0f : 0.0f) : 1.0f;
    st->sampleValue = vref::float3(m.diffuse * kInvPi * scale);
    st->sampleCosine = c;
}

// A material whose BSDF operations are `m`'s.
inline void scriptSurface(ScriptedMaterial& material, const Surface& m) {
    material.onSample = [m](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        sampleSurface(m, sv, st);
    };
    material.onEvaluate = [m](pxs::IRenderServices* sv, pxs::ShadingState* st) {
        evaluateSurface(m, sv, st);
    };
}

struct Estimate {
    double mean, error;  // over the pixels, and the standard error of the mean
};

// The mean of one channel of an image's pixels.
inline Estimate channelMean(const vref::Image& image, int channel) {
    double sum = 0.0, squares = 0.0;
    const int n = image.width * image.height;
    for (int k = 0; k < n; ++k) {
        double v = image.rgba[4 * k + channel];
        sum += v, squares += v * v;
    }
    double mean = sum / n;
    return {mean, std::sqrt(std::max(0.0, squares / n - mean * mean) / (n - 1))};
}

// A camera 1 above the origin looking down at a floor, with a 10 degree view.
inline vref::Camera cameraAboveFloor() {
    return {vref::float3(0, 0, 1), vref::float3(0, 0, 0), vref::float3(0, 1, 0), 10.0f};
}

// Path mode at 32 x 32 pixels without a clamp, so that means converge to the exact light.
inline vref::RenderSettings pathSettings(int spp, int maxDepth) {
    vref::RenderSettings settings;
    settings.mode = vref::Mode::Path;
    settings.width = settings.height = 32;
    settings.spp = spp;
    settings.maxDepth = maxDepth;
    settings.clampValue = 0.0f;
    return settings;
}

}  // namespace vrtest

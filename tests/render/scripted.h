// Host-made shader objects for the renderer's tests: each runs a test-supplied
// function in its per-hit slots, so a test can see what the renderer passes and
// script what the shader asks of the services.
#pragma once

#include <functional>
#include <memory>
#include <string>

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

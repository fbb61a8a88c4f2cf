// A host whose own work costs next to nothing, so that a measurement shows the
// library's cost: render services that answer with constants and a few integer
// operations, and a procedural texture that reads its coordinates and nothing
// else. Nothing here records, allocates or locks.
#pragma once

#include <cstdint>

#include "vesper/vesper.h"

namespace vbench {

// Cheap stand-in for a fractional part; good enough to vary a value over space.
inline float wrap01(float x) {
    const float t = x - static_cast<float>(static_cast<int32_t>(x));
    return t < 0.0f ? t + 1.0f : t;
}

// A texture with mid-range values (never fully masking, never black), varying
// with the coordinates. `dimensions` is how many coordinates the caller passes:
// 2 for images, 3 for cube maps; reading a third one of an image would read past
// the caller's float2.
class CheapTexture final : public pxs::ITextureObject {
  public:
    explicit CheapTexture(int dimensions) : dimensions_(dimensions) {}

    void sample(pxs::float4* out, const float* c) override {
        const float z = dimensions_ > 2 ? c[2] : 0.0f;
        out->x = 0.25f + 0.5f * wrap01(c[0]);
        out->y = 0.25f + 0.5f * wrap01(c[1]);
        out->z = 0.25f + 0.5f * wrap01(z + 0.5f);
        out->w = 0.75f;
    }

  private:
    int dimensions_;
};

// Render services with fixed answers. One object per render thread, as a host
// does: random numbers come from the object's own generator.
class FastServices final : public pxs::IRenderServices {
  public:
    static constexpr int kMaxLights = 4;

    // The first `lightCount` of a fixed set of lights of mixed types (tinted,
    // contribution), all above a surface facing +z.
    explicit FastServices(int lightCount, uint32_t seed = 0x2545F491u);
    FastServices(const FastServices&) = delete;
    FastServices& operator=(const FastServices&) = delete;

    const pxs::LightNode* getLights(int32_t, const pxs::float3*, const pxs::float3*) override {
        return lightCount_ > 0 ? &lights_[0] : nullptr;
    }
    pxs::float3* ambientLight(pxs::float3* out, const pxs::float3*, const pxs::float3*) override {
        *out = pxs::float3(0.1f, 0.1f, 0.12f);
        return out;
    }
    pxs::float3* traceShadow(pxs::float3* out, const pxs::float3*, const pxs::float3*) override {
        *out = pxs::float3(0.9f, 0.9f, 0.9f);
        return out;
    }
    pxs::float3* traceRay(pxs::float3* out, int32_t, const pxs::float3*, const pxs::float3*,
                          float) override {
        *out = pxs::float3(0.3f, 0.4f, 0.5f);
        return out;
    }
    pxs::float3* traceReflection(pxs::float3* out, const pxs::float3*, const pxs::float3*,
                                 float) override {
        *out = pxs::float3(0.5f, 0.45f, 0.4f);
        return out;
    }
    pxs::float4* traceTransmission(pxs::float4* out, const pxs::float3*, const pxs::float3*,
                                   float) override {
        out->x = 0.2f;
        out->y = 0.3f;
        out->z = 0.4f;
        return out;
    }
    pxs::float3* traceAnisotropicReflection(pxs::float3* out, const pxs::float3*,
                                            const pxs::float3*, const pxs::float3*,
                                            const pxs::float3*, float, float, float) override {
        *out = pxs::float3(0.45f, 0.4f, 0.35f);
        return out;
    }
    pxs::float3* traceGlossyReflection(pxs::float3* out, const pxs::float3*, const pxs::float3*,
                                       float, float) override {
        *out = pxs::float3(0.4f, 0.4f, 0.45f);
        return out;
    }
    pxs::float4* traceGlossyTransmission(pxs::float4* out, const pxs::float3*, const pxs::float3*,
                                         float, float) override {
        out->x = 0.25f;
        out->y = 0.3f;
        out->z = 0.35f;
        return out;
    }
    pxs::float3* ambientOcclusion(pxs::float3* out, const pxs::float3*, const pxs::float3*,
                                  float) override {
        *out = pxs::float3(0.8f, 0.8f, 0.8f);
        return out;
    }
    pxs::float3* globalIllumination(pxs::float3* out, const pxs::float3*, const pxs::float3*,
                                    float) override {
        *out = pxs::float3(0.15f, 0.15f, 0.1f);
        return out;
    }
    float random() override { return next(); }
    pxs::float2* random2(pxs::float2* out) override {
        out->x = next();
        out->y = next();
        return out;
    }
    float noise3(const float* p) override { return hashNoise(p[0], p[1], p[2] + p[3]); }
    float noise3b(const pxs::float3* p) override { return hashNoise(p->z, p->x, p->y); }
    float noise2(const pxs::float2* p) override { return hashNoise(p->x, p->y, 0.0f); }
    float noise1(float x) override { return hashNoise(x, 0.0f, 0.0f); }
    float latticeNoise(const pxs::float3* p) override { return hashNoise(p->x, p->y, p->z); }
    pxs::float3* cellJitter(pxs::float3* out, const pxs::float3* c) override {
        *out = pxs::float3(wrap01(c->x * 0.618f), wrap01(c->y * 0.382f), wrap01(c->z * 0.707f));
        return out;
    }

  private:
    // xorshift32; the top 24 bits give a float in [0, 1).
    float next() {
        rng_ ^= rng_ << 13;
        rng_ ^= rng_ >> 17;
        rng_ ^= rng_ << 5;
        return static_cast<float>(rng_ >> 8) * (1.0f / 16777216.0f);
    }
    // A value in [-1, 1) that varies with the point.
    static float hashNoise(float x, float y, float z) {
        return 2.0f * wrap01(0.1031f * x + 0.1133f * y + 0.0973f * z) - 1.0f;
    }

    pxs::LightNode lights_[kMaxLights];
    int lightCount_;
    uint32_t rng_;
};

}  // namespace vbench

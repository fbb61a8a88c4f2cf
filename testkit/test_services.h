// Scriptable render services for tests: every operation returns a configurable
// value, random numbers follow a script, noise is a fixed deterministic function,
// and each call is recorded with its arguments.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "vesper/vesper.h"

namespace vhost {

// Service operations by slot number.
enum ServiceSlot : int {
    kSvcGetLights = 2,
    kSvcAmbientLight = 3,
    kSvcTraceShadow = 4,
    kSvcTraceRay = 5,
    kSvcTraceReflection = 6,
    kSvcTraceTransmission = 7,
    kSvcTraceAnisotropicReflection = 8,
    kSvcTraceGlossyReflection = 9,
    kSvcTraceGlossyTransmission = 11,
    kSvcAmbientOcclusion = 12,
    kSvcGlobalIllumination = 13,
    kSvcRandom = 14,
    kSvcRandom2 = 15,
    kSvcNoise3 = 16,
    kSvcNoise3b = 17,
    kSvcNoise2 = 18,
    kSvcNoise1 = 19,
    kSvcLatticeNoise = 49,
    kSvcCellJitter = 57,
};

// One recorded call: the slot, and every argument flattened to floats in order
// (pointed-to vectors expanded; ints converted; `out` buffers not included).
// For traceTransmission and traceGlossyTransmission, `preset` is the out buffer
// as the caller filled it before the call.
struct ServiceCall {
    int slot;
    std::vector<float> args;
    pxs::float4 preset;
};

// Deterministic noise functions of the test host, in [-1, 1]; documented so that
// tests can compute expected values.
float testNoise(float x, float y, float z, float w);

class TestServices final : public pxs::IRenderServices {
  public:
    // ---- configuration ----
    // Lights returned by getLights, linked in this order (null when empty).
    void setLights(std::vector<pxs::LightNode> lights);
    pxs::float3 ambientLightValue{0, 0, 0};
    pxs::float3 shadowValue{1, 1, 1};
    pxs::float3 rayValue{0, 0, 0};
    pxs::float3 reflectionValue{0, 0, 0};
    pxs::float3 transmissionValue{0, 0, 0};
    std::optional<float> transmissionAlpha;  // written to out->w when set
    pxs::float3 anisotropicReflectionValue{0, 0, 0};
    pxs::float3 glossyReflectionValue{0, 0, 0};
    pxs::float3 glossyTransmissionValue{0, 0, 0};
    std::optional<float> glossyTransmissionAlpha;
    pxs::float3 ambientOcclusionValue{1, 1, 1};
    pxs::float3 globalIlluminationValue{0, 0, 0};
    // Numbers handed out by random() and random2() in order; once used up, a
    // fixed-seed generator continues.
    std::vector<float> randoms;
    // Optional replacements of the built-in noise (arguments as passed).
    std::function<float(float, float, float, float)> noise3Function;
    std::function<float(pxs::float3)> noise3bFunction;
    std::function<float(pxs::float2)> noise2Function;
    std::function<float(float)> noise1Function;
    std::function<float(pxs::float3)> latticeNoiseFunction;
    std::function<pxs::float3(pxs::float3)> cellJitterFunction;
    bool record = true;

    // ---- recording ----
    std::vector<ServiceCall> calls;
    int count(int slot) const;
    // Calls to `slot` in order.
    std::vector<ServiceCall> callsTo(int slot) const;
    void clear() { calls.clear(); }

    // ---- IRenderServices ----
    const pxs::LightNode* getLights(int32_t mask, const pxs::float3* p,
                                    const pxs::float3* n) override;
    pxs::float3* ambientLight(pxs::float3* out, const pxs::float3* p,
                              const pxs::float3* n) override;
    pxs::float3* traceShadow(pxs::float3* out, const pxs::float3* from,
                             const pxs::float3* to) override;
    pxs::float3* traceRay(pxs::float3* out, int32_t rayType, const pxs::float3* o,
                          const pxs::float3* d, float weight) override;
    pxs::float3* traceReflection(pxs::float3* out, const pxs::float3* o, const pxs::float3* d,
                                 float weight) override;
    pxs::float4* traceTransmission(pxs::float4* out, const pxs::float3* o, const pxs::float3* d,
                                   float weight) override;
    pxs::float3* traceAnisotropicReflection(pxs::float3* out, const pxs::float3* o,
                                            const pxs::float3* d, const pxs::float3* u,
                                            const pxs::float3* v, float glossU, float glossV,
                                            float weight) override;
    pxs::float3* traceGlossyReflection(pxs::float3* out, const pxs::float3* o, const pxs::float3* d,
                                       float gloss, float weight) override;
    pxs::float4* traceGlossyTransmission(pxs::float4* out, const pxs::float3* o,
                                         const pxs::float3* d, float gloss, float weight) override;
    pxs::float3* ambientOcclusion(pxs::float3* out, const pxs::float3* p, const pxs::float3* n,
                                  float weight) override;
    pxs::float3* globalIllumination(pxs::float3* out, const pxs::float3* p, const pxs::float3* d,
                                    float weight) override;
    float random() override;
    pxs::float2* random2(pxs::float2* out) override;
    float noise3(const float* p) override;
    float noise3b(const pxs::float3* p) override;
    float noise2(const pxs::float2* p) override;
    float noise1(float x) override;
    float latticeNoise(const pxs::float3* p) override;
    pxs::float3* cellJitter(pxs::float3* out, const pxs::float3* cell) override;

  private:
    void note(int slot, std::initializer_list<float> args, pxs::float4 preset = {});
    float nextRandom();

    std::vector<pxs::LightNode> lights_;
    size_t nextRandom_ = 0;
    uint64_t rng_ = 0x9E3779B97F4A7C15ull;
};

}  // namespace vhost

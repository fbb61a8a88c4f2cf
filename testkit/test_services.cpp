#include "testkit/test_services.h"

#include <cmath>

namespace vhost {

using pxs::float2;
using pxs::float3;
using pxs::float4;

// A smooth, bounded function of four coordinates: sums of sines at unrelated
// frequencies, scaled into [-1, 1].
float testNoise(float x, float y, float z, float w) {
    float s = std::sin(1.7f * x + 0.3f) + std::sin(2.3f * y + 1.1f) + std::sin(3.1f * z + 2.1f) +
              std::sin(0.7f * w + 0.5f * x - 0.9f * y);
    return 0.25f * s;
}

void TestServices::setLights(std::vector<pxs::LightNode> lights) {
    lights_ = std::move(lights);
    for (size_t i = 0; i < lights_.size(); ++i) {
        lights_[i].next = i + 1 < lights_.size() ? &lights_[i + 1] : nullptr;
    }
}

int TestServices::count(int slot) const {
    int n = 0;
    for (const ServiceCall& c : calls) n += c.slot == slot;
    return n;
}

std::vector<ServiceCall> TestServices::callsTo(int slot) const {
    std::vector<ServiceCall> out;
    for (const ServiceCall& c : calls) {
        if (c.slot == slot) out.push_back(c);
    }
    return out;
}

void TestServices::note(int slot, std::initializer_list<float> args, float4 preset) {
    if (record) calls.push_back({slot, std::vector<float>(args), preset});
}

float TestServices::nextRandom() {
    if (nextRandom_ < randoms.size()) return randoms[nextRandom_++];
    // 64-bit LCG; the top 24 bits give a float in [0, 1).
    rng_ = rng_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<float>(rng_ >> 40) * (1.0f / 16777216.0f);
}

const pxs::LightNode* TestServices::getLights(int32_t mask, const float3* p, const float3* n) {
    note(kSvcGetLights, {static_cast<float>(mask), p->x, p->y, p->z, n->x, n->y, n->z});
    return lights_.empty() ? nullptr : &lights_.front();
}

float3* TestServices::ambientLight(float3* out, const float3* p, const float3* n) {
    note(kSvcAmbientLight, {p->x, p->y, p->z, n->x, n->y, n->z});
    *out = ambientLightValue;
    return out;
}

float3* TestServices::traceShadow(float3* out, const float3* from, const float3* to) {
    note(kSvcTraceShadow, {from->x, from->y, from->z, to->x, to->y, to->z});
    *out = shadowValue;
    return out;
}

float3* TestServices::traceRay(float3* out, int32_t rayType, const float3* o, const float3* d,
                               float weight) {
    note(kSvcTraceRay, {static_cast<float>(rayType), o->x, o->y, o->z, d->x, d->y, d->z, weight});
    *out = rayValue;
    return out;
}

float3* TestServices::traceReflection(float3* out, const float3* o, const float3* d, float weight) {
    note(kSvcTraceReflection, {o->x, o->y, o->z, d->x, d->y, d->z, weight});
    *out = reflectionValue;
    return out;
}

float4* TestServices::traceTransmission(float4* out, const float3* o, const float3* d,
                                        float weight) {
    note(kSvcTraceTransmission, {o->x, o->y, o->z, d->x, d->y, d->z, weight}, *out);
    out->x = transmissionValue.x;
    out->y = transmissionValue.y;
    out->z = transmissionValue.z;
    if (transmissionAlpha) out->w = *transmissionAlpha;
    return out;
}

float3* TestServices::traceAnisotropicReflection(float3* out, const float3* o, const float3* d,
                                                 const float3* u, const float3* v, float glossU,
                                                 float glossV, float weight) {
    note(kSvcTraceAnisotropicReflection, {o->x, o->y, o->z, d->x, d->y, d->z, u->x, u->y, u->z,
                                          v->x, v->y, v->z, glossU, glossV, weight});
    *out = anisotropicReflectionValue;
    return out;
}

float3* TestServices::traceGlossyReflection(float3* out, const float3* o, const float3* d,
                                            float gloss, float weight) {
    note(kSvcTraceGlossyReflection, {o->x, o->y, o->z, d->x, d->y, d->z, gloss, weight});
    *out = glossyReflectionValue;
    return out;
}

float4* TestServices::traceGlossyTransmission(float4* out, const float3* o, const float3* d,
                                              float gloss, float weight) {
    note(kSvcTraceGlossyTransmission, {o->x, o->y, o->z, d->x, d->y, d->z, gloss, weight}, *out);
    out->x = glossyTransmissionValue.x;
    out->y = glossyTransmissionValue.y;
    out->z = glossyTransmissionValue.z;
    if (glossyTransmissionAlpha) out->w = *glossyTransmissionAlpha;
    return out;
}

float3* TestServices::ambientOcclusion(float3* out, const float3* p, const float3* n,
                                       float weight) {
    note(kSvcAmbientOcclusion, {p->x, p->y, p->z, n->x, n->y, n->z, weight});
    *out = ambientOcclusionValue;
    return out;
}

float3* TestServices::globalIllumination(float3* out, const float3* p, const float3* d,
                                         float weight) {
    note(kSvcGlobalIllumination, {p->x, p->y, p->z, d->x, d->y, d->z, weight});
    *out = globalIlluminationValue;
    return out;
}

float TestServices::random() {
    float r = nextRandom();
    note(kSvcRandom, {r});
    return r;
}

float2* TestServices::random2(float2* out) {
    out->x = nextRandom();
    out->y = nextRandom();
    note(kSvcRandom2, {out->x, out->y});
    return out;
}

float TestServices::noise3(const float* p) {
    note(kSvcNoise3, {p[0], p[1], p[2], p[3]});
    return noise3Function ? noise3Function(p[0], p[1], p[2], p[3])
                          : testNoise(p[0], p[1], p[2], p[3]);
}

float TestServices::noise3b(const float3* p) {
    note(kSvcNoise3b, {p->x, p->y, p->z});
    return noise3bFunction ? noise3bFunction(*p) : testNoise(p->z, p->x, p->y, 1.0f);
}

float TestServices::noise2(const float2* p) {
    note(kSvcNoise2, {p->x, p->y});
    return noise2Function ? noise2Function(*p) : testNoise(p->x, p->y, 0.0f, 0.0f);
}

float TestServices::noise1(float x) {
    note(kSvcNoise1, {x});
    return noise1Function ? noise1Function(x) : testNoise(x, 0.0f, 0.0f, 0.0f);
}

float TestServices::latticeNoise(const float3* p) {
    note(kSvcLatticeNoise, {p->x, p->y, p->z});
    return latticeNoiseFunction ? latticeNoiseFunction(*p) : testNoise(p->x, p->y, p->z, 2.0f);
}

float3* TestServices::cellJitter(float3* out, const float3* cell) {
    note(kSvcCellJitter, {cell->x, cell->y, cell->z});
    if (cellJitterFunction) {
        *out = cellJitterFunction(*cell);
    } else {
        float a = testNoise(cell->x, cell->y, cell->z, 3.0f);
        float b = testNoise(cell->y, cell->z, cell->x, 5.0f);
        float c = testNoise(cell->z, cell->x, cell->y, 7.0f);
        *out = float3(0.5f + 0.5f * a, 0.5f + 0.5f * b, 0.5f + 0.5f * c);
    }
    return out;
}

}  // namespace vhost

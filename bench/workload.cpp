#include "bench/workload.h"

#include <cmath>
#include <cstring>

#include "host/slots.h"
#include "testkit/state_builder.h"

namespace vbench {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ParamType;

namespace {

float3 unit(float3 v) {
    const float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return float3(v.x / len, v.y / len, v.z / len);
}

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool allZero(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) {
        if (b[i]) return false;
    }
    return true;
}

}  // namespace

FastServices::FastServices(int lightCount, uint32_t seed)
    : lightCount_(lightCount < 0 ? 0 : (lightCount > kMaxLights ? kMaxLights : lightCount)),
      rng_(seed ? seed : 1u) {
    const float3 directions[kMaxLights] = {
        unit(float3(0.3f, 0.2f, 1.0f)), unit(float3(-0.5f, 0.4f, 0.8f)),
        unit(float3(0.1f, -0.7f, 0.6f)), unit(float3(0.6f, 0.6f, 0.5f))};
    // Tinted lights (type 1) and lights that deliver a contribution (type 0).
    const int32_t types[kMaxLights] = {pxs::kLightTinted, 0, pxs::kLightTinted, 0};
    std::memset(static_cast<void*>(lights_), 0, sizeof lights_);
    for (int i = 0; i < kMaxLights; ++i) {
        pxs::LightNode& n = lights_[i];
        n.direction = directions[i];
        n.lightFactor = 1.0f;
        n.lightContribution = float3(0.8f, 0.7f - 0.1f * i, 0.6f);
        n.lightColor = float3(1.0f, 0.9f, 0.8f - 0.1f * i);
        n.lightTransmission = float3(0.9f, 0.85f, 0.8f);
        n.type = types[i];
        n.next = i + 1 < lightCount_ ? &lights_[i + 1] : nullptr;
    }
}

const char* settingName(Setting s) {
    return s == Setting::kRich ? "rich" : "default";
}

std::vector<Operation> announcedOperations(int32_t kind, uint32_t mask) {
    std::vector<Operation> ops = {{vhost::kSlotShade, "shade"}};
    if (kind != pxs::kKindMaterial) return ops;
    if (mask & pxs::kCapShadowTransmission) {
        ops.push_back({vhost::kSlotShadowTransmission, "shadowTransmission"});
    }
    if (mask & pxs::kCapEvaluateBsdf) ops.push_back({vhost::kSlotEvaluateBsdf, "evaluateBsdf"});
    if (mask & pxs::kCapSampleBsdf) ops.push_back({vhost::kSlotSampleBsdf, "sampleBsdf"});
    return ops;
}

Workload::Workload(const vhost::Library& library, const std::string& className, Setting setting)
    : className_(className), setting_(setting), shader_(library.create(className)) {
    if (!shader_) return;
    vhost::declareParameters(shader_.get(), &registry_);
    kind_ = vhost::shaderKind(shader_.get());
    mask_ = registry_.capabilities();
    for (const vhost::Declaration* d : registry_.parameters()) {
        const size_t n = pxs::paramTypeSize(d->type);
        if ((d->type == ParamType::Matrix3 || d->type == ParamType::Matrix4) &&
            allZero(d->field, n)) {
            auto* m = static_cast<float*>(d->field);
            const int dim = d->type == ParamType::Matrix3 ? 3 : 4;
            for (int i = 0; i < dim; ++i) m[i * dim + i] = 1.0f;
        }
    }
    if (setting == Setting::kRich) applyRich();
    buildState();
}

void Workload::applyRich() {
    for (const vhost::Declaration* d : registry_.parameters()) {
        switch (d->type) {
            case ParamType::Bool:
                if (!endsWith(d->name, "Only")) *static_cast<uint8_t*>(d->field) = 1;
                break;
            case ParamType::Int: {
                auto* v = static_cast<int32_t*>(d->field);
                if (*v == 0) *v = 1;
                break;
            }
            case ParamType::Texture2D:
            case ParamType::TextureB:
                static_cast<pxs::TextureHandle*>(d->field)->object = &image_;
                break;
            case ParamType::TextureCube:
                static_cast<pxs::TextureHandle*>(d->field)->object = &cube_;
                break;
            default:
                break;
        }
    }
}

void Workload::buildState() {
    // A camera ray hitting a slightly tilted surface, lit from above; the light
    // sample sits inside a spot light's rim so that the cone blend runs.
    const float3 hit(0.1f, 0.2f, 0.0f);
    const float3 lightPosition(1.0f, 2.0f, 4.0f);
    const float3 toLight(lightPosition.x - hit.x, lightPosition.y - hit.y, lightPosition.z - hit.z);
    const float lightDistance =
        std::sqrt(toLight.x * toLight.x + toLight.y * toLight.y + toLight.z * toLight.z);
    vhost::StateBuilder b;
    b.ray(float3(0.3f, -0.4f, 5.0f), unit(float3(-0.2f, 0.6f, -5.0f)))
        .hit(hit, unit(float3(0.1f, 0.05f, 1.0f)), float3(0.0f, 0.0f, 1.0f))
        .pixel(float2(320.0f, 240.0f), 480)
        .ior(1.0f, 1.0f)
        .sampleDirection(unit(float3(0.3f, 0.2f, 0.9f)))
        .light(lightPosition, unit(toLight), unit(float3(1.0f, 0.4f, 1.6f)), lightDistance);
    if (setting_ == Setting::kRich && kind_ == pxs::kKindEnvironment) {
        b.rayType(pxs::kRayReflection);
    }
    for (const vhost::Declaration* d : registry_.attributes()) {
        switch (d->attributeKind) {
            case pxs::kAttributeFloat2:
                b.attribute(d->attributeOffset, float2(0.3f, 0.7f));
                break;
            case pxs::kAttributeFloat3:
                b.attribute(d->attributeOffset, d->name == "bitangent" ? float3(0.0f, 1.0f, 0.0f)
                                                                       : float3(1.0f, 0.0f, 0.0f));
                break;
            default:
                b.attribute(d->attributeOffset, float4(0.8f, 0.6f, 0.4f, 1.0f));
                break;
        }
    }
    state_ = b.build();
}

void callRepeatedly(void* shader, int slot, FastServices& services, pxs::ShadingState& state,
                    long count) {
    for (long i = 0; i < count; ++i) vhost::callPerHit(shader, slot, &services, &state);
}

}  // namespace vbench

#include "host/state_builder.h"

#include <cstddef>
#include <cstring>

namespace vhost {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;

namespace {

struct Field {
    const char* name;
    size_t offset;
    size_t size;
};

// Every named byte range of the state, in offset order.
constexpr Field kFields[] = {
    {"rayOrigin", 0, 12},           {"rayDirection", 12, 12},
    {"position", 24, 12},           {"normal", 36, 12},
    {"geometricNormal", 48, 12},    {"mappingPoint", 60, 12},
    {"mappingNormal", 72, 12},      {"pixelPosition", 96, 8},
    {"imageHeight", 108, 4},        {"mediumIor", 112, 4},
    {"outsideIor", 116, 4},         {"matrixA", 120, 64},
    {"matrixB", 184, 64},           {"rayType", 320, 4},
    {"rayDepth", 324, 4},           {"rayDepthLimit", 328, 4},
    {"outColor", 336, 12},          {"outAlpha", 348, 4},
    {"outTransmission", 352, 12},   {"sampleDirection", 364, 12},
    {"sampleValue", 376, 12},       {"sampleCosine", 388, 4},
    {"sampleWeight", 392, 4},       {"sampleKind", 396, 4},
    {"allowLobe", 400, 6},          {"lightPosition", 412, 12},
    {"lightDirection", 424, 12},    {"lightAxis", 436, 12},
    {"lightDistance", 448, 4},      {"lightColor", 452, 12},
    {"lightTransmission", 464, 12}, {"skipHit", 476, 1},
};

const Field* fieldAt(size_t offset) {
    for (const Field& f : kFields) {
        if (offset >= f.offset && offset < f.offset + f.size) return &f;
    }
    return nullptr;
}

template <class T>
void put(ShadingState& st, size_t offset, const T& v) {
    std::memcpy(reinterpret_cast<uint8_t*>(&st) + offset, &v, sizeof v);
}

}  // namespace

void fillCanary(ShadingState& st) {
    std::memset(static_cast<void*>(&st), kCanaryByte, sizeof st);
}

std::vector<std::string> changedFields(const ShadingState& before, const ShadingState& after) {
    const auto* a = reinterpret_cast<const uint8_t*>(&before);
    const auto* b = reinterpret_cast<const uint8_t*>(&after);
    std::vector<std::string> out;
    for (size_t i = 0; i < sizeof(ShadingState); ++i) {
        if (a[i] == b[i]) continue;
        std::string name;
        if (const Field* f = fieldAt(i)) {
            name = f->name;
        } else if (i >= offsetof(ShadingState, attributes)) {
            name = "attributes@" + std::to_string(i - offsetof(ShadingState, attributes));
        } else {
            name = "reserved@" + std::to_string(i);
        }
        if (out.empty() || out.back() != name) out.push_back(name);
    }
    return out;
}

StateBuilder::StateBuilder() {
    fillCanary(st_);
    ray(float3(0, 0, 5), float3(0, 0, -1));
    hit(float3(0, 0, 0), float3(0, 0, 1));
    st_.pixelPosition = float2(0, 0);
    st_.imageHeight = 480;
    st_.mediumIor = 1.0f;
    st_.outsideIor = 1.0f;
    pxs::matrix4 identity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    st_.matrixA = identity;
    st_.matrixB = identity;
    st_.rayType = pxs::kRayCamera;
    st_.rayDepth = 0;
    st_.rayDepthLimit = 4;
    allowLobes(1, 1, 1, 1, 1, 1);
    std::memset(st_.attributes, 0, sizeof st_.attributes);
}

StateBuilder& StateBuilder::ray(float3 origin, float3 direction) {
    st_.rayOrigin = origin;
    st_.rayDirection = direction;
    return *this;
}

StateBuilder& StateBuilder::hit(float3 position, float3 normal) {
    return hit(position, normal, normal);
}

StateBuilder& StateBuilder::hit(float3 position, float3 normal, float3 geometricNormal) {
    st_.position = position;
    st_.normal = normal;
    st_.geometricNormal = geometricNormal;
    return mapping(position, geometricNormal);
}

StateBuilder& StateBuilder::mapping(float3 point, float3 normal) {
    st_.mappingPoint = point;
    st_.mappingNormal = normal;
    return *this;
}

StateBuilder& StateBuilder::rayType(int32_t type) {
    st_.rayType = type;
    return *this;
}

StateBuilder& StateBuilder::depth(int32_t depth, int32_t limit) {
    st_.rayDepth = depth;
    st_.rayDepthLimit = limit;
    return *this;
}

StateBuilder& StateBuilder::pixel(float2 position, int32_t imageHeight) {
    st_.pixelPosition = position;
    st_.imageHeight = imageHeight;
    return *this;
}

StateBuilder& StateBuilder::ior(float medium, float outside) {
    st_.mediumIor = medium;
    st_.outsideIor = outside;
    return *this;
}

StateBuilder& StateBuilder::matrixA(const pxs::matrix4& m) {
    st_.matrixA = m;
    return *this;
}

StateBuilder& StateBuilder::matrixB(const pxs::matrix4& m) {
    st_.matrixB = m;
    return *this;
}

StateBuilder& StateBuilder::sampleDirection(float3 d) {
    st_.sampleDirection = d;
    return *this;
}

StateBuilder& StateBuilder::allowLobes(uint8_t l0, uint8_t l1, uint8_t l2, uint8_t l3, uint8_t l4,
                                       uint8_t l5) {
    const uint8_t l[6] = {l0, l1, l2, l3, l4, l5};
    std::memcpy(st_.allowLobe, l, 6);
    return *this;
}

StateBuilder& StateBuilder::light(float3 lightPosition, float3 lightDirection, float3 lightAxis,
                                  float lightDistance) {
    st_.lightSample.lightPosition = lightPosition;
    st_.lightSample.lightDirection = lightDirection;
    st_.lightSample.lightAxis = lightAxis;
    st_.lightSample.lightDistance = lightDistance;
    return *this;
}

StateBuilder& StateBuilder::attribute(int32_t offset, float2 v) {
    put(st_, offsetof(ShadingState, attributes) + offset, v);
    return *this;
}

StateBuilder& StateBuilder::attribute(int32_t offset, float3 v) {
    put(st_, offsetof(ShadingState, attributes) + offset, v);
    return *this;
}

StateBuilder& StateBuilder::attribute(int32_t offset, float4 v) {
    put(st_, offsetof(ShadingState, attributes) + offset, v);
    return *this;
}

}  // namespace vhost

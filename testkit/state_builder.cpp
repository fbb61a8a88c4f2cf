#include "testkit/state_builder.h"

#include <cstddef>
#include <cstring>

namespace vhost {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;

namespace {

// The field holding byte `offset`, or null for a reserved byte.
const pxs::StateField* fieldAt(size_t offset) {
    for (const pxs::StateField& f : pxs::kStateFields) {
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
        const pxs::StateField* f = fieldAt(i);
        if (!f) {
            name = "reserved@" + std::to_string(i);
        } else if (f->offset == offsetof(ShadingState, attributes)) {
            name = "attributes@" + std::to_string(i - f->offset);
        } else {
            name = f->name;
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

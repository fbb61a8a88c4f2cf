// Builds shading states for tests: every byte starts as a canary pattern, the
// input fields get plausible values, and changedFields() reports which fields
// an operation wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vesper/vesper.h"

namespace vhost {

constexpr uint8_t kCanaryByte = 0xA7;

// Fills every byte of the state with the canary pattern.
void fillCanary(pxs::ShadingState& st);

// Names of the fields whose bytes differ between two states, in offset order.
// Bytes outside named fields are reported as "reserved@<offset>"; attribute
// bytes as "attributes@<offset>".
std::vector<std::string> changedFields(const pxs::ShadingState& before,
                                       const pxs::ShadingState& after);

// Defaults: a camera ray from (0, 0, 5) straight down -z onto the origin, normal
// and geometric normal +z, mapping point and normal equal to the hit, identity
// matrices, depth 0 of limit 4, indices 1, every lobe allowed, attributes zero.
// Output fields and reserved bytes keep the canary.
class StateBuilder {
  public:
    StateBuilder();

    StateBuilder& ray(pxs::float3 origin, pxs::float3 direction);
    // Sets position (and mappingPoint), normal, geometricNormal (and mappingNormal).
    StateBuilder& hit(pxs::float3 position, pxs::float3 normal);
    StateBuilder& hit(pxs::float3 position, pxs::float3 normal, pxs::float3 geometricNormal);
    StateBuilder& mapping(pxs::float3 point, pxs::float3 normal);
    StateBuilder& rayType(int32_t type);
    StateBuilder& depth(int32_t depth, int32_t limit);
    StateBuilder& pixel(pxs::float2 position, int32_t imageHeight);
    StateBuilder& ior(float medium, float outside);
    StateBuilder& matrixA(const pxs::matrix4& m);
    StateBuilder& matrixB(const pxs::matrix4& m);
    StateBuilder& sampleDirection(pxs::float3 d);
    StateBuilder& allowLobes(uint8_t l0, uint8_t l1, uint8_t l2, uint8_t l3, uint8_t l4,
                             uint8_t l5);
    StateBuilder& light(pxs::float3 lightPosition, pxs::float3 lightDirection,
                        pxs::float3 lightAxis, float lightDistance);
    // Writes an attribute value at byte `offset` of the attributes block.
    StateBuilder& attribute(int32_t offset, pxs::float2 v);
    StateBuilder& attribute(int32_t offset, pxs::float3 v);
    StateBuilder& attribute(int32_t offset, pxs::float4 v);

    const pxs::ShadingState& state() const { return st_; }
    pxs::ShadingState build() const { return st_; }

  private:
    pxs::ShadingState st_;
};

}  // namespace vhost

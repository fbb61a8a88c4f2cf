// One description of a shader class as a host sees it through the contract: kind,
// capabilities, parameters in registration order with their typed defaults, and
// the vertex attributes it wants. vesper-info prints it, vesper-studio serves its
// JSON form and the preview scenes read it; the shader reference is generated
// from vesper-info's JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/library.h"
#include "vesper/parameters.h"

namespace vhost {

// "material", "light" or "environment"; "unknown" for any other code.
const char* kindName(int32_t kind);
// The names of the set capability bits in bit order: "shade",
// "shadowTransmission", "evaluateBsdf", "sampleBsdf", "light", "environment".
std::vector<std::string> capabilityNames(uint32_t mask);
// "float2", "float3" or "float4"; "unknown" for any other code.
const char* attributeKindName(int32_t kind);

struct ParameterInfo {
    std::string name;
    pxs::ParamType type;
    std::string defaultText;      // as Declaration::valueText writes it
    nlohmann::json defaultValue;  // typed, see toJson
    // The operations that read it, as capability bits (host/parameter_usage.h);
    // known once probeUsage has run.
    uint32_t readBy = 0;
};

struct AttributeInfo {
    std::string name;
    int32_t kind;    // pxs::AttributeKind
    int32_t offset;  // byte offset inside ShadingState::attributes
};

struct ClassInfo {
    std::string name;
    int32_t apiVersion = -1;
    // False for a class of another API version (never created) or whose factory
    // returned null; kind is then -1 and the lists are empty.
    bool created = false;
    int32_t kind = -1;
    uint32_t capabilities = 0;
    std::vector<ParameterInfo> parameters;
    std::vector<AttributeInfo> attributes;
    bool usageProbed = false;

    // The type of parameter `name`, or null.
    const pxs::ParamType* type(const std::string& name) const;
};

// Creates one object of the class, reads its declarations and defaults, and
// destroys it again.
ClassInfo describeClass(const Library& library, const std::string& name);

// A parameter's current value as typed JSON, read through its registered field,
// in the form toJson gives defaults.
nlohmann::json typedValue(pxs::ParamType type, const void* field);

// Fills in which operations read each parameter (a probe of a few thousand
// calls; the preview scenes do without).
void probeUsage(const Library& library, ClassInfo& info);

// {"name", "apiVersion", "kind", "capabilities", "capabilityNames", "parameters":
// [{"name", "type", "default", "readBy"}], "attributes": [{"name", "kind", "offset"}]};
// "readBy" names the operations once probeUsage has run.
// Defaults are typed: bool -> true/false, int -> integer, float -> number,
// float2..matrix4 -> array of numbers (matrices in row order), textures ->
// {"bound", "id"}; floats with the fewest digits that read back to the same float.
nlohmann::json toJson(const ClassInfo& info);

}  // namespace vhost

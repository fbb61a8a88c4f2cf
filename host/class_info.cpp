#include "host/class_info.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/parameter_usage.h"
#include "host/recording_registry.h"
#include "host/slots.h"

namespace vhost {

using nlohmann::json;

namespace {

double shortestFloat(float f) {
    char buf[32];
    for (int digits = 6; digits < 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(f));
        if (std::strtof(buf, nullptr) == f) return std::strtod(buf, nullptr);
    }
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    return std::strtod(buf, nullptr);
}

}  // namespace

json typedValue(pxs::ParamType type, const void* field) {
    if (!field) return nullptr;
    if (type == pxs::ParamType::Bool) return *static_cast<const uint8_t*>(field) != 0;
    if (type == pxs::ParamType::Int) {
        int32_t v;
        std::memcpy(&v, field, sizeof v);
        return v;
    }
    if (pxs::isTextureType(type)) {
        pxs::TextureHandle h;
        std::memcpy(&h, field, sizeof h);
        return {{"bound", h.object != nullptr}, {"id", h.id}};
    }
    float v[16];
    const size_t n = pxs::paramTypeSize(type) / sizeof(float);
    if (n == 0 || n > 16) return nullptr;
    std::memcpy(v, field, n * sizeof(float));
    if (n == 1) return shortestFloat(v[0]);
    json a = json::array();
    for (size_t i = 0; i < n; ++i) a.push_back(shortestFloat(v[i]));
    return a;
}

const char* kindName(int32_t kind) {
    switch (kind) {
        case pxs::kKindMaterial:
            return "material";
        case pxs::kKindLight:
            return "light";
        case pxs::kKindEnvironment:
            return "environment";
    }
    return "unknown";
}

std::vector<std::string> capabilityNames(uint32_t mask) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kBits[] = {{pxs::kCapShade, "shade"},
                 {pxs::kCapShadowTransmission, "shadowTransmission"},
                 {pxs::kCapEvaluateBsdf, "evaluateBsdf"},
                 {pxs::kCapSampleBsdf, "sampleBsdf"},
                 {pxs::kCapLight, "light"},
                 {pxs::kCapEnvironment, "environment"}};
    std::vector<std::string> names;
    for (const auto& b : kBits) {
        if (mask & b.bit) names.push_back(b.name);
    }
    return names;
}

const char* attributeKindName(int32_t kind) {
    switch (kind) {
        case pxs::kAttributeFloat2:
            return "float2";
        case pxs::kAttributeFloat3:
            return "float3";
        case pxs::kAttributeFloat4:
            return "float4";
    }
    return "unknown";
}

const pxs::ParamType* ClassInfo::type(const std::string& name) const {
    for (const ParameterInfo& p : parameters) {
        if (p.name == name) return &p.type;
    }
    return nullptr;
}

ClassInfo describeClass(const Library& library, const std::string& name) {
    ClassInfo info;
    info.name = name;
    info.apiVersion = library.apiVersion(name);
    if (info.apiVersion != pxs::kApiVersion) return info;
    ShaderPtr shader = library.create(name);
    if (!shader) return info;
    info.created = true;
    info.kind = shaderKind(shader.get());
    RecordingRegistry registry;
    declareParameters(shader.get(), &registry);
    info.capabilities = registry.capabilities();
    // Defaults are read now, while the object and its fields are alive.
    for (const Declaration* d : registry.parameters()) {
        info.parameters.push_back(
            {d->name, d->type, d->valueText(), typedValue(d->type, d->field)});
    }
    for (const Declaration* d : registry.attributes()) {
        info.attributes.push_back({d->name, d->attributeKind, d->attributeOffset});
    }
    return info;
}

void probeUsage(const Library& library, ClassInfo& info) {
    if (!info.created) return;
    std::vector<uint32_t> used = probeParameterUsage(library, info.name);
    if (used.size() != info.parameters.size()) return;
    for (size_t i = 0; i < used.size(); ++i) info.parameters[i].readBy = used[i];
    info.usageProbed = true;
}

json toJson(const ClassInfo& info) {
    json j = {{"name", info.name},
              {"apiVersion", info.apiVersion},
              {"kind", kindName(info.kind)},
              {"capabilities", info.capabilities},
              {"capabilityNames", capabilityNames(info.capabilities)},
              {"parameters", json::array()},
              {"attributes", json::array()}};
    for (const ParameterInfo& p : info.parameters) {
        json param = {
            {"name", p.name}, {"type", pxs::paramTypeName(p.type)}, {"default", p.defaultValue}};
        if (info.usageProbed) param["readBy"] = operationNames(p.readBy);
        j["parameters"].push_back(param);
    }
    for (const AttributeInfo& a : info.attributes) {
        j["attributes"].push_back(
            {{"name", a.name}, {"kind", attributeKindName(a.kind)}, {"offset", a.offset}});
    }
    return j;
}

}  // namespace vhost

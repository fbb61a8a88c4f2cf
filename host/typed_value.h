// A parameter's current value as typed JSON, read through its registered field:
// bool -> true/false, int -> integer, float -> number, float2..matrix4 -> array
// of numbers (matrices in row order), textures -> {"bound", "id"}. Floats are
// written with the fewest digits that read back to the same float.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "vesper/vesper.h"

namespace vhost {

// The name vesper-info and vesper-studio give a shader kind.
inline const char* kindName(int32_t kind) {
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

inline double shortestFloat(float f) {
    char buf[32];
    for (int digits = 6; digits < 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(f));
        if (std::strtof(buf, nullptr) == f) return std::strtod(buf, nullptr);
    }
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    return std::strtod(buf, nullptr);
}

// `type` is the type name vesper-info prints ("bool", "int", "float3", ...).
inline nlohmann::json typedValue(const std::string& type, const void* field) {
    if (!field) return nullptr;
    if (type == "bool") return *static_cast<const uint8_t*>(field) != 0;
    if (type == "int") {
        int32_t v;
        std::memcpy(&v, field, sizeof v);
        return v;
    }
    if (type == "textureB" || type == "texture2D" || type == "textureCube") {
        pxs::TextureHandle h;
        std::memcpy(&h, field, sizeof h);
        return {{"bound", h.object != nullptr}, {"id", h.id}};
    }
    int n = type == "float"     ? 1
            : type == "float2"  ? 2
            : type == "float3"  ? 3
            : type == "float4"  ? 4
            : type == "matrix3" ? 9
            : type == "matrix4" ? 16
                                : 0;
    if (n == 0) return nullptr;
    float v[16];
    std::memcpy(v, field, n * sizeof(float));
    if (n == 1) return shortestFloat(v[0]);
    nlohmann::json a = nlohmann::json::array();
    for (int i = 0; i < n; ++i) a.push_back(shortestFloat(v[i]));
    return a;
}

}  // namespace vhost

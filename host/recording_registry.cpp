#include "host/recording_registry.h"

#include <cstdio>

namespace vhost {

namespace {

std::string floats(const float* v, int n) {
    std::string s = n > 1 ? "(" : "";
    char buf[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v[i]));
        s += (i ? ", " : "") + std::string(buf);
    }
    return n > 1 ? s + ")" : s;
}

}  // namespace

std::string Declaration::valueText() const {
    if (!isParameter() || !field) return "";
    float f[16];
    switch (type) {
        case pxs::ParamType::Bool:
            return *static_cast<const uint8_t*>(field) ? "true" : "false";
        case pxs::ParamType::Int:
            return std::to_string(value<int32_t>());
        case pxs::ParamType::TextureB:
        case pxs::ParamType::Texture2D:
        case pxs::ParamType::TextureCube: {
            auto h = value<pxs::TextureHandle>();
            return std::string("texture(") + (h.object ? "bound" : "null") + ", " +
                   std::to_string(h.id) + ")";
        }
        default: {
            size_t n = pxs::paramTypeSize(type) / sizeof(float);
            std::memcpy(f, field, n * sizeof(float));
            return floats(f, static_cast<int>(n));
        }
    }
}

uint32_t RecordingRegistry::capabilities() const {
    return !declarations.empty() && declarations.front().what == Declared::Capabilities
               ? declarations.front().mask
               : 0;
}

std::vector<const Declaration*> RecordingRegistry::parameters() const {
    std::vector<const Declaration*> out;
    for (const Declaration& d : declarations) {
        if (d.isParameter()) out.push_back(&d);
    }
    return out;
}

std::vector<const Declaration*> RecordingRegistry::attributes() const {
    std::vector<const Declaration*> out;
    for (const Declaration& d : declarations) {
        if (d.what == Declared::Attribute) out.push_back(&d);
    }
    return out;
}

std::vector<std::string> RecordingRegistry::parameterNames() const {
    std::vector<std::string> out;
    for (const Declaration* d : parameters()) out.push_back(d->name);
    return out;
}

const Declaration* RecordingRegistry::find(const std::string& name) const {
    for (const Declaration& d : declarations) {
        if (d.name == name && d.what != Declared::Capabilities) return &d;
    }
    return nullptr;
}

void RecordingRegistry::add(pxs::ParamType t, pxs::IShaderBase* s, const char* n, void* f) {
    Declaration d;
    d.type = t;
    d.shader = s;
    d.name = n ? n : "";
    d.field = f;
    declarations.push_back(d);
}

void RecordingRegistry::declareCapabilities(pxs::IShaderBase* s, uint32_t mask) {
    Declaration d;
    d.what = Declared::Capabilities;
    d.shader = s;
    d.mask = mask;
    declarations.push_back(d);
}
void RecordingRegistry::declareBool(pxs::IShaderBase* s, const char* n, bool* f) {
    add(pxs::ParamType::Bool, s, n, f);
}
void RecordingRegistry::declareInt(pxs::IShaderBase* s, const char* n, int32_t* f) {
    add(pxs::ParamType::Int, s, n, f);
}
void RecordingRegistry::declareFloat(pxs::IShaderBase* s, const char* n, float* f) {
    add(pxs::ParamType::Float, s, n, f);
}
void RecordingRegistry::declareFloat2(pxs::IShaderBase* s, const char* n, pxs::float2* f) {
    add(pxs::ParamType::Float2, s, n, f);
}
void RecordingRegistry::declareFloat3(pxs::IShaderBase* s, const char* n, pxs::float3* f) {
    add(pxs::ParamType::Float3, s, n, f);
}
void RecordingRegistry::declareFloat4(pxs::IShaderBase* s, const char* n, pxs::float4* f) {
    add(pxs::ParamType::Float4, s, n, f);
}
void RecordingRegistry::declareMatrix3(pxs::IShaderBase* s, const char* n, pxs::matrix3* f) {
    add(pxs::ParamType::Matrix3, s, n, f);
}
void RecordingRegistry::declareMatrix4(pxs::IShaderBase* s, const char* n, pxs::matrix4* f) {
    add(pxs::ParamType::Matrix4, s, n, f);
}
void RecordingRegistry::declareTextureB(pxs::IShaderBase* s, const char* n, pxs::TextureHandle* f) {
    add(pxs::ParamType::TextureB, s, n, f);
}
void RecordingRegistry::declareTexture2D(pxs::IShaderBase* s, const char* n,
                                         pxs::TextureHandle* f) {
    add(pxs::ParamType::Texture2D, s, n, f);
}
void RecordingRegistry::declareTextureCube(pxs::IShaderBase* s, const char* n,
                                           pxs::TextureHandle* f) {
    add(pxs::ParamType::TextureCube, s, n, f);
}
void RecordingRegistry::declareVertexAttribute(pxs::IShaderBase* s, int32_t kind, const char* n,
                                               int32_t offset) {
    Declaration d;
    d.what = Declared::Attribute;
    d.shader = s;
    d.name = n ? n : "";
    d.attributeKind = kind;
    d.attributeOffset = offset;
    declarations.push_back(d);
}

}  // namespace vhost

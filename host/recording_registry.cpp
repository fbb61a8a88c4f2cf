#include "host/recording_registry.h"

#include <cstdio>

namespace vhost {

const char* typeName(DeclType t) {
    switch (t) {
        case DeclType::Capabilities:
            return "capabilities";
        case DeclType::Bool:
            return "bool";
        case DeclType::Int:
            return "int";
        case DeclType::Float:
            return "float";
        case DeclType::Float2:
            return "float2";
        case DeclType::Float3:
            return "float3";
        case DeclType::Float4:
            return "float4";
        case DeclType::Matrix3:
            return "matrix3";
        case DeclType::Matrix4:
            return "matrix4";
        case DeclType::TextureB:
            return "textureB";
        case DeclType::Texture2D:
            return "texture2D";
        case DeclType::TextureCube:
            return "textureCube";
        case DeclType::Attribute:
            return "attribute";
    }
    return "unknown";
}

size_t fieldSize(DeclType t) {
    switch (t) {
        case DeclType::Bool:
            return 1;
        case DeclType::Int:
        case DeclType::Float:
            return 4;
        case DeclType::Float2:
            return 8;
        case DeclType::Float3:
            return 12;
        case DeclType::Float4:
            return 16;
        case DeclType::Matrix3:
            return 36;
        case DeclType::Matrix4:
            return 64;
        case DeclType::TextureB:
        case DeclType::Texture2D:
        case DeclType::TextureCube:
            return 16;
        default:
            return 0;
    }
}

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
    if (!field) return "";
    float f[16];
    switch (type) {
        case DeclType::Bool:
            return *static_cast<const uint8_t*>(field) ? "true" : "false";
        case DeclType::Int:
            return std::to_string(value<int32_t>());
        case DeclType::TextureB:
        case DeclType::Texture2D:
        case DeclType::TextureCube: {
            auto h = value<pxs::TextureHandle>();
            return std::string("texture(") + (h.object ? "bound" : "null") + ", " +
                   std::to_string(h.id) + ")";
        }
        default: {
            size_t n = fieldSize(type) / sizeof(float);
            std::memcpy(f, field, n * sizeof(float));
            return floats(f, static_cast<int>(n));
        }
    }
}

uint32_t RecordingRegistry::capabilities() const {
    return !declarations.empty() && declarations.front().type == DeclType::Capabilities
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
        if (d.type == DeclType::Attribute) out.push_back(&d);
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
        if (d.name == name && d.type != DeclType::Capabilities) return &d;
    }
    return nullptr;
}

void RecordingRegistry::add(DeclType t, pxs::IShaderBase* s, const char* n, void* f) {
    Declaration d;
    d.type = t;
    d.shader = s;
    d.name = n ? n : "";
    d.field = f;
    declarations.push_back(d);
}

void RecordingRegistry::declareCapabilities(pxs::IShaderBase* s, uint32_t mask) {
    Declaration d;
    d.type = DeclType::Capabilities;
    d.shader = s;
    d.mask = mask;
    declarations.push_back(d);
}
void RecordingRegistry::declareBool(pxs::IShaderBase* s, const char* n, bool* f) {
    add(DeclType::Bool, s, n, f);
}
void RecordingRegistry::declareInt(pxs::IShaderBase* s, const char* n, int32_t* f) {
    add(DeclType::Int, s, n, f);
}
void RecordingRegistry::declareFloat(pxs::IShaderBase* s, const char* n, float* f) {
    add(DeclType::Float, s, n, f);
}
void RecordingRegistry::declareFloat2(pxs::IShaderBase* s, const char* n, pxs::float2* f) {
    add(DeclType::Float2, s, n, f);
}
void RecordingRegistry::declareFloat3(pxs::IShaderBase* s, const char* n, pxs::float3* f) {
    add(DeclType::Float3, s, n, f);
}
void RecordingRegistry::declareFloat4(pxs::IShaderBase* s, const char* n, pxs::float4* f) {
    add(DeclType::Float4, s, n, f);
}
void RecordingRegistry::declareMatrix3(pxs::IShaderBase* s, const char* n, pxs::matrix3* f) {
    add(DeclType::Matrix3, s, n, f);
}
void RecordingRegistry::declareMatrix4(pxs::IShaderBase* s, const char* n, pxs::matrix4* f) {
    add(DeclType::Matrix4, s, n, f);
}
void RecordingRegistry::declareTextureB(pxs::IShaderBase* s, const char* n, pxs::TextureHandle* f) {
    add(DeclType::TextureB, s, n, f);
}
void RecordingRegistry::declareTexture2D(pxs::IShaderBase* s, const char* n,
                                         pxs::TextureHandle* f) {
    add(DeclType::Texture2D, s, n, f);
}
void RecordingRegistry::declareTextureCube(pxs::IShaderBase* s, const char* n,
                                           pxs::TextureHandle* f) {
    add(DeclType::TextureCube, s, n, f);
}
void RecordingRegistry::declareVertexAttribute(pxs::IShaderBase* s, int32_t kind, const char* n,
                                               int32_t offset) {
    Declaration d;
    d.type = DeclType::Attribute;
    d.shader = s;
    d.name = n ? n : "";
    d.attributeKind = kind;
    d.attributeOffset = offset;
    declarations.push_back(d);
}

}  // namespace vhost

// Parameter types, and a registry that lets a host write and read parameters by
// name with their registered type checked.
//
// A shader's parameters lie next to each other in the object, so a value written
// through a field address with the wrong size silently overwrites its neighbours:
// three floats written into a float parameter change the next two parameters.
// ParameterTable records what declareParameters registers and refuses any access
// whose type (and so size) is not the registered one.
//
//   pxs::ParameterTable table;
//   shader->declareParameters(&table);
//   table.set("u_roughValue", 0.25f);                 // Ok
//   table.set("u_roughValue", pxs::float3(1, 1, 1));  // WrongType, nothing written
//   float r = 0.0f;
//   table.get("u_roughValue", &r);                    // Ok, r = 0.25
//   table.bindTexture("u_diffuseMap", &myTexture);    // Ok: the handle's pointer only
//
// Not for per-hit code: lookups compare names. Like any parameter write, do not
// write while per-hit calls on the object are running.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "vesper/host.h"
#include "vesper/types.h"

namespace pxs {

// A parameter's type, numbered by the registry slot that declares it.
enum class ParamType : int32_t {
    Bool = 2,
    Int = 6,
    Float = 10,
    Float2 = 11,
    Float3 = 12,
    Float4 = 13,
    Matrix3 = 15,
    Matrix4 = 16,
    TextureB = 17,
    Texture2D = 18,
    TextureCube = 20,
};

// The type's name as tools print it: "bool", "int", "float", "float2", "float3",
// "float4", "matrix3", "matrix4", "textureB", "texture2D", "textureCube".
constexpr const char* paramTypeName(ParamType t) {
    switch (t) {
        case ParamType::Bool:
            return "bool";
        case ParamType::Int:
            return "int";
        case ParamType::Float:
            return "float";
        case ParamType::Float2:
            return "float2";
        case ParamType::Float3:
            return "float3";
        case ParamType::Float4:
            return "float4";
        case ParamType::Matrix3:
            return "matrix3";
        case ParamType::Matrix4:
            return "matrix4";
        case ParamType::TextureB:
            return "textureB";
        case ParamType::Texture2D:
            return "texture2D";
        case ParamType::TextureCube:
            return "textureCube";
    }
    return "unknown";
}

// Bytes of the field behind a parameter. A bool is one byte: the library reads
// any non-zero byte as true.
constexpr size_t paramTypeSize(ParamType t) {
    switch (t) {
        case ParamType::Bool:
            return 1;
        case ParamType::Int:
            return sizeof(int32_t);
        case ParamType::Float:
            return sizeof(float);
        case ParamType::Float2:
            return sizeof(float2);
        case ParamType::Float3:
            return sizeof(float3);
        case ParamType::Float4:
            return sizeof(float4);
        case ParamType::Matrix3:
            return sizeof(matrix3);
        case ParamType::Matrix4:
            return sizeof(matrix4);
        case ParamType::TextureB:
        case ParamType::Texture2D:
        case ParamType::TextureCube:
            return sizeof(TextureHandle);
    }
    return 0;
}

constexpr bool isTextureType(ParamType t) {
    return t == ParamType::TextureB || t == ParamType::Texture2D || t == ParamType::TextureCube;
}

// The parameter type a C++ value writes; a type without one does not compile.
template <class T>
struct ParamTypeOf {
    static_assert(!std::is_same<T, T>::value,
                  "no parameter type takes this C++ type: use bool, int32_t, float, float2, "
                  "float3, float4, matrix3, matrix4 or TextureHandle (a double needs an f)");
};
template <>
struct ParamTypeOf<bool> {
    static constexpr ParamType value = ParamType::Bool;
};
template <>
struct ParamTypeOf<int32_t> {
    static constexpr ParamType value = ParamType::Int;
};
template <>
struct ParamTypeOf<float> {
    static constexpr ParamType value = ParamType::Float;
};
template <>
struct ParamTypeOf<float2> {
    static constexpr ParamType value = ParamType::Float2;
};
template <>
struct ParamTypeOf<float3> {
    static constexpr ParamType value = ParamType::Float3;
};
template <>
struct ParamTypeOf<float4> {
    static constexpr ParamType value = ParamType::Float4;
};
template <>
struct ParamTypeOf<matrix3> {
    static constexpr ParamType value = ParamType::Matrix3;
};
template <>
struct ParamTypeOf<matrix4> {
    static constexpr ParamType value = ParamType::Matrix4;
};
// Any of the three texture types takes a handle.
template <>
struct ParamTypeOf<TextureHandle> {
    static constexpr ParamType value = ParamType::Texture2D;
};

struct ParamDeclaration {
    const char* name;  // the library's static string
    ParamType type;
    void* field;  // valid until the shader is destroyed
};

struct AttributeDeclaration {
    const char* name;
    int32_t kind;    // AttributeKind
    int32_t offset;  // byte offset inside ShadingState::attributes
};

enum class SetResult {
    Ok,
    UnknownName,  // no parameter of that name
    WrongType,    // the value's type or size is not the registered one: nothing written
};
// Reads have the same outcomes; on any but Ok the destination is left alone.
using GetResult = SetResult;

// Records a shader's declarations in registration order. One table per shader
// object; it holds field addresses, so it must not outlive the shader.
class ParameterTable final : public IParameterRegistry {
  public:
    uint32_t capabilities = 0;
    std::vector<ParamDeclaration> parameters;
    std::vector<AttributeDeclaration> attributes;

    // The parameter called `name`, or null.
    const ParamDeclaration* find(const char* name) const {
        if (!name) return nullptr;
        for (const ParamDeclaration& p : parameters) {
            if (std::strcmp(p.name, name) == 0) return &p;
        }
        return nullptr;
    }

    // Writes `size` bytes of a value of `type` into parameter `name`, only when
    // the parameter has that type and size (any texture type for a texture).
    SetResult setBytes(const char* name, ParamType type, const void* value, size_t size) const {
        const ParamDeclaration* p = nullptr;
        SetResult r = check(name, type, size, &p);
        if (r == SetResult::Ok) std::memcpy(p->field, value, size);
        return r;
    }
    // Copies parameter `name` into `size` bytes at `out`, under the same condition.
    GetResult getBytes(const char* name, ParamType type, void* out, size_t size) const {
        const ParamDeclaration* p = nullptr;
        GetResult r = check(name, type, size, &p);
        if (r == GetResult::Ok) std::memcpy(out, p->field, size);
        return r;
    }

    template <class T>
    SetResult set(const char* name, const T& value) const {
        return setBytes(name, ParamTypeOf<T>::value, &value, sizeof value);
    }
    // A bool is written as the byte 0 or 1, whatever the host's bool is.
    SetResult set(const char* name, bool value) const {
        unsigned char byte = value ? 1 : 0;
        return setBytes(name, ParamType::Bool, &byte, 1);
    }

    template <class T>
    GetResult get(const char* name, T* out) const {
        return getBytes(name, ParamTypeOf<T>::value, out, sizeof *out);
    }
    // Any non-zero byte reads as true, as the library reads it.
    GetResult get(const char* name, bool* out) const {
        unsigned char byte = 0;
        GetResult r = getBytes(name, ParamType::Bool, &byte, 1);
        if (r == GetResult::Ok) *out = byte != 0;
        return r;
    }

    // Binds `texture` (null: none) to a texture parameter of any of the three
    // types; the handle's two integers stay as they are, for the host's own use.
    SetResult bindTexture(const char* name, ITextureObject* texture) const {
        const ParamDeclaration* p = nullptr;
        SetResult r = check(name, ParamType::Texture2D, sizeof(TextureHandle), &p);
        if (r == SetResult::Ok) static_cast<TextureHandle*>(p->field)->object = texture;
        return r;
    }

    void declareCapabilities(IShaderBase*, uint32_t mask) override { capabilities = mask; }
    void declareBool(IShaderBase*, const char* n, bool* f) override { add(n, ParamType::Bool, f); }
    void declareInt(IShaderBase*, const char* n, int32_t* f) override { add(n, ParamType::Int, f); }
    void declareFloat(IShaderBase*, const char* n, float* f) override {
        add(n, ParamType::Float, f);
    }
    void declareFloat2(IShaderBase*, const char* n, float2* f) override {
        add(n, ParamType::Float2, f);
    }
    void declareFloat3(IShaderBase*, const char* n, float3* f) override {
        add(n, ParamType::Float3, f);
    }
    void declareFloat4(IShaderBase*, const char* n, float4* f) override {
        add(n, ParamType::Float4, f);
    }
    void declareMatrix3(IShaderBase*, const char* n, matrix3* f) override {
        add(n, ParamType::Matrix3, f);
    }
    void declareMatrix4(IShaderBase*, const char* n, matrix4* f) override {
        add(n, ParamType::Matrix4, f);
    }
    void declareTextureB(IShaderBase*, const char* n, TextureHandle* f) override {
        add(n, ParamType::TextureB, f);
    }
    void declareTexture2D(IShaderBase*, const char* n, TextureHandle* f) override {
        add(n, ParamType::Texture2D, f);
    }
    void declareTextureCube(IShaderBase*, const char* n, TextureHandle* f) override {
        add(n, ParamType::TextureCube, f);
    }
    void declareVertexAttribute(IShaderBase*, int32_t kind, const char* n,
                                int32_t offset) override {
        attributes.push_back({n ? n : "", kind, offset});
    }

  private:
    // A null name (a faulty plug-in) is kept as "", so lookups never read through null.
    void add(const char* name, ParamType type, void* field) {
        parameters.push_back({name ? name : "", type, field});
    }
    SetResult check(const char* name, ParamType type, size_t size,
                    const ParamDeclaration** out) const {
        const ParamDeclaration* p = find(name);
        if (!p) return SetResult::UnknownName;
        bool sameType = p->type == type || (isTextureType(p->type) && isTextureType(type));
        if (!sameType || size != paramTypeSize(p->type)) return SetResult::WrongType;
        *out = p;
        return SetResult::Ok;
    }
};

}  // namespace pxs

// A parameter registry that records every declaration in order, so tools can list
// a shader's parameters and tests can check names, types, defaults and offsets.
// Unlike pxs::ParameterTable it keeps the capability mask and the attributes in
// their place in the order, repeated declarations included, with the object that
// made each one: what the contract tests and the goldens check.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vesper/parameters.h"
#include "vesper/vesper.h"

namespace vhost {

// What a declaration declares.
enum class Declared { Capabilities, Parameter, Attribute };

struct Declaration {
    Declared what = Declared::Parameter;
    pxs::ParamType type = pxs::ParamType::Bool;  // parameters only
    std::string name;                            // empty for the capability mask
    void* field = nullptr;                       // parameters only
    pxs::IShaderBase* shader = nullptr;
    uint32_t mask = 0;            // capabilities only
    int32_t attributeKind = 0;    // attributes only
    int32_t attributeOffset = 0;  // attributes only

    bool isParameter() const { return what == Declared::Parameter; }
    // The field's current value, read through the registered address.
    template <class T>
    T value() const {
        T v;
        std::memcpy(&v, field, sizeof v);
        return v;
    }
    // The current value as text: "true", "3", "0.5", "(1, 0.5, 0.1)", "texture(null, -1)".
    std::string valueText() const;
};

class RecordingRegistry final : public pxs::IParameterRegistry {
  public:
    std::vector<Declaration> declarations;

    // Capability mask of the first declaration; 0 when none was made.
    uint32_t capabilities() const;
    std::vector<const Declaration*> parameters() const;
    std::vector<const Declaration*> attributes() const;
    // Parameter names (attributes excluded) in registration order.
    std::vector<std::string> parameterNames() const;
    // The parameter or attribute called `name`, or null.
    const Declaration* find(const std::string& name) const;
    // Address of parameter `name` as T*, or null; for tests that set parameters.
    template <class T>
    T* field(const std::string& name) const {
        const Declaration* d = find(name);
        return d && d->isParameter() ? static_cast<T*>(d->field) : nullptr;
    }

    void declareCapabilities(pxs::IShaderBase* s, uint32_t mask) override;
    void declareBool(pxs::IShaderBase* s, const char* n, bool* f) override;
    void declareInt(pxs::IShaderBase* s, const char* n, int32_t* f) override;
    void declareFloat(pxs::IShaderBase* s, const char* n, float* f) override;
    void declareFloat2(pxs::IShaderBase* s, const char* n, pxs::float2* f) override;
    void declareFloat3(pxs::IShaderBase* s, const char* n, pxs::float3* f) override;
    void declareFloat4(pxs::IShaderBase* s, const char* n, pxs::float4* f) override;
    void declareMatrix3(pxs::IShaderBase* s, const char* n, pxs::matrix3* f) override;
    void declareMatrix4(pxs::IShaderBase* s, const char* n, pxs::matrix4* f) override;
    void declareTextureB(pxs::IShaderBase* s, const char* n, pxs::TextureHandle* f) override;
    void declareTexture2D(pxs::IShaderBase* s, const char* n, pxs::TextureHandle* f) override;
    void declareTextureCube(pxs::IShaderBase* s, const char* n, pxs::TextureHandle* f) override;
    void declareVertexAttribute(pxs::IShaderBase* s, int32_t kind, const char* n,
                                int32_t offset) override;

  private:
    void add(pxs::ParamType t, pxs::IShaderBase* s, const char* n, void* f);
};

}  // namespace vhost

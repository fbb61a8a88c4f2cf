// The reference host's parameter registry: keeps, for one shader object, its
// capability mask, every registered parameter (name, type, field address) and the
// vertex attributes it wants, so that scenes can set parameters by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vesper/vesper.h"

namespace vref {

enum class ParamType {
    Bool,
    Int,
    Float,
    Float2,
    Float3,
    Float4,
    Matrix3,
    Matrix4,
    TextureB,
    Texture2D,
    TextureCube,
};

const char* paramTypeName(ParamType t);
bool isTexture(ParamType t);

struct Parameter {
    std::string name;
    ParamType type;
    void* field;
};

struct Attribute {
    std::string name;
    int32_t kind;    // pxs::AttributeKind
    int32_t offset;  // byte offset inside ShadingState::attributes
};

// A value a scene gives to a parameter, before it is checked against the type.
struct ParamValue {
    enum class Kind { Bool, Number, Numbers, Texture } kind = Kind::Number;
    bool boolean = false;
    double number = 0.0;
    std::vector<float> numbers;
    pxs::ITextureObject* texture = nullptr;
    bool cube = false;  // the texture is a cube (environment) map

    static ParamValue ofBool(bool b);
    static ParamValue ofNumber(double x);
    static ParamValue ofNumbers(std::vector<float> v);
    static ParamValue ofTexture(pxs::ITextureObject* t, bool cube);
};

class ParameterRegistry final : public pxs::IParameterRegistry {
  public:
    uint32_t capabilities = 0;
    std::vector<Parameter> parameters;
    std::vector<Attribute> attributes;

    const Parameter* find(const std::string& name) const;
    // Writes `value` into parameter `name`. Returns "" on success, otherwise a
    // message saying what is wrong (unknown name, or the type the field expects).
    std::string set(const std::string& name, const ParamValue& value) const;
    // Sets every matrix parameter to the identity: constructors leave matrices to
    // the host, and the identity is the neutral transform.
    void initialiseMatrices() const;

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
    void add(const char* name, ParamType type, void* field);
};

}  // namespace vref

// The reference host's parameter registry: keeps, for one shader object, its
// capability mask, every registered parameter (name, type, field address) and the
// vertex attributes it wants, so that scenes can set parameters by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vesper/parameters.h"
#include "vesper/vesper.h"

namespace vref {

struct Parameter {
    std::string name;
    pxs::ParamType type;
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

// What one shader object declared, with names owned by the host.
class ParameterRegistry {
  public:
    uint32_t capabilities = 0;
    std::vector<Parameter> parameters;
    std::vector<Attribute> attributes;

    // Records what `object` declares; a name the library gives as null is "".
    void declare(pxs::IShaderBase* object);
    const Parameter* find(const std::string& name) const;
    // Writes `value` into parameter `name`. Returns "" on success, otherwise a
    // message saying what is wrong (unknown name, or the type the field expects).
    std::string set(const std::string& name, const ParamValue& value) const;
    // Sets every matrix parameter to the identity: constructors leave matrices to
    // the host, and the identity is the neutral transform.
    void initialiseMatrices() const;
};

}  // namespace vref

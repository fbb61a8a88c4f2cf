#include "host/reference/registry.h"

#include <cmath>
#include <cstring>

#include "host/slots.h"

namespace vref {

using pxs::ParamType;

ParamValue ParamValue::ofBool(bool b) {
    ParamValue v;
    v.kind = Kind::Bool;
    v.boolean = b;
    return v;
}
ParamValue ParamValue::ofNumber(double x) {
    ParamValue v;
    v.kind = Kind::Number;
    v.number = x;
    return v;
}
ParamValue ParamValue::ofNumbers(std::vector<float> n) {
    ParamValue v;
    v.kind = Kind::Numbers;
    v.numbers = std::move(n);
    return v;
}
ParamValue ParamValue::ofTexture(pxs::ITextureObject* t, bool cube) {
    ParamValue v;
    v.kind = Kind::Texture;
    v.texture = t;
    v.cube = cube;
    return v;
}

namespace {

size_t floatCount(ParamType t) {
    switch (t) {
        case ParamType::Float2:
            return 2;
        case ParamType::Float3:
            return 3;
        case ParamType::Float4:
            return 4;
        case ParamType::Matrix3:
            return 9;
        case ParamType::Matrix4:
            return 16;
        default:
            return 1;
    }
}

std::string expected(const Parameter& p) {
    std::string what;
    switch (p.type) {
        case ParamType::Bool:
            what = "true or false";
            break;
        case ParamType::Int:
            what = "an integer";
            break;
        case ParamType::Float:
            what = "a number";
            break;
        case ParamType::Float3:
            what = "an array of 3 numbers (or one number for a grey)";
            break;
        case ParamType::TextureCube:
            what = "the name of a cube (environment) texture";
            break;
        case ParamType::Texture2D:
        case ParamType::TextureB:
            what = "the name of a 2D texture";
            break;
        default:
            what = "an array of " + std::to_string(floatCount(p.type)) + " numbers";
            break;
    }
    return "parameter \"" + p.name + "\" is " + pxs::paramTypeName(p.type) + " and expects " + what;
}

}  // namespace

const Parameter* ParameterRegistry::find(const std::string& name) const {
    for (const Parameter& p : parameters) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

std::string ParameterRegistry::set(const std::string& name, const ParamValue& v) const {
    const Parameter* p = find(name);
    if (!p) return "unknown parameter \"" + name + "\"";
    using K = ParamValue::Kind;
    switch (p->type) {
        case ParamType::Bool:
            if (v.kind != K::Bool) return expected(*p);
            *static_cast<bool*>(p->field) = v.boolean;
            return "";
        case ParamType::Int:
            if (v.kind != K::Number || v.number != std::floor(v.number) ||
                std::fabs(v.number) > 2147483647.0) {
                return expected(*p);
            }
            *static_cast<int32_t*>(p->field) = static_cast<int32_t>(v.number);
            return "";
        case ParamType::Float:
            if (v.kind != K::Number) return expected(*p);
            *static_cast<float*>(p->field) = static_cast<float>(v.number);
            return "";
        case ParamType::Float2:
        case ParamType::Float3:
        case ParamType::Float4:
        case ParamType::Matrix3:
        case ParamType::Matrix4: {
            size_t n = floatCount(p->type);
            if (p->type == ParamType::Float3 && v.kind == K::Number) {
                float g = static_cast<float>(v.number);
                float rgb[3] = {g, g, g};
                std::memcpy(p->field, rgb, sizeof rgb);
                return "";
            }
            if (v.kind != K::Numbers || v.numbers.size() != n) return expected(*p);
            std::memcpy(p->field, v.numbers.data(), n * sizeof(float));
            return "";
        }
        case ParamType::TextureB:
        case ParamType::Texture2D:
        case ParamType::TextureCube: {
            bool wantCube = p->type == ParamType::TextureCube;
            if (v.kind != K::Texture || v.cube != wantCube) return expected(*p);
            auto* h = static_cast<pxs::TextureHandle*>(p->field);
            h->object = v.texture;
            h->id = 0;
            h->hostData = 0;
            return "";
        }
    }
    return expected(*p);
}

void ParameterRegistry::initialiseMatrices() const {
    for (const Parameter& p : parameters) {
        if (p.type == ParamType::Matrix3) {
            pxs::matrix3 m = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
            std::memcpy(p.field, &m, sizeof m);
        } else if (p.type == ParamType::Matrix4) {
            pxs::matrix4 m = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
            std::memcpy(p.field, &m, sizeof m);
        }
    }
}

void ParameterRegistry::declare(pxs::IShaderBase* object) {
    pxs::ParameterTable table;
    vhost::declareParameters(object, &table);
    capabilities = table.capabilities;
    for (const pxs::ParamDeclaration& p : table.parameters) {
        parameters.push_back({p.name ? p.name : "", p.type, p.field});
    }
    for (const pxs::AttributeDeclaration& a : table.attributes) {
        attributes.push_back({a.name ? a.name : "", a.kind, a.offset});
    }
}

}  // namespace vref

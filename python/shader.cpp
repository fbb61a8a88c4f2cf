#include "python/shader.h"

#include <cfloat>
#include <cmath>
#include <vector>

#include "host/class_info.h"
#include "host/reference/registry.h"
#include "host/slots.h"
#include "python/convert.h"

namespace vpy {

namespace {

size_t floatCount(pxs::ParamType t) {
    return pxs::paramTypeSize(t) / sizeof(float);
}

bool isMatrix(pxs::ParamType t) {
    return t == pxs::ParamType::Matrix3 || t == pxs::ParamType::Matrix4;
}

// What the scene loader says of a value the parameter does not take: the
// registry's own text, asked with a value no field accepts.
std::string expected(const vref::ShaderInstance& s, const std::string& name) {
    const vref::Parameter* p = s.registry.find(name);
    vref::ParamValue wrong;
    wrong.kind = vref::ParamValue::Kind::Texture;
    wrong.cube = p && p->type != pxs::ParamType::TextureCube;
    return s.registry.set(name, wrong);
}

float checkedFloat(double d, py::handle v, const std::string& where, const std::string& name) {
    if (!(std::fabs(d) <= FLT_MAX)) {
        throw ParameterError(where + ": \"" + name + "\" holds " + std::string(py::repr(v)) +
                             ", beyond the range of a float");
    }
    return static_cast<float>(d);
}

}  // namespace

Shader::Shader(std::shared_ptr<LibraryContext> lib, const std::string& className)
    : lib_(std::move(lib)) {
    const vhost::Library& l = lib_->library();
    lib_->checkExported(className);
    int32_t version = l.apiVersion(className);
    if (version != pxs::kApiVersion) {
        throw Error("class \"" + className + "\" has API version " + std::to_string(version) +
                    ", expected " + std::to_string(pxs::kApiVersion));
    }
    vhost::ShaderPtr obj = l.create(className);
    if (!obj) throw Error("cannot create \"" + className + "\"");
    pxs::IShaderBase* raw = obj.get();
    // Declared as the scene loader declares it: every matrix starts as the identity.
    instance_ = vref::declareShader(className, className, raw, std::move(obj));
    vhost::declareParameters(raw, &table_);
}

const pxs::ParamDeclaration* Shader::declaration(const std::string& name) const {
    const pxs::ParamDeclaration* p = table_.find(name.c_str());
    if (!p) {
        throw ParameterError("unknown parameter \"" + name + "\" of class \"" + className() + "\"");
    }
    return p;
}

std::unique_lock<std::shared_mutex> Shader::exclusive() {
    std::unique_lock<std::shared_mutex> lock(busy_, std::try_to_lock);
    if (!lock.owns_lock()) {
        // Per-hit calls run without the GIL: let them finish while waiting.
        py::gil_scoped_release release;
        lock.lock();
    }
    return lock;
}

py::object Shader::get(const std::string& name) const {
    const pxs::ParamDeclaration* p = declaration(name);
    if (pxs::isTextureType(p->type)) {
        auto it = textures_.find(name);
        return it != textures_.end() ? py::object(py::str(it->second)) : py::object(py::none());
    }
    unsigned char bytes[sizeof(pxs::matrix4)];
    table_.getBytes(p->name, p->type, bytes, pxs::paramTypeSize(p->type));
    // The form of the class description's defaults; matrices as numpy arrays.
    py::object value = toPython(vhost::typedValue(p->type, bytes));
    if (isMatrix(p->type)) {
        py::ssize_t side = p->type == pxs::ParamType::Matrix3 ? 3 : 4;
        return py::array_t<float>(value).attr("reshape")(side, side);
    }
    return py::isinstance<py::list>(value) ? py::object(py::tuple(value)) : value;
}

py::dict Shader::values() const {
    py::dict out;
    for (const pxs::ParamDeclaration& p : table_.parameters) out[p.name] = get(p.name);
    return out;
}

void Shader::set(const std::string& name, py::handle value) {
    const pxs::ParamDeclaration* p = declaration(name);
    if (pxs::isTextureType(p->type)) return setTexture(*p, value);
    if (p->type == pxs::ParamType::Float2 || p->type == pxs::ParamType::Float3 ||
        p->type == pxs::ParamType::Float4 || isMatrix(p->type)) {
        return setFloats(*p, value);
    }
    double d = 0.0;
    bool number = realNumber(value, &d);
    if (p->type == pxs::ParamType::Bool && isBool(value)) {
        bool b = value.cast<bool>();
        auto lock = exclusive();
        table_.set(p->name, b);
    } else if (p->type == pxs::ParamType::Int && number && d == std::floor(d) &&
               std::fabs(d) <= 2147483647.0) {
        auto lock = exclusive();
        table_.set(p->name, static_cast<int32_t>(d));
    } else if (p->type == pxs::ParamType::Float && number) {
        float f = checkedFloat(d, value, className(), name);
        auto lock = exclusive();
        table_.set(p->name, f);
    } else {
        throw ParameterError(className() + ": " + expected(*instance_, name));
    }
}

void Shader::setFloats(const pxs::ParamDeclaration& p, py::handle value) {
    const std::string name = p.name;
    const size_t n = floatCount(p.type);
    std::vector<float> f(n);
    double grey = 0.0;
    if (p.type == pxs::ParamType::Float3 && realNumber(value, &grey)) {
        f.assign(3, checkedFloat(grey, value, className(), name));
    } else {
        py::array a;
        bool ok = !py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) &&
                  !py::isinstance<py::dict>(value);
        if (ok) {
            try {
                a = py::module_::import("numpy").attr("asarray")(value);
            } catch (const py::error_already_set&) {
                ok = false;
            }
        }
        char kind = ok ? a.dtype().kind() : 'O';
        size_t side = n == 9 ? 3 : 4;
        bool shaped = ok && (a.ndim() == 1 || (isMatrix(p.type) && a.ndim() == 2 &&
                                               a.shape(0) == static_cast<py::ssize_t>(side) &&
                                               a.shape(1) == static_cast<py::ssize_t>(side)));
        if (!(kind == 'f' || kind == 'i' || kind == 'u') || !shaped ||
            static_cast<size_t>(a.size()) != n) {
            throw ParameterError(className() + ": " + expected(*instance_, name));
        }
        py::list items = a.attr("ravel")().attr("tolist")();
        for (size_t i = 0; i < n; ++i) {
            f[i] = checkedFloat(items[i].cast<double>(), items[i], className(), name);
        }
    }
    auto lock = exclusive();
    table_.setBytes(p.name, p.type, f.data(), n * sizeof(float));
}

void Shader::setTexture(const pxs::ParamDeclaration& p, py::handle value) {
    const std::string name = p.name;
    pxs::ITextureObject* texture = nullptr;
    std::string file;
    if (!value.is_none()) {
        bool pathLike = py::isinstance<py::str>(value) || py::hasattr(value, "__fspath__");
        if (!pathLike) throw ParameterError(className() + ": " + expected(*instance_, name));
        file = py::str(py::module_::import("os").attr("fspath")(value)).cast<std::string>();
        texture = lib_->texture(file, p.type == pxs::ParamType::TextureCube,
                                className() + ": parameter \"" + name + "\"");
    }
    auto lock = exclusive();
    table_.bindTexture(p.name, texture);
    if (texture) {
        textures_[name] = file;
    } else {
        textures_.erase(name);
    }
}

}  // namespace vpy

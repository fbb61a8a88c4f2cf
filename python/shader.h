// A shader object made from a loaded plug-in: its parameters read and written
// by name as typed Python values, each write checked against the registered type
// and size (pxs::ParameterTable), and the BSDF operations of materials over numpy
// arrays. Destroyed through the contract's slot 0 with the Python object.
#pragma once

#include <map>
#include <memory>
#include <shared_mutex>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "host/reference/scene.h"
#include "python/library.h"
#include "vesper/parameters.h"

namespace vpy {

namespace py = pybind11;

// The arrays of evaluate and sample, as Python gives them.
struct BsdfArguments {
    py::object view, direction, normal, tangent, position, seeds;
    py::object count;    // rows when every array is one vector, or None
    py::object seed;     // the render settings' seed
    py::object threads;  // 0: every core
};

class Shader {
  public:
    // Throws Error for a class that is not exported, answers another API version
    // or cannot be created.
    Shader(std::shared_ptr<LibraryContext> lib, const std::string& className);

    const std::string& className() const { return instance_->className; }
    LibraryContext& library() const { return *lib_; }

    // Throws ParameterError naming the parameter.
    py::object get(const std::string& name) const;
    void set(const std::string& name, py::handle value);
    bool has(const std::string& name) const { return table_.find(name.c_str()) != nullptr; }
    // Every parameter's current value, in registration order.
    py::dict values() const;

    // {"value", "cosine", "weight", "kind"} (and "direction" when sampling), one row
    // per hit. Throws ValueError or Error for arrays that do not fit.
    py::dict evaluate(const BsdfArguments& args);
    py::dict sample(const BsdfArguments& args);

  private:
    void checkOperation(bool sample) const;
    py::dict run(const BsdfArguments& args, bool sample);
    // Throws ParameterError for a name the class does not declare.
    const pxs::ParamDeclaration* declaration(const std::string& name) const;
    std::unique_lock<std::shared_mutex> exclusive();
    void setTexture(const pxs::ParamDeclaration& p, py::handle value);
    void setFloats(const pxs::ParamDeclaration& p, py::handle value);

    std::shared_ptr<LibraryContext> lib_;
    std::unique_ptr<vref::ShaderInstance> instance_;
    pxs::ParameterTable table_;
    std::map<std::string, std::string> textures_;  // parameter -> bound file
    // Per-hit calls share it; parameter writes take it alone.
    mutable std::shared_mutex busy_;
};

}  // namespace vpy

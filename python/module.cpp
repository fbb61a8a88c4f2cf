// The Python module `vesper`: docs/python.md describes it.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "python/convert.h"
#include "python/images.h"
#include "python/library.h"
#include "python/render.h"
#include "python/shader.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

using vpy::LibraryContext;
using vpy::Shader;

// A class description in Python values; the probe behind it runs without the GIL.
py::object description(LibraryContext& lib, const std::string& className) {
    const nlohmann::json* d = nullptr;
    {
        py::gil_scoped_release release;
        d = &lib.describe(className);
    }
    return vpy::toPython(*d);
}

std::shared_ptr<LibraryContext> openLibrary(const py::object& path) {
    std::string p =
        path.is_none()
            ? LibraryContext::defaultPath()
            : py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
    return std::make_shared<LibraryContext>(p);
}

std::unique_ptr<Shader> create(const std::shared_ptr<LibraryContext>& lib,
                               const std::string& className, const py::kwargs& params) {
    auto shader = std::make_unique<Shader>(lib, className);
    for (auto item : params) shader->set(item.first.cast<std::string>(), item.second);
    return shader;
}

py::array_t<float> render(LibraryContext& lib, py::object scene, py::object width,
                          py::object height, py::object spp, py::object mode, py::object seed,
                          py::object threads, py::object region, py::object frame,
                          py::object progress, py::object baseDir) {
    vpy::RenderArguments a{width, height, spp, mode, seed, threads, region, frame, progress, ""};
    if (!baseDir.is_none()) a.baseDir = py::str(py::module_::import("os").attr("fspath")(baseDir));
    return vpy::render(lib, scene, a);
}

vpy::BsdfArguments bsdfArguments(py::object view, py::object direction, py::object normal,
                                 py::object tangent, py::object position, py::object seeds,
                                 py::object count, py::object seed, py::object threads) {
    return {view, direction, normal, tangent, position, seeds, count, seed, threads};
}

void bindShader(py::module_& m) {
    py::class_<Shader>(m, "Shader", "A shader object; made by Library.create.")
        .def_property_readonly("class_name", &Shader::className)
        .def_property_readonly(
            "info", [](const Shader& s) { return description(s.library(), s.className()); },
            "The class description: kind, capabilities, parameters, attributes.")
        .def_property_readonly("params", &Shader::values,
                               "Every parameter's current value, in registration order.")
        .def("__getitem__", &Shader::get)
        .def("__setitem__", &Shader::set)
        .def("__contains__", &Shader::has)
        .def(
            "set",
            [](Shader& s, const py::kwargs& params) {
                for (auto item : params) s.set(item.first.cast<std::string>(), item.second);
            },
            "Writes several parameters by name.")
        .def(
            "evaluate",
            [](Shader& s, py::object view, py::object direction, py::object normal,
               py::object tangent, py::object position, py::object seeds, py::object seed,
               py::object threads) {
                return s.evaluate(bsdfArguments(view, direction, normal, tangent, position, seeds,
                                                py::none(), seed, threads));
            },
            "view"_a, "direction"_a, py::kw_only(), "normal"_a = py::none(),
            "tangent"_a = py::none(), "position"_a = py::none(), "seeds"_a = py::none(),
            "seed"_a = 1, "threads"_a = 0,
            "evaluateBsdf for each row: {'value', 'cosine', 'weight', 'kind'}.")
        .def(
            "sample",
            [](Shader& s, py::object view, py::object normal, py::object tangent,
               py::object position, py::object seeds, py::object count, py::object seed,
               py::object threads) {
                return s.sample(bsdfArguments(view, py::none(), normal, tangent, position, seeds,
                                              count, seed, threads));
            },
            "view"_a, py::kw_only(), "normal"_a = py::none(), "tangent"_a = py::none(),
            "position"_a = py::none(), "seeds"_a = py::none(), "count"_a = py::none(), "seed"_a = 1,
            "threads"_a = 0,
            "sampleBsdf for each row: {'direction', 'value', 'cosine', 'weight', 'kind'}.")
        .def("__repr__", [](const Shader& s) { return "<vesper.Shader " + s.className() + ">"; });
}

void bindLibrary(py::module_& m) {
    py::class_<LibraryContext, std::shared_ptr<LibraryContext>>(
        m, "Library", "The shader library plug-in, loaded as a host loads it.")
        .def(py::init(&openLibrary), "path"_a = py::none())
        .def_property_readonly("path", [](const LibraryContext& l) { return l.library().path(); })
        .def_property_readonly(
            "classes",
            [](LibraryContext& l) {
                py::dict out;
                for (const std::string& name : l.library().classes()) {
                    out[py::str(name)] = description(l, name);
                }
                return out;
            },
            "Every exported class's description, by name.")
        .def("create", &create, "class_name"_a, "Creates an object of the class and sets params.")
        .def("render", &render, "scene"_a, py::kw_only(), "width"_a = py::none(),
             "height"_a = py::none(), "spp"_a = py::none(), "mode"_a = py::none(),
             "seed"_a = py::none(), "threads"_a = py::none(), "region"_a = py::none(),
             "frame"_a = py::none(), "progress"_a = py::none(), "base_dir"_a = py::none(),
             "Renders a scene (a dict in the scene format, or a file) as vesper-render does, "
             "into (height, width, 4) float32 linear RGBA.")
        .def("__repr__",
             [](const LibraryContext& l) { return "<vesper.Library " + l.library().path() + ">"; });
}

}  // namespace

PYBIND11_MODULE(vesper, m) {
    m.doc() = "The vesperShaders plug-in and its reference host from Python (docs/python.md).";
    // Now rather than inside a call, where Ctrl-C could stop its import half-way.
    py::module_::import("numpy");
    py::object error = py::register_exception<vpy::Error>(m, "Error", PyExc_ValueError);
    py::register_exception<vpy::ParameterError>(m, "ParameterError", error.ptr());
    py::register_exception<vpy::SceneError>(m, "SceneError", error.ptr());
    m.attr("API_VERSION") = pxs::kApiVersion;
    bindShader(m);
    bindLibrary(m);
    m.def(
        "render",
        [](py::object scene, py::object library, const py::kwargs& options) {
            py::object lib = library.is_none() ? py::cast(openLibrary(py::none())) : library;
            return lib.attr("render")(scene, **options);
        },
        "scene"_a, py::kw_only(), "library"_a = py::none(),
        "Library(library).render(scene, **options), with the built library by default.");
    m.def("write_image", &vpy::writeImage, "path"_a, "pixels"_a,
          "Writes (height, width, 4) linear RGBA as vesper-render does: .png sRGB, .exr linear.");
    m.def("read_image", &vpy::readImage, "path"_a, "Reads an image as (height, width, channels).");
}

// vesper.render: a scene rendered by the reference host as vesper-render renders
// a scene file, into a float32 numpy array.
#pragma once

#include <memory>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "python/library.h"

namespace vpy {

namespace py = pybind11;

struct RenderArguments {
    // The overrides of the scene's "render" block; None keeps the scene's value.
    py::object width, height, spp, mode, seed, threads;
    py::object region;    // None, or (x0, y0, x1, y1)
    py::object frame;     // None, or a frame of an animation or wedge
    py::object progress;  // None, or called with (tiles done, tiles in all)
    std::string baseDir;  // where a scene given as a dict finds its files
};

// `scene` is a dict in the scene format or the path of a scene file. Returns
// (height, width, 4) linear RGBA of the frame, or of the region. Throws
// SceneError or Error with the loader's messages; a KeyboardInterrupt (or an
// exception from `progress`) stops the render and is raised.
py::array_t<float> render(LibraryContext& lib, py::handle scene, const RenderArguments& args);

}  // namespace vpy

// Images as numpy arrays: written as vesper-render writes them, read through
// OpenImageIO.
#pragma once

#include <string>

#include <pybind11/numpy.h>

namespace vpy {

namespace py = pybind11;

// (height, width, 4) linear RGBA: .png 8-bit sRGB, .exr linear half floats, whole
// or not at all. Throws Error with the writer's message.
void writeImage(const std::string& path, py::handle pixels);

// (height, width, channels) float32, rows from the top. Throws Error.
py::array_t<float> readImage(const std::string& path);

}  // namespace vpy

// Images as numpy arrays, written and read as vesper-render and vesper-merge
// write and read them.
#pragma once

#include <string>

#include <pybind11/numpy.h>

#include "host/reference/image_io.h"

namespace vpy {

namespace py = pybind11;

// The image's pixels as (height, width, 4) float32, without a copy.
py::array_t<float> toArray(vref::Image&& image);

// (height, width, 4) linear RGBA: .png 8-bit sRGB, .exr linear half floats, whole
// or not at all. Throws Error with the writer's message.
void writeImage(const std::string& path, py::handle pixels);

// What writeImage wrote (an RGBA EXR, or an 8-bit image whose codes become the
// linear values written as them) as (height, width, 4) float32, rows from the
// top; a region's pixels only. Throws Error.
py::array_t<float> readImage(const std::string& path);

}  // namespace vpy

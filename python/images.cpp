#include "python/images.h"

#include <vector>

#include "host/reference/image_io.h"
#include "python/convert.h"

namespace vpy {

void writeImage(const std::string& path, py::handle pixels) {
    using Array = py::array_t<float, py::array::c_style | py::array::forcecast>;
    Array a = Array::ensure(pixels);
    if (!a || a.ndim() != 3 || a.shape(2) != 4 || a.shape(0) < 1 || a.shape(1) < 1) {
        throw py::value_error("pixels expects an array of shape (height, width, 4)");
    }
    vref::Image image;
    image.width = image.fullWidth = static_cast<int>(a.shape(1));
    image.height = image.fullHeight = static_cast<int>(a.shape(0));
    image.rgba.assign(a.data(), a.data() + a.size());
    std::string err = vref::checkOutput(path);
    if (err.empty()) {
        py::gil_scoped_release release;
        err = vref::writeImage(image, path);
    }
    if (!err.empty()) throw Error(err);
}

py::array_t<float> toArray(vref::Image&& image) {
    auto* pixels = new std::vector<float>(std::move(image.rgba));
    py::capsule owner(pixels, [](void* p) { delete static_cast<std::vector<float>*>(p); });
    return py::array_t<float>({py::ssize_t{image.height}, py::ssize_t{image.width}, py::ssize_t{4}},
                              pixels->data(), owner);
}

py::array_t<float> readImage(const std::string& path) {
    vref::ImageFile file;
    try {
        py::gil_scoped_release release;
        file = vref::readImage(path);
    } catch (const vref::ImageError& e) {
        throw Error(e.what());
    }
    return toArray(std::move(file.image));
}

}  // namespace vpy

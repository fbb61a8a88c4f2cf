#include "python/images.h"

#include <OpenImageIO/imageio.h>

#include "host/reference/limits.h"
#include "host/reference/renderer.h"
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

py::array_t<float> readImage(const std::string& path) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw Error("cannot read " + path + ": " + OIIO::geterror());
    const OIIO::ImageSpec& spec = in->spec();
    int64_t pixels = int64_t{spec.width} * spec.height;
    if (spec.width < 1 || spec.height < 1 || spec.nchannels < 1 || spec.depth > 1 ||
        pixels > vref::kMaxTexturePixels) {
        throw Error("cannot read " + path + ": not an image of at most " +
                    std::to_string(vref::kMaxTexturePixels) + " pixels");
    }
    py::array_t<float> out(
        {py::ssize_t{spec.height}, py::ssize_t{spec.width}, py::ssize_t{spec.nchannels}});
    float* data = out.mutable_data();
    bool ok = false;
    {
        py::gil_scoped_release release;
        ok = in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, data);
    }
    if (!ok) throw Error("cannot read " + path + ": " + in->geterror());
    return out;
}

}  // namespace vpy

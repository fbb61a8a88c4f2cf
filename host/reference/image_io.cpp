#include "host/reference/image_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "host/json_reader.h"

namespace vref {

namespace {

float srgbEncode(float x) {
    x = x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
    return x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 1.0f / 2.4f) - 0.055f;
}

// The smallest value of each code 1 to 255, found by bisection over the bit
// patterns of the floats in [0, 1] with the formula itself.
struct SrgbThresholds {
    float first[255];
    SrgbThresholds() {
        const uint32_t one = 0x3f800000u;  // the bits of 1.0f
        for (int code = 1; code <= 255; ++code) {
            uint32_t lo = 0, hi = one;
            while (lo < hi) {
                uint32_t mid = lo + (hi - lo) / 2;
                float x;
                std::memcpy(&x, &mid, sizeof x);
                if (srgbByteExact(x) >= code) {
                    hi = mid;
                } else {
                    lo = mid + 1;
                }
            }
            std::memcpy(&first[code - 1], &lo, sizeof lo);
        }
    }
};

}  // namespace

unsigned char srgbByteExact(float linear) {
    return static_cast<unsigned char>(std::lround(srgbEncode(linear) * 255.0f));
}

// The code rises with the value, so it is the number of codes whose smallest
// value the value reaches: eight comparisons instead of a power.
unsigned char srgbByte(float linear) {
    static const SrgbThresholds thresholds;
    if (!(linear > 0.0f)) return 0;
    const float* t = thresholds.first;
    return static_cast<unsigned char>(std::upper_bound(t, t + 255, linear) - t);
}

namespace {

std::string lowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string systemError(int code) {
    return std::error_code(code, std::generic_category()).message();
}

// The frame an image lies in: its own size unless it says otherwise.
void frameSize(const Image& image, int* width, int* height) {
    *width = image.fullWidth > 0 ? image.fullWidth : image.width;
    *height = image.fullHeight > 0 ? image.fullHeight : image.height;
}

// Encodes the image in memory in the format the extension of `path` names.
std::string encode(const Image& image, const std::string& path, const ImageMetadata& meta,
                   std::vector<unsigned char>* bytes) {
    std::string ext = lowerExtension(path);
    auto out = OIIO::ImageOutput::create(path);
    if (!out) return "unknown image format \"" + ext + "\"";
    OIIO::Filesystem::IOVecOutput memory(*bytes);
    out->set_ioproxy(&memory);
    bool ok;
    if (ext == ".exr" || ext == ".hdr") {
        bool half = ext == ".exr" && !meta.tile;
        OIIO::ImageSpec spec(image.width, image.height, 4,
                             half ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
        spec.x = image.x;
        spec.y = image.y;
        frameSize(image, &spec.full_width, &spec.full_height);
        for (auto it = meta.attributes.begin(); it != meta.attributes.end(); ++it) {
            std::string name = "vesper:" + it.key();
            if (it->is_number_integer()) {
                spec.attribute(name, it->get<int>());
            } else {
                spec.attribute(name, it->is_string() ? it->get<std::string>() : it->dump());
            }
        }
        ok = out->open(path, spec) && out->write_image(OIIO::TypeDesc::FLOAT, image.rgba.data());
    } else {
        OIIO::ImageSpec spec(image.width, image.height, 3, OIIO::TypeDesc::UINT8);
        spec.attribute("oiio:ColorSpace", "sRGB");
        // Fast rather than small: five times quicker than the defaults for files a
        // sixth larger, which matters to the studio's previews.
        spec.attribute("png:compressionLevel", 1);
        spec.attribute("png:filter", 16);  // PNG_FILTER_SUB
        std::vector<unsigned char> pixels(3 * static_cast<size_t>(image.width) * image.height);
        for (size_t i = 0; i < pixels.size() / 3; ++i) {
            for (int c = 0; c < 3; ++c) {
                pixels[3 * i + c] = srgbByte(image.rgba[4 * i + c]);
            }
        }
        ok = out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, pixels.data());
    }
    ok = out->close() && ok;
    return ok ? "" : out->geterror();
}

}  // namespace

// Every byte goes to a new file beside `path`, which is renamed into place, so
// that `path` is either the whole new file or untouched.
std::string writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::filesystem::path target(path);
    std::filesystem::path dir = target.parent_path();
    std::error_code ec;
    if (!dir.empty()) std::filesystem::create_directories(dir, ec);
    if (ec) return "cannot create the directory " + dir.string() + ": " + ec.message();
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = (dir / ("." + target.filename().string() + "." + std::to_string(getpid()) + "." +
                       std::to_string(attempt) + ".tmp"))
                   .string();
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return systemError(errno);
    }
    if (fd < 0) return "cannot make a temporary file beside it";
    int error = 0;
    for (size_t done = 0; done < bytes.size() && !error;) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            error = errno;
        }
    }
    if (!error && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error) {
        unlink(temp.c_str());
        return systemError(error);
    }
    return "";
}

std::string checkOutput(const std::string& path) {
    if (path.empty()) return "no output file named";
    if (!OIIO::ImageOutput::create(path)) {
        return "cannot write " + path + ": unknown image format \"" + lowerExtension(path) + "\"";
    }
    std::error_code ec;
    std::filesystem::path p(path);
    auto st = std::filesystem::status(p, ec);
    if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st)) {
        return "cannot write " + path + ": not a regular file";
    }
    // The nearest directory that exists must take new files.
    std::filesystem::path dir = p.parent_path();
    while (!dir.empty() && !std::filesystem::exists(dir, ec)) dir = dir.parent_path();
    std::string d = dir.empty() ? "." : dir.string();
    if (!std::filesystem::is_directory(d, ec))
        return "cannot write " + path + ": " + d + " is not a directory";
    if (access(d.c_str(), W_OK | X_OK) != 0) {
        return "cannot write " + path + ": " + d + ": " + systemError(errno);
    }
    return "";
}

std::string writeImage(const Image& image, const std::string& path, const ImageMetadata& meta) {
    std::string check = checkOutput(path);
    if (!check.empty()) return check;
    std::vector<unsigned char> bytes;
    std::string err = encode(image, path, meta, &bytes);
    // Formats without EXR's header keep the placement and attributes beside the
    // image. The old sidecar goes first, so that a failed write cannot leave a
    // new image described by an old sidecar.
    bool exr = lowerExtension(path) == ".exr";
    std::string sidecar = path + ".json";
    if (err.empty() && !exr && unlink(sidecar.c_str()) != 0 && errno != ENOENT) {
        err = "cannot remove the old " + sidecar + ": " + systemError(errno);
    }
    if (err.empty()) err = writeWholeFile(path, bytes);
    if (err.empty() && !exr && (meta.tile || !meta.attributes.empty())) {
        int width, height;
        frameSize(image, &width, &height);
        nlohmann::json doc = meta.attributes;
        doc["dataWindow"] = {image.x, image.y, image.x + image.width, image.y + image.height};
        doc["fullSize"] = {width, height};
        std::string text = doc.dump(2) + "\n";
        err = writeWholeFile(sidecar, std::vector<unsigned char>(text.begin(), text.end()));
        if (!err.empty()) return "cannot write " + sidecar + ": " + err;
    }
    return err.empty() ? "" : "cannot write " + path + ": " + err;
}

std::string encodePng(const Image& image, std::vector<unsigned char>* bytes) {
    bytes->clear();
    return encode(image, "image.png", ImageMetadata(), bytes);
}

std::string encodePixels(const std::string& name, int width, int height, int channels,
                         const float* pixels, std::vector<unsigned char>* bytes) {
    bool exr = lowerExtension(name) == ".exr";
    OIIO::ImageSpec spec(width, height, channels,
                         exr ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::UINT8);
    OIIO::Filesystem::IOVecOutput memory(*bytes);
    auto out = OIIO::ImageOutput::create(name);
    if (!out) return "unknown image format \"" + lowerExtension(name) + "\"";
    out->set_ioproxy(&memory);
    bool ok = out->open(name, spec) && out->write_image(OIIO::TypeDesc::FLOAT, pixels);
    ok = out->close() && ok;
    return ok ? "" : out->geterror();
}

namespace {

using nlohmann::json;

// The linear value writeImage stores as each 8-bit code: 8-bit images go back
// into 8-bit files unchanged.
const std::vector<float>& linearOfByte() {
    static const std::vector<float> table = [] {
        std::vector<float> t(256);
        for (int b = 0; b < 256; ++b) {
            double e = b / 255.0;
            float v =
                static_cast<float>(e <= 0.04045 ? e / 12.92 : std::pow((e + 0.055) / 1.055, 2.4));
            while (srgbByte(v) < b) v = std::nextafter(v, 2.0f);
            while (srgbByte(v) > b) v = std::nextafter(v, -1.0f);
            t[b] = v;
        }
        return t;
    }();
    return table;
}

int integerOf(const json& j) {
    if (!j.is_number_integer()) throw std::invalid_argument("not an integer");
    return j.get<int>();
}

// An EXR keeps its place in its windows and the attributes in its header.
void readExr(OIIO::ImageInput& in, bool pixels, ImageFile& f) {
    const OIIO::ImageSpec& spec = in.spec();
    if (spec.nchannels != 4) throw ImageError(f.path + ": not an RGBA image");
    Image& im = f.image;
    im.x = spec.x;
    im.y = spec.y;
    im.fullWidth = spec.full_width;
    im.fullHeight = spec.full_height;
    if (spec.full_x != 0 || spec.full_y != 0) throw ImageError(f.path + ": its frame is offset");
    f.attributes = json::object();
    for (const OIIO::ParamValue& a : spec.extra_attribs) {
        std::string name = a.name().string();
        if (name.rfind("vesper:", 0) != 0) continue;
        if (a.type() == OIIO::TypeDesc::INT) {
            f.attributes[name.substr(7)] = a.get_int();
        } else {
            f.attributes[name.substr(7)] = a.get_string();
        }
    }
    if (pixels && !in.read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, im.rgba.data())) {
        throw ImageError(f.path + ": cannot read: " + in.geterror());
    }
}

// Other formats keep their place and attributes in a sidecar.
void readSidecar(ImageFile& f) {
    std::string sidecar = f.path + ".json";
    std::ifstream file(sidecar);
    if (!file) throw ImageError(f.path + ": its sidecar " + sidecar + " is missing");
    Image& im = f.image;
    try {
        f.attributes = vhost::readJson(file);
        const json& w = f.attributes.at("dataWindow");
        const json& full = f.attributes.at("fullSize");
        im.x = integerOf(w.at(0));
        im.y = integerOf(w.at(1));
        im.fullWidth = integerOf(full.at(0));
        im.fullHeight = integerOf(full.at(1));
        if (integerOf(w.at(2)) - im.x != im.width || integerOf(w.at(3)) - im.y != im.height) {
            throw ImageError(sidecar + ": \"dataWindow\" does not match the image's " +
                             std::to_string(im.width) + " x " + std::to_string(im.height) +
                             " pixels");
        }
    } catch (const ImageError&) {
        throw;
    } catch (const std::exception& e) {
        throw ImageError(sidecar + ": not a sidecar of vesper-render: " + e.what());
    }
    f.attributes.erase("dataWindow");
    f.attributes.erase("fullSize");
}

// 8-bit codes back to the linear values they were written from.
void read8Bit(OIIO::ImageInput& in, bool pixels, ImageFile& f) {
    const OIIO::ImageSpec& spec = in.spec();
    int channels = spec.nchannels;
    if (spec.format != OIIO::TypeDesc::UINT8 || channels < 3 || channels > 4) {
        throw ImageError(f.path + ": not an 8-bit RGB image");
    }
    if (!pixels) return;
    Image& im = f.image;
    std::vector<unsigned char> bytes(static_cast<size_t>(channels) * im.width * im.height);
    if (!in.read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, bytes.data())) {
        throw ImageError(f.path + ": cannot read: " + in.geterror());
    }
    const std::vector<float>& linear = linearOfByte();
    for (size_t i = 0; i < bytes.size() / channels; ++i) {
        for (int c = 0; c < 3; ++c) im.rgba[4 * i + c] = linear[bytes[channels * i + c]];
        im.rgba[4 * i + 3] = channels == 4 ? bytes[channels * i + 3] / 255.0f : 1.0f;
    }
}

}  // namespace

ImageFile readImage(const std::string& path, bool pixels) {
    ImageFile f;
    f.path = path;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw ImageError(path + ": missing");
    auto in = OIIO::ImageInput::open(path);
    if (!in) throw ImageError(path + ": cannot read: " + OIIO::geterror());
    Image& im = f.image;
    im.width = in->spec().width;
    im.height = in->spec().height;
    if (pixels) im.rgba.resize(4 * static_cast<size_t>(im.width) * im.height);
    if (std::string(in->format_name()) == "openexr") {
        readExr(*in, pixels, f);
        return f;
    }
    readSidecar(f);
    read8Bit(*in, pixels, f);
    return f;
}

}  // namespace vref

#include "host/reference/image_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include "host/json_reader.h"
#include "host/reference/limits.h"

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
using namespace std::string_view_literals;

// The readers tried, by OpenImageIO's names: still images only.
constexpr const char* kFormats[] = {"openexr", "png",   "jpeg", "tiff",     "hdr",       "bmp",
                                    "gif",     "psd",   "dds",  "jpeg2000", "webp",      "pnm",
                                    "sgi",     "ico",   "dpx",  "cineon",   "softimage", "fits",
                                    "iff",     "targa", "rla"};

template <size_t I>
OIIO::ImageInput* createReader() {
    // A format's name, unlike a file's, makes OpenImageIO return that reader
    // without trying any.
    return OIIO::ImageInput::create(OIIO::string_view(kFormats[I])).release();
}

template <size_t... I>
constexpr std::array<OIIO::ImageInput::Creator, sizeof...(I)> readers(std::index_sequence<I...>) {
    return {&createReader<I>...};
}
constexpr auto kCreators = readers(std::make_index_sequence<std::size(kFormats)>());

// `bytes` at `offset` of a file of that format.
struct Signature {
    const char* format;
    size_t offset;
    std::string_view bytes;
};
const Signature kSignatures[] = {
    {"openexr", 0, "\x76\x2f\x31\x01"sv},
    {"png", 0, "\x89PNG\r\n\x1a\n"sv},
    {"jpeg", 0, "\xff\xd8\xff"sv},
    {"tiff", 0, "II*\0"sv},
    {"tiff", 0, "MM\0*"sv},
    {"tiff", 0, "II+\0"sv},  // BigTIFF
    {"tiff", 0, "MM\0+"sv},
    {"hdr", 0, "#?"sv},
    {"bmp", 0, "BM"sv},
    {"gif", 0, "GIF8"sv},
    {"psd", 0, "8BPS"sv},
    {"dds", 0, "DDS "sv},
    {"jpeg2000", 0, "\0\0\0\x0cjP  \r\n\x87\n"sv},
    {"jpeg2000", 0, "\xff\x4f\xff\x51"sv},  // a bare codestream
    {"webp", 8, "WEBP"sv},
    {"pnm", 0, "P1"sv},
    {"pnm", 0, "P2"sv},
    {"pnm", 0, "P3"sv},
    {"pnm", 0, "P4"sv},
    {"pnm", 0, "P5"sv},
    {"pnm", 0, "P6"sv},
    {"pnm", 0, "Pf"sv},
    {"pnm", 0, "PF"sv},
    {"sgi", 0, "\x01\xda"sv},
    {"ico", 0, "\0\0\1\0"sv},
    {"dpx", 0, "SDPX"sv},
    {"dpx", 0, "XPDS"sv},
    {"cineon", 0, "\x80\x2a\x5f\xd7"sv},
    {"cineon", 0, "\xd7\x5f\x2a\x80"sv},
    {"softimage", 0, "\x53\x80\xf6\x34"sv},
    {"fits", 0, "SIMPLE  ="sv},
    {"iff", 0, "FOR4"sv},
};
constexpr size_t kHeadBytes = 16;

// Formats whose files begin with nothing to recognise them by, by extension.
const std::pair<const char*, const char*> kNamedOnly[] = {
    {".tga", "targa"}, {".tpic", "targa"}, {".rla", "rla"}};

ImageReader readerOf(const char* format) {
    for (size_t i = 0; i < std::size(kFormats); ++i) {
        if (std::strcmp(kFormats[i], format) == 0) return {kFormats[i], kCreators[i]};
    }
    return {};
}

// The first bytes of the file `name`, after checking that it is a regular file
// of at most kMaxImageFileBytes; "" or why not.
std::string fileHead(const std::string& name, std::string* head) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) {
        return std::filesystem::exists(name, ec) ? "not a regular file" : "missing";
    }
    uintmax_t size = std::filesystem::file_size(name, ec);
    if (ec) return "cannot read: " + ec.message();
    if (size > static_cast<uintmax_t>(kMaxImageFileBytes)) {
        return "the file is " + std::to_string(size) + " bytes; an image file may have at most " +
               std::to_string(kMaxImageFileBytes);
    }
    std::ifstream file(name, std::ios::binary);
    char bytes[kHeadBytes];
    file.read(bytes, sizeof bytes);
    if (file.bad()) return "cannot read: " + systemError(errno);
    head->assign(bytes, static_cast<size_t>(file.gcount()));
    return "";
}

// The bytes of an image file, from memory or from disk, read at any offset.
class ImageBytes {
  public:
    ImageBytes(const std::string& name, const std::string* bytes) : bytes_(bytes) {
        if (!bytes_) file_.open(name, std::ios::binary);
        std::error_code ec;
        size_ = bytes_ ? bytes_->size() : std::filesystem::file_size(name, ec);
        if (ec) size_ = 0;
    }
    uint64_t size() const { return size_; }
    // n bytes at `at`, or false past the end.
    bool read(uint64_t at, char* out, size_t n) {
        if (at > size_ || n > size_ - at) return false;
        if (bytes_) {
            std::memcpy(out, bytes_->data() + at, n);
            return true;
        }
        file_.seekg(static_cast<std::streamoff>(at));
        file_.read(out, static_cast<std::streamsize>(n));
        return file_.gcount() == static_cast<std::streamsize>(n);
    }

  private:
    const std::string* bytes_;
    std::ifstream file_;
    uint64_t size_ = 0;
};

// A name or type of an OpenEXR attribute: up to 255 characters and a NUL.
bool exrString(ImageBytes& in, uint64_t* at, std::string* s) {
    s->clear();
    for (char c; s->size() < 256; s->push_back(c)) {
        if (!in.read((*at)++, &c, 1)) return false;
        if (c == '\0') return true;
    }
    return false;
}

// The reader reads a value of a fixed-size type, a channel list or a preview by
// its own layout, not by the size the header declares: a size that disagrees
// with that layout would set the reader off at another place than the next
// attribute. "" or what is wrong with the value of `n` bytes at `at`.
std::string exrValueError(ImageBytes& in, uint64_t at, uint32_t n, const std::string& type) {
    static const std::pair<const char*, uint32_t> kFixed[] = {{"int", 4},
                                                              {"float", 4},
                                                              {"double", 8},
                                                              {"box2i", 16},
                                                              {"box2f", 16},
                                                              {"v2i", 8},
                                                              {"v2f", 8},
                                                              {"v2d", 16},
                                                              {"v3i", 12},
                                                              {"v3f", 12},
                                                              {"v3d", 24},
                                                              {"m33f", 36},
                                                              {"m33d", 72},
                                                              {"m44f", 64},
                                                              {"m44d", 128},
                                                              {"compression", 1},
                                                              {"lineOrder", 1},
                                                              {"envmap", 1},
                                                              {"deepImageState", 1},
                                                              {"chromaticities", 32},
                                                              {"keycode", 28},
                                                              {"timecode", 8},
                                                              {"rational", 8},
                                                              {"tiledesc", 9}};
    for (const auto& [name, bytes] : kFixed) {
        if (type == name && n != bytes) {
            return "of type " + type + " declares " + std::to_string(n) + " bytes, not " +
                   std::to_string(bytes);
        }
    }
    if (type == "preview") {
        unsigned char wh[8];
        if (n < 8 || !in.read(at, reinterpret_cast<char*>(wh), 8)) return "is cut short";
        uint64_t w = wh[0] | wh[1] << 8 | wh[2] << 16 | uint64_t{wh[3]} << 24;
        uint64_t h = wh[4] | wh[5] << 8 | wh[6] << 16 | uint64_t{wh[7]} << 24;
        bool fits = w == 0 || h == 0 ? n == 8 : h <= (n - 8) / 4 / w && 8 + 4 * w * h == n;
        if (!fits) return "declares a preview that is not its size";
    }
    if (type == "chlist") {
        // Channels of a name and 16 bytes each, and an empty name.
        uint64_t end = at + n;
        std::string channel;
        for (uint64_t p = at;;) {
            if (!exrString(in, &p, &channel) || p > end) return "holds a malformed channel list";
            if (channel.empty()) {
                if (p != end) return "holds a malformed channel list";
                break;
            }
            p += 16;
        }
    }
    return "";
}

// An OpenEXR reader allocates each attribute at the size its header declares
// before reading it: every size checked against the bytes the file holds, so
// that a few bytes cannot claim gigabytes. "" or what is wrong.
std::string exrHeaderError(ImageBytes& in) {
    char version[4];
    if (!in.read(4, version, 4)) return "the OpenEXR header is cut short";
    const bool multipart = (static_cast<unsigned char>(version[1]) & 0x10) != 0;
    uint64_t at = 8;
    std::string name, type;
    for (;;) {
        if (!exrString(in, &at, &name)) return "the OpenEXR header is cut short or malformed";
        if (name.empty()) {
            // The end of a header; a multi-part file ends its headers with an empty one.
            char next = 0;
            if (!multipart || !in.read(at, &next, 1) || next == '\0') return "";
            continue;
        }
        unsigned char size[4];
        if (!exrString(in, &at, &type) || !in.read(at, reinterpret_cast<char*>(size), 4)) {
            return "the OpenEXR header is cut short or malformed";
        }
        at += 4;
        uint32_t n = size[0] | size[1] << 8 | size[2] << 16 | uint32_t{size[3]} << 24;
        if (n > in.size() - at) {
            return "the OpenEXR attribute \"" + name + "\" declares " + std::to_string(n) +
                   " bytes, beyond the end of the file";
        }
        std::string bad = exrValueError(in, at, n, type);
        if (!bad.empty()) return "the OpenEXR attribute \"" + name + "\" " + bad;
        at += n;
    }
}

// libpng allocates a whole ancillary chunk (text, a colour profile) at the length
// its header declares: every chunk's length checked against the bytes the file
// holds. "" or what is wrong.
std::string pngChunksError(ImageBytes& in) {
    for (uint64_t at = 8; at < in.size();) {
        unsigned char head[8];
        if (!in.read(at, reinterpret_cast<char*>(head), 8)) return "the PNG file is cut short";
        uint32_t n = uint32_t{head[0]} << 24 | head[1] << 16 | head[2] << 8 | head[3];
        std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (n > in.size() - at - 8 || in.size() - at - 8 - n < 4) {
            return "the PNG chunk \"" + type + "\" declares " + std::to_string(n) +
                   " bytes, beyond the end of the file";
        }
        if (type == "IEND") break;
        at += 12 + uint64_t{n};
    }
    return "";
}

// The GIF reader allocates its canvas at the screen size the header declares,
// before any frame is read: that size held within the texture limits.
std::string gifScreenError(ImageBytes& in) {
    unsigned char b[10];
    if (!in.read(0, reinterpret_cast<char*>(b), 10)) return "the GIF file is cut short";
    int64_t width = b[6] | b[7] << 8, height = b[8] | b[9] << 8;
    if (width * height > kMaxTexturePixels) {
        return "the GIF declares a screen of " + std::to_string(width) + " x " +
               std::to_string(height) + " pixels, more than " + std::to_string(kMaxTexturePixels);
    }
    return "";
}

// What the format's reader would allocate from the file's own sizes before it
// checks them; "" when every size fits the file and the limits.
std::string declaredSizesError(const char* format, const std::string& name,
                               const std::string* bytes) {
    auto is = [&](const char* f) { return std::strcmp(format, f) == 0; };
    if (!is("openexr") && !is("png") && !is("gif")) return "";
    ImageBytes in(name, bytes);
    if (is("openexr")) return exrHeaderError(in);
    return is("png") ? pngChunksError(in) : gifScreenError(in);
}

}  // namespace

std::string findImageReader(const std::string& name, const std::string* bytes,
                            ImageReader* reader) {
    std::string head;
    if (bytes) {
        if (bytes->size() > static_cast<size_t>(kMaxImageFileBytes)) {
            return "the image is " + std::to_string(bytes->size()) +
                   " bytes; an image file may have at most " + std::to_string(kMaxImageFileBytes);
        }
        head = bytes->substr(0, kHeadBytes);
    } else {
        std::string err = fileHead(name, &head);
        if (!err.empty()) return err;
    }
    for (const Signature& s : kSignatures) {
        if (head.compare(std::min(s.offset, head.size()), s.bytes.size(), s.bytes) == 0) {
            *reader = readerOf(s.format);
            return declaredSizesError(s.format, name, bytes);
        }
    }
    std::string ext = lowerExtension(name);
    for (const auto& n : kNamedOnly) {
        if (ext == n.first) {
            *reader = readerOf(n.second);
            return "";
        }
    }
    return "not an image file: it begins with the signature of no image format read here";
}

std::unique_ptr<OIIO::ImageInput> openImage(const std::string& name, const ImageReader& reader,
                                            OIIO::Filesystem::IOProxy* proxy, std::string* error) {
    std::unique_ptr<OIIO::ImageInput> in(reader.create ? reader.create() : nullptr);
    if (!in) {
        *error = "no reader for the format";
        return nullptr;
    }
    if (proxy && !in->set_ioproxy(proxy)) {
        *error = std::string("the ") + reader.format + " reader does not read from memory";
        return nullptr;
    }
    if (proxy) proxy->seek(0);
    OIIO::ImageSpec spec;
    bool opened = false;
    std::string e;
    try {
        opened = in->open(name, spec);
        if (!opened) e = in->geterror();
    } catch (const std::exception& x) {
        // Some readers throw on a damaged header (a GIF's frame list).
        e = x.what();
    }
    if (!opened) {
        *error = e.empty() ? std::string("not a readable ") + reader.format + " image" : e;
        return nullptr;
    }
    return in;
}

namespace {

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

std::string sizeText(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// "" for a width and height within the image limits, else what is wrong; before
// anything is computed from them.
std::string checkSize(const char* what, int64_t width, int64_t height) {
    if (width >= 1 && height >= 1 && width <= kMaxImageSide && height <= kMaxImageSide &&
        width * height <= kMaxImagePixels) {
        return "";
    }
    return std::string(what) + " of " + sizeText(width, height) +
           " pixels lies outside the image limits (1 to " + std::to_string(kMaxImageSide) +
           " on a side, " + std::to_string(kMaxImagePixels) + " in all)";
}

// Pixels that are NaN or infinite in any channel, refused rather than merged:
// the image's pixels in rows of `rowFloats` floats from `data`.
void checkFinite(const ImageFile& f, const float* data, size_t rowFloats) {
    const Image& im = f.image;
    size_t bad = 0, firstX = 0, firstY = 0;
    for (size_t y = 0; y < static_cast<size_t>(im.height); ++y) {
        for (size_t x = 0; x < static_cast<size_t>(im.width); ++x) {
            const float* p = data + y * rowFloats + 4 * x;
            if (std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]) &&
                std::isfinite(p[3])) {
                continue;
            }
            if (bad++ == 0) firstX = x, firstY = y;
        }
    }
    if (bad) {
        throw ImageError(
            f.path + ": " + std::to_string(bad) + " pixel" + (bad > 1 ? "s are" : " is") +
            " not finite (NaN or infinite), the first at (" + std::to_string(im.x + firstX) + ", " +
            std::to_string(im.y + firstY) + ")");
    }
}

// An EXR keeps its place in its windows and the attributes in its header.
void readExrHeader(const OIIO::ImageSpec& spec, ImageFile& f) {
    if (spec.nchannels != 4) throw ImageError(f.path + ": not an RGBA image");
    if (spec.full_x != 0 || spec.full_y != 0) throw ImageError(f.path + ": its frame is offset");
    std::string bad = checkSize("its frame", spec.full_width, spec.full_height);
    if (!bad.empty()) throw ImageError(f.path + ": " + bad);
    if (spec.x < 0 || spec.y < 0 || spec.x > kMaxImageSide || spec.y > kMaxImageSide) {
        throw ImageError(f.path + ": its pixels start at (" + std::to_string(spec.x) + ", " +
                         std::to_string(spec.y) + "), outside every frame");
    }
    Image& im = f.image;
    im.x = spec.x;
    im.y = spec.y;
    im.fullWidth = spec.full_width;
    im.fullHeight = spec.full_height;
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
}

// The sidecar's document, of at most kMaxSidecarBytes.
json sidecarDocument(const std::string& image, const std::string& sidecar) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(sidecar, ec)) {
        throw ImageError(image + ": its sidecar " + sidecar + " is missing");
    }
    uintmax_t size = std::filesystem::file_size(sidecar, ec);
    if (ec || size > static_cast<uintmax_t>(kMaxSidecarBytes)) {
        throw ImageError(sidecar + ": " + (ec ? ec.message() : std::to_string(size) + " bytes") +
                         "; a sidecar has at most " + std::to_string(kMaxSidecarBytes));
    }
    std::ifstream file(sidecar);
    try {
        return vhost::readJson(file);
    } catch (const vhost::JsonError& e) {
        throw ImageError(sidecar + ": not a sidecar of vesper-render: " + e.what());
    }
}

// entry[i] of a sidecar, a whole number in [lo, hi]; ImageError otherwise.
int sidecarNumber(const json& doc, const char* entry, size_t i, int64_t lo, int64_t hi) {
    auto it = doc.find(entry);
    const json* v = it != doc.end() && it->is_array() && i < it->size() ? &(*it)[i] : nullptr;
    bool whole = v && v->is_number_integer() &&
                 !(v->is_number_unsigned() && v->get<uint64_t>() > uint64_t{INT64_MAX});
    int64_t n = whole ? v->get<int64_t>() : 0;
    if (!whole || n < lo || n > hi) {
        throw ImageError("\"" + std::string(entry) + "\"[" + std::to_string(i) + "] is " +
                         (v ? v->dump() : std::string("missing")) + ", not a whole number from " +
                         std::to_string(lo) + " to " + std::to_string(hi));
    }
    return static_cast<int>(n);
}

// Other formats keep their place and attributes in a sidecar.
void readSidecar(ImageFile& f) {
    std::string sidecar = f.path + ".json";
    Image& im = f.image;
    f.attributes = sidecarDocument(f.path, sidecar);
    try {
        if (!f.attributes.is_object()) throw ImageError("not a JSON object");
        im.fullWidth = sidecarNumber(f.attributes, "fullSize", 0, 1, kMaxImageSide);
        im.fullHeight = sidecarNumber(f.attributes, "fullSize", 1, 1, kMaxImageSide);
        std::string bad = checkSize("\"fullSize\"", im.fullWidth, im.fullHeight);
        if (!bad.empty()) throw ImageError(bad);
        int w[4];
        for (size_t i = 0; i < 4; ++i) {
            w[i] = sidecarNumber(f.attributes, "dataWindow", i, 0, kMaxImageSide);
        }
        im.x = w[0];
        im.y = w[1];
        if (w[2] - w[0] != im.width || w[3] - w[1] != im.height) {
            throw ImageError("\"dataWindow\" does not match the image's " +
                             sizeText(im.width, im.height) + " pixels");
        }
        f.attributes.erase("dataWindow");
        f.attributes.erase("fullSize");
        // Attributes are flat, as writeImage writes them: they are compared and
        // copied, which recurses through anything nested.
        for (auto it = f.attributes.begin(); it != f.attributes.end(); ++it) {
            if (it->is_structured()) {
                throw ImageError("\"" + it.key() + "\" is not a string or a number");
            }
        }
    } catch (const ImageError& e) {
        throw ImageError(sidecar + ": " + e.what());
    }
}

// An image file opened, its header read and checked.
struct OpenImage {
    ImageFile file;
    std::unique_ptr<OIIO::ImageInput> in;
    bool exr = false;
};

OpenImage openHeader(const std::string& path) {
    OpenImage o;
    ImageFile& f = o.file;
    f.path = path;
    ImageReader reader;
    std::string err = findImageReader(path, nullptr, &reader);
    if (!err.empty()) throw ImageError(path + ": " + err);
    o.in = openImage(path, reader, nullptr, &err);
    if (!o.in) throw ImageError(path + ": cannot read: " + err);
    const OIIO::ImageSpec& spec = o.in->spec();
    if (spec.depth != 1) throw ImageError(path + ": a volume, not an image");
    std::string bad = checkSize("its image", spec.width, spec.height);
    if (!bad.empty()) throw ImageError(path + ": " + bad);
    f.image.width = spec.width;
    f.image.height = spec.height;
    o.exr = std::string(o.in->format_name()) == "openexr";
    if (o.exr) {
        readExrHeader(spec, f);
        return o;
    }
    readSidecar(f);
    if (spec.format != OIIO::TypeDesc::UINT8 || spec.nchannels < 3 || spec.nchannels > 4) {
        throw ImageError(path + ": not an 8-bit RGB image");
    }
    return o;
}

// A reader's `read`, its failure or exception thrown as an ImageError.
template <typename Read>
void readAll(const ImageFile& f, OIIO::ImageInput& in, Read read) {
    bool ok = false;
    try {
        ok = read();
    } catch (const std::exception& e) {
        throw ImageError(f.path + ": cannot read: " + e.what());
    }
    if (!ok) throw ImageError(f.path + ": cannot read: " + in.geterror());
}

// The pixels into rows of `rowFloats` floats from `data`; 8-bit codes become the
// linear values they were written from.
void readPixelsOf(OpenImage& o, float* data, size_t rowFloats) {
    const ImageFile& f = o.file;
    size_t width = static_cast<size_t>(f.image.width), height = static_cast<size_t>(f.image.height);
    if (o.exr) {
        auto pixel = static_cast<OIIO::stride_t>(4 * sizeof(float));
        auto row = static_cast<OIIO::stride_t>(rowFloats * sizeof(float));
        readAll(f, *o.in, [&] {
            return o.in->read_image(0, 0, 0, 4, OIIO::TypeDesc::FLOAT, data, pixel, row);
        });
        checkFinite(f, data, rowFloats);
        return;
    }
    int channels = o.in->spec().nchannels;
    std::vector<unsigned char> bytes(channels * width * height);
    readAll(f, *o.in, [&] {
        return o.in->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, bytes.data());
    });
    const std::vector<float>& linear = linearOfByte();
    for (size_t i = 0; i < width * height; ++i) {
        float* p = data + (i / width) * rowFloats + 4 * (i % width);
        const unsigned char* b = &bytes[channels * i];
        for (int c = 0; c < 3; ++c) p[c] = linear[b[c]];
        p[3] = channels == 4 ? b[3] / 255.0f : 1.0f;
    }
}

}  // namespace

ImageFile readImage(const std::string& path, bool pixels) {
    OpenImage o = openHeader(path);
    Image& im = o.file.image;
    if (pixels) {
        im.rgba.resize(4 * static_cast<size_t>(im.width) * im.height);
        readPixelsOf(o, im.rgba.data(), 4 * static_cast<size_t>(im.width));
    }
    return std::move(o.file);
}

void readPixels(const ImageFile& header, float* data, size_t rowFloats) {
    OpenImage o = openHeader(header.path);
    const Image &now = o.file.image, &then = header.image;
    if (now.x != then.x || now.y != then.y || now.width != then.width ||
        now.height != then.height || now.fullWidth != then.fullWidth ||
        now.fullHeight != then.fullHeight) {
        throw ImageError(header.path + ": changed while being merged");
    }
    readPixelsOf(o, data, rowFloats);
}

}  // namespace vref

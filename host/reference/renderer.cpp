#include "host/reference/renderer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "host/reference/integrator.h"
#include "host/reference/limits.h"

namespace vref {

namespace {

constexpr int kTile = 16;  // pixels on a side

float clampSample(float x, float limit) {
    if (!std::isfinite(x)) return 0.0f;
    return limit > 0.0f && x > limit ? limit : x;
}

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

std::string validate(const Region& r, int width, int height) {
    if (r.whole()) return "";
    std::string text = std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                       std::to_string(r.x1) + "," + std::to_string(r.y1);
    if (r.x1 < r.x0 || r.y1 < r.y0) return "region " + text + " is reversed (x1 < x0 or y1 < y0)";
    if (r.x1 == r.x0 || r.y1 == r.y0) return "region " + text + " is empty";
    if (r.x0 < 0 || r.y0 < 0 || r.x1 > width || r.y1 > height) {
        return "region " + text + " lies outside the " + std::to_string(width) + " x " +
               std::to_string(height) + " image";
    }
    return "";
}

RenderResult render(const Scene& scene, const RenderSettings& settings,
                    const ProgressFunction& progress, const std::atomic<bool>* cancel,
                    const Region& region) {
    std::string invalid = validate(settings);
    if (invalid.empty()) invalid = validate(scene.camera);
    if (invalid.empty()) invalid = validate(region, settings.width, settings.height);
    if (!invalid.empty()) throw std::invalid_argument(invalid);
    const Region area = region.whole() ? Region{0, 0, settings.width, settings.height} : region;
    RenderResult result;
    int threads = settings.threads > 0 ? settings.threads : tbb::info::default_concurrency();
    // An arena of its own: concurrent renders (the studio's) each get their own
    // thread count, and nothing caps the process.
    tbb::task_arena arena(threads);
    result.threads = threads;
    Image& image = result.image;
    image.x = area.x0;
    image.y = area.y0;
    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.fullWidth = settings.width;
    image.fullHeight = settings.height;
    image.rgba.assign(4 * static_cast<size_t>(image.width) * image.height, 0.0f);

    const Camera& cam = scene.camera;
    float3 forward = normalize(cam.target - cam.position);
    float3 right = normalize(cross(forward, cam.up));
    float3 up = cross(right, forward);
    float tanHalf = std::tan(0.5f * cam.fovY * kPi / 180.0f);
    float aspect = static_cast<float>(image.fullWidth) / static_cast<float>(image.fullHeight);
    int spp = std::max(1, settings.spp);

    // Made in the arena, on the render's threads.
    std::shared_ptr<const EnvironmentMap> environment;
    arena.execute([&] { environment = scene.environmentLight.map(scene, settings); });
    tbb::enumerable_thread_specific<RenderServices> services(std::cref(scene), std::cref(settings),
                                                             environment.get());
    // Square tiles: neighbouring camera rays share their way through the scene, and
    // a thread's work stays in cache.
    const int tilesX = (image.width + kTile - 1) / kTile,
              tilesY = (image.height + kTile - 1) / kTile;
    const int tiles = tilesX * tilesY;
    std::atomic<int> tilesDone{0};
    auto renderPixel = [&](RenderServices& sv, int x, int y) {
        float3 sum;
        float alpha = 0.0f;
        for (int s = 0; s < spp; ++s) {
            // Jitter inside the pixel from the sample's first two dimensions.
            sv.beginSample(x, y, s);
            float2 jitter(0.5f, 0.5f);
            if (spp > 1) sv.random2(&jitter);
            float2 raster(x + jitter.x, y + jitter.y);
            sv.setRaster(raster);
            float sx = (2.0f * raster.x / image.fullWidth - 1.0f) * tanHalf * aspect;
            float sy = (1.0f - 2.0f * raster.y / image.fullHeight) * tanHalf;
            float3 dir = normalize(forward + right * sx + up * sy);
            Radiance r = cameraRay(sv, cam.position, dir);
            float c = settings.clampValue;
            sum += float3(clampSample(r.color.x, c), clampSample(r.color.y, c),
                          clampSample(r.color.z, c));
            alpha += std::isfinite(r.alpha) ? r.alpha : 1.0f;
        }
        float* p = &image.rgba[4 * (static_cast<size_t>(y - area.y0) * image.width +
                                    static_cast<size_t>(x - area.x0))];
        p[0] = sum.x / spp;
        p[1] = sum.y / spp;
        p[2] = sum.z / spp;
        p[3] = alpha / spp;
    };
    auto start = std::chrono::steady_clock::now();
    arena.execute([&] {
        tbb::parallel_for(
            tbb::blocked_range<int>(0, tiles, 1), [&](const tbb::blocked_range<int>& r) {
                RenderServices& sv = services.local();
                for (int t = r.begin(); t < r.end(); ++t) {
                    if (cancel && cancel->load(std::memory_order_relaxed)) return;
                    // Tiles of the region, in frame pixels.
                    int x0 = area.x0 + (t % tilesX) * kTile, y0 = area.y0 + (t / tilesX) * kTile;
                    int x1 = std::min(x0 + kTile, area.x1), y1 = std::min(y0 + kTile, area.y1);
                    for (int y = y0; y < y1; ++y) {
                        for (int x = x0; x < x1; ++x) renderPixel(sv, x, y);
                    }
                    int done = ++tilesDone;
                    if (progress) progress(done, tiles);
                }
            });
    });
    result.cancelled = cancel && cancel->load();
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const RenderServices& sv : services) {
        result.stats.rays += sv.stats().rays;
        result.stats.shadeCalls += sv.stats().shadeCalls;
    }
    return result;
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

}  // namespace vref

#include "host/reference/renderer.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>
#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>

namespace vref {

namespace {

float clampSample(float x, float limit) {
    if (!std::isfinite(x)) return 0.0f;
    return limit > 0.0f && x > limit ? limit : x;
}

float srgbEncode(float x) {
    x = x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f;
    return x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 1.0f / 2.4f) - 0.055f;
}

}  // namespace

RenderResult render(const Scene& scene, const RenderSettings& settings,
                    const ProgressFunction& progress, const std::atomic<bool>* cancel) {
    RenderResult result;
    int threads = settings.threads > 0 ? settings.threads : tbb::info::default_concurrency();
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                              static_cast<size_t>(threads));
    result.threads = threads;
    Image& image = result.image;
    image.width = settings.width;
    image.height = settings.height;
    image.rgba.assign(4 * static_cast<size_t>(image.width) * image.height, 0.0f);

    const Camera& cam = scene.camera;
    float3 forward = normalize(cam.target - cam.position);
    float3 right = normalize(cross(forward, cam.up));
    float3 up = cross(right, forward);
    float tanHalf = std::tan(0.5f * cam.fovY * kPi / 180.0f);
    float aspect = static_cast<float>(image.width) / static_cast<float>(image.height);
    int spp = std::max(1, settings.spp);

    tbb::enumerable_thread_specific<RenderServices> services(std::cref(scene), std::cref(settings));
    std::atomic<int> rowsDone{0};
    auto start = std::chrono::steady_clock::now();
    tbb::parallel_for(
        tbb::blocked_range<int>(0, image.height, 1), [&](const tbb::blocked_range<int>& rows) {
            RenderServices& sv = services.local();
            for (int y = rows.begin(); y < rows.end(); ++y) {
                if (cancel && cancel->load(std::memory_order_relaxed)) return;
                for (int x = 0; x < image.width; ++x) {
                    float3 sum;
                    float alpha = 0.0f;
                    for (int s = 0; s < spp; ++s) {
                        // Jitter inside the pixel from the sample's own sequence.
                        sv.beginSample(x, y, s);
                        float jx = spp > 1 ? sv.random() : 0.5f;
                        float jy = spp > 1 ? sv.random() : 0.5f;
                        float2 raster(x + jx, y + jy);
                        sv.setRaster(raster);
                        float sx = (2.0f * raster.x / image.width - 1.0f) * tanHalf * aspect;
                        float sy = (1.0f - 2.0f * raster.y / image.height) * tanHalf;
                        float3 dir = normalize(forward + right * sx + up * sy);
                        Radiance r = sv.cameraRay(cam.position, dir);
                        float c = settings.clampValue;
                        sum += float3(clampSample(r.color.x, c), clampSample(r.color.y, c),
                                      clampSample(r.color.z, c));
                        alpha += std::isfinite(r.alpha) ? r.alpha : 1.0f;
                    }
                    float* p = &image.rgba[4 * (static_cast<size_t>(y) * image.width + x)];
                    p[0] = sum.x / spp;
                    p[1] = sum.y / spp;
                    p[2] = sum.z / spp;
                    p[3] = alpha / spp;
                }
                int done = ++rowsDone;
                if (progress) progress(done, image.height);
            }
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

// 8-bit sRGB without alpha, to a file or (with `proxy`) to memory.
std::string writeSrgb8(const Image& image, const std::string& path,
                       OIIO::Filesystem::IOProxy* proxy) {
    auto out = OIIO::ImageOutput::create(path, proxy);
    if (!out) {
        return "cannot write " + path + ": unknown image format \"" +
               std::filesystem::path(path).extension().string() + "\"";
    }
    OIIO::ImageSpec spec(image.width, image.height, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("oiio:ColorSpace", "sRGB");
    std::vector<unsigned char> pixels(3 * static_cast<size_t>(image.width) * image.height);
    for (size_t i = 0; i < pixels.size() / 3; ++i) {
        for (int c = 0; c < 3; ++c) {
            float v = srgbEncode(image.rgba[4 * i + c]);
            pixels[3 * i + c] = static_cast<unsigned char>(std::lround(v * 255.0f));
        }
    }
    if (!out->open(path, spec) || !out->write_image(OIIO::TypeDesc::UINT8, pixels.data())) {
        return "cannot write " + path + ": " + out->geterror();
    }
    out->close();
    return "";
}

}  // namespace

std::string writeImage(const Image& image, const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    bool linear = ext == ".exr" || ext == ".hdr";
    if (!linear) return writeSrgb8(image, path, nullptr);
    auto out = OIIO::ImageOutput::create(path);
    if (!out) return "cannot write " + path + ": unknown image format \"" + ext + "\"";
    OIIO::ImageSpec spec(image.width, image.height, 4,
                         ext == ".exr" ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::FLOAT);
    if (!out->open(path, spec) || !out->write_image(OIIO::TypeDesc::FLOAT, image.rgba.data())) {
        return "cannot write " + path + ": " + out->geterror();
    }
    out->close();
    return "";
}

std::string encodePng(const Image& image, std::vector<unsigned char>* bytes) {
    bytes->clear();
    OIIO::Filesystem::IOVecOutput proxy(*bytes);
    return writeSrgb8(image, "image.png", &proxy);
}

}  // namespace vref

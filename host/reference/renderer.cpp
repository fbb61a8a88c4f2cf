#include "host/reference/renderer.h"

#include <chrono>
#include <cmath>
#include <memory>

#include <tbb/blocked_range.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include "host/reference/integrator.h"
#include "host/reference/limits.h"
#include "host/reference/path_integrator.h"

namespace vref {

namespace {

constexpr int kTile = 16;  // pixels on a side

float clampSample(float x, float limit) {
    if (!std::isfinite(x)) return 0.0f;
    return limit > 0.0f && x > limit ? limit : x;
}

// The camera's rays through raster positions of the whole frame.
struct CameraRays {
    float3 position, forward, right, up;
    float tanHalf, aspect;
    int fullWidth, fullHeight;

    CameraRays(const Camera& cam, int width, int height)
        : position(cam.position),
          forward(normalize(cam.target - cam.position)),
          right(normalize(cross(forward, cam.up))),
          up(cross(right, forward)),
          tanHalf(std::tan(0.5f * cam.fovY * kPi / 180.0f)),
          aspect(static_cast<float>(width) / static_cast<float>(height)),
          fullWidth(width),
          fullHeight(height) {}

    float3 direction(float2 raster) const {
        float sx = (2.0f * raster.x / fullWidth - 1.0f) * tanHalf * aspect;
        float sy = (1.0f - 2.0f * raster.y / fullHeight) * tanHalf;
        return normalize(forward + right * sx + up * sy);
    }
};

// The mean of pixel (x, y)'s samples, as RGBA into `out`.
void renderPixel(RenderServices& sv, const CameraRays& camera, const RenderSettings& settings,
                 int x, int y, float* out) {
    int spp = std::max(1, settings.spp);
    float3 sum;
    float alpha = 0.0f;
    for (int s = 0; s < spp; ++s) {
        // Jitter inside the pixel from the sample's first two dimensions.
        sv.beginSample(x, y, s);
        float2 jitter(0.5f, 0.5f);
        if (spp > 1) sv.random2(&jitter);
        float2 raster(x + jitter.x, y + jitter.y);
        sv.setRaster(raster);
        Radiance r = cameraRay(sv, camera.position, camera.direction(raster));
        float c = settings.clampValue;
        sum +=
            float3(clampSample(r.color.x, c), clampSample(r.color.y, c), clampSample(r.color.z, c));
        alpha += std::isfinite(r.alpha) ? r.alpha : 1.0f;
    }
    out[0] = sum.x / spp;
    out[1] = sum.y / spp;
    out[2] = sum.z / spp;
    out[3] = alpha / spp;
}

// The pixels of `area`, black, placed in the frame.
Image blankImage(const Region& area, const RenderSettings& settings) {
    Image image;
    image.x = area.x0;
    image.y = area.y0;
    image.width = area.x1 - area.x0;
    image.height = area.y1 - area.y0;
    image.fullWidth = settings.width;
    image.fullHeight = settings.height;
    image.rgba.assign(4 * static_cast<size_t>(image.width) * image.height, 0.0f);
    return image;
}

// Square tiles of a region: neighbouring camera rays share their way through the
// scene, and a thread's work stays in cache.
struct Tiles {
    Region area;
    int across, count;

    explicit Tiles(const Region& a)
        : area(a),
          across((a.x1 - a.x0 + kTile - 1) / kTile),
          count(across * ((a.y1 - a.y0 + kTile - 1) / kTile)) {}

    // Tile t, in frame pixels.
    Region tile(int t) const {
        int x0 = area.x0 + (t % across) * kTile, y0 = area.y0 + (t / across) * kTile;
        return {x0, y0, std::min(x0 + kTile, area.x1), std::min(y0 + kTile, area.y1)};
    }
};

void renderTile(RenderServices& sv, const CameraRays& camera, const RenderSettings& settings,
                const Region& tile, Image& image) {
    for (int y = tile.y0; y < tile.y1; ++y) {
        for (int x = tile.x0; x < tile.x1; ++x) {
            size_t at =
                static_cast<size_t>(y - image.y) * image.width + static_cast<size_t>(x - image.x);
            renderPixel(sv, camera, settings, x, y, &image.rgba[4 * at]);
        }
    }
}

std::string invalidInput(const Scene& scene, const RenderSettings& settings, const Region& region) {
    std::string invalid = validate(settings);
    if (invalid.empty()) invalid = validate(scene.camera);
    if (invalid.empty()) invalid = validate(region, settings.width, settings.height);
    return invalid;
}

}  // namespace

RenderResult render(const Scene& scene, const RenderSettings& settings,
                    const ProgressFunction& progress, const std::atomic<bool>* cancel,
                    const Region& region) {
    std::string invalid = invalidInput(scene, settings, region);
    if (!invalid.empty()) throw std::invalid_argument(invalid);
    const Region area = region.whole() ? Region{0, 0, settings.width, settings.height} : region;
    RenderResult result;
    result.threads = settings.threads > 0 ? settings.threads : tbb::info::default_concurrency();
    // An arena of its own: concurrent renders (the studio's) each get their own
    // thread count, and nothing caps the process.
    tbb::task_arena arena(result.threads);
    result.image = blankImage(area, settings);
    const CameraRays camera(scene.camera, settings.width, settings.height);
    // Made in the arena, on the render's threads.
    std::shared_ptr<const EnvironmentMap> environment;
    arena.execute([&] { environment = environmentMap(scene, settings); });
    tbb::enumerable_thread_specific<RenderServices> services(std::cref(scene), std::cref(settings),
                                                             environment.get());
    const Tiles tiles(area);
    std::atomic<int> tilesDone{0};
    auto start = std::chrono::steady_clock::now();
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, tiles.count, 1),
                          [&](const tbb::blocked_range<int>& r) {
                              RenderServices& sv = services.local();
                              for (int t = r.begin(); t < r.end(); ++t) {
                                  if (cancel && cancel->load(std::memory_order_relaxed)) return;
                                  renderTile(sv, camera, settings, tiles.tile(t), result.image);
                                  int done = ++tilesDone;
                                  if (progress) progress(done, tiles.count);
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

}  // namespace vref

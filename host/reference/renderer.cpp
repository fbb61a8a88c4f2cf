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

namespace vref {

namespace {

constexpr int kTile = 16;  // pixels on a side

float clampSample(float x, float limit) {
    if (!std::isfinite(x)) return 0.0f;
    return limit > 0.0f && x > limit ? limit : x;
}

}  // namespace

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

}  // namespace vref

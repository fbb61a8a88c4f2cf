// Renders a scene into an image with the reference host's services, on oneTBB
// threads, in square tiles. Each pixel sample draws its random numbers from a
// sequence that depends on (seed, pixel, sample, dimension) only, so the image does
// not depend on the thread count or on how the work is split.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/reference/image_io.h"
#include "host/reference/scene.h"
#include "host/reference/services.h"
#include "host/reference/settings.h"

namespace vref {

struct RenderResult {
    Image image;
    RenderStats stats;  // summed over threads
    double seconds = 0.0;
    int threads = 0;
    bool cancelled = false;  // stopped early: the image is incomplete
};

// Called from render threads between tiles of pixels: (tiles done, tiles in total).
using ProgressFunction = std::function<void(int, int)>;

// Renders `region` of the frame (by default all of it). A pixel's samples do
// not depend on the region, so regions of a frame put together give the frame
// bit for bit. Throws std::invalid_argument when the settings, the camera or
// the region are outside the limits of limits.h.
// A set `cancel` flag stops the render between tiles; tiles already begun finish.
RenderResult render(const Scene& scene, const RenderSettings& settings,
                    const ProgressFunction& progress = {},
                    const std::atomic<bool>* cancel = nullptr, const Region& region = {});

}  // namespace vref

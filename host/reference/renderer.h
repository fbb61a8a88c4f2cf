// Renders a scene into an image with the reference host's services, on oneTBB
// threads. Each pixel sample draws its random numbers from a sequence seeded by
// (seed, pixel, sample), so the image does not depend on how the work is split.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vref {

struct Image {
    int width = 0, height = 0;
    std::vector<float> rgba;  // linear, row-major from the top row

    float4 at(int x, int y) const {
        const float* p = &rgba[4 * (static_cast<size_t>(y) * width + x)];
        return float4(p[0], p[1], p[2], p[3]);
    }
};

struct RenderResult {
    Image image;
    RenderStats stats;  // summed over threads
    double seconds = 0.0;
    int threads = 0;
    bool cancelled = false;  // stopped early: the image is incomplete
};

// Called from render threads as rows complete: (rows done, rows in total).
using ProgressFunction = std::function<void(int, int)>;

// Throws std::invalid_argument when the settings or the camera are outside the
// limits of limits.h.
// A set `cancel` flag stops the render between rows; rows already begun finish.
RenderResult render(const Scene& scene, const RenderSettings& settings,
                    const ProgressFunction& progress = {},
                    const std::atomic<bool>* cancel = nullptr);

// Writes an image: 8-bit sRGB for .png (and other 8-bit formats), linear half
// floats with alpha for .exr. The file appears whole or not at all: a failed
// write (a full disk, a size limit) leaves no partial file. Returns "" or an
// error message naming the file.
std::string writeImage(const Image& image, const std::string& path);

// "" when writeImage can be expected to write `path` (a known image format, a
// directory that takes new files), else why not; to check before rendering.
std::string checkOutput(const std::string& path);

// The bytes writeImage writes to a .png file.
std::string encodePng(const Image& image, std::vector<unsigned char>* bytes);

}  // namespace vref

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

#include <nlohmann/json.hpp>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vref {

// Pixels of a frame: all of it, or a region placed at (x, y).
struct Image {
    int width = 0, height = 0;          // of the pixels held
    int x = 0, y = 0;                   // where they lie in the frame
    int fullWidth = 0, fullHeight = 0;  // the frame
    std::vector<float> rgba;            // linear, row-major from the top row

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

// Pixels [x0, x1) x [y0, y1) of the frame; all zero means the whole frame.
struct Region {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool whole() const { return x0 == 0 && y0 == 0 && x1 == 0 && y1 == 0; }
};

// "" when `region` is the whole frame or a non-empty part of a width x height one.
std::string validate(const Region& region, int width, int height);

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

// What is written with an image besides its pixels.
struct ImageMetadata {
    // A part of a frame to be assembled later: EXR pixels are written as 32-bit
    // floats so that nothing is rounded before the frame is.
    bool tile = false;
    // Flat: string and integer values. EXR keeps them as "vesper:<key>" header
    // attributes; other formats in a JSON sidecar.
    nlohmann::json attributes = nlohmann::json::object();
};

// Writes an image: 8-bit sRGB for .png (and other 8-bit formats), linear half
// floats with alpha for .exr. The file appears whole or not at all: a failed
// write (a full disk, a size limit) leaves no partial file. EXR records the
// image's place in the frame as its data and display windows; other formats get
// a sidecar PATH.json (a tile, or attributes to keep) holding "dataWindow"
// [x0, y0, x1, y1], "fullSize" [width, height] and the attributes, written
// after the image; a stale sidecar is removed first. Returns "" or an error
// message naming the file.
std::string writeImage(const Image& image, const std::string& path,
                       const ImageMetadata& metadata = {});

// The 8-bit sRGB code writeImage stores for a linear value: srgbByteExact's, found
// in a table.
unsigned char srgbByte(float linear);
// The code by the formula: round(255 x sRGB(clamp(linear, 0, 1))).
unsigned char srgbByteExact(float linear);

// Writes `bytes` to `path` whole or not at all (a temporary file beside it,
// renamed into place). Returns "" or the system's error.
std::string writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);

// "" when writeImage can be expected to write `path` (a known image format, a
// directory that takes new files), else why not; to check before rendering.
std::string checkOutput(const std::string& path);

// The bytes writeImage writes to a .png file.
std::string encodePng(const Image& image, std::vector<unsigned char>* bytes);

}  // namespace vref

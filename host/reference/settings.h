// What a render is asked for besides the scene: the image, the samples, the
// integrator and its budgets (a scene's "render" block, overridden by the command
// line or a request), and the part of the frame to render. limits.h bounds them.
#pragma once

#include <cstdint>

namespace vref {

// The integrator (integrator.h): the shaders' own shade, or paths through their BSDFs.
enum class Mode { Direct, Path };

struct RenderSettings {
    int width = 640;
    int height = 360;
    int spp = 8;
    int threads = 0;  // 0: all cores
    Mode mode = Mode::Direct;
    uint32_t seed = 1;
    int maxDepth = 4;          // rayDepthLimit
    int aoSamples = 2;         // occlusion rays per ambientOcclusion call
    float aoDistance = 1.0f;   // how far occluders count
    int giSamples = 1;         // gather rays per globalIllumination call
    float clampValue = 20.0f;  // largest per-sample channel value (0 = no clamp)
};

// Pixels [x0, x1) x [y0, y1) of the frame; all zero means the whole frame.
struct Region {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool whole() const { return x0 == 0 && y0 == 0 && x1 == 0 && y1 == 0; }
};

}  // namespace vref

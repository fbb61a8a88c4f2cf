// Limits on what a scene, a command line or a request may ask of the reference
// host, checked before anything is allocated or traced. Each one keeps a render
// within memory and time a workstation has, and the tracing recursion within the
// stack of a render thread. docs/renderer.md lists them.
#pragma once

#include <cstdint>
#include <string>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vref {

// Image: each side, and the pixels in all (linear RGBA floats: 512 MiB).
constexpr int kMaxImageSide = 16384;
constexpr int64_t kMaxImagePixels = int64_t{1} << 25;
constexpr int kMaxSpp = 65536;
constexpr int kMaxThreads = 256;
// Direct tracing recurses through the shaders once per bounce, a little over a
// kilobyte of stack each: 64 bounces stay far inside a render thread's stack.
constexpr int kMaxDepth = 64;
constexpr int kMaxAoSamples = 1024;
constexpr int kMaxGiSamples = 1024;
// A gather ray may call ambientOcclusion: the occlusion rays one
// globalIllumination call can cause.
constexpr int64_t kMaxGatherWork = 4096;
// Sphere and disk segments.
constexpr int kMaxSegments = 1024;
// Triangles of one mesh, and bytes of an OBJ or scene file.
constexpr int64_t kMaxMeshTriangles = int64_t{1} << 25;
constexpr int64_t kMaxMeshFileBytes = int64_t{1} << 31;
constexpr int64_t kMaxSceneFileBytes = int64_t{1} << 26;
// Texture images: each side, and the pixels of the top level.
constexpr int kMaxTextureSide = 32768;
constexpr int64_t kMaxTexturePixels = int64_t{1} << 26;

// The range of an integer render setting, by its scene key.
struct SettingRange {
    const char* key;
    int64_t lo, hi;
};
// width, height, spp, threads, seed, maxDepth, aoSamples or giSamples; null for
// any other key.
const SettingRange* settingRange(const std::string& key);

// "" when the settings keep within the limits; otherwise what is wrong, naming
// the setting by its scene key.
std::string validate(const RenderSettings& settings);
// "" for a camera that sees something: finite, target away from the position,
// an up vector not along the view, a field of view in (0, 180) degrees.
std::string validate(const Camera& camera);

}  // namespace vref

// Limits on what a scene, a command line or a request may ask of the reference
// host and its tools, checked before anything is allocated or traced. Each one
// keeps a render within memory and time a workstation has, and the tracing
// recursion within the stack of a render thread. Every limit is defined here and
// listed in kLimits, which the documents' limit tables follow.
#pragma once

#include <cstdint>
#include <string>

namespace vref {

struct Region;
struct RenderSettings;

// ---- render settings (scenes, command lines, previews) ----
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

// ---- tracing ----
// Per-hit calls in progress at once, per thread: one per bounce up to the
// largest maxDepth, and room for light and environment shaders on the way. A
// trace asked for beyond it answers black, whatever a shader asks, so that the
// recursion through the shaders stays within the stack.
constexpr int kMaxNesting = 2 * kMaxDepth;
constexpr int kMaxSkips = 64;  // surfaces a ray may pass through via skipHit
constexpr int kMaxShadowHits = 64;

// ---- scene contents ----
// Sphere and disk segments.
constexpr int kMaxSegments = 1024;
// Triangles of one mesh, and bytes of an OBJ or scene file.
constexpr int64_t kMaxMeshTriangles = int64_t{1} << 25;
constexpr int64_t kMaxMeshFileBytes = int64_t{1} << 31;
constexpr int64_t kMaxSceneFileBytes = int64_t{1} << 26;
// Texture images: each side, and the pixels of the top level.
constexpr int kMaxTextureSide = 32768;
constexpr int64_t kMaxTexturePixels = int64_t{1} << 26;
// Bytes of an image file read (a texture, a tile, a frame): twice a texture's
// top level as uncompressed RGBA floats, room for its mip levels.
constexpr int64_t kMaxImageFileBytes = int64_t{1} << 31;

// ---- split renders (plan, vesper-merge) ----
// Frames of an "animation" or "wedge" block.
constexpr int kMaxFrames = 100000;
// Tiles of one frame, and tasks of one plan: also the tiles one merge reads.
constexpr int kMaxTiles = 65536;
constexpr int64_t kMaxTasks = 1000000;
// Columns of a contact sheet, and its pixels: cells shrink to fit, so that any
// wedge has a sheet (256 MiB of linear RGBA while it is drawn).
constexpr int kMaxSheetColumns = 1000;
constexpr int64_t kMaxSheetPixels = int64_t{1} << 24;
// Bytes of a tile's sidecar (a few hundred are written).
constexpr int64_t kMaxSidecarBytes = int64_t{1} << 20;

// ---- JSON documents: scenes, tile sidecars, studio requests ----
// Arrays and objects nested in one another, counted while parsing
// (host/json_reader.h); our formats need fewer than ten.
constexpr int kMaxJsonDepth = 128;

// ---- vesper-studio requests ----
constexpr int kStudioMaxSide = 2048;
constexpr int kStudioMaxSpp = 4096;
// width x height x spp of one render.
constexpr int64_t kStudioMaxPixelSamples = int64_t{1} << 26;
constexpr int64_t kStudioMaxSeed = 2147483647;
constexpr int kStudioMaxLobeSamples = 1000000;
constexpr double kStudioMaxIncidence = 89.9;  // degrees
constexpr int64_t kStudioMaxRequestBytes = int64_t{1} << 20;
// What one client of the studio may cost, and the studio's work at once.
constexpr int64_t kStudioMaxHeadBytes = int64_t{64} << 10;
constexpr double kStudioReceiveSeconds = 10;
constexpr double kStudioReadSeconds = 5;
constexpr double kStudioWriteSeconds = 5;
constexpr double kStudioSendSeconds = 60;
constexpr double kStudioIdleSeconds = 5;
constexpr int kStudioConnections = 64;
constexpr int kStudioRunningRenders = 2;
constexpr int kStudioQueuedRenders = 8;
constexpr double kStudioStopSeconds = 3;

// A limit as the documents list it: the documents whose limit tables hold it
// (docs/renderer.md, docs/scale.md, docs/studio.md), its name, the largest value
// allowed and a line on what it bounds.
enum LimitDoc : unsigned { kDocRenderer = 1, kDocScale = 2, kDocStudio = 4 };
struct Limit {
    unsigned docs;
    const char* name;
    double value;
    const char* meaning;
};

// Every limit above.
inline constexpr Limit kLimits[] = {
    {kDocRenderer, "imageSide", kMaxImageSide, "pixels on each side of an image"},
    {kDocRenderer, "imagePixels", kMaxImagePixels, "pixels of an image in all"},
    {kDocRenderer, "spp", kMaxSpp, "samples per pixel"},
    {kDocRenderer, "threads", kMaxThreads, "render threads (0: every core)"},
    {kDocRenderer, "seed", UINT32_MAX, "the random seed"},
    {kDocRenderer, "maxDepth", kMaxDepth, "bounces of a ray (rayDepthLimit)"},
    {kDocRenderer, "aoSamples", kMaxAoSamples, "occlusion rays per ambientOcclusion call"},
    {kDocRenderer, "giSamples", kMaxGiSamples, "gather rays per globalIllumination call"},
    {kDocRenderer, "gatherWork", kMaxGatherWork,
     "aoSamples x giSamples: occlusion rays of a gather"},
    {kDocRenderer, "nesting", kMaxNesting,
     "shader calls in progress on a thread; deeper traces are black"},
    {kDocRenderer, "skips", kMaxSkips, "surfaces a ray passes through by skipHit"},
    {kDocRenderer, "shadowHits", kMaxShadowHits, "surfaces a shadow ray passes through"},
    {kDocRenderer, "segments", kMaxSegments, "segments of a sphere or disk"},
    {kDocRenderer, "meshTriangles", kMaxMeshTriangles, "triangles of one OBJ mesh"},
    {kDocRenderer, "meshFileBytes", kMaxMeshFileBytes, "bytes of an OBJ file"},
    {kDocRenderer, "sceneFileBytes", kMaxSceneFileBytes, "bytes of a scene file"},
    {kDocRenderer, "textureSide", kMaxTextureSide, "pixels on each side of a texture image"},
    {kDocRenderer, "texturePixels", kMaxTexturePixels, "pixels of a texture image's top level"},
    {kDocRenderer | kDocScale, "imageFileBytes", kMaxImageFileBytes,
     "bytes of an image file read: a texture, a tile or a frame"},
    {kDocRenderer | kDocScale, "frames", kMaxFrames, "frames of an animation or wedge"},
    {kDocRenderer | kDocScale, "tiles", kMaxTiles, "tiles of one frame in a plan or merge"},
    {kDocScale, "tasks", kMaxTasks, "tasks of one plan, tiles of one merge (frames x tiles)"},
    {kDocScale, "sheetColumns", kMaxSheetColumns, "columns of a contact sheet"},
    {kDocScale, "sheetPixels", kMaxSheetPixels, "pixels of a contact sheet; cells shrink to fit"},
    {kDocScale, "sidecarBytes", kMaxSidecarBytes, "bytes of a tile's sidecar"},
    {kDocRenderer | kDocScale | kDocStudio, "jsonDepth", kMaxJsonDepth,
     "arrays and objects nested in a scene, sidecar or request"},
    {kDocStudio, "side", kStudioMaxSide, "pixels on each side of a preview"},
    {kDocStudio, "spp", kStudioMaxSpp, "samples per pixel of a preview"},
    {kDocStudio, "pixelSamples", kStudioMaxPixelSamples, "width x height x spp of a preview"},
    {kDocStudio, "seed", kStudioMaxSeed, "the random seed of a preview or lobe"},
    {kDocStudio, "lobeSamples", kStudioMaxLobeSamples, "samples of a lobe plot"},
    {kDocStudio, "incidence", kStudioMaxIncidence, "degrees of a lobe's incidence from the normal"},
    {kDocStudio, "requestBytes", kStudioMaxRequestBytes,
     "bytes of a request body, decoded; twice that as sent with chunk framing"},
    {kDocStudio, "headBytes", kStudioMaxHeadBytes, "bytes of a request line and headers"},
    {kDocStudio, "receiveSeconds", kStudioReceiveSeconds,
     "seconds for a whole request to arrive, from its first byte"},
    {kDocStudio, "readSeconds", kStudioReadSeconds, "seconds waiting for a client to send"},
    {kDocStudio, "writeSeconds", kStudioWriteSeconds, "seconds waiting for a client to take data"},
    {kDocStudio, "sendSeconds", kStudioSendSeconds, "seconds for a client to take a whole answer"},
    {kDocStudio, "idleSeconds", kStudioIdleSeconds,
     "seconds a kept-alive connection waits for its next request"},
    {kDocStudio, "connections", kStudioConnections,
     "connections served at once; more wait for a thread"},
    {kDocStudio, "runningRenders", kStudioRunningRenders,
     "render, scene, lobe and usage requests working at once"},
    {kDocStudio, "queuedRenders", kStudioQueuedRenders,
     "such requests waiting for a place; more are answered 503"},
    {kDocStudio, "stopSeconds", kStudioStopSeconds,
     "seconds after SIGTERM or SIGINT before work still running is abandoned"},
};

// An integer render setting: its scene key, its range, and the field it is.
struct SettingRange {
    const char* key;
    int64_t lo, hi;
    int64_t (*get)(const RenderSettings&);
    void (*set)(RenderSettings&, int64_t);
};
// width, height, spp, threads, seed, maxDepth, aoSamples or giSamples; null for
// any other key.
const SettingRange* settingRange(const std::string& key);

// "" when the settings keep within the limits; otherwise what is wrong, naming
// the setting by its scene key.
std::string validate(const RenderSettings& settings);
// "" when `region` is the whole frame or a non-empty part of a width x height one.
std::string validate(const Region& region, int width, int height);

}  // namespace vref

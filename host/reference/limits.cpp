#include "host/reference/limits.h"

#include <cmath>

namespace vref {

namespace {

const SettingRange kRanges[] = {
    {"width", 1, kMaxImageSide},     {"height", 1, kMaxImageSide},    {"spp", 1, kMaxSpp},
    {"threads", 0, kMaxThreads},     {"seed", 0, UINT32_MAX},         {"maxDepth", 1, kMaxDepth},
    {"aoSamples", 0, kMaxAoSamples}, {"giSamples", 0, kMaxGiSamples},
};

}  // namespace

const SettingRange* settingRange(const std::string& key) {
    for (const SettingRange& r : kRanges) {
        if (key == r.key) return &r;
    }
    return nullptr;
}

std::string validate(const RenderSettings& s) {
    const int64_t values[] = {s.width, s.height,   s.spp,       s.threads,
                              s.seed,  s.maxDepth, s.aoSamples, s.giSamples};
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        const SettingRange& r = kRanges[i];
        if (values[i] < r.lo || values[i] > r.hi) {
            return "\"" + std::string(r.key) + "\" is " + std::to_string(values[i]) +
                   "; it must lie in [" + std::to_string(r.lo) + ", " + std::to_string(r.hi) + "]";
        }
    }
    int64_t pixels = int64_t{s.width} * s.height;
    if (pixels > kMaxImagePixels) {
        return "an image of " + std::to_string(s.width) + " x " + std::to_string(s.height) + " = " +
               std::to_string(pixels) + " pixels exceeds the limit of " +
               std::to_string(kMaxImagePixels);
    }
    int64_t gather = int64_t{s.aoSamples} * s.giSamples;
    if (gather > kMaxGatherWork) {
        return "\"aoSamples\" x \"giSamples\" = " + std::to_string(gather) +
               " occlusion rays per gather exceeds the limit of " + std::to_string(kMaxGatherWork);
    }
    if (!(s.aoDistance >= 0.0f && std::isfinite(s.aoDistance))) {
        return "\"aoDistance\" must be a finite number >= 0";
    }
    if (!(s.clampValue >= 0.0f && std::isfinite(s.clampValue))) {
        return "\"clamp\" must be a finite number >= 0";
    }
    return "";
}

std::string validate(const Camera& c) {
    if (!isFinite(c.position) || !isFinite(c.target) || !isFinite(c.up)) {
        return "\"position\", \"target\" and \"up\" must be finite";
    }
    if (!(c.fovY > 0.0f && c.fovY < 180.0f)) return "\"fov\" must lie in (0, 180)";
    float3 view = c.target - c.position;
    if (isZero(view) || !isFinite(view)) return "\"target\" equals \"position\"";
    if (isZero(c.up)) return "\"up\" is zero";
    // Below this the image plane's axes are noise: the picture would be one colour.
    if (!(length(cross(normalize(view), normalize(c.up))) > 1e-4f)) {
        return "\"up\" is parallel to the view direction";
    }
    return "";
}

}  // namespace vref

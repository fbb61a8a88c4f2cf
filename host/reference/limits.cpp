#include "host/reference/limits.h"

#include <cmath>

#include "host/reference/settings.h"

namespace vref {

namespace {

template <typename T, T RenderSettings::*Field>
int64_t get(const RenderSettings& s) {
    return s.*Field;
}

template <typename T, T RenderSettings::*Field>
void set(RenderSettings& s, int64_t v) {
    s.*Field = static_cast<T>(v);
}

using S = RenderSettings;
const SettingRange kRanges[] = {
    {"width", 1, kMaxImageSide, get<int, &S::width>, set<int, &S::width>},
    {"height", 1, kMaxImageSide, get<int, &S::height>, set<int, &S::height>},
    {"spp", 1, kMaxSpp, get<int, &S::spp>, set<int, &S::spp>},
    {"threads", 0, kMaxThreads, get<int, &S::threads>, set<int, &S::threads>},
    {"seed", 0, UINT32_MAX, get<uint32_t, &S::seed>, set<uint32_t, &S::seed>},
    {"maxDepth", 1, kMaxDepth, get<int, &S::maxDepth>, set<int, &S::maxDepth>},
    {"aoSamples", 0, kMaxAoSamples, get<int, &S::aoSamples>, set<int, &S::aoSamples>},
    {"giSamples", 0, kMaxGiSamples, get<int, &S::giSamples>, set<int, &S::giSamples>},
};

}  // namespace

const SettingRange* settingRange(const std::string& key) {
    for (const SettingRange& r : kRanges) {
        if (key == r.key) return &r;
    }
    return nullptr;
}

std::string validate(const RenderSettings& s) {
    for (const SettingRange& r : kRanges) {
        int64_t v = r.get(s);
        if (v < r.lo || v > r.hi) {
            return "\"" + std::string(r.key) + "\" is " + std::to_string(v) + "; it must lie in [" +
                   std::to_string(r.lo) + ", " + std::to_string(r.hi) + "]";
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

std::string validate(const Region& r, int width, int height) {
    if (r.whole()) return "";
    std::string text = std::to_string(r.x0) + "," + std::to_string(r.y0) + "," +
                       std::to_string(r.x1) + "," + std::to_string(r.y1);
    if (r.x1 < r.x0 || r.y1 < r.y0) return "region " + text + " is reversed (x1 < x0 or y1 < y0)";
    if (r.x1 == r.x0 || r.y1 == r.y0) return "region " + text + " is empty";
    if (r.x0 < 0 || r.y0 < 0 || r.x1 > width || r.y1 > height) {
        return "region " + text + " lies outside the " + std::to_string(width) + " x " +
               std::to_string(height) + " image";
    }
    return "";
}

}  // namespace vref

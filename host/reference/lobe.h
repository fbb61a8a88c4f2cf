// The lobe of a material at one point of a flat surface, as data: evaluateBsdf
// over the plane of incidence and where sampleBsdf sends its directions.
#pragma once

#include <atomic>

#include <nlohmann/json.hpp>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vref {

// `scene` holds the material "subject". Stops early when `cancel` is set; the
// answer then counts only the samples taken.
nlohmann::json computeLobe(const Scene& scene, const RenderSettings& settings,
                           double incidenceDegrees, int samples, const std::atomic<bool>* cancel);

}  // namespace vref

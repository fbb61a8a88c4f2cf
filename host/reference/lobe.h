// The lobe of a material at one point of a flat surface, as data: evaluateBsdf
// over the plane of incidence and where sampleBsdf sends its directions.
#pragma once

#include <atomic>

#include <nlohmann/json.hpp>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vref {

// A hit at `position` of a flat surface with unit `normal` and unit `tangent`,
// in world space, which is also the surface's object space.
struct FlatHit {
    float3 position;
    float3 normal{0.0f, 0.0f, 1.0f};
    float3 tangent{1.0f, 0.0f, 0.0f};
};

// The state the reference host gives `material` at `hit`, seen from the unit
// direction `toViewer` (pointing away from the surface) by a camera ray from 4
// units away: identity matrices, uv (0.5, 0.5), the tangent and bitangent
// (normal x tangent) attributes, a white vertex colour.
pxs::ShadingState surfaceState(const ShaderInstance& material, const FlatHit& hit, float3 toViewer,
                               int depthLimit);

// `scene` holds the material "subject". Stops early when `cancel` is set; the
// answer then counts only the samples taken.
nlohmann::json computeLobe(const Scene& scene, const RenderSettings& settings,
                           double incidenceDegrees, int samples, const std::atomic<bool>* cancel);

}  // namespace vref

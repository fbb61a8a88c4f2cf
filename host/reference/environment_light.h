// The environment as a light source of the path integrator: the importance map of
// a scene's environment shader, and the weights that combine the directions drawn
// from it with the BSDF's (docs/renderer.md, "Environment light").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "host/reference/environment_map.h"

namespace vref {

// Cells of the map: about 0.7 degrees across at the equator, so that a sun of a few
// degrees covers several and its samples mostly land on it.
constexpr int kEnvironmentMapWidth = 512;
constexpr int kEnvironmentMapHeight = 256;

// The map of a scene's environment, kept with the scene: made at its first
// path-mode render (environmentMap in path_integrator.h) and made again when what
// it was made from changes.
class EnvironmentLight {
  public:
    using MakeMap = std::function<std::shared_ptr<const EnvironmentMap>()>;

    // The kept map when it was made from `key` (a hash of the shader and what its
    // calls see), else the one `make` makes, kept. Safe from several threads at once.
    std::shared_ptr<const EnvironmentMap> map(uint64_t key, const MakeMap& make);

  private:
    std::mutex mutex_;
    bool made_ = false;
    uint64_t key_ = 0;  // what the kept map was made from
    std::shared_ptr<const EnvironmentMap> map_;
};

// The share of a direction's light counted by the sample that reached it, when
// both the environment (density `environmentPdf`) and the BSDF (the stand-in
// density `bsdfProxy`) may take that direction: the power heuristic. The two
// shares of one direction add up to 1.
// Squares in double precision: neither overflows for any float.
inline float environmentShare(float environmentPdf, float bsdfProxy) {
    double e = double(environmentPdf) * environmentPdf, b = double(bsdfProxy) * bsdfProxy;
    return static_cast<float>(e / (e + b));
}
inline float bsdfShare(float environmentPdf, float bsdfProxy) {
    double e = double(environmentPdf) * environmentPdf, b = double(bsdfProxy) * bsdfProxy;
    return static_cast<float>(b / (e + b));
}

// The BSDF's stand-in density of a direction: the largest channel of what
// evaluateBsdf gives for it (value x cosine), as if the material sampled its
// scattering in proportion and reflected everything. 0 for nothing usable.
inline float bsdfProxy(float3 valueTimesCosine) {
    float m = maxComponent(valueTimesCosine);
    return m > 0.0f && m < 3.0e38f ? m : 0.0f;
}

}  // namespace vref

// The grading chain every image-based or traced lighting term of the legacy and
// background materials passes through: contrast about a pivot, a gain that is a
// scalar or a colour applied to the luminance, and a saturation.
//
// A stage is a group of separately registered parameters; the material decides
// which stages feed which term. Nothing here clamps: the material clamps its
// final colour if it clamps at all.
#pragma once

#include <initializer_list>

#include "vesper/types.h"

namespace pxs {

// Luminance with the fixed weights kIBLLuminanceFactors (an environment's
// adjustable weights do not apply here).
float gradingLuminance(float3 v);

struct ContrastStage {
    float3 pivot;
    float value;
};

// Gain source 1 selects the colour gain; any other value the scalar gain.
struct GainStage {
    int32_t source;
    float3 color;
    float value;
};

// Contrast stages innermost first; gain stages in the order term, global,
// channel; `saturation` is the product of the saturation values the material
// names. The initializer lists live on the caller's stack: nothing allocates.
float3 gradeTerm(float3 v, std::initializer_list<ContrastStage> contrast,
                 std::initializer_list<GainStage> gains, float saturation);

}  // namespace pxs

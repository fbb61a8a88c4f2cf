// What the surfaces that catch shadows for compositing share (the shadow plane
// and the background geometry): the visible share of the lights, the factor that
// darkens towards a shadow colour, and the straight continuation through them.
#pragma once

#include "frame/math.h"
#include "vesper/host.h"

namespace pxs {

// The lights at a point, each weighed by its brightest channel.
struct LightVisibility {
    float total = 0.0f;    // sum of each light's brightest colour channel
    float3 visible{0.0f};  // each light's transmission times its brightest visible channel

    // The visible share per channel; 1 where no light shines (or only black ones).
    float3 ratio() const { return total != 0.0f ? visible / total : float3(1.0f); }
};

// Sums the host's light list for (p, n); every node counts, whatever its type.
LightVisibility lightVisibility(IRenderServices* services, const float3& p, const float3& n);

// What full shadow of strength `intensity` turns light into: `color` at 1, white at 0.
inline float3 shadowTint(float3 color, float intensity) {
    return intensity * color + float3(1.0f - intensity);
}

// The factor S: the unshadowed share `ratio` of the light, the rest towards the
// shadow tint, times the unoccluded share `open`, the rest towards `color`.
float3 shadowCatcherFactor(float3 ratio, float3 open, float3 color, float intensity);

// A straight continuation of weight 1 along the ray, whatever the host allows.
inline void writeStraightContinuation(ShadingState* st) {
    st->sampleDirection = st->rayDirection;
    st->sampleValue = float3(1.0f);
    st->sampleCosine = 1.0f;
    st->sampleWeight = 1.0f;
    st->sampleKind = kSampleSingleLobe;
}

}  // namespace pxs

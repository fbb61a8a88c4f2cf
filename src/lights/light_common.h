// What the point and spot lights share: the range test, the shadow request and
// the distance falloff.
#pragma once

#include "frame/math.h"
#include "frame/services.h"
#include "vesper/host.h"
#include "vesper/state.h"

namespace pxs {

// A point farther than `range` receives nothing. A NaN distance is not farther
// and goes on to be lit.
inline bool beyondRange(const ShadingState& st, float range) {
    return st.lightSample.lightDistance > range;
}

// lightTransmission: the host's shadow test from the lit point to the light, or
// unshadowed when the light casts no shadows.
inline void writeLightTransmission(IRenderServices* services, ShadingState* st, bool castShadows) {
    if (!castShadows) {
        st->lightSample.lightTransmission = float3(1.0f);
        return;
    }
    st->lightSample.lightTransmission =
        svc::traceShadow(services, st->position, st->lightSample.lightPosition);
}

// Range-normalised falloff over the distance scale factors.x with exponent
// factors.y. A zero scale makes d / scale infinite at every d > 0; at the light
// itself the ratio would be 0 / 0, so that one point takes the value every other
// distance gets (0 for a non-negative exponent) instead of a NaN. A negative
// scale makes the ratio negative, whose fractional powers have no value: such a
// falloff gives no light rather than a NaN colour.
inline float distanceFalloff(float d, float3 factors) {
    if (factors.x == 0.0f && d == 0.0f) d = 1.0f;
    const float f = rangeFalloff(d, factors.x, factors.y);
    return f == f ? f : 0.0f;
}

}  // namespace pxs

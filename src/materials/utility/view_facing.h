// The view-facing cosine shared by the diagnostic materials.
#pragma once

#include "frame/math.h"
#include "vesper/state.h"

namespace pxs {

struct ViewFacing {
    float sign;    // -1 when the normal is reversed, else +1
    float cosine;  // signed dot(n, rayDirection)
};

// n = sign * normal, turned towards the viewer when asked; cosine = dot(n, D).
inline ViewFacing viewFacing(const ShadingState& st, bool reverseNormal, bool faceForward) {
    float s = reverseNormal ? -1.0f : 1.0f;
    float3 n = s * st.normal;
    if (faceForward && dot(st.rayDirection, st.geometricNormal) > 0.0f) n = -n;
    return {s, dot(n, st.rayDirection)};
}

}  // namespace pxs

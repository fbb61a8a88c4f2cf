// The integrators: how the colour of a camera ray is made (the render mode).
//
//   direct  the first surface's shade answers the ray; the light, reflections and
//           occlusion it gathers it asks the render services for (services.h)
//   path    a path through the materials' sampleBsdf, with the light that reaches
//           each bounce through evaluateBsdf (path_integrator.h)
#pragma once

#include "host/reference/services.h"

namespace vref {

// Colour and alpha of a camera ray, by the integrator the settings name.
Radiance cameraRay(RenderServices& services, float3 origin, float3 direction);

}  // namespace vref

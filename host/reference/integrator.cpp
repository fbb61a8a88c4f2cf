#include "host/reference/integrator.h"

#include "host/reference/path_integrator.h"

namespace vref {

Radiance cameraRay(RenderServices& services, float3 origin, float3 direction) {
    if (services.settings().mode == Mode::Path) {
        return PathIntegrator(services).cameraRay(origin, normalize(direction));
    }
    return services.trace(pxs::kRayCamera, origin, direction, 0);
}

}  // namespace vref

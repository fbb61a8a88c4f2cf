// The path integrator: a camera ray followed from surface to surface through
// the materials' sampleBsdf, gathering at every bounce the light that reaches
// the point through evaluateBsdf. A material without both BSDF operations ends
// the path with its own shade; a ray that leaves the scene, or reaches the depth
// limit, takes the environment's colour. After the third bounce Russian roulette
// ends paths that carry little.
#pragma once

#include "host/reference/services.h"

namespace vref {

class PathIntegrator {
  public:
    explicit PathIntegrator(RenderServices& services) : services_(services) {}

    // Colour and alpha of a camera ray; `direction` is of unit length.
    Radiance cameraRay(float3 origin, float3 direction);

  private:
    // A path on its way: where its next ray starts, what it has gathered and
    // what the next bounce's light is weighted by.
    struct Path {
        float3 origin, direction;
        float tnear = 0.0f;  // where the next ray may first hit
        int32_t rayType = pxs::kRayCamera;
        float medium = 1.0f;  // index of refraction the ray travels in
        float3 radiance, throughput = float3(1.0f);
        float alpha = 1.0f;  // the camera ray's
    };

    // One bounce at `depth`: false when the path ends there.
    bool bounce(Path& path, int depth);
    // Ends the path with a colour it could not scatter past.
    static void end(Path& path, const Radiance& r, int depth);
    // The light of every source that reaches the hit, through evaluateBsdf.
    void addDirectLight(Path& path, const ShaderInstance& material, const pxs::ShadingState& st,
                        const SurfacePoint& sp);
    // Follows the direction sampleBsdf chose: false when the path ends there.
    bool scatter(Path& path, const pxs::ShadingState& st, const SurfacePoint& sp, int depth);

    RenderServices& services_;
};

}  // namespace vref

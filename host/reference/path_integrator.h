// The path integrator: a camera ray followed from surface to surface through
// the materials' sampleBsdf, gathering at every bounce the light that reaches
// the point through evaluateBsdf: every light shader, one of the host lights
// (chosen in proportion to what it would bring unshadowed), and the environment
// towards a direction drawn from its importance map (environment_light.h), weighed
// against the BSDF's own samples of the environment. A material without both BSDF
// operations ends the path with its own shade; a ray that leaves the scene, or
// reaches the depth limit, takes the environment's colour. After the first bounce
// Russian roulette ends paths that carry little.
#pragma once

#include <memory>

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
        // When the environment was also sampled from the bounce the ray leaves, and
        // the ray's direction was drawn from a density: that bounce's material and
        // state, so that the environment the ray finds can be weighed (null: it
        // counts whole).
        const ShaderInstance* weighAgainst = nullptr;
        pxs::ShadingState from;
        int fromDepth = 0;
        int32_t fromRayType = pxs::kRayCamera;
    };
    // A direction drawn from the environment's map at a bounce.
    struct EnvironmentSample {
        float3 direction;
        float pdf = 0.0f;
        float3 value;          // evaluateBsdf's value x cosine towards it
        bool weighed = false;  // the bounce's BSDF samples share the environment
    };

    // One bounce at `depth`: false when the path ends there.
    bool bounce(Path& path, int depth);
    // Ends the path with a colour it could not scatter past.
    static void end(Path& path, const Radiance& r, int depth);
    // The BSDF's value x cosine towards `direction`.
    float3 evaluate(const ShaderInstance& material, pxs::ShadingState& st, float3 direction);
    // The light of the sources that reaches the hit, through evaluateBsdf: every
    // light shader, and one host light chosen by lightWeight.
    void addDirectLight(Path& path, const ShaderInstance& material, pxs::ShadingState& st,
                        const SurfacePoint& sp);
    static float lightWeight(const Light& light, float3 p, float3 n);
    // One light's share at the hit, divided by the chance it was chosen with.
    void addLight(Path& path, const Light& light, float probability, const ShaderInstance& material,
                  pxs::ShadingState& st, const SurfacePoint& sp, float3 n);
    // Draws a direction from the environment's map and evaluates the BSDF there.
    EnvironmentSample sampleEnvironment(const ShaderInstance& material, pxs::ShadingState& st,
                                        int depth);
    // The environment's light along that direction when nothing is in the way,
    // weighed against the BSDF's samples.
    void addEnvironmentLight(Path& path, const EnvironmentSample& e, const SurfacePoint& sp,
                             int depth);
    // The share of the environment a ray leaving the scene counts.
    float escapeShare(Path& path);
    // Follows the direction sampleBsdf chose: false when the path ends there.
    bool scatter(Path& path, const pxs::ShadingState& st, const SurfacePoint& sp, int depth);

    RenderServices& services_;
};

// The importance map of the scene's environment for rendering with `settings`,
// kept with the scene; null when paths take the environment only from their BSDF
// samples: direct mode, no environment, a black one, or a depth limit that leaves
// no bounce to sample it from. Calls the environment shader through the contract
// over a grid of directions, as a reflection ray sees it; safe from several
// threads at once.
std::shared_ptr<const EnvironmentMap> environmentMap(const Scene& scene,
                                                     const RenderSettings& settings);

}  // namespace vref

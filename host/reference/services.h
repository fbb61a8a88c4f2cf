// The render services of the reference host, and the shading it drives.
//
// One RenderServices object belongs to one render thread. It traces rays in the
// scene, builds the light list by calling the light shaders, calls material and
// environment shaders through their slots, and answers every service the shaders
// ask for while being called:
//
//   getLights        one node per light that reaches the point with a non-zero
//                    colour: the light shader's lightColor and lightTransmission,
//                    lightContribution = their product, lightFactor = |N.L|
//                    (materials apply no cosine of their own), type 1
//   traceShadow      product of the shadowTransmission of every surface between
//                    the two points (ray type kRayShadow); a surface whose
//                    material does not announce shadowTransmission blocks
//   traceRay         the given ray type
//   traceReflection, traceGlossyReflection, traceAnisotropicReflection
//                    reflection rays (type 2); glossiness g spreads the direction
//                    over a cone of roughness g (0 = mirror), per tangent axis for
//                    the anisotropic form
//   traceTransmission, traceGlossyTransmission
//                    rays through the surface keep the ray type of the hit, with
//                    camera rays continuing as type 4; the alpha seen behind is
//                    written to out->w
//   ambientLight     the scene's ambient colour
//   ambientOcclusion fraction of cosine-distributed occlusion rays (type 16) that
//                    travel the occlusion distance, honouring shadowTransmission
//   globalIllumination  one bounce of indirect light: the mean colour of
//                    cosine-distributed gather rays (type 32); none inside a gather
//   random, random2  the pixel sample's low-discrepancy sequence (sampler.h);
//                    random2 takes an aligned pair of dimensions
//   noise*           the functions of noise.h
//
// The integrators (integrator.h) drive it: a camera ray is traced by the
// services themselves, or followed along a path through the materials' BSDFs.
//
// Depth: a camera ray has depth 0 and every traced ray one more than the hit that
// asked for it. A ray whose depth reaches the limit is not traced into the scene:
// the environment answers it (with rayDepth >= rayDepthLimit). A shade that sets
// skipHit is continued along the same ray behind the surface.
#pragma once

#include <cstdint>
#include <vector>

#include "host/reference/environment_map.h"
#include "host/reference/sampler.h"
#include "host/reference/scene.h"
#include "host/reference/settings.h"
#include "vesper/vesper.h"

namespace vref {

// Ray type the host gives to light shadow rays. No shader class distinguishes it;
// it is deliberately not the occlusion code 16, which shadow catchers block.
constexpr int32_t kRayShadow = 8;

// Ray and shading counts of one thread.
struct RenderStats {
    uint64_t rays = 0;
    uint64_t shadeCalls = 0;
};

struct Radiance {
    float3 color;
    float alpha = 1.0f;
};

class RenderServices final : public pxs::IRenderServices {
    // What the shaders currently being called were asked about.
    struct Context {
        int depth = 0;
        int32_t rayType = pxs::kRayCamera;
        bool inGather = false;
    };

  public:
    // `environmentMap`, when given, is the importance map of the scene's
    // environment for the path integrator; it must outlive the services.
    RenderServices(const Scene& scene, const RenderSettings& settings,
                   const EnvironmentMap* environmentMap = nullptr);

    // Starts a new pixel sample: seeds its random sequence.
    void beginSample(int x, int y, int sample);
    // Raster position of the sample, handed to shaders as pixelPosition.
    void setRaster(float2 raster) { raster_ = raster; }
    // Colour and alpha arriving along a ray of `rayType` at `depth`.
    Radiance trace(int32_t rayType, float3 origin, float3 direction, int depth);
    // Per-channel transmission between two points for a ray of `rayType`.
    float3 transmission(float3 from, float3 to, int32_t rayType);

    const RenderStats& stats() const { return stats_; }

    // ---- what the integrators build on ----
    const Scene& scene() const { return scene_; }
    const RenderSettings& settings() const { return settings_; }
    Sampler& sampler() { return sampler_; }
    const EnvironmentMap* environmentMap() const { return environmentMap_; }
    // The first surface along a ray from `tnear` on; counted as a ray.
    bool intersect(float3 origin, float3 direction, float tnear, Hit* hit);
    // Whether any surface lies along the ray from a surface point `origin` out of
    // the scene; counted as a ray.
    bool occluded(float3 origin, float3 direction);
    // What `light` brings to point p of normal n, lying in unit direction l at
    // distance d from it: its colour before shadowing and its shadow transmission
    // (a light shader's answer, or a host light's shadow ray). False when nothing.
    bool lightArrival(const Light& light, float3 p, float3 n, float3 l, float d, float3* color,
                      float3* shadow);
    // What the environment answers a ray that leaves the scene.
    Radiance environment(int32_t rayType, float3 direction, int depth);
    // The shade of the surface a ray hit, continued behind surfaces that skip the hit.
    Radiance shadeHit(const Hit& hit, int32_t rayType, float3 origin, float3 direction, int depth,
                      float tnear);
    // The state of a hit as its material's operations see it.
    void fillSurface(pxs::ShadingState* st, const Hit& hit, const SurfacePoint& sp, float3 origin,
                     float3 direction, int32_t rayType, int depth) const;
    // A material's BSDF operations, counted as shader calls.
    void evaluateBsdf(const ShaderInstance& material, pxs::ShadingState* st);
    void sampleBsdf(const ShaderInstance& material, pxs::ShadingState* st);
    // How far from a surface point secondary rays start, so they miss that surface.
    static float offset(float3 p);

    // While it lives, the services answer the calls of one hit's shader: at its
    // depth and ray type, with a light-node buffer of its own.
    class HitScope {
      public:
        HitScope(RenderServices& services, int depth, int32_t rayType);
        ~HitScope();
        HitScope(const HitScope&) = delete;
        HitScope& operator=(const HitScope&) = delete;

      private:
        RenderServices& services_;
        Context saved_;
    };

    // ---- IRenderServices ----
    const pxs::LightNode* getLights(int32_t selectionMask, const float3* position,
                                    const float3* normal) override;
    float3* ambientLight(float3* out, const float3* position, const float3* normal) override;
    float3* traceShadow(float3* out, const float3* from, const float3* to) override;
    float3* traceRay(float3* out, int32_t rayType, const float3* origin, const float3* direction,
                     float weight) override;
    float3* traceReflection(float3* out, const float3* origin, const float3* direction,
                            float weight) override;
    float4* traceTransmission(float4* out, const float3* origin, const float3* direction,
                              float weight) override;
    float3* traceAnisotropicReflection(float3* out, const float3* origin, const float3* direction,
                                       const float3* axisU, const float3* axisV, float glossinessU,
                                       float glossinessV, float weight) override;
    float3* traceGlossyReflection(float3* out, const float3* origin, const float3* direction,
                                  float glossiness, float weight) override;
    float4* traceGlossyTransmission(float4* out, const float3* origin, const float3* direction,
                                    float glossiness, float weight) override;
    float3* ambientOcclusion(float3* out, const float3* position, const float3* normal,
                             float weight) override;
    float3* globalIllumination(float3* out, const float3* position, const float3* direction,
                               float weight) override;
    float random() override;
    float2* random2(float2* out) override;
    float noise3(const float* p) override;
    float noise3b(const float3* point) override;
    float noise2(const float2* point) override;
    float noise1(float x) override;
    float latticeNoise(const float3* point) override;
    float3* cellJitter(float3* out, const float3* cell) override;

  private:
    void fillBase(pxs::ShadingState* st, float3 origin, float3 direction, int32_t rayType,
                  int depth) const;
    // Traced continuation of a service call: the type of transmitted rays, the
    // depth, and the weight cut-off.
    int32_t throughType() const;
    bool worthTracing(float weight) const;
    float3 glossyDirection(float3 direction, float3 axisU, float gu, float gv);
    void shadeLight(const Light& light, float3 p, float3 n, float3 l, float d, float3* color,
                    float3* trans);
    bool hostLight(const Light& light, float3 p, float3 l, float d, float3* color, float3* trans);

    enum class AttributeSource { None, Uv, Tangent, Bitangent, Color };
    struct AttributeSlot {
        int offset, size;
        AttributeSource source;
    };
    struct ObjectMatrices {
        pxs::matrix4 toObject, toWorld;
    };

    const Scene& scene_;
    const RenderSettings& settings_;
    const EnvironmentMap* environmentMap_;
    // The state every per-hit call starts from, the objects' matrices and where
    // each material wants its vertex attributes: per-hit work does no look-ups.
    pxs::ShadingState base_;
    std::vector<ObjectMatrices> objectMatrices_;
    std::vector<std::vector<AttributeSlot>> attributeSlots_;
    Sampler sampler_;
    float2 raster_;
    Context ctx_;
    int nesting_ = 0;  // per-hit calls in progress: picks the light-node buffer
    std::vector<std::vector<pxs::LightNode>> nodeBuffers_;
    RenderStats stats_;
};

}  // namespace vref

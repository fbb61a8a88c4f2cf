#include "host/reference/path_integrator.h"

#include <algorithm>

#include "host/slots.h"

namespace vref {

namespace {

// Sampler dimensions: the pixel jitter, then a block per path bounce (a bounce that
// needs more goes on into the next block, which then starts later).
constexpr uint32_t kCameraDimensions = 2;
constexpr uint32_t kDimensionsPerBounce = 8;
// Bounces before Russian roulette may end a path.
constexpr int kRouletteDepth = 3;

bool scatters(const ShaderInstance& material) {
    return material.has(pxs::kCapEvaluateBsdf) && material.has(pxs::kCapSampleBsdf);
}

}  // namespace

Radiance PathIntegrator::cameraRay(float3 origin, float3 direction) {
    if (isZero(direction) || !isFinite(direction)) return {float3(), 1.0f};
    Path path;
    path.origin = origin;
    path.direction = direction;
    for (int depth = 0; bounce(path, depth); ++depth) {
    }
    return {path.radiance, path.alpha};
}

void PathIntegrator::end(Path& path, const Radiance& r, int depth) {
    path.radiance += path.throughput * r.color;
    if (depth == 0) path.alpha = r.alpha;
}

bool PathIntegrator::bounce(Path& path, int depth) {
    // Each bounce starts at its own dimensions, the same in every sample, so that
    // its choices are stratified over the pixel's samples.
    services_.sampler().skipTo(kCameraDimensions +
                               kDimensionsPerBounce * static_cast<uint32_t>(depth));
    if (depth >= services_.settings().maxDepth) {
        path.radiance +=
            path.throughput * services_.environment(path.rayType, path.direction, depth).color;
        return false;
    }
    Hit hit;
    if (!services_.intersect(path.origin, path.direction, path.tnear, &hit)) {
        end(path, services_.environment(path.rayType, path.direction, depth), depth);
        return false;
    }
    const Scene& scene = services_.scene();
    const ShaderInstance& material = scene.material(scene.object(hit.object).material);
    if (!scatters(material)) {
        // No scattering to sample: the material's own shading ends the path.
        end(path,
            services_.shadeHit(hit, path.rayType, path.origin, path.direction, depth, path.tnear),
            depth);
        return false;
    }
    SurfacePoint sp = scene.surface(hit, path.origin, path.direction);
    pxs::ShadingState st;
    services_.fillSurface(&st, hit, sp, path.origin, path.direction, path.rayType, depth);
    st.mediumIor = path.medium;
    {
        RenderServices::HitScope scope(services_, depth, path.rayType);
        addDirectLight(path, material, st, sp);
        st.sampleKind = pxs::kSampleNone;
        services_.sampleBsdf(material, &st);
    }
    return scatter(path, st, sp, depth);
}

void PathIntegrator::addDirectLight(Path& path, const ShaderInstance& material,
                                    const pxs::ShadingState& st, const SurfacePoint& sp) {
    for (const pxs::LightNode* n = services_.getLights(0, &sp.position, &sp.normal); n;
         n = n->next) {
        pxs::ShadingState e = st;
        e.sampleDirection = n->direction;
        e.sampleValue = float3();
        e.sampleCosine = 0.0f;
        services_.evaluateBsdf(material, &e);
        float3 c = e.sampleValue * e.sampleCosine * n->lightColor * n->lightTransmission;
        if (isFinite(c)) path.radiance += path.throughput * c;
    }
}

bool PathIntegrator::scatter(Path& path, const pxs::ShadingState& st, const SurfacePoint& sp,
                             int depth) {
    if (st.sampleKind == pxs::kSampleNone) return false;
    float3 f = st.sampleValue * (st.sampleCosine * st.sampleWeight);
    float3 next = normalize(st.sampleDirection);
    if (!isFinite(f) || isZero(next) || !isFinite(next)) return false;
    path.throughput *= f;
    if (!(maxComponent(path.throughput) > 0.0f)) return false;
    // The side the new direction leaves on tells a transmission from a
    // reflection; the kind does not (the dielectric labels its reflections
    // with the transmission codes). Only a ray through the surface enters the
    // medium whose index the call left in outsideIor (the preset 1 when it
    // wrote none).
    float3 ng = sp.geometricNormal;
    bool through = dot(next, ng) * dot(path.direction, ng) > 0.0f;
    if (through) {
        if (path.rayType == pxs::kRayCamera) path.rayType = pxs::kRayContinuation;
        path.medium = st.outsideIor;
    } else {
        path.rayType = pxs::kRayReflection;
    }
    // Russian roulette once the path is long enough to matter little.
    if (depth >= kRouletteDepth) {
        float q = std::min(0.95f, maxComponent(path.throughput));
        if (services_.sampler().next() >= q) return false;
        path.throughput = path.throughput / q;
    }
    path.origin = sp.position;
    path.direction = next;
    path.tnear = RenderServices::offset(path.origin);
    return true;
}

}  // namespace vref

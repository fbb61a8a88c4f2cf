#include "host/reference/path_integrator.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <tbb/enumerable_thread_specific.h>

#include "host/reference/environment_light.h"
#include "host/slots.h"

namespace vref {

namespace {

// Sampler dimensions: the pixel jitter, then a block per path bounce (a bounce that
// needs more goes on into the next block, which then starts later).
constexpr uint32_t kCameraDimensions = 2;
constexpr uint32_t kDimensionsPerBounce = 8;
// Bounces before Russian roulette may end a path: the first bounce's light
// always goes on.
constexpr int kRouletteDepth = 1;

bool scatters(const ShaderInstance& material) {
    return material.has(pxs::kCapEvaluateBsdf) && material.has(pxs::kCapSampleBsdf);
}

// Events drawn from a density, which evaluateBsdf covers; the others (kinds 4 and
// 32, with every lobe allowed) are mirror and straight-through events that no
// other direction's sample reaches.
bool drawnFromDensity(int32_t kind) {
    return kind == pxs::kSampleDiffuse || kind == pxs::kSampleLobeMixture ||
           kind == pxs::kSampleRoughTransmission;
}

// The type of the ray leaving a surface of geometric normal ng along `out`, the
// ray of type `type` having arrived along `in`. The side the direction leaves on
// tells a transmission from a reflection; the kind does not (the dielectric
// labels its reflections with the transmission codes).
int32_t leavingType(int32_t type, float3 in, float3 out, float3 ng, bool* through) {
    *through = dot(out, ng) * dot(in, ng) > 0.0f;
    if (!*through) return pxs::kRayReflection;
    return type == pxs::kRayCamera ? pxs::kRayContinuation : type;
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
        Radiance r = services_.environment(path.rayType, path.direction, depth);
        r.color = r.color * escapeShare(path);
        end(path, r, depth);
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
    const float outsideIor = st.outsideIor;
    EnvironmentSample environment;
    {
        RenderServices::HitScope scope(services_, depth, path.rayType);
        environment = sampleEnvironment(material, st, depth);
        addDirectLight(path, material, st, sp);
        st.sampleKind = pxs::kSampleNone;
        services_.sampleBsdf(material, &st);
    }
    addEnvironmentLight(path, environment, sp, depth);
    // Kept to weigh the environment the sampled ray may find.
    path.weighAgainst =
        environment.weighed && drawnFromDensity(st.sampleKind) ? &material : nullptr;
    if (path.weighAgainst) {
        path.from = st;
        path.from.outsideIor = outsideIor;  // as evaluateBsdf saw it, before sampleBsdf
        path.fromDepth = depth;
        path.fromRayType = path.rayType;
    }
    return scatter(path, st, sp, depth);
}

float3 PathIntegrator::evaluate(const ShaderInstance& material, pxs::ShadingState& st,
                                float3 direction) {
    st.sampleDirection = direction;
    st.sampleValue = float3();
    st.sampleCosine = 0.0f;
    services_.evaluateBsdf(material, &st);
    return st.sampleValue * st.sampleCosine;
}

// How much of a host light to expect at p, to choose among lights by: its colour
// there before shadows, by how squarely it faces the normal plus a floor (a surface
// that transmits takes light from behind too). Zero exactly when it brings nothing.
float PathIntegrator::lightWeight(const Light& light, float3 p, float3 n) {
    float3 toLight = light.position - p;
    float d = length(toLight);
    if (!(d > 0.0f) || !std::isfinite(d)) return 0.0f;
    float3 l = toLight / d, color;
    if (!hostLightColor(light, l, d, &color)) return 0.0f;
    float w = maxComponent(color) * (std::max(dot(n, l), 0.0f) + 0.1f);
    return w > 0.0f && std::isfinite(w) ? w : 0.0f;
}

void PathIntegrator::addDirectLight(Path& path, const ShaderInstance& material,
                                    pxs::ShadingState& st, const SurfacePoint& sp) {
    const float3 n = normalize(sp.normal);
    const std::vector<Light>& lights = services_.scene().lights;
    // The first host lights' weights are kept for the choice; later ones are
    // computed again, so that no light count needs an allocation.
    constexpr int kKept = 8;
    float kept[kKept];
    // Light shaders answer for their colour and shadow only when asked: each is.
    float total = 0.0f;
    int hostLights = 0;
    for (const Light& light : lights) {
        if (light.shader) {
            addLight(path, light, 1.0f, material, st, sp, n);
            continue;
        }
        float w = lightWeight(light, sp.position, n);
        if (hostLights < kKept) kept[hostLights] = w;
        total += w;
        ++hostLights;
    }
    if (!(total > 0.0f) || !std::isfinite(total)) return;
    // Of the host lights, one per bounce, chosen in proportion to its weight and
    // counted divided by that chance: one evaluateBsdf and one shadow ray however
    // many lights there are. A lone light is taken without a random number.
    float u = hostLights > 1 ? services_.sampler().next() * total : 0.0f;
    const Light* chosen = nullptr;
    float weight = 0.0f;
    int k = 0;
    for (const Light& light : lights) {
        if (light.shader) continue;
        float w = k < kKept ? kept[k] : lightWeight(light, sp.position, n);
        ++k;
        if (!(w > 0.0f)) continue;
        chosen = &light, weight = w;
        if (u < w) break;
        u -= w;  // rounding may leave u past the last weight: the last light takes it
    }
    if (chosen) addLight(path, *chosen, weight / total, material, st, sp, n);
}

void PathIntegrator::addLight(Path& path, const Light& light, float probability,
                              const ShaderInstance& material, pxs::ShadingState& st,
                              const SurfacePoint& sp, float3 n) {
    float3 toLight = light.position - sp.position;
    float d = length(toLight);
    if (!(d > 0.0f) || !std::isfinite(d)) return;
    float3 l = toLight / d;
    // The BSDF first: a light it does not scatter towards needs no shadow ray.
    float3 f = evaluate(material, st, l);
    if (isZero(f) || !isFinite(f)) return;
    float3 color, shadow;
    if (!services_.lightArrival(light, sp.position, n, l, d, &color, &shadow)) return;
    float3 c = f * color * shadow / probability;
    if (isFinite(c)) path.radiance += path.throughput * c;
}

PathIntegrator::EnvironmentSample PathIntegrator::sampleEnvironment(const ShaderInstance& material,
                                                                    pxs::ShadingState& st,
                                                                    int depth) {
    EnvironmentSample e;
    const EnvironmentMap* map = services_.environmentMap();
    if (!map || depth + 1 >= services_.settings().maxDepth) return e;
    float u1, u2;
    services_.sampler().next2(&u1, &u2);
    e.direction = map->sample(u1, u2, &e.pdf);
    uint32_t before = services_.sampler().dimension();
    e.value = evaluate(material, st, e.direction);
    // A material that draws random numbers to evaluate has no one value per
    // direction to weigh by: its bounces leave the environment to the BSDF.
    e.weighed = services_.sampler().dimension() == before;
    return e;
}

void PathIntegrator::addEnvironmentLight(Path& path, const EnvironmentSample& e,
                                         const SurfacePoint& sp, int depth) {
    float proxy = bsdfProxy(e.value);
    if (!e.weighed || !(proxy > 0.0f) || !(e.pdf > 0.0f)) return;
    // The environment lights only along rays that leave the scene at once, as
    // the BSDF's samples count it only there.
    if (services_.occluded(sp.position, e.direction)) return;
    bool through;
    int32_t type =
        leavingType(path.rayType, path.direction, e.direction, sp.geometricNormal, &through);
    float3 c = e.value * services_.environment(type, e.direction, depth + 1).color *
               (environmentShare(e.pdf, proxy) / e.pdf);
    if (isFinite(c)) path.radiance += path.throughput * c;
}

float PathIntegrator::escapeShare(Path& path) {
    if (!path.weighAgainst) return 1.0f;
    float proxy;
    {
        RenderServices::HitScope scope(services_, path.fromDepth, path.fromRayType);
        proxy = bsdfProxy(evaluate(*path.weighAgainst, path.from, path.direction));
    }
    // Where the BSDF gives nothing, the environment's samples bring nothing either.
    if (!(proxy > 0.0f)) return 1.0f;
    return bsdfShare(services_.environmentMap()->pdf(path.direction), proxy);
}

bool PathIntegrator::scatter(Path& path, const pxs::ShadingState& st, const SurfacePoint& sp,
                             int depth) {
    if (st.sampleKind == pxs::kSampleNone) return false;
    float3 f = st.sampleValue * (st.sampleCosine * st.sampleWeight);
    float3 next = normalize(st.sampleDirection);
    if (!isFinite(f) || isZero(next) || !isFinite(next)) return false;
    path.throughput *= f;
    if (!(maxComponent(path.throughput) > 0.0f)) return false;
    // Only a ray through the surface enters the medium whose index the call left
    // in outsideIor (the preset 1 when it wrote none).
    bool through;
    path.rayType = leavingType(path.rayType, path.direction, next, sp.geometricNormal, &through);
    if (through) path.medium = st.outsideIor;
    // Russian roulette: a path goes on with a probability that falls with what it
    // carries (the square root, so that dim paths still go on fairly often).
    if (depth >= kRouletteDepth) {
        float q = std::min(1.0f, std::sqrt(maxComponent(path.throughput)));
        if (services_.sampler().next() >= q) return false;
        path.throughput = path.throughput / q;
    }
    path.origin = sp.position;
    path.direction = next;
    path.tnear = RenderServices::offset(path.origin);
    return true;
}

namespace {

void mix(uint64_t* h, const void* bytes, size_t n) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < n; ++i) *h = (*h ^ b[i]) * 0x100000001b3ull;
}

// What the map depends on: the shader object, the bytes of every parameter, and
// the settings its calls see (the depth limit and the image height of the state).
uint64_t mapKey(const ShaderInstance& env, const RenderSettings& settings) {
    uint64_t h = 0xcbf29ce484222325ull;
    const void* object = env.object;
    mix(&h, &object, sizeof object);
    for (const Parameter& p : env.registry.parameters) {
        mix(&h, p.field, pxs::paramTypeSize(p.type));
    }
    mix(&h, &settings.maxDepth, sizeof settings.maxDepth);
    mix(&h, &settings.height, sizeof settings.height);
    return h;
}

std::shared_ptr<const EnvironmentMap> makeMap(const Scene& scene, const RenderSettings& settings) {
    tbb::enumerable_thread_specific<RenderServices> services(std::cref(scene), std::cref(settings));
    std::vector<float> brightness =
        cellBrightness(kEnvironmentMapWidth, kEnvironmentMapHeight, [&](float3 direction) {
            RenderServices& sv = services.local();
            // The same random numbers for every direction, whatever thread asks.
            sv.beginSample(0, 0, 0);
            return sv.environment(pxs::kRayReflection, direction, 1).color;
        });
    auto map =
        std::make_shared<EnvironmentMap>(kEnvironmentMapWidth, kEnvironmentMapHeight, brightness);
    return map->empty() ? nullptr : map;
}

}  // namespace

std::shared_ptr<const EnvironmentMap> environmentMap(const Scene& scene,
                                                     const RenderSettings& settings) {
    // A bounce samples the environment for its next ray, which must stay below the
    // depth limit to be traced.
    if (settings.mode != Mode::Path || !scene.environment || settings.maxDepth < 2) return nullptr;
    return scene.environmentLight.map(mapKey(*scene.environment, settings),
                                      [&] { return makeMap(scene, settings); });
}

}  // namespace vref

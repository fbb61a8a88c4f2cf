#include "host/reference/environment_light.h"

#include <cstring>
#include <functional>

#include <tbb/enumerable_thread_specific.h>

#include "host/reference/scene.h"
#include "host/reference/services.h"

namespace vref {

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

std::shared_ptr<const EnvironmentMap> EnvironmentLight::map(const Scene& scene,
                                                            const RenderSettings& settings) {
    // A bounce samples the environment for its next ray, which must stay below the
    // depth limit to be traced.
    if (settings.mode != Mode::Path || !scene.environment || settings.maxDepth < 2) return nullptr;
    uint64_t key = mapKey(*scene.environment, settings);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!made_ || key != key_) {
        map_ = makeMap(scene, settings);
        key_ = key;
        made_ = true;
    }
    return map_;
}

}  // namespace vref

// Shared helpers for tests that drive the built library through the test host.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/library.h"
#include "host/recording_registry.h"
#include "host/slots.h"
#include "testkit/state_builder.h"
#include "testkit/test_services.h"
#include "testkit/test_texture.h"

namespace vtest {

// The library, loaded once per test process.
const vhost::Library& library();

// A parameter edit by registered name.
using Edit =
    std::pair<const char*, std::variant<float, int32_t, bool, pxs::float2, pxs::float3, pxs::float4,
                                        pxs::matrix3, pxs::matrix4, pxs::TextureHandle>>;

// A created, declared shader with its registry; parameters are set by name.
struct Shader {
    vhost::ShaderPtr object;
    vhost::RecordingRegistry registry;

    explicit Shader(const std::string& className);
    void* get() const { return object.get(); }

    // The registered field `name`; fails the test when absent.
    template <class T>
    T& param(const std::string& name) {
        T* f = registry.field<T>(name);
        if (!f) {
            ADD_FAILURE() << "no parameter " << name;
            static T dummy{};
            return dummy;
        }
        return *f;
    }

    Shader& set(std::initializer_list<Edit> edits) {
        for (const Edit& e : edits) {
            std::visit([&](auto v) { param<decltype(v)>(e.first) = v; }, e.second);
        }
        return *this;
    }

    void shade(vhost::TestServices& sv, pxs::ShadingState& st) const {
        vhost::shade(get(), &sv, &st);
    }
    void shadowTransmission(vhost::TestServices& sv, pxs::ShadingState& st) const {
        vhost::shadowTransmission(get(), &sv, &st);
    }
    void evaluateBsdf(vhost::TestServices& sv, pxs::ShadingState& st) const {
        vhost::evaluateBsdf(get(), &sv, &st);
    }
    void sampleBsdf(vhost::TestServices& sv, pxs::ShadingState& st) const {
        vhost::sampleBsdf(get(), &sv, &st);
    }
};

using Fields = std::vector<std::string>;
inline const Fields kShadeFields{"outColor", "outAlpha"};
inline const Fields kSampleFields{"sampleDirection", "sampleValue", "sampleCosine", "sampleWeight",
                                  "sampleKind"};

// ---- states, lights and recorded calls ----

inline pxs::float3 scaled(pxs::float3 v, float s) {
    return pxs::float3(v.x * s, v.y * s, v.z * s);
}
inline pxs::float3 unit(pxs::float3 v) {
    return scaled(v, 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
}
// The direction `degrees` off the -z axis towards +x (sign +1: off +z).
pxs::float3 viewAt(float degrees, float sign = -1.0f);

// A hit at the origin seen along dir from 5 units away; shading normal n, geometric
// normal ng, "tangent" +x at attribute offset 36.
vhost::StateBuilder viewing(pxs::float3 dir, pxs::float3 n = pxs::float3(0, 0, 1),
                            pxs::float3 ng = pxs::float3(0, 0, 1));

// A light record as the host links it for getLights.
struct Light {
    pxs::float3 color{0, 0, 0};         // lightColor
    pxs::float3 transmission{1, 1, 1};  // lightTransmission
    int32_t type = 0;
    pxs::float3 direction{0, 0, 1};
    pxs::float3 contribution{0, 0, 0};  // lightContribution
    float factor = 1.0f;                // lightFactor
    operator pxs::LightNode() const;
};
// The form the physically based materials read: direction, factor, contribution.
pxs::LightNode light(pxs::float3 dir, float factor, pxs::float3 contribution);

// The service slots called, in order.
std::vector<int> serviceSlots(const vhost::TestServices& sv);
// Runs sampleBsdf on st with the six lobe permissions `allow` and the scripted
// `randoms` for a material whose continuations are deterministic: a continuation
// must write the five sample fields with weight 1, no continuation sampleKind
// alone, and nothing but random() is called. `drawn` receives the number of those.
pxs::ShadingState sampleDeterministic(const Shader& s, pxs::ShadingState st, const char* allow,
                                      std::vector<float> randoms = {}, int* drawn = nullptr);

// Recorded arguments against expected ones, within 1e-6.
void expectArgs(const std::vector<float>& got, const std::vector<float>& want);

// Density over solid angle of the Ward lobe (roughness ax, ay) around the mirror
// of view v (pointing at the surface) with probability 1 - pd, and of the cosine
// lobe with pd, at d.
double wardMixtureDensity(pxs::float3 v, pxs::float3 d, double ax, double ay, double pd);

// Element-wise float3 comparison within `tol` (0: exact).
::testing::AssertionResult near3(pxs::float3 actual, pxs::float3 expected, float tol = 0.0f);

}  // namespace vtest

#define EXPECT_FLOAT3(actual, expected) EXPECT_TRUE(::vtest::near3((actual), (expected), 1e-6f))
#define EXPECT_FLOAT3_EXACT(actual, expected) EXPECT_TRUE(::vtest::near3((actual), (expected)))

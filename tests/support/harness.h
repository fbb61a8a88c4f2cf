// Shared helpers for tests that drive the built library through the test host.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/library.h"
#include "host/recording_registry.h"
#include "host/slots.h"
#include "host/state_builder.h"
#include "host/test_services.h"
#include "host/test_texture.h"

namespace vtest {

// The library, loaded once per test process.
const vhost::Library& library();

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

// One expected registration: the declaration's name, type and default text
// (Declaration::valueText; empty to skip the value check, as for matrices the
// constructors leave unset).
struct ExpectedParam {
    std::string name;
    vhost::DeclType type;
    std::string defaultText;
};

// Checks capability mask, then every parameter and attribute in order.
void expectDeclarations(const std::string& className, uint32_t mask,
                        const std::vector<ExpectedParam>& params);

// Element-wise float3 comparison within `tol` (0: exact).
::testing::AssertionResult near3(pxs::float3 actual, pxs::float3 expected, float tol = 0.0f);

}  // namespace vtest

#define EXPECT_FLOAT3(actual, expected) EXPECT_TRUE(::vtest::near3((actual), (expected), 1e-6f))
#define EXPECT_FLOAT3_EXACT(actual, expected) EXPECT_TRUE(::vtest::near3((actual), (expected)))

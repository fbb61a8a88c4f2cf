// Shared pieces of the physically based materials' tests.
#pragma once

#include <cmath>
#include <vector>

#include "support/harness.h"

namespace ptest {

using pxs::float3;

inline float3 scaled(float3 v, float s) {
    return float3(v.x * s, v.y * s, v.z * s);
}
inline float3 unit(float3 v) {
    return scaled(v, 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
}

// A hit at the origin seen along dir; surface normal n (geometric ng), tangent +x.
inline vhost::StateBuilder viewing(float3 dir, float3 n = float3(0, 0, 1),
                                   float3 ng = float3(0, 0, 1)) {
    vhost::StateBuilder b;
    b.ray(scaled(dir, -5.0f), dir).hit(float3(0, 0, 0), n, ng).attribute(36, float3(1, 0, 0));
    return b;
}

inline pxs::LightNode light(float3 dir, float factor, float3 contribution) {
    pxs::LightNode n{};
    n.direction = dir;
    n.lightFactor = factor;
    n.lightContribution = contribution;
    return n;
}

inline const std::vector<std::string> kSampleFields = {
    "sampleDirection", "sampleValue", "sampleCosine", "sampleWeight", "sampleKind"};

// The occlusion and masking block as every physical material declares it first.
inline std::vector<vtest::ExpectedParam> blockDeclarations() {
    using vhost::DeclType;
    return {{"ambientOcclusionTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"ambientOcclusionMode", DeclType::Int, "0"},
            {"ambientOcclusionFactor", DeclType::Float, "1"},
            {"ambientOcclusionColor", DeclType::Float3, "(0, 0, 0)"},
            {"usePrecalcAO", DeclType::Bool, "true"},
            {"showAmbientOnly", DeclType::Bool, "false"},
            {"usingRaytracedAO", DeclType::Bool, "false"},
            {"uv1", DeclType::Attribute, "1@0"},
            {"vtxcolor", DeclType::Attribute, "3@8"},
            {"maskingColor", DeclType::Float3, "(0, 0, 0)"},
            {"maskingMode", DeclType::Int, "0"},
            {"maskingTexture", DeclType::Texture2D, "texture(null, -1)"},
            {"maskingTextureMatrix", DeclType::Matrix4, ""},
            {"maskingInvertTexture", DeclType::Bool, "false"},
            {"maskingAngularRepeat", DeclType::Float, "1"},
            {"maskingUVMatrix", DeclType::Matrix3, ""},
            {"maskingFromAlpha", DeclType::Bool, "false"}};
}

inline void expectArgs(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6f) << "argument " << i;
}

}  // namespace ptest

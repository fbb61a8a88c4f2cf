// The spread of the reference host's glossy traces, against the density
// docs/renderer.md gives hosts to match: around the unit direction d, a traced
// direction is normalize(d + x tu + y tv) with x and y independent normal slopes of
// deviation gu / sqrt(2) and gv / sqrt(2), tu the first axis made perpendicular to
// d, tv = d x tu, and glossiness clamped to [0, 2].
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "testkit/chi2.h"
#include "tests/render/scripted.h"

namespace {

using vref::float3;

// Density over solid angle of the directions the stated slope distribution gives.
double slopeDensity(float3 w, float3 d, float3 tu, float3 tv, double gu, double gv) {
    const double c = vref::dot(w, d);
    if (c <= 0.0) return 0.0;
    const double x = vref::dot(w, tu) / c, y = vref::dot(w, tv) / c;
    return std::exp(-x * x / (gu * gu) - y * y / (gv * gv)) / (M_PI * gu * gv * c * c * c);
}

TEST(ReferenceHostGlossy, TracedDirectionsFollowTheStatedSlopeDistribution) {
    float3 seen;
    vrtest::ScriptedEnvironment env(
        [&](pxs::IRenderServices*, pxs::ShadingState* st) { seen = st->rayDirection; });
    vref::Scene scene;
    scene.environment = scene.addShader(vref::declareShader("env", "env", &env));
    scene.commit();
    vref::RenderServices sv(scene, vref::RenderSettings());

    const float3 d(0, 0, 1), origin(0, 0, 0);
    const float3 x(1, 0, 0), y(0, 1, 0);
    // The anisotropic axis is not perpendicular to d and axisV is not read.
    const float3 axisU(1, 1, 0.8f), axisV(1, 0, 0);
    const float3 tu = vref::normalize(float3(1, 1, 0)), tv = vref::cross(d, tu);
    using Trace = std::function<void(float3*)>;
    const struct {
        const char* name;
        Trace trace;
        float3 tu, tv;
        double gu, gv;  // the deviations the guide's formula expects
    } cases[] = {
        {"traceGlossyReflection 0.3",
         [&](float3* out) { sv.traceGlossyReflection(out, &origin, &d, 0.3f, 1.0f); }, x, y, 0.3,
         0.3},
        {"traceGlossyTransmission 0.6",
         [&](float3* out) {
             pxs::float4 o(0, 0, 0, 1);
             sv.traceGlossyTransmission(&o, &origin, &d, 0.6f, 1.0f);
             *out = o.xyz();
         },
         x, y, 0.6, 0.6},
        {"traceAnisotropicReflection 0.5, 0.15",
         [&](float3* out) {
             sv.traceAnisotropicReflection(out, &origin, &d, &axisU, &axisV, 0.5f, 0.15f, 1.0f);
         },
         tu, tv, 0.5, 0.15},
        {"traceGlossyReflection 5, clamped to 2",
         [&](float3* out) { sv.traceGlossyReflection(out, &origin, &d, 5.0f, 1.0f); }, x, y, 2.0,
         2.0},
    };

    vtest::Chi2Settings settings;
    settings.samples = 50000;
    settings.thetaBins = 40;
    settings.testCount = 5;
    for (const auto& c : cases) {
        int index = 0;
        const vtest::DirectionSampler sample = [&](float, float) -> std::optional<pxs::float3> {
            sv.beginSample(3, 7, index++);
            float3 out;
            c.trace(&out);
            return seen;
        };
        vtest::Chi2Result r = vtest::chi2Test(
            sample, [&](pxs::float3 w) { return slopeDensity(w, d, c.tu, c.tv, c.gu, c.gv); },
            settings);
        EXPECT_TRUE(r.passed) << c.name << "\n" << r.message;
        if (&c == &cases[0]) {
            // Read as a deviation of g per axis, the spread is sqrt(2) times too wide.
            index = 0;
            r = vtest::chi2Test(
                sample,
                [&](pxs::float3 w) {
                    return slopeDensity(w, d, c.tu, c.tv, c.gu * M_SQRT2, c.gv * M_SQRT2);
                },
                settings);
            EXPECT_FALSE(r.passed) << "a deviation of g per axis is not told apart";
        }
    }
}

}  // namespace

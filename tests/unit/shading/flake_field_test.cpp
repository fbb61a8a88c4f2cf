// The flake field against lattices whose smooth noise is known in closed form.
#include <gtest/gtest.h>

#include <cmath>

#include "shading/flake_field.h"
#include "testkit/test_services.h"

namespace {

using namespace pxs;
using vhost::TestServices;

TEST(FlakeField, SplineNoiseReproducesConstantAndLinearLattices) {
    TestServices sv;
    sv.latticeNoiseFunction = [](float3) { return 0.7f; };
    LatticeNoiseSample n = smoothLatticeNoise(&sv, float3(40000.3f, 40001.8f, 40002.5f));
    EXPECT_NEAR(n.value, 0.7f, 1e-6f);
    EXPECT_NEAR(length(n.gradient), 0.0f, 1e-6f);
    EXPECT_EQ(sv.count(vhost::kSvcLatticeNoise), 27);

    // Lattice values rising by 0.25 per unit along y: the quadratic spline blends
    // them into a plane offset by half a cell, slope 0.25.
    sv.latticeNoiseFunction = [](float3 p) { return 0.25f * (p.y - 40000.0f); };
    n = smoothLatticeNoise(&sv, float3(40000.3f, 40001.8f, 40002.5f));
    EXPECT_NEAR(n.value, 0.25f * 1.3f, 1e-3f) << "coordinates near 40000 keep about 0.004";
    EXPECT_NEAR(n.gradient.x, 0.0f, 1e-5f);
    EXPECT_NEAR(n.gradient.y, 0.25f, 1e-5f);
    EXPECT_NEAR(n.gradient.z, 0.0f, 1e-5f);
}

TEST(FlakeField, MaskIsTheNoiseAtTheCellTheGradientPushesTo) {
    TestServices sv;
    sv.latticeNoiseFunction = [](float3) { return 0.5f; };
    FlakeSample f = flakeField(&sv, float3(0.2f, 0.4f, 0.6f), 2.5f, 0.05f);
    EXPECT_NEAR(f.mask, 0.1767767f, 1e-6f);  // 0.5^2.5
    EXPECT_NEAR(length(f.normalOffset), 0.0f, 1e-6f);
    // 27 look-ups for the gradient at the point, 27 for the noise at the cell.
    EXPECT_EQ(sv.count(vhost::kSvcLatticeNoise), 54);
    for (const vhost::ServiceCall& c : sv.callsTo(vhost::kSvcLatticeNoise)) {
        for (float x : c.args) EXPECT_EQ(x, std::floor(x)) << "lattice points only";
    }

    // Slope 0.25 along x moves the point 0.5 on: 40001.6 lands in cell 40002, where
    // the noise is 0.25 * 1.5.
    sv.latticeNoiseFunction = [](float3 p) { return 0.25f * (p.x - 40000.0f); };
    f = flakeField(&sv, float3(1.6f, 0.0f, 0.0f), 2.0f, 0.05f);
    EXPECT_NEAR(f.mask, 0.375f * 0.375f, 1e-4f);
    EXPECT_NEAR(f.normalOffset.x, 0.0125f, 1e-6f);
}

TEST(FlakeField, PointAtInfinityHasNoFlake) {
    TestServices sv;
    const float inf = INFINITY;
    const FlakeSample f = flakeField(&sv, float3(inf, 0.0f, 0.0f), 2.5f, 0.05f);
    EXPECT_EQ(f.mask, 0.0f);
    EXPECT_EQ(sv.count(vhost::kSvcLatticeNoise), 0);
}

}  // namespace

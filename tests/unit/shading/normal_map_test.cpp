// The shared legacy normal map: the tangent frame each mode builds and how the
// texel bends the normal.
#include <gtest/gtest.h>

#include <cmath>

#include "frame/math.h"
#include "shading/normal_map.h"
#include "testkit/harness.h"

namespace {

using namespace pxs;

const float kS = std::sqrt(0.5f);

// Normal +z, identity matrices, a texel that tilts by 45 degrees along the
// tangent-space x axis: t = (1, 0, 1).
NormalMapInput base(int32_t mode) {
    NormalMapInput in;
    in.mode = mode;
    in.texel = float3(1.0f, 0.5f, 1.0f);
    in.depth = 1.0f;
    in.normal = float3(0, 0, 1);
    in.tangent = float3(1, 0, 0);
    in.bitangent = float3(0, 1, 0);
    in.uvMatrix = kIdentity3;
    in.inverse = kIdentity4;
    in.firstAxis = 0;
    in.secondAxis = 1;
    in.cylinderTangent = float3();
    in.object = kIdentity4;
    in.normalizeTexel = false;
    return in;
}

TEST(LegacyNormalMap, FrameOfEachMode) {
    // U is the negated first frame vector: the x tilt leans towards -U.
    NormalMapInput uv = base(1);
    uv.tangent = float3(1, 0, 0.5f);  // not orthogonal to the normal: projected first
    EXPECT_FLOAT3(applyNormalMap(uv), float3(-kS, 0, kS));
    uv.uvMatrix = {{0, 1, 0, -1, 0, 0, 0, 0, 1}};  // rotates the frame: U -> V
    EXPECT_FLOAT3(applyNormalMap(uv), float3(0, kS, kS));

    NormalMapInput planar = base(2);
    planar.inverse.m[0] = 0, planar.inverse.m[1] = 1;  // row 0 = +y
    EXPECT_FLOAT3(applyNormalMap(planar), float3(0, -kS, kS));
    planar.object = {{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};  // y -> -x
    EXPECT_FLOAT3(applyNormalMap(planar), float3(kS, 0, kS));

    NormalMapInput box = base(3);
    box.firstAxis = 1;  // U from row 1 (+y)
    box.secondAxis = 0;
    EXPECT_FLOAT3(applyNormalMap(box), float3(0, -kS, kS));

    NormalMapInput cyl = base(4);
    cyl.cylinderTangent = float3(0, -1, 0);  // U = -row 1, not negated again
    EXPECT_FLOAT3(applyNormalMap(cyl), float3(0, -kS, kS));
}

TEST(LegacyNormalMap, DepthScalesTheTiltAndTexelNormalisationIsOptional) {
    NormalMapInput in = base(1);
    in.texel = float3(0.5f, 1.0f, 1.0f);  // t = (0, depth, 1)
    in.depth = 2.0f;
    const float3 n = applyNormalMap(in);
    EXPECT_NEAR(n.y / n.z, 2.0f, 1e-6f);
    in.normalizeTexel = true;  // same direction: the final normalisation absorbs it
    EXPECT_TRUE(vtest::near3(applyNormalMap(in), n, 1e-6f));
    // A texel below the plane keeps z at 0.001 instead of flipping the normal.
    in.texel = float3(0.5f, 0.5f, 0.0f);
    EXPECT_FLOAT3(applyNormalMap(in), float3(0, 0, 1));
}

}  // namespace

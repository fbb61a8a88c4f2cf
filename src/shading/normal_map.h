// Tangent-space normal map shared by the legacy and background materials.
//
// The tangent frame comes from the channel's mapping: vertex tangents for
// texture coordinates, the rows of the inverse texture matrix for the
// projections (the two box axes that were projected onto, or the cylinder's
// tangent). The frame is carried to world space with the state's object matrix
// and made orthogonal to the normal before the texel bends it.
#pragma once

#include "frame/texture_channel.h"
#include "vesper/types.h"

namespace pxs {

struct NormalMapInput {
    int32_t mode;            // channel mode: 1 texture coordinates, 2 planar, 3 box, 4 cylindrical
    float3 texel;            // channel colour, encoded 0.5 + 0.5 * component
    float depth;             // tangent-plane scale
    float3 normal;           // the normal before the map
    float3 tangent;          // mode 1: the tangent attribute, signed as the material wants
    float3 bitangent;        // mode 1: the bitangent attribute
    matrix3 uvMatrix;        // mode 1: turns the frame with the texture coordinates
    matrix4 inverse;         // inverse texture matrix; its rows are the texture axes
    int firstAxis;           // mode 3: the texture axes the box projection used
    int secondAxis;          //
    float3 cylinderTangent;  // mode 4: tangent of the cylindrical projection
    matrix4 object;          // state matrix carrying the frame into the normal's space
    bool normalizeTexel;     // normalise the decoded tangent-space vector first
};

// The bent normal (unit length unless every term vanished). Modes without a
// tangent frame leave the frame zero, so only the texel's z survives.
float3 applyNormalMap(const NormalMapInput& in);

// The same for a texture channel, from what evaluating it gave: its colour
// `texel` and its `projection` (the mode and uv matrix come from the channel).
float3 applyChannelNormalMap(const TextureChannel& channel, float3 texel,
                             const ChannelProjection& projection, float depth, float3 normal,
                             float3 tangent, float3 bitangent, const matrix4& inverse,
                             const matrix4& object, bool normalizeTexel);

}  // namespace pxs

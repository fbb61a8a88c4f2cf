#include "shading/normal_map.h"

#include "frame/math.h"

namespace pxs {

namespace {

float3 row(const matrix4& m, int i) {
    return float3(m.m[4 * i], m.m[4 * i + 1], m.m[4 * i + 2]);
}

}  // namespace

float3 applyNormalMap(const NormalMapInput& in) {
    const float3 c = in.texel;
    // z is kept off zero so that a flat texel never flips or kills the normal.
    float3 t((2.0f * c.x - 1.0f) * in.depth, (2.0f * c.y - 1.0f) * in.depth,
             maxf(2.0f * c.z - 1.0f, 0.001f));
    if (in.normalizeTexel) t = normalize(t);

    float3 u, v;
    switch (in.mode) {
        case 1:
            u = -in.tangent;
            v = in.bitangent;
            break;
        case 2:
            u = -row(in.inverse, 0);
            v = row(in.inverse, 1);
            break;
        case 3:
            u = -row(in.inverse, in.firstAxis);
            v = row(in.inverse, in.secondAxis);
            break;
        case 4: {
            const float3 w = in.cylinderTangent;
            u = w.x * row(in.inverse, 0) + w.y * row(in.inverse, 1) + w.z * row(in.inverse, 2);
            v = row(in.inverse, 2);
            break;
        }
        default:
            break;
    }
    u = transformDirection(u, in.object);
    v = transformDirection(v, in.object);

    const float3 n = 0.999999f * in.normal;
    u = normalize(u - n * dot(n, u));
    v = normalize(v - n * dot(n, v) - u * dot(u, v));
    if (in.mode == 1) {
        const float* m = in.uvMatrix.m;
        const float3 ru = m[0] * u + m[1] * v;
        const float3 rv = m[3] * u + m[4] * v;
        u = ru;
        v = rv;
    }
    return normalize(t.x * u + t.y * v + t.z * in.normal);
}

float3 applyChannelNormalMap(const TextureChannel& channel, float3 texel,
                             const ChannelProjection& projection, float depth, float3 normal,
                             float3 tangent, float3 bitangent, const matrix4& inverse,
                             const matrix4& object, bool normalizeTexel) {
    NormalMapInput in;
    in.mode = channel.mode;
    in.texel = texel;
    in.depth = depth;
    in.normal = normal;
    in.tangent = tangent;
    in.bitangent = bitangent;
    in.uvMatrix = channel.uvMatrix;
    in.inverse = inverse;
    in.firstAxis = projection.firstAxis;
    in.secondAxis = projection.secondAxis;
    in.cylinderTangent = projection.tangent;
    in.object = object;
    in.normalizeTexel = normalizeTexel;
    return applyNormalMap(in);
}

}  // namespace pxs

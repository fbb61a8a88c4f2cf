#include "frame/texture_channel.h"

namespace pxs {

namespace {

// Box projection: picks the two components of q that become (s, t) from the
// weights a = |n . column k| of the texture matrix.
void boxAxes(float3 a, BoxAxes order, int& first, int& second) {
    if (order == BoxAxes::kZY) {
        if (a.x >= a.y && a.x > a.z) {
            first = 2;
            second = 1;
        } else if (a.y > a.x && a.y >= a.z) {
            first = 0;
            second = 2;
        } else {
            first = 0;
            second = 1;
        }
        return;
    }
    // The legacy rule, kept as its strict comparisons so that ties land where
    // they always did.
    const bool b01 = a.x < a.y;
    const bool b12 = a.y < a.z;
    const bool b20 = a.z < a.x;
    first = (!b01 && b20) ? 1 : 0;
    second = (b20 || !b12) ? 2 : 1;
}

}  // namespace

float4 evaluateChannel(const TextureChannel& channel, const ChannelInputs& in,
                       const ChannelOptions& options, ChannelProjection* projection) {
    const int32_t mode = channel.mode;
    if (mode == kChannelConstant) return float4(channel.color, 1.0f);
    if (mode < kChannelUV || mode > kChannelCylindrical) return float4(0.0f, 0.0f, 0.0f, 1.0f);

    ChannelProjection local;
    ChannelProjection& out = projection ? *projection : local;
    const matrix4& tm = channel.textureMatrix;
    // The projected modes map the point once; the planar slab test reuses it.
    const float3 q = mode == kChannelUV ? float3(0.0f) : transformPoint(in.p, tm);
    switch (mode) {
        case kChannelUV:
            out.st = transformUV(in.uv, channel.uvMatrix);
            break;
        case kChannelPlanar:
            out.st = float2(q.x, q.y);
            break;
        case kChannelBox: {
            const float3 a = abs(transformDirection(in.n, tm));
            boxAxes(a, options.box, out.firstAxis, out.secondAxis);
            out.st = float2(q[out.firstAxis], q[out.secondAxis]);
            break;
        }
        default: {  // kChannelCylindrical
            const float s =
                (std::atan2(q.x - 0.5f, q.y - 0.5f) * 0.1591549f + 0.5f) * channel.angularRepeat;
            out.st = float2(s, q.z);
            // Only a caller that builds a frame reads the tangent: spare the others
            // the square root and division.
            if (projection) out.tangent = normalize(float3(-q.y, q.x, 0.0f));
            break;
        }
    }

    const float4 texel = sampleTexture(channel.texture, out.st);
    float4 r = channel.fromAlpha ? float4(texel.w) : texel;
    if (options.applyInvert && channel.invert) {
        r = float4(1.0f - r.x, 1.0f - r.y, 1.0f - r.z, r.w);
    }
    if (options.planarSlab && mode == kChannelPlanar && r.xyz() != float3(1.0f)) {
        if (q.z < -1.0f || q.z > 1.0f) r = float4(1.0f, 1.0f, 1.0f, r.w);
    }
    return r;
}

}  // namespace pxs

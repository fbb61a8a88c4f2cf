// Texture channel: how one material input is fed, either by a constant colour or
// by a 2D texture looked up through one of four coordinate mappings.
//
// Usage, for a class with a channel "diffuse*":
//
//     struct Params {
//         TextureChannel diffuse{float3(0, 0, 1)};  // colour default; mode 0
//     } params;
//
//     // declareParameters: register the fields the class has, in its own order.
//     // Declarer picks the registry operation from the field type (float3 ->
//     // declareFloat3, handle -> declareTexture2D, matrix4 -> declareMatrix4, ...).
//     declare("diffuseColor", params.diffuse.color);
//     declare("diffuseMode", params.diffuse.mode);
//     declare("diffuseTexture", params.diffuse.texture);
//     ...
//
//     // per hit:
//     float4 d = evaluateChannel(params.diffuse,
//                                {readAttribute<float2>(*st, kUvOffset), st->mappingPoint,
//                                 st->mappingNormal});
//
// Fields a class does not register keep their defaults and drop out: an invert
// flag that stays false never inverts, a colour that is never registered is the
// constant the class gives it. The masking channel of the occlusion and masking
// block (occlusion_masking.h) is one of these channels.
//
// Modes: -1 off (black), 0 constant colour, 1 texture coordinates through the UV
// matrix, 2 planar, 3 box, 4 cylindrical (2 to 4 map the point through the texture
// matrix). Any other mode value reads as -1: black, alpha 1, no lookup.
//
// The matrices start as identity so that a mode selected before the host writes
// its matrices still looks up finite coordinates.
#pragma once

#include <cassert>
#include <cstring>

#include "frame/math.h"
#include "frame/shader_class.h"
#include "frame/texture.h"

namespace pxs {

enum ChannelMode : int32_t {
    kChannelOff = -1,
    kChannelConstant = 0,
    kChannelUV = 1,
    kChannelPlanar = 2,
    kChannelBox = 3,
    kChannelCylindrical = 4,
};

// One channel's parameter fields, by role. The registered names and their order
// belong to the class that embeds it.
struct TextureChannel {
    TextureChannel() = default;
    // The two defaults that differ between channels.
    explicit TextureChannel(float3 color_, int32_t mode_ = kChannelConstant)
        : color(color_), mode(mode_) {}

    float3 color{0.0f, 0.0f, 0.0f};  // the value of mode 0
    int32_t mode = kChannelConstant;
    TextureHandle texture;               // the image of modes 1 to 4
    matrix4 textureMatrix = kIdentity4;  // mappingPoint into texture space, modes 2 to 4
    Flag invert = false;                 // r, g, b -> 1 - r, 1 - g, 1 - b (modes 1 to 4)
    float angularRepeat = 1.0f;          // wraps around the axis in mode 4
    matrix3 uvMatrix = kIdentity3;       // texture coordinates in mode 1
    Flag fromAlpha = false;              // the texel's alpha becomes every channel
};

// Which of q's components a box projection uses, by the dominant axis of the
// normal in texture space.
enum class BoxAxes : uint8_t {
    // x dominant: (q.z, q.y); y dominant: (q.x, q.z); otherwise (q.x, q.y). A tie
    // between x and y goes to x, a tie between y and z to y. This is also the
    // legacy material's order with its "triplanarXY" switch on.
    kZY,
    // The legacy material's default order: x dominant projects onto (q.y, q.z);
    // y dominant, and a three-way tie, onto (q.x, q.z); otherwise (q.x, q.y).
    kYZ,
};

// Switches that differ between the users of a channel.
struct ChannelOptions {
    // Apply the channel's invert flag. Off for channels whose class inverts the
    // result by a rule of its own.
    bool applyInvert = true;
    // Masking channels only: a planar mask acts inside the slab -1 <= q.z <= 1 of
    // texture space, and outside it the result is (1, 1, 1), fully masked.
    bool planarSlab = false;
    BoxAxes box = BoxAxes::kZY;
};

// Where the coordinates come from: uv for mode 1 (the vertex attribute the class
// names), p and n for the projections (usually mappingPoint and mappingNormal).
struct ChannelInputs {
    float2 uv;
    float3 p;
    float3 n;
};

// How a textured mode projected, for the classes that build a tangent frame from
// it (normal maps). Only the fields of the mode that ran are written.
struct ChannelProjection {
    float2 st;           // coordinates looked up (modes 1 to 4)
    int firstAxis = 0;   // box: the components of q that became s and t
    int secondAxis = 1;  //
    float3 tangent;      // cylindrical: normalize(-q.y, q.x, 0), around the z axis
};

// The channel's value, RGBA. Modes -1 and 0 (and unknown modes) give alpha 1 and
// never touch the texture; the textured modes look up at most once, and a handle
// without a texture reads (0, 0, 0, 1).
float4 evaluateChannel(const TextureChannel& channel, const ChannelInputs& in,
                       const ChannelOptions& options = {}, ChannelProjection* projection = nullptr);

// The interpolated vertex attribute at byte `offset` of the state's attribute
// block, as the class declared it (float2 for kind 1, float3 for 2, float4 for 3).
template <class T>
T readAttribute(const ShadingState& st, int32_t offset) {
    assert(offset >= 0 && static_cast<size_t>(offset) + sizeof(T) <= kAttributeBytes);
    T v;
    std::memcpy(&v, st.attributes + offset, sizeof v);
    return v;
}

}  // namespace pxs

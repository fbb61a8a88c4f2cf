// The Noise node of the generated Ward variants: the host's noise3 at a
// transformed, scaled 3D point (plain, fractal or turbulence), remapped between
// two thresholds, mixes two RGBA inputs. Each input is a constant of the node or
// the result of a child node (node_graph.h).
//
// Unlike the filtered noise texture (noise_texture.h) the node has no footprint
// filter, and a fractional last octave counts in full.
//
// Parameters, in registration order under the node's prefix (for example
// "_ward_diffuse_color_Noise_"). The host writes them all before shading; the
// defaults only keep an unwritten node finite.
//
// | name            | type    | default      | meaning                                      |
// |-----------------|---------|--------------|----------------------------------------------|
// | "xform"         | matrix4 | identity     | transform of the point (row vector, row 3 =  |
// |                 |         |              | translation)                                 |
// | "type"          | int     | 0            | 0 plain, 1 fractal, 2 turbulence; others 0   |
// | "color1"        | float4  | (0, 0, 0, 1) | first colour (only when not a child's)       |
// | "color2"        | float4  | (1, 1, 1, 1) | second colour (only when not a child's)      |
// | "size"          | float   | 1            | feature size; the point is divided by it     |
// | "thresholdLow"  | float   | 0            | values below give 0                          |
// | "thresholdHigh" | float   | 1            | values above give 1; linear in between       |
// | "levels"        | float   | 3            | octaves of types 1 and 2 (a fraction counts  |
// |                 |         |              | as a whole octave; at most 128)              |
// | "phase"         | float   | 0            | fourth noise coordinate                      |
#pragma once

#include <cstdint>
#include <tuple>

#include "frame/math.h"
#include "frame/shader_class.h"
#include "materials/ward/node_params.h"
#include "vesper/host.h"

namespace pxs {

// A Noise node whose two colours come from child nodes.
struct NoiseFields {
    matrix4 xform = kIdentity4;
    int32_t type = 0;
    float size = 1.0f;
    float thresholdLow = 0.0f;
    float thresholdHigh = 1.0f;
    float levels = 3.0f;
    float phase = 0.0f;
};

// A Noise node with constant colours.
struct ConstantNoiseFields {
    matrix4 xform = kIdentity4;
    int32_t type = 0;
    float4 color1{0.0f, 0.0f, 0.0f, 1.0f};
    float4 color2{1.0f, 1.0f, 1.0f, 1.0f};
    float size = 1.0f;
    float thresholdLow = 0.0f;
    float thresholdHigh = 1.0f;
    float levels = 3.0f;
    float phase = 0.0f;
};

template <>
struct NodeParams<NoiseFields> {
    using F = NoiseFields;
    static constexpr auto kList = std::make_tuple(
        nodeParam("xform", &F::xform), nodeParam("type", &F::type), nodeParam("size", &F::size),
        nodeParam("thresholdLow", &F::thresholdLow), nodeParam("thresholdHigh", &F::thresholdHigh),
        nodeParam("levels", &F::levels), nodeParam("phase", &F::phase));
};

template <>
struct NodeParams<ConstantNoiseFields> {
    using F = ConstantNoiseFields;
    static constexpr auto kList = std::make_tuple(
        nodeParam("xform", &F::xform), nodeParam("type", &F::type), nodeParam("color1", &F::color1),
        nodeParam("color2", &F::color2), nodeParam("size", &F::size),
        nodeParam("thresholdLow", &F::thresholdLow), nodeParam("thresholdHigh", &F::thresholdHigh),
        nodeParam("levels", &F::levels), nodeParam("phase", &F::phase));
};

// Sum over the octaves f = 1, 2, 4, ... of (2 noise3(f q, phase) - 1) / f (its
// magnitude when `absolute`), one octave per whole level and one more, in full,
// for a remaining fraction. Levels above 128 count as 128: beyond that f overflows.
float fractalSum(IRenderServices& services, float3 q, float levels, float phase, bool absolute);

// The node's value in [0, 1] at p (before the colour mix): the point through xform
// and 1 / size, the noise of `type`, then the threshold remap. A NaN value (only
// from a NaN noise) gives 0.
float noiseNodeValue(IRenderServices& services, float3 p, const matrix4& xform, int32_t type,
                     float size, float thresholdLow, float thresholdHigh, float levels,
                     float phase);

// c1 (1 - v) + c2 v in all four channels, v the node's value at p.
template <class Fields>
float4 evaluateNoise(IRenderServices& services, float3 p, float4 c1, float4 c2, const Fields& f) {
    const float v = noiseNodeValue(services, p, f.xform, f.type, f.size, f.thresholdLow,
                                   f.thresholdHigh, f.levels, f.phase);
    return c1 * (1.0f - v) + c2 * v;
}

}  // namespace pxs

// The filtered procedural noise texture: a 3D noise on the host's noise3 basis,
// with three types (plain, fractal, turbulence), an octave count limited by the
// footprint of the shading sample, smooth low/high thresholds, and two output
// forms: a colour (two colours mixed by the noise value) and a bump (the
// gradient of the value along three axes, scaled by the colours' contrast).
//
// Filtering: the footprint dP, divided by the feature size, gives a filter width
// fw; the octave count is cut to log2(1/fw), so coarse use shows only the octaves
// the sample can resolve. Below one octave the value fades linearly to the
// average, and below -3 octaves no noise is computed at all.
//
// Used by the Ward family (procedural bumps and the image-fade pattern) and by
// the physically based materials that carry a noise bump. The Noise node of the
// generated Ward variants is a different, unfiltered routine.
//
// All routines are pure functions of their arguments and the host's noise.
#pragma once

#include <cstdint>

#include "frame/math.h"
#include "vesper/host.h"

namespace pxs {

// The value a filtered-away texture fades to, and the weight of the averaged
// octaves beyond the filtered count (turbulence only).
constexpr float kNoiseAverage = 0.2160714f;
constexpr float kNoiseTailWeight = 0.1256065f;

enum NoiseType : int32_t {
    kNoisePlain = 0,
    kNoiseFractal = 1,
    kNoiseTurbulence = 2,  // any other type gives the value 0
};

// One texture call's settings; the callers pass constants.
struct NoiseTextureSettings {
    float size = 1.0f;    // feature size, floored at 1e-5
    float levels = 1.0f;  // requested octaves, may be fractional
    float4 colour1{0.0f, 0.0f, 0.0f, 1.0f};
    float4 colour2{1.0f, 1.0f, 1.0f, 1.0f};
    int32_t type = kNoisePlain;
    float phase = 0.0f;  // fourth noise coordinate
    float low = 0.0f;    // thresholds, applied only when low < high
    float high = 0.0f;
    float3 footprint{0.0f, 0.0f, 0.0f};  // the point's change per sample (dP)
    float average = kNoiseAverage;
    float tail = kNoiseTailWeight;
};

// The point in pattern space: optionally through the rows of `matrix` (null:
// none), then each axis e_i rotated about x, y and z by `angles` in that order,
// and out_i = scale_i * (r_i . p) + scale_i * offset_i.
float3 patternPlacement(float3 p, const matrix3* matrix, float3 offset, float3 scale,
                        float3 angles);

// The filter of one texture call: the scaled point, the octave count the
// footprint allows and the threshold softening width.
struct NoiseFilter {
    float3 q;
    float levels;
    float width;
};
NoiseFilter noiseFilter(float3 p, float size, float levels, float3 footprint);

// The noise value at the scaled point q with `levels` octaves.
float noiseTextureValue(IRenderServices& services, float3 q, float levels, float width,
                        float average, int32_t type, float phase, float low, float high,
                        float tail);

// A linear ramp from low to high with its two corners softened over +-w
// (w > 0); 0 below low - w and 1 above high + w.
float smoothThreshold(float x, float low, float high, float w);

// Sum of |noise| over `levels` octaves, the last one weighted by its fraction;
// octaves that `rawLevels` asks for beyond `levels` add their mean, tail-weighted.
float filteredTurbulence(IRenderServices& services, float3 q, float levels, float rawLevels,
                         float phase, float tail);

// colour1 * (1 - v) + colour2 * v, all four channels.
float4 noiseTextureColour(IRenderServices& services, float3 p, const NoiseTextureSettings& s);

// The value's gradient along t, b and n (finite differences of 0.1 in the scaled
// space), times the difference of the colours' mean brightness. Four values.
float3 noiseTextureBump(IRenderServices& services, float3 p, const NoiseTextureSettings& s,
                        float3 t, float3 b, float3 n);

}  // namespace pxs

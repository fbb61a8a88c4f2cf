// The anisotropic Ward lobe (with a Lambert term) and the cosine hemisphere.
//
// Frame space. din is the incident direction pointing at the surface (din.z < 0);
// dout leaves the surface (dout.z > 0). ax is the roughness along T, ay along B.
#pragma once

#include <optional>

#include "frame/math.h"
#include "vesper/host.h"

namespace pxs {

// 4 pi, as the lobe normalisation was written.
constexpr float kFourPi = 12.566372f;

// diffuse / pi + the Ward specular lobe for din -> dout.
float3 wardEval(float3 din, float3 dout, float3 diffuse, float3 specular, float ax, float ay);

struct WardValuePdf {
    float3 value;
    float pdf;  // density of wardSample over dout directions (solid angle)
};
// The value with a normalised half vector, and the density with which wardSample
// would have produced dout.
WardValuePdf wardEvalPdf(float3 din, float3 dout, float3 diffuse, float3 specular, float ax,
                         float ay);

struct WardSample {
    float3 dout;
    float3 value;
    float pdf;
};
// Reflects din about a half vector drawn from the lobe. Empty when the reflection
// would leave below the surface: the caller reports no continuation.
std::optional<WardSample> wardSample(float3 din, float xi1, float xi2, float3 diffuse,
                                     float3 specular, float ax, float ay);

// A unit direction with z >= 0, distributed about as z / pi (concentric disk map).
float3 cosineHemisphere(float xi1, float xi2);

// One draw from the diffuse-and-Ward mixture: the cosine hemisphere with
// probability pd (1/2; 0 with a black diffuse, else 1 with a black specular),
// the Ward lobe otherwise. Takes random() for the choice, then random2(). The
// value is the whole lobe's, the pdf the mixture's density of dout. Empty when
// the Ward reflection leaves below the surface.
std::optional<WardSample> sampleWardMixture(IRenderServices* sv, float3 din, float3 diffuse,
                                            float3 specular, float ax, float ay);

}  // namespace pxs

// The anisotropic Ward lobe (with a Lambert term) and the cosine hemisphere.
//
// Frame space. din is the incident direction pointing at the surface (din.z < 0);
// dout leaves the surface (dout.z > 0). ax is the roughness along T, ay along B.
#pragma once

#include <optional>

#include "frame/math.h"
#include "shading/lighting.h"
#include "shading/shading_frame.h"
#include "vesper/host.h"
#include "vesper/state.h"

namespace pxs {

// 4 pi to the digits the lobe normalisation uses.
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

// A unit direction with z >= 0, distributed as z / pi by the polar map: azimuth
// 2 pi xi1, radius sqrt(xi2).
float3 cosineHemispherePolar(float xi1, float xi2);

// One draw from the diffuse-and-Ward mixture: the cosine hemisphere with
// probability pd (1/2; 0 with a black diffuse, else 1 with a black specular),
// the Ward lobe otherwise. Takes random() for the choice, then random2(). The
// value is the whole lobe's, the pdf the mixture's density of dout. Empty when
// the Ward reflection leaves below the surface.
std::optional<WardSample> sampleWardMixture(IRenderServices* sv, float3 din, float3 diffuse,
                                            float3 specular, float ax, float ay);

// One draw from the Ward lobe alone (takes random2()); the value keeps only the
// specular part. Empty when the reflection leaves below the surface.
std::optional<WardSample> sampleWardSpecular(IRenderServices* sv, float3 din, float3 diffuse,
                                             float3 specular, float ax, float ay);

// sampleBsdf of a diffuse-and-Ward material whose lobe lies in frame f, din the
// ray in f (din.z < 0): the Ward lobe alone (kind 4) when neither diffuse lobe
// (allowLobe 0 and 1) is allowed, else the mixture (kind 2). cosineOf(dout,
// direction) gives the cosine written, dout in frame space.
template <class CosineOf>
void sampleWardBsdf(IRenderServices* sv, ShadingState* st, const TangentFrame& f, float3 din,
                    float3 diffuse, float3 specular, float ax, float ay, CosineOf&& cosineOf) {
    const bool alone = !st->allowLobe[0] && !st->allowLobe[1];
    const auto s = alone ? sampleWardSpecular(sv, din, diffuse, specular, ax, ay)
                         : sampleWardMixture(sv, din, diffuse, specular, ax, ay);
    if (!s) {
        st->sampleKind = kSampleNone;
        return;
    }
    const float3 direction = fromFrame(f, s->dout);
    const float cosine = cosineOf(s->dout, direction);
    if (alone) {
        writeSample(st, direction, s->value, cosine, s->pdf, kSampleSingleLobe);
    } else {
        writeMixtureSample(st, direction, s->value, cosine, s->pdf);
    }
}

}  // namespace pxs

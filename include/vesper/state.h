// The shading state: the host-owned record passed to every per-hit call.
//
// The host fills the "in" fields, calls a shader operation, and reads the "out"
// fields back by byte offset. Every offset below is fixed by the binary contract
// and checked at compile time; bytes named reserved* belong to the host and are
// never touched by the library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vesper/types.h"

namespace pxs {

// Kind of ray that produced a call (ShadingState::rayType).
enum RayType : int32_t {
    kRayCamera = 1,        // primary ray from the camera
    kRayReflection = 2,    // mirror or glossy reflection ray
    kRayContinuation = 4,  // a ray continued behind a pass-through surface
    kRayOcclusion = 16,    // ambient-occlusion probe
    kRayGather = 32,       // diffuse gather (indirect light) ray
};

// Kind of continuation event written by sampleBsdf (ShadingState::sampleKind).
enum SampleKind : int32_t {
    kSampleNone = 0,                 // no continuation ray
    kSampleDiffuse = 1,              // cosine-weighted diffuse reflection
    kSampleLobeMixture = 2,          // reflection drawn from a mixture of lobes
    kSampleSingleLobe = 4,           // reflection of one lobe, or straight continuation
    kSampleRoughTransmission = 16,   // rough refraction
    kSampleSmoothTransmission = 32,  // smooth or straight-through transmission
};

// The light being evaluated by a light shader (starts at byte 408 of the state).
struct LightSample {
    uint8_t reserved0[4];
    float3 lightPosition;      // +4  in: the point on the light
    float3 lightDirection;     // +16 in: unit vector between surface point and light
    float3 lightAxis;          // +28 in: unit axis of the light (spot direction)
    float lightDistance;       // +40 in: distance from the surface point to lightPosition
    float3 lightColor;         // +44 out: light arriving, after attenuation, before shadowing
    float3 lightTransmission;  // +56 out: shadow visibility per channel (1 = unshadowed)
};

// Number of bytes the host reserves for interpolated vertex attributes.
constexpr size_t kAttributeBytes = 56;

struct ShadingState {
    float3 rayOrigin;        // 0   in
    float3 rayDirection;     // 12  in: unit, from rayOrigin towards the hit
    float3 position;         // 24  in: hit point (lights: the point being lit)
    float3 normal;           // 36  in: unit shading normal, not face-forwarded
    float3 geometricNormal;  // 48  in: unit geometric normal (side test only)
    float3 mappingPoint;     // 60  in: hit point in texture-projection space
    float3 mappingNormal;    // 72  in: normal in the same space
    uint8_t reserved84[12];
    float2 pixelPosition;  // 96  in: raster position in pixels
    uint8_t reserved104[4];
    int32_t imageHeight;  // 108 in: rendered image height in pixels
    float mediumIor;      // 112 in: index of the medium the ray travels in
    float outsideIor;     // 116 in/out: index beyond the surface when leaving
    matrix4 matrixA;      // 120 in
    matrix4 matrixB;      // 184 in: upper 3x3 carries tangent attributes to normal space
    uint8_t reserved248[72];
    int32_t rayType;        // 320 in: RayType
    int32_t rayDepth;       // 324 in
    int32_t rayDepthLimit;  // 328 in
    uint8_t reserved332[4];
    float3 outColor;         // 336 out
    float outAlpha;          // 348 out
    float3 outTransmission;  // 352 out: shadowTransmission result
    float3 sampleDirection;  // 364 in (evaluateBsdf) / out (sampleBsdf)
    float3 sampleValue;      // 376 out
    float sampleCosine;      // 388 out
    float sampleWeight;      // 392 out: 1 / pdf of the chosen direction
    int32_t sampleKind;      // 396 out: SampleKind
    uint8_t allowLobe[6];    // 400 in: 0..2 reflection group, 3..5 transmission group
    uint8_t reserved406[2];
    LightSample lightSample;  // 408 in/out
    uint8_t skipHit;          // 476 out: 1 = the surface does not exist for this ray
    uint8_t reserved477[3];
    uint8_t attributes[kAttributeBytes];  // 480 in: packed at declared offsets
};

#define VESPER_STATE_AT(field, offset) \
    static_assert(offsetof(ShadingState, field) == (offset), #field " must sit at byte " #offset)
VESPER_STATE_AT(rayOrigin, 0);
VESPER_STATE_AT(rayDirection, 12);
VESPER_STATE_AT(position, 24);
VESPER_STATE_AT(normal, 36);
VESPER_STATE_AT(geometricNormal, 48);
VESPER_STATE_AT(mappingPoint, 60);
VESPER_STATE_AT(mappingNormal, 72);
VESPER_STATE_AT(pixelPosition, 96);
VESPER_STATE_AT(imageHeight, 108);
VESPER_STATE_AT(mediumIor, 112);
VESPER_STATE_AT(outsideIor, 116);
VESPER_STATE_AT(matrixA, 120);
VESPER_STATE_AT(matrixB, 184);
VESPER_STATE_AT(rayType, 320);
VESPER_STATE_AT(rayDepth, 324);
VESPER_STATE_AT(rayDepthLimit, 328);
VESPER_STATE_AT(outColor, 336);
VESPER_STATE_AT(outAlpha, 348);
VESPER_STATE_AT(outTransmission, 352);
VESPER_STATE_AT(sampleDirection, 364);
VESPER_STATE_AT(sampleValue, 376);
VESPER_STATE_AT(sampleCosine, 388);
VESPER_STATE_AT(sampleWeight, 392);
VESPER_STATE_AT(sampleKind, 396);
VESPER_STATE_AT(allowLobe, 400);
VESPER_STATE_AT(lightSample, 408);
VESPER_STATE_AT(lightSample.lightPosition, 412);
VESPER_STATE_AT(lightSample.lightDirection, 424);
VESPER_STATE_AT(lightSample.lightAxis, 436);
VESPER_STATE_AT(lightSample.lightDistance, 448);
VESPER_STATE_AT(lightSample.lightColor, 452);
VESPER_STATE_AT(lightSample.lightTransmission, 464);
VESPER_STATE_AT(skipHit, 476);
VESPER_STATE_AT(attributes, 480);
#undef VESPER_STATE_AT
static_assert(sizeof(LightSample) == 68, "the light sample spans bytes 408..475");
static_assert(sizeof(ShadingState) >= 536, "the attribute block must reach byte 535");
static_assert(sizeof(ShadingState) == 536, "the state ends with the attribute block");

}  // namespace pxs

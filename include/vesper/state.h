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

// ---- The fields by name ----------------------------------------------------
//
// Every named field with its byte offset, for hosts and tools that handle states
// as bytes: recording and replaying calls, printing or comparing states field by
// field, clearing the outputs before a call. The list below is the one source of
// the offsets: it expands into the compile-time checks and into kStateFields.

// What a field holds: 32-bit floats (scalars, vectors, matrices), 32-bit ints,
// or bytes.
enum StateFieldType : uint8_t {
    kFieldFloat = 1,
    kFieldInt = 2,
    kFieldByte = 3,
};

// Who writes a field. outsideIor is read and may be written back;
// sampleDirection is read by evaluateBsdf and written by sampleBsdf.
enum StateFieldAccess : uint8_t {
    kFieldIn = 1,     // the host sets it before a call
    kFieldOut = 2,    // the library writes it
    kFieldInOut = 3,  // both
};

struct StateField {
    const char* name;  // the member's name (light-sample members by their own name)
    size_t offset;     // in the state
    size_t size;       // in bytes
    StateFieldType type;
    StateFieldAccess access;
};

// S: a member of ShadingState; L: a member of its LightSample. In offset order;
// reserved bytes are not listed.
#define VESPER_STATE_FIELDS(S, L)                     \
    S(rayOrigin, 0, kFieldFloat, kFieldIn)            \
    S(rayDirection, 12, kFieldFloat, kFieldIn)        \
    S(position, 24, kFieldFloat, kFieldIn)            \
    S(normal, 36, kFieldFloat, kFieldIn)              \
    S(geometricNormal, 48, kFieldFloat, kFieldIn)     \
    S(mappingPoint, 60, kFieldFloat, kFieldIn)        \
    S(mappingNormal, 72, kFieldFloat, kFieldIn)       \
    S(pixelPosition, 96, kFieldFloat, kFieldIn)       \
    S(imageHeight, 108, kFieldInt, kFieldIn)          \
    S(mediumIor, 112, kFieldFloat, kFieldIn)          \
    S(outsideIor, 116, kFieldFloat, kFieldInOut)      \
    S(matrixA, 120, kFieldFloat, kFieldIn)            \
    S(matrixB, 184, kFieldFloat, kFieldIn)            \
    S(rayType, 320, kFieldInt, kFieldIn)              \
    S(rayDepth, 324, kFieldInt, kFieldIn)             \
    S(rayDepthLimit, 328, kFieldInt, kFieldIn)        \
    S(outColor, 336, kFieldFloat, kFieldOut)          \
    S(outAlpha, 348, kFieldFloat, kFieldOut)          \
    S(outTransmission, 352, kFieldFloat, kFieldOut)   \
    S(sampleDirection, 364, kFieldFloat, kFieldInOut) \
    S(sampleValue, 376, kFieldFloat, kFieldOut)       \
    S(sampleCosine, 388, kFieldFloat, kFieldOut)      \
    S(sampleWeight, 392, kFieldFloat, kFieldOut)      \
    S(sampleKind, 396, kFieldInt, kFieldOut)          \
    S(allowLobe, 400, kFieldByte, kFieldIn)           \
    L(lightPosition, 412, kFieldFloat, kFieldIn)      \
    L(lightDirection, 424, kFieldFloat, kFieldIn)     \
    L(lightAxis, 436, kFieldFloat, kFieldIn)          \
    L(lightDistance, 448, kFieldFloat, kFieldIn)      \
    L(lightColor, 452, kFieldFloat, kFieldOut)        \
    L(lightTransmission, 464, kFieldFloat, kFieldOut) \
    S(skipHit, 476, kFieldByte, kFieldOut)            \
    S(attributes, 480, kFieldByte, kFieldIn)

#define VESPER_STATE_AT(field, offset) \
    static_assert(offsetof(ShadingState, field) == (offset), #field " must sit at byte " #offset);
#define VESPER_STATE_S(name, offset, type, access) VESPER_STATE_AT(name, offset)
#define VESPER_STATE_L(name, offset, type, access) VESPER_STATE_AT(lightSample.name, offset)
VESPER_STATE_FIELDS(VESPER_STATE_S, VESPER_STATE_L)
VESPER_STATE_AT(lightSample, 408)
#undef VESPER_STATE_S
#undef VESPER_STATE_L
#undef VESPER_STATE_AT

#define VESPER_STATE_S(name, offset, type, access) \
    {#name, offset, sizeof(ShadingState::name), type, access},
#define VESPER_STATE_L(name, offset, type, access) \
    {#name, offset, sizeof(LightSample::name), type, access},
constexpr StateField kStateFields[] = {VESPER_STATE_FIELDS(VESPER_STATE_S, VESPER_STATE_L)};
#undef VESPER_STATE_S
#undef VESPER_STATE_L
#undef VESPER_STATE_FIELDS
constexpr size_t kStateFieldCount = sizeof(kStateFields) / sizeof(kStateFields[0]);

static_assert(sizeof(LightSample) == 68, "the light sample spans bytes 408..475");
static_assert(sizeof(ShadingState) >= 536, "the attribute block must reach byte 535");
static_assert(sizeof(ShadingState) == 536, "the state ends with the attribute block");

}  // namespace pxs

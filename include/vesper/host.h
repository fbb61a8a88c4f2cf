// Host-side interfaces, as the library calls them.
//
// A host implements ITextureObject, IParameterRegistry and IRenderServices. The
// library calls their operations by vtable position, so every interface below
// fills the positions it does not use with placeholder virtuals: keep them, in
// order, and never add overloads or by-value struct returns, so that any
// compiler following the platform's C++ ABI lays the table out the same way.
//
// None of these interfaces declares a C++ virtual destructor (it would take two
// vtable slots under the Itanium ABI): their destructors are protected and
// non-virtual, and the host destroys its own objects through their concrete
// types. Declare those types `final`, so that -Wnon-virtual-dtor has nothing to
// warn about.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vesper/state.h"
#include "vesper/types.h"

namespace pxs {

class IShaderBase;

// Capability mask passed to IParameterRegistry::declareCapabilities.
enum Capability : uint32_t {
    kCapShade = 1,               // material implements shade
    kCapShadowTransmission = 2,  // slot 6
    kCapEvaluateBsdf = 4,        // slot 7
    kCapSampleBsdf = 8,          // slot 8
    kCapLight = 32,              // light shader
    kCapEnvironment = 64,        // environment shader
};

// Vertex-attribute kinds for IParameterRegistry::declareVertexAttribute.
enum AttributeKind : int32_t {
    kAttributeFloat2 = 1,
    kAttributeFloat3 = 2,
    kAttributeFloat4 = 3,
};

// A host texture, reached through the pointer of a TextureHandle.
class ITextureObject {
  public:
    virtual void reserved0() {}
    // Slot 1: writes the value at coords into out (r, g, b, a). coords is a float2
    // (u, v) for 2D textures and a float3 direction for cube maps. Must be safe to
    // call from several render threads at once.
    virtual void sample(float4* out, const float* coords) = 0;

  protected:
    ~ITextureObject() = default;
};

// A borrowed reference to a host texture, stored in a shader's parameter block.
// The library never creates, releases or duplicates the object behind it.
struct TextureHandle {
    ITextureObject* object = nullptr;  // null: no texture bound
    int32_t id = -1;                   // host's value; the library only initialises it
    int32_t hostData = 0;              // host's value; the library only initialises it
};
static_assert(sizeof(TextureHandle) == 16, "a texture handle is 16 bytes");
static_assert(offsetof(TextureHandle, id) == 8, "the id follows the pointer");
static_assert(offsetof(TextureHandle, hostData) == 12, "the host's word ends the handle");

// One element of the list returned by IRenderServices::getLights.
struct LightNode {
    float3 direction;          // 0:  unit vector from the surface point towards the light
    float lightFactor;         // 12: multiplied into the contribution: |N.L| and any scale
    float3 lightContribution;  // 16: colour delivered, after shadowing
    uint8_t reserved28[16];
    float3 lightColor;         // 44: colour before shadowing
    float3 lightTransmission;  // 56: per-channel shadow visibility (1 = unshadowed)
    uint8_t reserved68[4];
    int32_t type;  // 72: kLightTinted, kLightSkip, or any other value (classes differ
                   // in which fields they read: fill them all)
    uint8_t reserved76[4];
    const LightNode* next;  // 80: null at the end of the list
};
static_assert(offsetof(LightNode, lightFactor) == 12, "light node layout");
static_assert(offsetof(LightNode, lightContribution) == 16, "light node layout");
static_assert(offsetof(LightNode, lightColor) == 44, "light node layout");
static_assert(offsetof(LightNode, lightTransmission) == 56, "light node layout");
static_assert(offsetof(LightNode, type) == 72, "light node layout");
static_assert(offsetof(LightNode, next) == 80, "light node layout");
static_assert(sizeof(LightNode) == 88, "a light node is 88 bytes");

// LightNode::type values with a meaning of their own.
enum LightNodeType : int32_t {
    kLightTinted = 1,    // materials combine lightColor and lightTransmission themselves
    kLightSkip = 10001,  // a node to ignore
};

// The host's parameter registry. A shader publishes, inside declareParameters,
// its capability mask and then each parameter's name, type (by the operation it
// calls) and field address. Names are static strings of the library; field
// addresses stay valid until the shader is destroyed. Results are not used.
class IParameterRegistry {
  public:
    virtual void reserved0() {}
    virtual void declareCapabilities(IShaderBase* shader, uint32_t capabilityMask) = 0;  // 1
    virtual void declareBool(IShaderBase* shader, const char* name, bool* field) = 0;    // 2
    virtual void reserved3() {}
    virtual void reserved4() {}
    virtual void reserved5() {}
    virtual void declareInt(IShaderBase* shader, const char* name, int32_t* field) = 0;  // 6
    virtual void reserved7() {}
    virtual void reserved8() {}
    virtual void reserved9() {}
    virtual void declareFloat(IShaderBase* shader, const char* name, float* field) = 0;    // 10
    virtual void declareFloat2(IShaderBase* shader, const char* name, float2* field) = 0;  // 11
    virtual void declareFloat3(IShaderBase* shader, const char* name, float3* field) = 0;  // 12
    virtual void declareFloat4(IShaderBase* shader, const char* name, float4* field) = 0;  // 13
    virtual void reserved14() {}
    virtual void declareMatrix3(IShaderBase* shader, const char* name, matrix3* field) = 0;  // 15
    virtual void declareMatrix4(IShaderBase* shader, const char* name, matrix4* field) = 0;  // 16
    // 17: a texture of the second kind; registered and copied, never sampled.
    virtual void declareTextureB(IShaderBase* shader, const char* name, TextureHandle* field) = 0;
    // 18: a 2D image, sampled with float2 coordinates.
    virtual void declareTexture2D(IShaderBase* shader, const char* name, TextureHandle* field) = 0;
    virtual void reserved19() {}
    // 20: a cube map, sampled with a float3 direction.
    virtual void declareTextureCube(IShaderBase* shader, const char* name,
                                    TextureHandle* field) = 0;
    virtual void reserved21() {}
    virtual void reserved22() {}
    virtual void reserved23() {}
    virtual void reserved24() {}
    virtual void reserved25() {}
    virtual void reserved26() {}
    virtual void reserved27() {}
    virtual void reserved28() {}
    virtual void reserved29() {}
    virtual void reserved30() {}
    virtual void reserved31() {}
    virtual void reserved32() {}
    virtual void reserved33() {}
    virtual void reserved34() {}
    virtual void reserved35() {}
    virtual void reserved36() {}
    virtual void reserved37() {}
    virtual void reserved38() {}
    virtual void reserved39() {}
    // 40: the host must interpolate attribute `name` (of `kind`) into
    // ShadingState::attributes at byte `offset` for this shader.
    virtual void declareVertexAttribute(IShaderBase* shader, int32_t kind, const char* name,
                                        int32_t offset) = 0;

  protected:
    ~IParameterRegistry() = default;
};

// The host's services for one per-hit call. Tracing operations write their colour
// into `out` (room for four floats; r, g, b and, for the transmission forms, a)
// and return `out`. `weight` is the importance of the request to the pixel.
// A services object is used only from the thread that made the per-hit call.
class IRenderServices {
  public:
    virtual void reserved0() {}
    virtual void reserved1() {}
    // 2: the lights reaching position, or null when none.
    virtual const LightNode* getLights(int32_t selectionMask, const float3* position,
                                       const float3* normal) = 0;
    // 3: ambient light at position into out.
    virtual float3* ambientLight(float3* out, const float3* position, const float3* normal) = 0;
    // 4: per-channel transmission between two points (1 = unoccluded).
    virtual float3* traceShadow(float3* out, const float3* from, const float3* to) = 0;
    // 5: colour arriving along a ray of the given RayType.
    virtual float3* traceRay(float3* out, int32_t rayType, const float3* origin,
                             const float3* direction, float weight) = 0;
    // 6: mirror reflection.
    virtual float3* traceReflection(float3* out, const float3* origin, const float3* direction,
                                    float weight) = 0;
    // 7: colour seen through the surface; out arrives preset with alpha in out->w.
    virtual float4* traceTransmission(float4* out, const float3* origin, const float3* direction,
                                      float weight) = 0;
    // 8: reflection blurred along two tangent axes.
    virtual float3* traceAnisotropicReflection(float3* out, const float3* origin,
                                               const float3* direction, const float3* axisU,
                                               const float3* axisV, float glossinessU,
                                               float glossinessV, float weight) = 0;
    // 9: blurred reflection.
    virtual float3* traceGlossyReflection(float3* out, const float3* origin,
                                          const float3* direction, float glossiness,
                                          float weight) = 0;
    virtual void reserved10() {}
    // 11: blurred transmission; out arrives preset with alpha in out->w.
    virtual float4* traceGlossyTransmission(float4* out, const float3* origin,
                                            const float3* direction, float glossiness,
                                            float weight) = 0;
    // 12: unoccluded fraction per channel (1 = fully open).
    virtual float3* ambientOcclusion(float3* out, const float3* position, const float3* normal,
                                     float weight) = 0;
    // 13: indirect light arriving at position.
    virtual float3* globalIllumination(float3* out, const float3* position, const float3* direction,
                                       float weight) = 0;
    // 14: uniform in [0, 1), never 1.
    virtual float random() = 0;
    // 15: two independent uniforms in [0, 1).
    virtual float2* random2(float2* out) = 0;
    // 16: noise of (x, y, z, w) read from p[0..3].
    virtual float noise3(const float* p) = 0;
    // 17: a second noise function of a point.
    virtual float noise3b(const float3* point) = 0;
    // 18: noise of a 2D point.
    virtual float noise2(const float2* point) = 0;
    // 19: noise of a scalar; also used as a repeatable hash of an integer id.
    virtual float noise1(float x) = 0;
    virtual void reserved20() {}
    virtual void reserved21() {}
    virtual void reserved22() {}
    virtual void reserved23() {}
    virtual void reserved24() {}
    virtual void reserved25() {}
    virtual void reserved26() {}
    virtual void reserved27() {}
    virtual void reserved28() {}
    virtual void reserved29() {}
    virtual void reserved30() {}
    virtual void reserved31() {}
    virtual void reserved32() {}
    virtual void reserved33() {}
    virtual void reserved34() {}
    virtual void reserved35() {}
    virtual void reserved36() {}
    virtual void reserved37() {}
    virtual void reserved38() {}
    virtual void reserved39() {}
    virtual void reserved40() {}
    virtual void reserved41() {}
    virtual void reserved42() {}
    virtual void reserved43() {}
    virtual void reserved44() {}
    virtual void reserved45() {}
    virtual void reserved46() {}
    virtual void reserved47() {}
    virtual void reserved48() {}
    // 49: a value per point, called at integer lattice points.
    virtual float latticeNoise(const float3* point) = 0;
    virtual void reserved50() {}
    virtual void reserved51() {}
    virtual void reserved52() {}
    virtual void reserved53() {}
    virtual void reserved54() {}
    virtual void reserved55() {}
    virtual void reserved56() {}
    // 57: pseudo-random feature-point offset for an integer cell.
    virtual float3* cellJitter(float3* out, const float3* cell) = 0;

  protected:
    ~IRenderServices() = default;
};

}  // namespace pxs

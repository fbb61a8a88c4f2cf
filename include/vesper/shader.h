// The shader objects the library hands to the host, and its exported entry points.
//
// The host calls shader operations by vtable position:
//   0 destroy   1 declareParameters   2 copyParameters   3 queryFlagA   4 shaderKind
//   5 shade     and, for materials only,
//   6 shadowTransmission   7 evaluateBsdf   8 sampleBsdf   9 reservedHook
// Per-hit operations (5..8) read the object and write only the state they are
// given, so one object may serve any number of render threads at once.
#pragma once

#include <cstdint>

#include "vesper/host.h"
#include "vesper/state.h"

namespace pxs {

// The one revision number of every interface in this header set.
constexpr int32_t kApiVersion = 2722;

enum ShaderKindCode : int32_t {
    kKindMaterial = 0,
    kKindLight = 1,
    kKindEnvironment = 2,
};

// Flag bit of destroy(): free the memory with the library's allocator.
constexpr unsigned kDestroyFree = 1u;

class IShaderBase {
  public:
    // 0: runs the destructor, and frees the object when (flags & kDestroyFree).
    // The host must use this, never its own delete. Returns the object pointer.
    virtual void* destroy(unsigned flags) = 0;
    // 1: announces the capability mask, then registers every parameter and
    // vertex attribute with the registry, in the class's fixed order.
    virtual void declareParameters(IParameterRegistry* registry) = 0;
    // 2: copies every parameter of `other`, an object of the same class.
    virtual void copyParameters(const IShaderBase* other) = 0;
    // 3: always 1.
    virtual int32_t queryFlagA() = 0;
    // 4: a ShaderKindCode.
    virtual int32_t shaderKind() = 0;

  protected:
    ~IShaderBase() = default;
};

class MaterialShader : public IShaderBase {
  public:
    int32_t queryFlagA() override { return 1; }
    int32_t shaderKind() override { return kKindMaterial; }
    // 5: writes outColor and usually outAlpha, or sets skipHit.
    virtual void shade(IRenderServices* services, ShadingState* state) = 0;
    // 6: writes outTransmission (1 = the surface casts no shadow).
    virtual void shadowTransmission(IRenderServices*, ShadingState*) {}
    // 7: reads sampleDirection; writes sampleValue and sampleCosine.
    virtual void evaluateBsdf(IRenderServices*, ShadingState*) {}
    // 8: writes sampleDirection, sampleValue, sampleCosine, sampleWeight, sampleKind.
    virtual void sampleBsdf(IRenderServices*, ShadingState*) {}
    // 9: unused by every class.
    virtual void reservedHook(IRenderServices*, ShadingState*) {}

  protected:
    ~MaterialShader() = default;
};

class LightShader : public IShaderBase {
  public:
    int32_t queryFlagA() override { return 1; }
    int32_t shaderKind() override { return kKindLight; }
    // 5: reads position and the light sample; writes lightColor and lightTransmission.
    virtual void shade(IRenderServices* services, ShadingState* state) = 0;

  protected:
    ~LightShader() = default;
};

class EnvironmentShader : public IShaderBase {
  public:
    int32_t queryFlagA() override { return 1; }
    int32_t shaderKind() override { return kKindEnvironment; }
    // 5: colour and alpha of a ray that left the scene.
    virtual void shade(IRenderServices* services, ShadingState* state) = 0;

  protected:
    ~EnvironmentShader() = default;
};

// Exported entry points, per class <Class>:
//   extern "C" IShaderBase* <Class>_create();        null when allocation fails
//   extern "C" int32_t      <Class>_getAPIVersion(); always kApiVersion
using CreateFunction = IShaderBase* (*)();
using ApiVersionFunction = int32_t (*)();

}  // namespace pxs

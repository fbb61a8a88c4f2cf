// corvid_Env_Default: what a ray sees when it leaves the scene.
//
// Rays within the depth bound see the flat background colour (alpha 0) unless
// they are reflection rays; gather rays see the diffuse cube. Reflection rays,
// and every ray at or past the depth bound, see the reflection cube. Both cube
// answers go through their own colour adjustment and are opaque (alpha 1); an
// unbound cube reads as black before the adjustment.
//
// | name                   | type     | default          | meaning                                |
// |------------------------|----------|------------------|----------------------------------------|
// | "IBLLuminanceFactors"  | float3   | (0.2125, 0.7154, | r, g, b weights of the luminance       |
// |                        |          |  0.0721)         |                                        |
// | "globalIBLMatrix"      | matrix3  | identity         | rotation of every cube lookup          |
// | "diffuseIBLContrast"   | float2   | (0.5, 1)         | pivot, factor (1 = no contrast)        |
// | "diffuseIBLGainMode"   | int      | 0                | 1 times gain, 2 luminance times gain,  |
// |                        |          |                  | any other value no gain                |
// | "diffuseIBLGain"       | float3   | (1, 1, 1)        | gain colour                            |
// | "diffuseIBLSaturation" | float    | 1                | 1 unchanged, 0 grey, above 1 stronger  |
// | "reflectIBLContrast"   | float2   | (0.5, 1)         | as diffuse, for reflection             |
// | "reflectIBLGainMode"   | int      | 0                |                                        |
// | "reflectIBLGain"       | float3   | (1, 1, 1)        |                                        |
// | "reflectIBLSaturation" | float    | 1                |                                        |
// | "backgroundColor"      | float3   | (0, 0.5, 0.7)    | directly seen background               |
// | "reflectionCube"       | cube map | none             | seen by reflection rays                |
// | "diffuseCube"          | cube map | none             | seen by gather rays                    |
//
// The host writes "globalIBLMatrix" before rendering; until it does, lookups use
// the identity.
#pragma once

#include "frame/shader_class.h"
#include "shading/ibl.h"

namespace pxs {

class corvid_Env_Default final : public ShaderClass<corvid_Env_Default, EnvironmentShader> {
  public:
    struct Params {
        IBLSettings ibl;  // the ten leading fields
        float3 backgroundColor{0.0f, 0.5f, 0.7f};
        TextureHandle reflectionCube;
        TextureHandle diffuseCube;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

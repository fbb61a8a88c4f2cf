// corvid_Env_Backplate: the environment with a backplate behind the scene.
//
// Reflection and gather rays are answered as by corvid_Env_Default (graded cube
// maps, alpha 1), without its depth bound. Camera and continuation rays see the
// backplate when "useBackgroundImage" is set: a flat image mapped to the screen
// by the sample's pixel position, or, with "useCubeBackplate", a cube map seen
// through a camera window (size, close-up zoom, horizon shift, frame transform,
// cube rotation). Backplate answers are never graded and always have alpha 0,
// as has the "backgroundColor" that all other rays see.
//
// | name                    | type     | default          | meaning                               |
// |-------------------------|----------|------------------|---------------------------------------|
// | "IBLLuminanceFactors"   | float3   | (0.2125, 0.7154, | r, g, b weights of the luminance      |
// |                         |          |  0.0721)         |                                       |
// | "globalIBLMatrix"       | matrix3  | identity         | rotation of the IBL cube lookups      |
// | "diffuseIBLContrast"    | float2   | (0.5, 1)         | pivot, factor (1 = no contrast)       |
// | "diffuseIBLGainMode"    | int      | 0                | 1 times gain, 2 luminance times gain, |
// |                         |          |                  | any other value no gain               |
// | "diffuseIBLGain"        | float3   | (1, 1, 1)        | gain colour                           |
// | "diffuseIBLSaturation"  | float    | 1                | 1 unchanged, 0 grey                   |
// | "reflectIBLContrast"    | float2   | (0.5, 1)         | as diffuse, for reflection rays       |
// | "reflectIBLGainMode"    | int      | 0                |                                       |
// | "reflectIBLGain"        | float3   | (1, 1, 1)        |                                       |
// | "reflectIBLSaturation"  | float    | 1                |                                       |
// | "useBackgroundImage"    | bool     | false            | camera and continuation rays see it   |
// | "useCubeBackplate"      | bool     | false            | backplate is the cube, not the image  |
// | "useCubeReflection"     | bool     | true             | reflection rays see "reflectionCube"  |
// | "backgroundColor"       | float3   | (0, 0.5, 0.7)    | whatever no map covers                |
// | "backgroundImage"       | 2D image | none             | flat backplate, (u, v) in [0, 1]      |
// | "reflectionCube"        | cube map | none             |                                       |
// | "diffuseCube"           | cube map | none             | seen by gather rays                   |
// | "backplateCube"         | cube map | none             | cube backplate                        |
// | "backplateCloseUp"      | float    | 1                | zoom: the window is divided by it     |
// | "backplateHorizon"      | float    | 0                | vertical shift of the window          |
// | "camerawindowsize"      | float2   | (1, 1)           | window width, height at distance 1    |
// | "backplatetransform"    | matrix4  | identity         | frame of the backplate camera         |
// | "backplateCubeRotation" | matrix3  | identity         | rotation of the backplate cube        |
// | "uv_scale"              | float2   | (1, 1)           | pixel position to (u, v) scale        |
// | "uv_offset"             | float2   | (0, 0)           | added after the scale                 |
// | "render_size"           | float2   | (-1, -1)         | width (not read), height in pixels;   |
// |                         |          |                  | height < 0 uses the state's height    |
//
// The matrices start as the identity until the host writes them. A cube
// backplate direction that is not finite (a close-up of 0, say) shows the
// background colour rather than reaching the host's sampler.
//
// Slots 3 and 4 stay those of EnvironmentShader: the host tells environments
// from lights by shaderKind 2, so overriding it would make this one a light.
#pragma once

#include "frame/shader_class.h"
#include "shading/ibl.h"

namespace pxs {

class corvid_Env_Backplate final : public ShaderClass<corvid_Env_Backplate, EnvironmentShader> {
  public:
    struct Params {
        IBLSettings ibl;  // the ten leading fields
        Flag useBackgroundImage = false;
        Flag useCubeBackplate = false;
        Flag useCubeReflection = true;
        float3 backgroundColor{0.0f, 0.5f, 0.7f};
        TextureHandle backgroundImage;
        TextureHandle reflectionCube;
        TextureHandle diffuseCube;
        TextureHandle backplateCube;
        float backplateCloseUp = 1.0f;
        float backplateHorizon = 0.0f;
        float2 cameraWindowSize{1.0f, 1.0f};
        matrix4 backplateTransform = kIdentity4;
        matrix3 backplateCubeRotation = kIdentity3;
        float2 uvScale{1.0f, 1.0f};
        float2 uvOffset{0.0f, 0.0f};
        float2 renderSize{-1.0f, -1.0f};
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;

  private:
    float3 imageBackplate(const ShadingState& st) const;
    float3 cubeBackplate(const ShadingState& st) const;
};

}  // namespace pxs

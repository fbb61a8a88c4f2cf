// BackgroundGeometry: proxy geometry for a photographed background, typically
// the ground under a backplate.
//
// Camera rays see the diffuse channel unlit (or, with a normal map, lit by the
// diffuse and specular cube maps), darkened by the shadows and ambient occlusion
// that fall on upward-facing parts (shading normal z above 0.9), then graded.
// The alpha is the shadow density, so the background itself stays transparent to
// compositing while the shadows cast on it do not. A diffuse alpha below 0.05
// removes the hit; between that and 1 the traced background shows through.
// Back faces and edge-on hits are absent. Reflection rays see "reflectCube"
// (with "useCubeReflection"), gather rays the graded "diffuseCube". Occlusion
// rays are blocked by upward-facing parts only; path continuation goes straight
// through.
//
// Cube lookups are rotated by "globalIBLMatrix" like the environments'. The
// diffuse and specular channels pick their box-projection axes with the shading
// normal, the normal map with the mapping normal. Nothing is clamped.
//
// | name                        | type    | default   | meaning                            |
// |-----------------------------|---------|-----------|------------------------------------|
// | "diffuseColor"              | float3  | (1, 1, 1) | diffuse channel: constant          |
// | "diffuseTexture"            | texture | none      | RGBA image; alpha is the coverage  |
// | "diffuseMode"               | int     | 0         | -1 off, 0 constant, 1 uv, 2 planar,|
// |                             |         |           | 3 box, 4 cylindrical               |
// | "diffuseTextureMatrix"      | matrix4 | identity  | mappingPoint projection (2 to 4)   |
// | "diffuseAngularRepeat"      | float   | 1         | turns around the cylinder (4)      |
// | "diffuseUVMatrix"           | matrix3 | identity  | transform of "uv" (mode 1)         |
// | "diffuseIBLGainColor"       | float3  | (1, 1, 1) | diffuse cube light: colour gain    |
// | "diffuseIBLContrastPivot"   | float3  | (1, 1, 1) |   contrast pivot                   |
// | "diffuseIBLContrastValue"   | float   | 1         |   contrast                         |
// | "diffuseIBLGainSource"      | int     | 0         |   1: colour gain on the luminance, |
// |                             |         |           |   else "diffuseIBLGainValue"       |
// | "specularColor"             | float3  | (0, 0, 0) | specular channel (with bumps only) |
// | "specularTexture" ...       |         |           | texture, mode 0, matrices, repeat 1|
// | "specularIBLGainColor" ...  |         |           | specular cube light, as diffuse    |
// | "bumpMode"                  | int     | -1        | normal-map mode; -1 also switches  |
// |                             |         |           | the cube light off                 |
// | "bumpTexture"               | texture | none      | tangent-space normals, 0.5 + 0.5 n |
// | "bumpTextureMatrix"         | matrix4 | identity  | projection of the normal map       |
// | "bumpTextureMatrixInverse"  | matrix4 | identity  | its rows are the texture axes      |
// | "bumpAngularRepeat"         | float   | 1         |                                    |
// | "bumpScale"                 | float   | 1         | tangent-plane scale; 0: map off    |
// | "bumpUVMatrix"              | matrix3 | identity  | turns the frame with the uv        |
// | "shadowColor"               | float3  | (0, 0, 0) | full shadow and full occlusion     |
// | "shadowIntensity"           | float   | 1         | how far shadows go towards it      |
// | "useCubeReflection"         | bool    | true      | reflection rays see "reflectCube"  |
// | "reflectCube"               | cube    | none      |                                    |
// | "diffuseCube"               | cube    | none      | gather rays; diffuse light (bumps) |
// | "specularCube"              | cube    | none      | specular light (bumps)             |
// | "diffuseTextureGainColor".. |         |           | final grading, channel stage:      |
// |                             |         |           | colour, source 0, value 1, sat. 1  |
// | "globalIBLContrastPivot"..  |         |           | global stage: pivot (1, 1, 1),     |
// |                             |         |           | contrast, gain colour, saturation, |
// |                             |         |           | source 0, value; all others 1      |
// | "globalIBLMatrix"           | matrix3 | identity  | rotation of every cube lookup      |
// | "reflectIBLChannelGain..."  |         |           | gather-ray channel stage: colour,  |
// |                             |         |           | source 0, value 1, saturation 1    |
// | "diffuseIBLGainValue"       | float   | 1         | diffuse cube light: scalar gain    |
// | "specularIBLGainValue"      | float   | 1         | specular cube light: scalar gain   |
// | attribute "uv"              | float2  | @0        | texture coordinates                |
// | attribute "tangent"         | float3  | @8        | normal-map frame in mode 1         |
// | attribute "bitangent"       | float3  | @20       |                                    |
#pragma once

#include "frame/shader_class.h"
#include "frame/texture_channel.h"

namespace pxs {

class BackgroundGeometry final : public ShaderClass<BackgroundGeometry, MaterialShader> {
  public:
    static constexpr int32_t kUvOffset = 0;
    static constexpr int32_t kTangentOffset = 8;
    static constexpr int32_t kBitangentOffset = 20;

    // Of each channel only the colour, texture, mode, matrices and repeat are
    // registered; invert and from-alpha stay off.
    struct Params {
        TextureChannel diffuse{float3(1.0f, 1.0f, 1.0f)};
        float3 diffuseIBLGainColor{1.0f, 1.0f, 1.0f};
        float3 diffuseIBLContrastPivot{1.0f, 1.0f, 1.0f};
        float diffuseIBLContrastValue = 1.0f;
        int32_t diffuseIBLGainSource = 0;
        TextureChannel specular{float3(0.0f, 0.0f, 0.0f)};
        float3 specularIBLGainColor{1.0f, 1.0f, 1.0f};
        float3 specularIBLContrastPivot{1.0f, 1.0f, 1.0f};
        float specularIBLContrastValue = 1.0f;
        int32_t specularIBLGainSource = 0;
        // The normal map's constant (mode 0) is the unbent normal.
        TextureChannel bump{float3(0.0f, 0.0f, 1.0f), kChannelOff};
        matrix4 bumpTextureMatrixInverse = kIdentity4;
        float bumpScale = 1.0f;
        float3 shadowColor{0.0f, 0.0f, 0.0f};
        float shadowIntensity = 1.0f;
        Flag useCubeReflection = true;
        TextureHandle reflectCube;
        TextureHandle diffuseCube;
        TextureHandle specularCube;
        float3 diffuseTextureGainColor{1.0f, 1.0f, 1.0f};
        int32_t diffuseTextureGainSource = 0;
        float diffuseTextureGainValue = 1.0f;
        float diffuseTextureSatValue = 1.0f;
        float3 globalIBLContrastPivot{1.0f, 1.0f, 1.0f};
        float globalIBLContrastValue = 1.0f;
        float3 globalIBLGainColor{1.0f, 1.0f, 1.0f};
        float globalIBLSatValue = 1.0f;
        int32_t globalIBLGainSource = 0;
        float globalIBLGainValue = 1.0f;
        matrix3 globalIBLMatrix = kIdentity3;
        float3 reflectIBLChannelGainColor{1.0f, 1.0f, 1.0f};
        int32_t reflectIBLChannelGainSource = 0;
        float reflectIBLChannelGainValue = 1.0f;
        float reflectIBLChannelSatValue = 1.0f;
        float diffuseIBLGainValue = 1.0f;
        float specularIBLGainValue = 1.0f;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

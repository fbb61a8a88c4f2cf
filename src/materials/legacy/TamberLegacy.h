// TamberLegacy: the large legacy surface material.
//
// A texturable diffuse colour lit by the host's lights and indirect light, two
// microfacet highlights, image-based diffuse and specular light from cube maps
// graded through the shared grading chain, view-dependent or uniform
// reflectivity with traced or cube-map reflections, refraction through solid
// objects or thin slabs with absorption, a normal map, an alpha mask, ambient
// occlusion, and path-continuation support (mask pass-through, mirror,
// straight transmission and a cosine-weighted diffuse bounce).
//
// Channels ("diffuse", "specular", "transparency", "masking", "bump") share one
// layout: mode (-1 off, 0 constant, 1 "uv" coordinates through the UV matrix,
// 2 planar, 3 box, 4 cylindrical projection of mappingPoint through the texture
// matrix), a constant colour, a 2D texture, a texture matrix, an angular repeat
// and a UV matrix. Matrices start as identity; hosts write them before use.
//
// | name                              | type    | default          | meaning |
// |-----------------------------------|---------|------------------|-------------------------------------------|
// | "shadowColor"                     | float3  | (0, 0, 0)        | colour of the occluded part of
// tinted lights | | "shadowIntensity"                 | float   | 1                | how far
// occluded light goes to shadowColor | | "reverseNormal"                   | bool    | false |
// negate both state normals                 | | "faceForward"                     | bool    | false
// | turn the normals towards the viewer       | | "faceLight"                       | bool    |
// false            | palette of the normals-only view          | | "showNormalsOnly" | bool    |
// false            | debug view of the normal                  | | "showAmbientOnly" | bool    |
// false            | debug view of the occlusion factor        | | "usingRaytracedAO" | bool    |
// false            | ask the host for traced occlusion         | |
// "diffuseColor/Mode/Texture/TextureMatrix/AngularRepeat/UVMatrix" | channel | (0, 0, 1), 0 |
// diffuse channel | | "diffuseIBLGainColor", "diffuseIBLContrastPivot", "diffuseIBLContrastValue",
// "diffuseIBLGainSource" | float3, float3, float, int | (1,1,1), (1,1,1), 1, 0 | diffuse IBL term
// stage | | "diffuseLightGainValue"           | float   | 1                | scale of the
// shadow-tinted diffuse light  | | "specularColor"                   | float3  | (0.5, 0.5, 0.5)  |
// specular channel constant                 | | "specularREG", "specular2REG"     | float3  |
// (0.66, 0.33, 1)  | highlight: x reflectance at normal incidence, y roughness | |
// "specularMode/Texture/TextureMatrix/AngularRepeat" | channel | 0 | specular channel (UV matrix
// below)   | | "specular2Color"                  | float3  | (0.5, 0.5, 0.5)  | colour of the
// second highlight            | | "specularUVMatrix"                | matrix3 | identity         |
// specular channel UV matrix                | | "specularIBLGainColor", "specularIBLContrastPivot",
// "specularIBLContrastValue", "specularIBLGainSource" | | (1,1,1), (1,1,1), 1, 0 | specular IBL
// term stage | | "specularLightGainValue", "specular2LightGainValue" | float | 1 | scale of the
// shadow-tinted highlights     | | "transparencyColor/Mode/Texture/TextureMatrix/AngularRepeat" |
// channel | (0.8, 0.8, 0.8), 0 | transparency channel | | "transparencyInvert"              | bool
// | false            | use 1 - transparency                      | | "transparencyFromDiffuse" |
// bool    | false            | transparency from the diffuse texture alpha | |
// "transparencyUVMatrix"            | matrix3 | identity         | | |
// "transparencyBlocksHighlights"    | bool    | false            | treat transparency as mask | |
// "bumpMode", "bumpTexture", "bumpTextureMatrix" | int, texture, matrix4 | -1 | normal map; -1 off
// | | "bumpTextureMatrixInverse"        | matrix4 | identity         | rows give the tangent
// directions          | | "bumpAngularRepeat", "bumpDepth", "bumpUVMatrix" | float, float, matrix3
// | 1, 1 | depth 0 switches the map off | |
// "maskingColor/Mode/Texture/TextureMatrix/InvertTexture/AngularRepeat/UVMatrix/FromAlpha" |
// channel | (0, 0, 0), 0 | mask: 1 removes the surface | | "reflectivityColor"               |
// float3  | (0, 0, 0)        | reflectivity when uniform                 | |
// "useUniformReflectivity"          | bool    | true             | use reflectivityColor instead of
// fresnel  | | "fresnel"                         | float4  | (0, 0, 0, 0)     | bias, scale,
// exponent, maximum            | | "reflectLight"                    | bool    | false            |
// reflection takes energy from other terms  | | "reflectIBLGainColor", "reflectIBLGainSource",
// "reflectIBLGainValue" | | (1,1,1), 0, 1 | reflection term stage | | "reflectionCubeIBL" | cube |
// empty            |                                           | | "useReflectionCubeIBL" | bool |
// false            | reflect the cube instead of tracing       | | "surfaceRoughness" | float   | 0
// | glossiness of traced reflection/refraction | | "refractiveIndex"                 | float   | 1
// |                                           | | "simulatedThickness"              | float   | 0
// | 0 solid object, else thin-slab thickness  | | "IBLDiffMode", "IBLSpecMode"      | int     | -1
// | 0 lights+IBL, 1 lights, 2 IBL, else neither | | "diffuseIBLGainValue", "specularIBLGainValue" |
// float | 1      | term stage scalar gains                   | | "diffuseIBLCube",
// "specularIBLCube" | cube  | empty            |                                           | |
// "globalIBLContrastPivot", "globalIBLContrastValue", "globalIBLGainColor", "globalIBLSatValue",
// "globalIBLGainSource", "globalIBLGainValue" | | (1,1,1), 1, (1,1,1), 1, 0, 1 | global stage | |
// "globalIBLMatrix"                 | matrix3 | identity         | rotation of the cube-map lookups
// | | "<t>IBLChannelContrastPivot/ContrastValue/GainColor/GainSource/GainValue/SatValue", t =
// diffuse, specular, reflect | | (1,1,1), 1, (1,1,1), 0, 1, 1 | channel stages; contrast fields
// unused | | "ambientOcclusionTexture", "ambientOcclusionMode" | texture, int | empty, 0 | 1
// texture at "uv1", 2 vertex colour | | "ambientOcclusionFactor", "ambientOcclusionColor" | float,
// float3 | 1, (0, 0, 0) | strength, colour of full occlusion | | "usePrecalcAO" | bool    | true |
// use the precomputed occlusion             | | "absorbanceRGB"                   | float3  | (-1,
// -1, -1)     | absorption per unit length; -1 absorbs all | | "useAlpha"                        |
// bool    | true             | compute a coverage alpha                  | | "globalIllumIntensity"
// | float   | 1                | scale of the host's indirect light        | | "unlitSurface" |
// bool    | false            | skip the light list                       | | "selfIlluminance" |
// bool    | false            | untinted direct light replaced by white   | | "usingHDRbuffer" |
// bool    | false            | do not clamp the output colour            | | "triplanarXY" | bool
// | false            | (z, y) instead of (y, z) on x-facing box sides |
//
// Vertex attributes: "uv" at 0, "uv1" at 8, "tangent" at 16, "bitangent" at 28,
// "vtxcolor" at 40.
#pragma once

#include "frame/math.h"
#include "frame/shader_class.h"

namespace pxs {

class TamberLegacy final : public ShaderClass<TamberLegacy, MaterialShader> {
  public:
    // Registration order is field order.
    struct Params {
        float3 shadowColor{0.0f, 0.0f, 0.0f};
        float shadowIntensity = 1.0f;
        Flag reverseNormal = false;
        Flag faceForward = false;
        Flag faceLight = false;
        Flag showNormalsOnly = false;
        Flag showAmbientOnly = false;
        Flag usingRaytracedAO = false;
        float3 diffuseColor{0.0f, 0.0f, 1.0f};
        int32_t diffuseMode = 0;
        TextureHandle diffuseTexture;
        matrix4 diffuseTextureMatrix = kIdentity4;
        float diffuseAngularRepeat = 1.0f;
        matrix3 diffuseUVMatrix = kIdentity3;
        float3 diffuseIBLGainColor{1.0f};
        float3 diffuseIBLContrastPivot{1.0f};
        float diffuseIBLContrastValue = 1.0f;
        int32_t diffuseIBLGainSource = 0;
        float diffuseLightGainValue = 1.0f;
        float3 specularColor{0.5f};
        float3 specularREG{0.66f, 0.33f, 1.0f};
        float3 specular2REG{0.66f, 0.33f, 1.0f};
        int32_t specularMode = 0;
        TextureHandle specularTexture;
        matrix4 specularTextureMatrix = kIdentity4;
        float specularAngularRepeat = 1.0f;
        float3 specular2Color{0.5f};
        matrix3 specularUVMatrix = kIdentity3;
        float3 specularIBLGainColor{1.0f};
        float3 specularIBLContrastPivot{1.0f};
        float specularIBLContrastValue = 1.0f;
        int32_t specularIBLGainSource = 0;
        float specularLightGainValue = 1.0f;
        float specular2LightGainValue = 1.0f;
        float3 transparencyColor{0.8f};
        int32_t transparencyMode = 0;
        TextureHandle transparencyTexture;
        matrix4 transparencyTextureMatrix = kIdentity4;
        float transparencyAngularRepeat = 1.0f;
        Flag transparencyInvert = false;
        Flag transparencyFromDiffuse = false;
        matrix3 transparencyUVMatrix = kIdentity3;
        Flag transparencyBlocksHighlights = false;
        int32_t bumpMode = -1;
        TextureHandle bumpTexture;
        matrix4 bumpTextureMatrix = kIdentity4;
        matrix4 bumpTextureMatrixInverse = kIdentity4;
        float bumpAngularRepeat = 1.0f;
        float bumpDepth = 1.0f;
        matrix3 bumpUVMatrix = kIdentity3;
        float3 maskingColor{0.0f};
        int32_t maskingMode = 0;
        TextureHandle maskingTexture;
        matrix4 maskingTextureMatrix = kIdentity4;
        Flag maskingInvertTexture = false;
        float maskingAngularRepeat = 1.0f;
        matrix3 maskingUVMatrix = kIdentity3;
        Flag maskingFromAlpha = false;
        float3 reflectivityColor{0.0f};
        Flag useUniformReflectivity = true;
        float4 fresnel{0.0f};
        Flag reflectLight = false;
        float3 reflectIBLGainColor{1.0f};
        int32_t reflectIBLGainSource = 0;
        float reflectIBLGainValue = 1.0f;
        TextureHandle reflectionCubeIBL;
        Flag useReflectionCubeIBL = false;
        float surfaceRoughness = 0.0f;
        float refractiveIndex = 1.0f;
        float simulatedThickness = 0.0f;
        int32_t IBLDiffMode = -1;
        int32_t IBLSpecMode = -1;
        float diffuseIBLGainValue = 1.0f;
        float specularIBLGainValue = 1.0f;
        TextureHandle diffuseIBLCube;
        TextureHandle specularIBLCube;
        float3 globalIBLContrastPivot{1.0f};
        float globalIBLContrastValue = 1.0f;
        float3 globalIBLGainColor{1.0f};
        float globalIBLSatValue = 1.0f;
        int32_t globalIBLGainSource = 0;
        float globalIBLGainValue = 1.0f;
        matrix3 globalIBLMatrix = kIdentity3;
        float3 diffuseIBLChannelContrastPivot{1.0f};
        float diffuseIBLChannelContrastValue = 1.0f;
        float3 diffuseIBLChannelGainColor{1.0f};
        int32_t diffuseIBLChannelGainSource = 0;
        float diffuseIBLChannelGainValue = 1.0f;
        float diffuseIBLChannelSatValue = 1.0f;
        float3 specularIBLChannelContrastPivot{1.0f};
        float specularIBLChannelContrastValue = 1.0f;
        float3 specularIBLChannelGainColor{1.0f};
        int32_t specularIBLChannelGainSource = 0;
        float specularIBLChannelGainValue = 1.0f;
        float specularIBLChannelSatValue = 1.0f;
        float3 reflectIBLChannelContrastPivot{1.0f};
        float reflectIBLChannelContrastValue = 1.0f;
        float3 reflectIBLChannelGainColor{1.0f};
        int32_t reflectIBLChannelGainSource = 0;
        float reflectIBLChannelGainValue = 1.0f;
        float reflectIBLChannelSatValue = 1.0f;
        TextureHandle ambientOcclusionTexture;
        int32_t ambientOcclusionMode = 0;
        float ambientOcclusionFactor = 1.0f;
        float3 ambientOcclusionColor{0.0f};
        Flag usePrecalcAO = true;
        float3 absorbanceRGB{-1.0f};
        Flag useAlpha = true;
        float globalIllumIntensity = 1.0f;
        Flag unlitSurface = false;
        Flag selfIlluminance = false;
        Flag usingHDRbuffer = false;
        Flag triplanarXY = false;
    } params;

    // Attribute offsets inside ShadingState::attributes.
    static constexpr int32_t kUvOffset = 0;
    static constexpr int32_t kUv1Offset = 8;
    static constexpr int32_t kTangentOffset = 16;
    static constexpr int32_t kBitangentOffset = 28;
    static constexpr int32_t kVertexColorOffset = 40;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
    void evaluateBsdf(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

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
// A channel is a group of fields: mode (-1 off, 0 constant, 1 "uv" through the
// UV matrix, 2 planar, 3 box, 4 cylindrical projection of mappingPoint through
// the texture matrix), constant colour, 2D texture, texture matrix, angular
// repeat and UV matrix. Matrices start as identity; hosts write them first.
// Rows name the fields in registration order.
//
// | name                           | type    | default         | meaning                          |
// |--------------------------------|---------|-----------------|----------------------------------|
// | "shadowColor"                  | float3  | (0, 0, 0)       | occluded part of tinted lights   |
// | "shadowIntensity"              | float   | 1               | how far it goes to shadowColor   |
// | "reverseNormal"                | bool    | false           | negate both state normals        |
// | "faceForward"                  | bool    | false           | turn normals to the viewer       |
// | "faceLight"                    | bool    | false           | normals-only view palette        |
// | "showNormalsOnly"              | bool    | false           | debug view of the normal         |
// | "showAmbientOnly"              | bool    | false           | debug view of the occlusion      |
// | "usingRaytracedAO"             | bool    | false           | ask the host to trace occlusion  |
// | "diffuse<field>"               | channel | (0, 0, 1)       | Color, Mode (0), Texture,        |
// |                                |         |                 | TextureMatrix, AngularRepeat,    |
// |                                |         |                 | UVMatrix                         |
// | "diffuseIBLGainColor"          | float3  | (1, 1, 1)       | diffuse IBL term stage           |
// | "diffuseIBLContrastPivot"      | float3  | (1, 1, 1)       |                                  |
// | "diffuseIBLContrastValue"      | float   | 1               |                                  |
// | "diffuseIBLGainSource"         | int     | 0               | 1 colour gain, else scalar       |
// | "diffuseLightGainValue"        | float   | 1               | scale of tinted diffuse light    |
// | "specularColor"                | float3  | (0.5, 0.5, 0.5) | specular channel constant        |
// | "specularREG"                  | float3  | (0.66, 0.33, 1) | x reflectance, y roughness       |
// | "specular2REG"                 | float3  | (0.66, 0.33, 1) | the same, second highlight       |
// | "specular<field>"              | channel | 0               | Mode, Texture, TextureMatrix,    |
// |                                |         |                 | AngularRepeat                    |
// | "specular2Color"               | float3  | (0.5, 0.5, 0.5) | colour of the second highlight   |
// | "specularUVMatrix"             | matrix3 | identity        |                                  |
// | "specularIBLGainColor"         | float3  | (1, 1, 1)       | specular IBL term stage          |
// | "specularIBLContrastPivot"     | float3  | (1, 1, 1)       |                                  |
// | "specularIBLContrastValue"     | float   | 1               |                                  |
// | "specularIBLGainSource"        | int     | 0               |                                  |
// | "specularLightGainValue"       | float   | 1               | scale of tinted first highlight  |
// | "specular2LightGainValue"      | float   | 1               | scale of tinted second one       |
// | "transparency<field>"          | channel | (0.8, 0.8, 0.8) | Color, Mode (0), Texture,        |
// |                                |         |                 | TextureMatrix, AngularRepeat     |
// | "transparencyInvert"           | bool    | false           | 1 - T, in every mode             |
// | "transparencyFromDiffuse"      | bool    | false           | T = 1 - diffuse alpha            |
// | "transparencyUVMatrix"         | matrix3 | identity        |                                  |
// | "transparencyBlocksHighlights" | bool    | false           | fold T into the mask             |
// | "bumpMode"                     | int     | -1              | normal-map channel; -1 off       |
// | "bumpTexture"                  | texture | empty           |                                  |
// | "bumpTextureMatrix"            | matrix4 | identity        |                                  |
// | "bumpTextureMatrixInverse"     | matrix4 | identity        | rows: the tangent directions     |
// | "bumpAngularRepeat"            | float   | 1               |                                  |
// | "bumpDepth"                    | float   | 1               | tangent-plane scale; 0: off      |
// | "bumpUVMatrix"                 | matrix3 | identity        |                                  |
// | "masking<field>"               | channel | (0, 0, 0)       | Color, Mode (0), Texture,        |
// |                                |         |                 | TextureMatrix, InvertTexture,    |
// |                                |         |                 | AngularRepeat, UVMatrix,         |
// |                                |         |                 | FromAlpha; 1 removes the surface |
// | "reflectivityColor"            | float3  | (0, 0, 0)       | reflectivity when uniform        |
// | "useUniformReflectivity"       | bool    | true            | use it instead of "fresnel"      |
// | "fresnel"                      | float4  | (0, 0, 0, 0)    | bias, scale, exponent, maximum   |
// | "reflectLight"                 | bool    | false           | reflection takes from the rest   |
// | "reflectIBLGainColor"          | float3  | (1, 1, 1)       | reflection term stage            |
// | "reflectIBLGainSource"         | int     | 0               |                                  |
// | "reflectIBLGainValue"          | float   | 1               |                                  |
// | "reflectionCubeIBL"            | cube    | empty           |                                  |
// | "useReflectionCubeIBL"         | bool    | false           | reflect the cube, do not trace   |
// | "surfaceRoughness"             | float   | 0               | glossiness of the traced rays    |
// | "refractiveIndex"              | float   | 1               |                                  |
// | "simulatedThickness"           | float   | 0               | 0 solid, else thin-slab depth    |
// | "IBLDiffMode"                  | int     | -1              | 0 lights + IBL, 1 lights, 2 IBL; |
// | "IBLSpecMode"                  | int     | -1              | else neither                     |
// | "diffuseIBLGainValue"          | float   | 1               | term stage scalar gain           |
// | "specularIBLGainValue"         | float   | 1               | term stage scalar gain           |
// | "diffuseIBLCube"               | cube    | empty           |                                  |
// | "specularIBLCube"              | cube    | empty           |                                  |
// | "globalIBLContrastPivot"       | float3  | (1, 1, 1)       | global stage                     |
// | "globalIBLContrastValue"       | float   | 1               |                                  |
// | "globalIBLGainColor"           | float3  | (1, 1, 1)       |                                  |
// | "globalIBLSatValue"            | float   | 1               |                                  |
// | "globalIBLGainSource"          | int     | 0               |                                  |
// | "globalIBLGainValue"           | float   | 1               |                                  |
// | "globalIBLMatrix"              | matrix3 | identity        | rotation of the cube lookups     |
// | "<t>IBLChannel<field>"         | stage   | see meaning     | t = diffuse, specular, reflect:  |
// |                                |         |                 | ContrastPivot (1, 1, 1) and      |
// |                                |         |                 | ContrastValue 1 (both unused),   |
// |                                |         |                 | GainColor (1, 1, 1), GainSource  |
// |                                |         |                 | 0, GainValue 1, SatValue 1       |
// | "ambientOcclusionTexture"      | texture | empty           | red: open fraction at "uv1"      |
// | "ambientOcclusionMode"         | int     | 0               | 1 texture, 2 "vtxcolor" red      |
// | "ambientOcclusionFactor"       | float   | 1               | strength                         |
// | "ambientOcclusionColor"        | float3  | (0, 0, 0)       | colour of full occlusion         |
// | "usePrecalcAO"                 | bool    | true            | use the precomputed occlusion    |
// | "absorbanceRGB"                | float3  | (-1, -1, -1)    | per unit length; -1 absorbs all  |
// | "useAlpha"                     | bool    | true            | compute a coverage alpha         |
// | "globalIllumIntensity"         | float   | 1               | scale of the indirect light      |
// | "unlitSurface"                 | bool    | false           | skip the light list              |
// | "selfIlluminance"              | bool    | false           | untinted direct light is white   |
// | "usingHDRbuffer"               | bool    | false           | do not clamp the colour          |
// | "triplanarXY"                  | bool    | false           | x-facing box sides: (z, y)       |
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

// corvid_Mtl_Metal: a configurable metal. A diffuse base under an anisotropic
// Ward highlight weighted by a reflectivity curve, an anisotropic glossy
// reflection traced by the host, optional flakes, a procedural patina that
// blends colour, roughness and reflectivity, a height-map pattern and a
// procedural bump, a rotatable anisotropy direction, and cut-outs (holes) that
// let the scene show through in shade and in shadows.
//
// The specular colour source (colour, brush and break maps, anodised noise)
// feeds only shade; evaluateBsdf and sampleBsdf use "u_specularColor", so the
// path continuation sees the base metal. Fields marked * have no default in the
// host contract; they start at the values given so that an object is
// usable before the host writes them. Matrices start as identity.
//
// clang-format off
// | name                         | type    | default            | meaning                                                     |
// |------------------------------|---------|--------------------|-------------------------------------------------------------|
// | occlusion and masking block  |         |                    | see occlusion_masking.h ("uv1" @0, "vtxcolor" @8)           |
// | "u_flecksEnable"             | bool    | false              | flakes on                                                   |
// | "u_flecksDiffuseColor"       | float3  | (1, 1, 1)          | flake diffuse tint (black: none)                            |
// | "u_flecksSpecularColor"      | float3  | (1, 1, 1)          | flake reflection tint (black: none)                         |
// | "u_flecksSize"               | float   | 0.5                | flake cell size, world units                                |
// | "u_flecksDensity"            | float   | 5.5                | exponent of the flake mask                                  |
// | "u_patternEnable"            | bool    | false              | height-map pattern bump on                                  |
// | "u_patternMap"               | texture | none               | pattern height map (r + g + b)                              |
// | "u_patternTransform"         | matrix3 | identity           | its UV transform                                            |
// | "u_patternAmount"            | float   | 1 *                | bump strength, pattern and procedural                       |
// | "u_diffuseMapEnable"         | bool    | false              | diffuse colour from "u_diffuseMap"                          |
// | "u_diffuseMap"               | texture | none               | diffuse colour map (rgb)                                    |
// | "u_diffuseColor"             | float3  | (0, 0, 0)          | diffuse colour                                              |
// | "u_diffuseTransform"         | matrix3 | identity           | diffuse map UV transform                                    |
// | "u_diffuseWeight"            | float   | 0.5                | added to the diffuse strength, reflect 1/4                  |
// | "u_specularMapEnable"        | bool    | false              | specular colour from "u_specularMap"                        |
// | "u_specularMap"              | texture | none               | specular colour map (rgb)                                   |
// | "u_specularColor"            | float3  | (1, 1, 1)          | specular colour without another source                      |
// | "u_specularTransform"        | matrix3 | identity           | specular map UV transform                                   |
// | "u_roughMapEnable"           | bool    | false              | roughness from the map's red channel                        |
// | "u_roughMap"                 | texture | none               | roughness map                                               |
// | "u_roughValue"               | float   | 0.1 *              | Ward roughness along T                                      |
// | "u_roughTransform"           | matrix3 | identity           | roughness map UV transform                                  |
// | "u_glossyValueU"             | float   | 0.1 *              | traced reflection glossiness along T                        |
// | "u_glossyValueV"             | float   | 0.1 *              | traced reflection glossiness along B                        |
// | "u_anisotropyMapEnable"      | bool    | false              | anisotropy from the map's red channel                       |
// | "u_anisotropyMap"            | texture | none               | anisotropy map                                              |
// | "u_anisotropyValue"          | float   | 1 *                | B roughness over T roughness                                |
// | "u_anisotropyTransform"      | matrix3 | identity           | its UV transform                                            |
// | "u_anisoRotationMapEnable"   | bool    | false              | rotation from the map's red channel                         |
// | "u_anisoRotationMap"         | texture | none               | rotation map, radians                                       |
// | "u_anisoRotationValue"       | float   | 0 *                | rotation of T and B about N, radians                        |
// | "u_anisoRotationTransform"   | matrix3 | identity           | its UV transform                                            |
// | "u_brdfCurvePower"           | float   | 5 *                | reflectivity curve exponent                                 |
// | "u_brdf00Reflectivity"       | float   | 0.8 *              | reflectivity head-on                                        |
// | "u_brdf90Reflectivity"       | float   | 1 *                | reflectivity at grazing                                     |
// | "u_cutoutsSwitcher"          | int     | 0 *                | cut-out pattern 1..7, 0 or less none                        |
// | "u_cutoutMap"                | texture | none               | cut-out coverage map, red (mode 7)                          |
// | "u_cutoutTransform"          | matrix3 | identity           | its transform, row-major (mode 7)                           |
// | "u_cutoutsCenter"            | float   | 0.5 *              | pattern offset; 0.5 = none                                  |
// | "u_cutoutsSize"              | float   | 1 *                | hole size b                                                 |
// | "u_cutoutsSpace"             | float   | 1 *                | web between holes a                                         |
// | "u_uvScale"                  | float   | 1                  | uv scale of patina and procedural bump                      |
// | "u_otherScale"               | float   | 1 *                | cut-out pattern scale factor                                |
// | "u_uvDefScale"               | float   | 1 *                | cut-out pattern scale factor                                |
// | "u_cutoutAmount"             | float   | 1                  | hole strength: 1 full holes, 0 none                         |
// | "u_cosineUsesBump"           | bool    | false              | sample cosine from the bumped normal                        |
// | "u_bumpSwitcher"             | int     | 0 *                | 1 procedural bump; 7 diffuse = specular                     |
// | "u_metalPatternScale"        | float   | 1 *                | frequency of the procedural bump                            |
// | "u_reflectSwitcher"          | int     | 0 *                | specular source: 1 colour map, 2 brush, 3 break, 4 anodised |
// | "u_anisoSwitcher"            | int     | 0 *                | anisotropy scalar source                                    |
// | "u_anisoRotSwitcher"         | int     | 0 *                | rotation scalar source                                      |
// | "u_anisoColor"               | float3  | (0, 0, 0) *        | default anisotropy scalar source                            |
// | "u_reflectColor"             | float3  | (1, 1, 1) *        | specular colour (source 2 and default)                      |
// | "u_reflMapAmount"            | float   | 1 *                | scale of the specular source                                |
// | "u_anisoMapAmount"           | float   | 1 *                | scale of the anisotropy scalar                              |
// | "u_anisorotMapAmount"        | float   | 1 *                | scale of the rotation scalar                                |
// | "u_brushMapEnable"           | bool    | false              | brush map in the specular source                            |
// | "u_brushMap"                 | texture | none               | brush map                                                   |
// | "u_brushTransform"           | matrix3 | identity           | its UV transform                                            |
// | "u_breakMapEnable"           | bool    | false              | break map in the specular source                            |
// | "u_breakMap"                 | texture | none               | break map                                                   |
// | "u_breakTransform"           | matrix3 | identity           | its UV transform                                            |
// | "u_bumpMapColorEnable"       | bool    | false              | colour map in the specular source                           |
// | "u_bumpMapColor"             | texture | none               | that colour map                                             |
// | "u_bumpMapColorTransform"    | matrix3 | identity           | its UV transform                                            |
// | "u_noiseanodized_tiling"     | float3  | (1, 1, 1)          | per-channel tiling of the anodised noise                    |
// | "u_bumpMapAmount"            | float   | 1                  | extra strength of the procedural bump                       |
// | "u_patinaEnable"             | bool    | false              | patina on                                                   |
// | "u_patinaMap"                | texture | none               | where patina may grow (red), when bound                     |
// | "u_patinaColor"              | float3  | (0.25, 0.5, 0.4) * | patina diffuse colour                                       |
// | "u_patinaGlossy"             | float   | 0.4 *              | patina roughness                                            |
// | "u_patinaBrdf00Reflectivity" | float   | 1                  | patina reflectivity head-on                                 |
// | "u_reflectionHighlightOnly"  | bool    | false              | no traced reflection, highlights only                       |
// | "n_patinaPercent"            | float   | 0                  | patina coverage, 0..1                                       |
// clang-format on
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

class corvid_Mtl_Metal final : public ShaderClass<corvid_Mtl_Metal, MaterialShader> {
  public:
    struct Params {
        OcclusionMasking<0, 8> block;
        Flag flecksEnable = false;
        float3 flecksDiffuseColor{1.0f, 1.0f, 1.0f};
        float3 flecksSpecularColor{1.0f, 1.0f, 1.0f};
        float flecksSize = 0.5f;
        float flecksDensity = 5.5f;
        Flag patternEnable = false;
        TextureHandle patternMap;
        matrix3 patternTransform = kIdentity3;
        float patternAmount = 1.0f;
        Flag diffuseMapEnable = false;
        TextureHandle diffuseMap;
        float3 diffuseColor{0.0f, 0.0f, 0.0f};
        matrix3 diffuseTransform = kIdentity3;
        float diffuseWeight = 0.5f;
        Flag specularMapEnable = false;
        TextureHandle specularMap;
        float3 specularColor{1.0f, 1.0f, 1.0f};
        matrix3 specularTransform = kIdentity3;
        Flag roughMapEnable = false;
        TextureHandle roughMap;
        float roughValue = 0.1f;
        matrix3 roughTransform = kIdentity3;
        float glossyValueU = 0.1f;
        float glossyValueV = 0.1f;
        Flag anisotropyMapEnable = false;
        TextureHandle anisotropyMap;
        float anisotropyValue = 1.0f;
        matrix3 anisotropyTransform = kIdentity3;
        Flag anisoRotationMapEnable = false;
        TextureHandle anisoRotationMap;
        float anisoRotationValue = 0.0f;
        matrix3 anisoRotationTransform = kIdentity3;
        float brdfCurvePower = 5.0f;
        float brdf00Reflectivity = 0.8f;
        float brdf90Reflectivity = 1.0f;
        int32_t cutoutsSwitcher = 0;
        TextureHandle cutoutMap;
        matrix3 cutoutTransform = kIdentity3;
        float cutoutsCenter = 0.5f;
        float cutoutsSize = 1.0f;
        float cutoutsSpace = 1.0f;
        float uvScale = 1.0f;
        float otherScale = 1.0f;
        float uvDefScale = 1.0f;
        float cutoutAmount = 1.0f;
        Flag cosineUsesBump = false;
        int32_t bumpSwitcher = 0;
        float metalPatternScale = 1.0f;
        int32_t reflectSwitcher = 0;
        int32_t anisoSwitcher = 0;
        int32_t anisoRotSwitcher = 0;
        float3 anisoColor{0.0f, 0.0f, 0.0f};
        float3 reflectColor{1.0f, 1.0f, 1.0f};
        float reflMapAmount = 1.0f;
        float anisoMapAmount = 1.0f;
        float anisorotMapAmount = 1.0f;
        Flag brushMapEnable = false;
        TextureHandle brushMap;
        matrix3 brushTransform = kIdentity3;
        Flag breakMapEnable = false;
        TextureHandle breakMap;
        matrix3 breakTransform = kIdentity3;
        Flag bumpMapColorEnable = false;
        TextureHandle bumpMapColor;
        matrix3 bumpMapColorTransform = kIdentity3;
        float3 noiseanodizedTiling{1.0f, 1.0f, 1.0f};
        float bumpMapAmount = 1.0f;
        Flag patinaEnable = false;
        TextureHandle patinaMap;
        float3 patinaColor{0.25f, 0.5f, 0.4f};
        float patinaGlossy = 0.4f;
        float patinaBrdf00Reflectivity = 1.0f;
        Flag reflectionHighlightOnly = false;
        float patinaPercent = 0.0f;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
    void evaluateBsdf(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

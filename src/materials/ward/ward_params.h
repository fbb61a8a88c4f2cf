// The Ward parameters, from "u_procedureMapEnable" to "u_reflectionHighlightOnly",
// shared by corvid_Mtl_Ward and its generated variants (which register the same
// rows in the same order, with their node fields and occlusion block after them).
//
// clang-format off
// | name                        | type      | default | meaning                                         |
// |-----------------------------|-----------|---------|-------------------------------------------------|
// | "u_procedureMapEnable"      | int       | 0       | procedural bump: 0 none, 1 noise, 2 smoke,      |
// |                             |           |         | 3 ripple, 4 none (frame rebuilt), 5..7 noise    |
// |                             |           |         | of type mode - 5; others none                   |
// | "u_procedureMapTiling"      | float3    | (1,1,1) | per-axis scale of the bump's 3D point           |
// | "u_procedureMapAmount"      | float     | 0       | strength of the procedural bump                 |
// | "u_smokeMap"                | texture B | none    | registered and copied; never sampled            |
// | "u_normal0MapEnable"        | bool      | false   | height map 0 on                                 |
// | "u_normal0Map"              | texture   | none    | height map 0 (height = r + g + b)               |
// | "u_normal0AmountMapEnable"  | bool      | false   | strength map of height map 0 on                 |
// | "u_normal0AmountMap"        | texture   | none    | its red channel scales "u_normal0Amount"        |
// | "u_normal0AmountTransform"  | matrix3   | ident.  | UV transform of the strength map                |
// | "u_normal0Amount"           | float     | 0       | strength of height map 0                        |
// | "u_normal0Transform"        | matrix3   | ident.  | UV transform of height map 0                    |
// | "u_normal1MapEnable"        | bool      | false   | height map 1 on (replaces the procedural bump)  |
// | "u_normal1Map"              | texture   | none    | height map 1                                    |
// | "u_normal1Amount"           | float     | 0       | strength of height map 1                        |
// | "u_normal1Transform"        | matrix3   | ident.  | UV transform of height map 1                    |
// | "u_normal1AsShadingNormal"  | bool      | false   | height map 1 and the procedural bump also bend  |
// |                             |           |         | the lighting normal                             |
// | "u_diffuseMapEnable"        | bool      | false   | diffuse map on                                  |
// | "u_diffuseMap"              | texture   | none    | diffuse map                                     |
// | "u_diffuseColor"            | float3    | (0,0,0) | diffuse colour                                  |
// | "u_diffuseTransform"        | matrix3   | ident.  | UV transform of the diffuse map                 |
// | "u_diffuseAmount"           | float     | 1       | scale of the diffuse map's colour               |
// | "u_imageFadeEnable"         | int       | 0       | 1 map alpha blends colour and map; 2 map,       |
// |                             |           |         | 3 colour, 4 noise: overlay-and-multiply fade    |
// | "u_imageFade"               | float     | 1       | fade strength                                   |
// | "u_imageFadeMap"            | texture   | none    | fade colour map (mode 2)                        |
// | "u_imageFadeTransform"      | matrix3   | ident.  | its UV transform                                |
// | "u_imageFadeAmount"         | float     | 1       | scale of the fade map                           |
// | "u_imageFadeColor"          | float3    | (0,0,0) | fade colour (mode 3)                            |
// | "u_specularMapEnable"       | bool      | false   | specular map on (replaces the colour)           |
// | "u_specularMap"             | texture   | none    | specular colour map                             |
// | "u_specularColor"           | float3    | (1,1,1) | specular colour                                 |
// | "u_specularTransform"       | matrix3   | ident.  | its UV transform                                |
// | "u_specularAmount"          | float     | 1       | scale of the specular map                       |
// | "u_roughMapEnable"          | bool      | false   | roughness map on                                |
// | "u_roughMap"                | texture   | none    | glossiness-like map, remapped to roughness      |
// | "u_roughValue"              | float     | 0.01    | roughness alpha-x without the map (>= 1e-4)     |
// | "u_roughTransform"          | matrix3   | ident.  | its UV transform                                |
// | "u_roughAmount"             | float     | 1       | scale of the map before the remap               |
// | "u_reflectGlossyValue"      | float     | 0       | glossiness of the reflection trace              |
// | "u_refractGlossyMapEnable"  | bool      | false   | refraction glossiness map on                    |
// | "u_refractGlossyMap"        | texture   | none    | refraction glossiness map (remapped)            |
// | "u_refractGlossyTransform"  | matrix3   | ident.  | its UV transform                                |
// | "u_refractGlossyAmount"     | float     | 1       | scale of that map                               |
// | "u_refractGlossyValue"      | float     | 0       | glossiness of the refraction trace              |
// | "u_anisotropyMapEnable"     | bool      | false   | anisotropy map on                               |
// | "u_anisotropyMap"           | texture   | none    | anisotropy map                                  |
// | "u_anisotropyValue"         | float     | 1       | ratio alpha-y / alpha-x                         |
// | "u_anisotropyTransform"     | matrix3   | ident.  | its UV transform                                |
// | "u_anisotropyAmount"        | float     | 1       | scale of that map                               |
// | "u_anisoRotationMapEnable"  | bool      | false   | rotation map on                                 |
// | "u_anisoRotationMap"        | texture   | none    | rotation map                                    |
// | "u_anisoRotationValue"      | float     | 0       | rotation of the anisotropy axes, radians        |
// | "u_anisoRotationTransform"  | matrix3   | ident.  | its UV transform                                |
// | "u_anisoRotationAmount"     | float     | 1       | scale of that map                               |
// | "u_brdfCurvePower"          | float     | 0       | exponent of the reflectivity curve              |
// | "u_brdf00ReflectMapEnable"  | bool      | false   | normal-incidence reflectivity map on            |
// | "u_brdf00ReflectMap"        | texture   | none    | that map                                        |
// | "u_brdf00ReflectTransform"  | matrix3   | ident.  | its UV transform                                |
// | "u_brdf00ReflectAmount"     | float     | 1       | scale of that map                               |
// | "u_brdf00Reflectivity"      | float     | 0.1     | reflectivity at normal incidence                |
// | "u_brdf90ReflectMapEnable"  | bool      | false   | grazing reflectivity map on                     |
// | "u_brdf90ReflectMap"        | texture   | none    | that map                                        |
// | "u_brdf90ReflectTransform"  | matrix3   | ident.  | its UV transform                                |
// | "u_brdf90Reflectivity"      | float     | 1       | reflectivity at grazing incidence               |
// | "u_brdf90ReflectAmount"     | float     | 1       | scale of that map                               |
// | "u_reflectivity"            | float     | 1       | overall reflectivity scale                      |
// | "u_isMetal"                 | bool      | false   | tint the specular layer by the diffuse colour   |
// | "u_transparency"            | bool      | false   | transparency, translucency and refraction on    |
// | "u_transparencyMapEnable"   | bool      | false   | transparency map on                             |
// | "u_transparencyMap"         | texture   | none    | transparency map                                |
// | "u_transparencyValue"       | float     | 0       | transparency                                    |
// | "u_transparencyTransform"   | matrix3   | ident.  | its UV transform                                |
// | "u_transparencyFade"        | float     | 0       | blend from the value to the map                 |
// | "u_ior"                     | float     | 1.33    | index of refraction                             |
// | "u_transparencyAmount"      | float     | 1       | scale of the transparency map                   |
// | "u_translucencyMapEnable"   | bool      | false   | translucency map on                             |
// | "u_translucencyMap"         | texture   | none    | translucency map                                |
// | "u_translucencyValue"       | float     | 0       | translucency                                    |
// | "u_translucencyTransform"   | matrix3   | ident.  | its UV transform                                |
// | "u_translucencyAmount"      | float     | 1       | scale of the translucency map                   |
// | "u_cutoutMapEnable"         | bool      | false   | cut-out map on                                  |
// | "u_cutoutMap"               | texture   | none    | cut-out map (red = coverage)                    |
// | "u_cutoutTransform"         | matrix3   | ident.  | its UV transform                                |
// | "u_cutoutAmount"            | float     | 1       | scale of the cut-out map                        |
// | "u_additionalMapEnable"     | bool      | false   | additional-colour map on                        |
// | "u_additionalMap"           | texture   | none    | additional-colour map                           |
// | "u_additionalColor"         | float3    | (0,0,0) | additive, emission-like colour                  |
// | "u_additionalMapTransform"  | matrix3   | ident.  | its UV transform                                |
// | "u_additionalAmount"        | float     | 1       | scale of the additional colour with the map     |
// | "u_cosineUsesBump"          | bool      | false   | sampled/evaluated cosine uses the bumped normal |
// | "u_reflectionHighlightOnly" | bool      | false   | no traced reflection, only light highlights     |
// clang-format on
//
// Transforms and "u_additionalColor" start as identity and black so that an
// object is usable before the host has written them.
#pragma once

#include "frame/math.h"
#include "frame/shader_class.h"

namespace pxs {

struct WardParams {
    int32_t procedureMapEnable = 0;
    float3 procedureMapTiling{1.0f, 1.0f, 1.0f};
    float procedureMapAmount = 0.0f;
    TextureHandle smokeMap;
    Flag normal0MapEnable = false;
    TextureHandle normal0Map;
    Flag normal0AmountMapEnable = false;
    TextureHandle normal0AmountMap;
    matrix3 normal0AmountTransform = kIdentity3;
    float normal0Amount = 0.0f;
    matrix3 normal0Transform = kIdentity3;
    Flag normal1MapEnable = false;
    TextureHandle normal1Map;
    float normal1Amount = 0.0f;
    matrix3 normal1Transform = kIdentity3;
    Flag normal1AsShadingNormal = false;
    Flag diffuseMapEnable = false;
    TextureHandle diffuseMap;
    float3 diffuseColor{0.0f, 0.0f, 0.0f};
    matrix3 diffuseTransform = kIdentity3;
    float diffuseAmount = 1.0f;
    int32_t imageFadeEnable = 0;
    float imageFade = 1.0f;
    TextureHandle imageFadeMap;
    matrix3 imageFadeTransform = kIdentity3;
    float imageFadeAmount = 1.0f;
    float3 imageFadeColor{0.0f, 0.0f, 0.0f};
    Flag specularMapEnable = false;
    TextureHandle specularMap;
    float3 specularColor{1.0f, 1.0f, 1.0f};
    matrix3 specularTransform = kIdentity3;
    float specularAmount = 1.0f;
    Flag roughMapEnable = false;
    TextureHandle roughMap;
    float roughValue = 0.01f;
    matrix3 roughTransform = kIdentity3;
    float roughAmount = 1.0f;
    float reflectGlossyValue = 0.0f;
    Flag refractGlossyMapEnable = false;
    TextureHandle refractGlossyMap;
    matrix3 refractGlossyTransform = kIdentity3;
    float refractGlossyAmount = 1.0f;
    float refractGlossyValue = 0.0f;
    Flag anisotropyMapEnable = false;
    TextureHandle anisotropyMap;
    float anisotropyValue = 1.0f;
    matrix3 anisotropyTransform = kIdentity3;
    float anisotropyAmount = 1.0f;
    Flag anisoRotationMapEnable = false;
    TextureHandle anisoRotationMap;
    float anisoRotationValue = 0.0f;
    matrix3 anisoRotationTransform = kIdentity3;
    float anisoRotationAmount = 1.0f;
    float brdfCurvePower = 0.0f;
    Flag brdf00ReflectMapEnable = false;
    TextureHandle brdf00ReflectMap;
    matrix3 brdf00ReflectTransform = kIdentity3;
    float brdf00ReflectAmount = 1.0f;
    float brdf00Reflectivity = 0.1f;
    Flag brdf90ReflectMapEnable = false;
    TextureHandle brdf90ReflectMap;
    matrix3 brdf90ReflectTransform = kIdentity3;
    float brdf90Reflectivity = 1.0f;
    float brdf90ReflectAmount = 1.0f;
    float reflectivity = 1.0f;
    Flag isMetal = false;
    Flag transparency = false;
    Flag transparencyMapEnable = false;
    TextureHandle transparencyMap;
    float transparencyValue = 0.0f;
    matrix3 transparencyTransform = kIdentity3;
    float transparencyFade = 0.0f;
    float ior = 1.33f;
    float transparencyAmount = 1.0f;
    Flag translucencyMapEnable = false;
    TextureHandle translucencyMap;
    float translucencyValue = 0.0f;
    matrix3 translucencyTransform = kIdentity3;
    float translucencyAmount = 1.0f;
    Flag cutoutMapEnable = false;
    TextureHandle cutoutMap;
    matrix3 cutoutTransform = kIdentity3;
    float cutoutAmount = 1.0f;
    Flag additionalMapEnable = false;
    TextureHandle additionalMap;
    float3 additionalColor{0.0f, 0.0f, 0.0f};
    matrix3 additionalMapTransform = kIdentity3;
    float additionalAmount = 1.0f;
    Flag cosineUsesBump = false;
    Flag reflectionHighlightOnly = false;
};

// Registers the rows of the table above, in order.
void declareWardParams(Declarer& declare, WardParams& w);

}  // namespace pxs

// corvid_Mtl_Dielectric: solid, rough glass. A GGX microfacet interface that
// reflects and refracts with a Schlick Fresnel weight; the index on the near side
// comes from the host's medium bookkeeping ("mediumIor" when entering,
// "outsideIor" when leaving) and "u_ior" is the glass itself. Light is absorbed
// along the path inside (base-10 Beer-Lambert over the hit distance). Two height
// maps and a procedural noise bump shape the surface; height map 0 and the noise
// bump exclude each other (map 0 wins), height map 1 adds to either.
//
// shade sums the lights' microfacet value, the traced reflection (front hits
// only) and the traced refraction; a back hit that cannot refract sends the
// transmission lobe along the inner mirror direction. shadowTransmission uses
// the unbumped normal and always absorbs on the way out; shade absorbs only with
// "u_falloffEnable". sampleBsdf draws one event and writes the medium its ray
// enters into "outsideIor".
//
// | name                        | type    | default   | meaning |
// |-----------------------------|---------|-----------|--------------------------------------------|
// | occlusion and masking block |         |           | see occlusion_masking.h ("uv1" @0,
// "vtxcolor" @8) | | attributes                  |         |           | "bitangent" @24 (not
// read), "tangent" @36, "uv" @48 | | "u_transmittanceMapEnable"  | bool    | false     | absorption
// from the transmittance map      | | "u_transmittanceMap"        | texture | none      |
// transmittance colour                       | | "u_transmittanceTransform"  | matrix3 | identity
// | its UV transform                           | | "u_transmittanceAmount"     | float   | 1 |
// scale of the map colour                    | | "u_procedureMapEnable"      | int     | 0 | 1 =
// procedural noise bump                  | | "u_procedureMapTiling"      | float3  | (1, 1, 1) |
// per-axis scale of the noise point          | | "u_procedureMapAmount"      | float   | 0 |
// strength of the noise bump                 | | "u_normal0MapEnable"        | bool    | false |
// height map 0 on                            | | "u_normal0Map"              | texture | none |
// height map 0 (r + g + b)                   | | "u_normal0Transform"        | matrix3 | identity
// | its UV transform                           | | "u_normal0Amount"           | float   | 0 | its
// strength                               | | "u_normal0UVScale"          | float   | 1         |
// extra scale of its coordinates             | | "u_normal1MapEnable"        | bool    | false |
// height map 1 on                            | | "u_normal1Map"              | texture | none |
// height map 1                               | | "u_normal1Transform"        | matrix3 | identity
// | its UV transform                           | | "u_normal1Amount"           | float   | 0 | its
// strength                               | | "u_roughMapEnable"          | bool    | false     |
// roughness from the map                     | | "u_roughMap"                | texture | none |
// roughness map (red)                        | | "u_roughValue"              | float   | 0.0004 |
// GGX alpha without the map                  | | "u_roughTransform"          | matrix3 | identity
// | roughness map UV transform                 | | "u_glossyValue"             | float   | 0 |
// glossiness of the traced rays              | | "u_roughAmount"             | float   | 1 | scale
// of the roughness map                 | | "u_ior"                     | float   | 1.52      |
// index of refraction of the glass           | | "u_reflectance"             | float   | 0.1 |
// Fresnel F0                                 | | "u_absorptionCoef"          | float3  | (0, 0, 0)
// | absorption per unit distance, base 10      | | "u_falloffEnable"           | bool    | false |
// absorb in shade too                        | | "u_refractColor"            | float3  | (1, 1, 1)
// | tint of transmitted light                  | | "u_reflectColor"            | float3  | (1, 1,
// 1) | tint of reflected light                    |
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

class corvid_Mtl_Dielectric final : public ShaderClass<corvid_Mtl_Dielectric, MaterialShader> {
  public:
    struct Params {
        OcclusionMasking<0, 8> block;
        Flag transmittanceMapEnable = false;
        TextureHandle transmittanceMap;
        matrix3 transmittanceTransform = kIdentity3;
        float transmittanceAmount = 1.0f;
        int32_t procedureMapEnable = 0;
        float3 procedureMapTiling{1.0f, 1.0f, 1.0f};
        float procedureMapAmount = 0.0f;
        Flag normal0MapEnable = false;
        TextureHandle normal0Map;
        matrix3 normal0Transform = kIdentity3;
        float normal0Amount = 0.0f;
        float normal0UVScale = 1.0f;
        Flag normal1MapEnable = false;
        TextureHandle normal1Map;
        matrix3 normal1Transform = kIdentity3;
        float normal1Amount = 0.0f;
        Flag roughMapEnable = false;
        TextureHandle roughMap;
        float roughValue = 0.0004f;
        matrix3 roughTransform = kIdentity3;
        float glossyValue = 0.0f;
        float roughAmount = 1.0f;
        float ior = 1.52f;
        float reflectance = 0.1f;
        float3 absorptionCoef{0.0f, 0.0f, 0.0f};
        Flag falloffEnable = false;
        float3 refractColor{1.0f, 1.0f, 1.0f};
        float3 reflectColor{1.0f, 1.0f, 1.0f};
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
    void evaluateBsdf(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

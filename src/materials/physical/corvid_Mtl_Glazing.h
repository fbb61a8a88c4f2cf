// corvid_Mtl_Glazing: a thin pane of glass.
//
// Light passing through keeps its direction (no bending, no index of refraction).
// A fixed fraction Rg = r^2 / L of the light reflects ("u_reflectance" r, "u_level"
// L; not clamped, so Rg > 1 gives negative transmission weights) and 1 - Rg passes
// straight on. Lamps are shaded with the rough GGX reflection and transmission
// lobes at index ratio 1, with "u_rough" used directly as alpha^2. The transmitted
// colour may come from a map, raised to the power 1 / L. The host must keep L
// positive: L = 0 makes Rg infinite.
//
// sampleBsdf offers a mirror event (kind 4) in the reflection group (lobes 0-2) and
// a straight-through event (kind 32, negative cosine) in the transmission group
// (lobes 3-5), chosen by Rg when both are allowed. An exactly grazing view has no
// continuation (kind 0). shadowTransmission is (1 - Rg) * "u_refractColor"; neither
// it nor sampleBsdf reads the transmittance map.
//
// | name                        | type    | default  | meaning                               |
// |-----------------------------|---------|----------|---------------------------------------|
// | "ambientOcclusionTexture"   |         |          | occlusion and masking block, "uv1" @0 |
// | ... "maskingFromAlpha"      |         |          | "vtxcolor" @8 (see occlusion_masking.h) |
// | attribute "bitangent"       | float3  | @24      | registered, not read                  |
// | attribute "tangent"         | float3  | @36      | tangent, carried by matrixB           |
// | attribute "uv"              | float2  | @48      | map and masking coordinates           |
// | "u_reflectance"             | float   | 0.1      | r; Rg = r^2 / L                       |
// | "u_reflectColor"            | float3  | (1,1,1)  | tint of the reflection                |
// | "u_refractColor"            | float3  | (1,1,1)  | transmitted colour without the map    |
// | "u_rough"                   | float   | 0.0001   | GGX alpha^2 of the lamp highlights    |
// | "u_level"                   | float   | 1.0      | L > 0: divides r^2, 1/L is the map's
// exponent | | "u_transmittanceMapEnable"  | bool    | false    | transmitted colour from the map |
// | "u_transmittanceMap"        | texture | none     | transmitted colour map                |
// | "u_transmittanceTransform"  | matrix3 | identity | its UV transform (the host sets it)   |
// | "u_transmittanceAmount"     | float   | 1.0      | scale of the map colour               |
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

class corvid_Mtl_Glazing final : public ShaderClass<corvid_Mtl_Glazing, MaterialShader> {
  public:
    struct Params {
        OcclusionMasking<0, 8> block;
        float reflectance = 0.1f;
        float3 reflectColor{1.0f, 1.0f, 1.0f};
        float3 refractColor{1.0f, 1.0f, 1.0f};
        float rough = 0.0001f;
        float level = 1.0f;
        Flag transmittanceMapEnable = false;
        TextureHandle transmittanceMap;
        matrix3 transmittanceTransform = kIdentity3;
        float transmittanceAmount = 1.0f;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
    void evaluateBsdf(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;

  private:
    // Fraction of the light the pane reflects.
    float reflectionFraction() const;
    // Lamp response for a light direction wi, both in the frame of the hit.
    float lampValue(float3 wo, float3 wi) const;
};

}  // namespace pxs

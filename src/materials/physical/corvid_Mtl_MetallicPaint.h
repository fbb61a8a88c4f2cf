// corvid_Mtl_MetallicPaint: a layered car paint. A base layer with a diffuse
// colour (constant or mapped) and an isotropic Ward highlight weighted by a
// reflectivity curve, optional metallic flakes with their own, four times wider
// lobe, an optional pearl (a tint that grows away from the light) and colour
// shift, all under an optional clear topcoat that scales the base by what it
// lets through and may carry an orange-peel ripple.
//
// evaluateBsdf is the base layer alone (no topcoat, flakes or pearl); sampleBsdf
// picks the topcoat mirror with the topcoat's Fresnel probability whenever
// glossy events are allowed, and the base layer's diffuse/specular mixture
// otherwise. shadowTransmission is not implemented (opaque paint).
//
// | name                        | type    | default            | meaning |
// |-----------------------------|---------|--------------------|---------------------------------------|
// | occlusion and masking block |         |                    | see occlusion_masking.h ("uv1" @0,
// "vtxcolor" @8) | | attributes                  |         |                    | "bitangent" @24
// (not read), "tangent" @36, "uv" @48 | | "u_topcoatEnable"           | bool    | false | clear
// topcoat on                      | | "u_pearl"                   | int     | 0                  |
// pearl on when above 0                 | | "u_pearlColor"              | float4  | (0.8, 0.12, 0,
// 0)  | pearl tint (alpha not read)           | | "u_pearlIor"                | float   | 0.2 |
// half the pearl's view exponent        | | "u_pearlAmount"             | float   | 0.5 | pearl
// strength                        | | "u_finish"                  | int     | 0                  |
// 1 = orange-peel topcoat               | | "u_finishPeelamount"        | float   | 0.5 |
// orange-peel strength                  | | "u_baseHighlightSpread"     | float   | 0.6 | topcoat
// Fresnel scale; above 0.6 also shapes the diffuse | | "u_flecksEnable"            | bool    |
// false              | metallic flakes on                    | | "u_flecksColor"             |
// float4  | (1, 1, 1, 1)       | flake tint (alpha not read)           | | "u_baseMapEnable" | bool
// | false              | base colour from the map              | | "u_baseMap"                 |
// texture | none               | base colour map                       | | "u_baseColor" | float4
// | (1, 1, 1, 1)       | base colour (alpha not read)          | | "u_baseTransform"           |
// matrix3 | identity           | base map UV transform                 | | "u_shiftedColor" |
// float3  | (0, 0, 0)          | colour added by the colour shift      | | "u_hueWeight" | float |
// 0                  | colour shift strength; off when not positive | | "u_baseBiasFactor" | float
// | 0                  | second factor of the shaping exponent | | "u_baseRoughValue"          |
// float   | 0.01               | Ward roughness of the base lobe       | | "u_topcoatRoughValue" |
// float   | 0.01               | glossiness of the traced reflection   | | "u_baseCurvePower" |
// float   | 0                  | reflectivity curve exponent           | | "u_base00Reflectivity"
// | float   | 0.1                | reflectivity head-on                  | | "u_base90Reflectivity"
// | float   | 1                  | reflectivity at grazing               | | "u_flecksSize" | float
// | 0.5 (host's value) | flake cell size, world units          |
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

class corvid_Mtl_MetallicPaint final
    : public ShaderClass<corvid_Mtl_MetallicPaint, MaterialShader> {
  public:
    struct Params {
        OcclusionMasking<0, 8> block;
        Flag topcoatEnable = false;
        int32_t pearl = 0;
        float4 pearlColor{0.8f, 0.12f, 0.0f, 0.0f};
        float pearlIor = 0.2f;
        float pearlAmount = 0.5f;
        int32_t finish = 0;
        float finishPeelamount = 0.5f;
        float baseHighlightSpread = 0.6f;
        Flag flecksEnable = false;
        float4 flecksColor{1.0f, 1.0f, 1.0f, 1.0f};
        Flag baseMapEnable = false;
        TextureHandle baseMap;
        float4 baseColor{1.0f, 1.0f, 1.0f, 1.0f};
        matrix3 baseTransform = kIdentity3;
        float3 shiftedColor{0.0f, 0.0f, 0.0f};
        float hueWeight = 0.0f;
        float baseBiasFactor = 0.0f;
        float baseRoughValue = 0.01f;
        float topcoatRoughValue = 0.01f;
        float baseCurvePower = 0.0f;
        float base00Reflectivity = 0.1f;
        float base90Reflectivity = 1.0f;
        float flecksSize = 0.5f;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void evaluateBsdf(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

// XRite: a measured metallic car paint.
//
// Three layers. A diffuse base lit only by "diffuseCube" along the normal, sRGB
// encoded. A flake layer: a flake-normal texture is integrated over a grid that
// covers the pixel's footprint on the surface (wider when the surface is far or
// seen at a grazing angle, up to "maxFlakes" flakes), each flake's mirror
// direction looks up "reflectCube" (sparkle, only for flakes that face the
// surface normal closely) and "specularCube" (glow). A clear coat on top: a
// mirror ray traced by the host, weighted by a Schlick-like curve of the view
// angle that also takes energy from the layers below. The occlusion and masking
// block darkens the result and cuts the surface out; the mask mixes in what lies
// behind but leaves outAlpha to the host. The colour is always clamped to
// [0, 1]. Shadow rays pass through in proportion to the mask.
//
// The cube lookups here are unrotated: a direction (x, y, z) reads the cube at
// (x, z, -y).
//
// | name                 | type    | default                  | meaning                        |
// |----------------------|---------|--------------------------|--------------------------------|
// | occlusion, masking   |         |                          | the shared block, "uv1" @0 and |
// |                      |         |                          | "vtxcolor" @8 (its             |
// |                      |         |                          | "showAmbientOnly" is not read) |
// | "reverseNormal"      | bool    | false                    | negate the normals             |
// | "faceForward"        | bool    | false                    | negate them on back faces      |
// | "xriteDiffuse"       | float3  | (0.0049, 0.0049, 0.0045) | diffuse reflectance of the base|
// | "flakeColor"         | float3  | (0.104, 0.106, 0.108)    | tint of the sparkle            |
// | "flakeColor2"        | float3  | (0.0953, 0.0958, 0.0976) | tint of the glow               |
// | "fresnel"            | float4  | (0.04, 0.9, 2.5, 1)      | coat: bias, scale, exponent,   |
// |                      |         |                          | maximum                        |
// | "xriteIsSolid"       | bool    | false                    | solid paint: no flake layer    |
// | "coarseness"         | float   | 0.656                    | share of sparkle vs glow       |
// | "specIntensity"      | float   | 1                        | gain of the sparkle lookups    |
// | "diffIntensity"      | float   | 1                        | gain of the base and the glow  |
// | "contributionFactor" | float   | 0.75                     | flakes sparkle when their      |
// |                      |         |                          | tangent-space z exceeds it     |
// | "maxFlakes"          | float   | 7                        | widest footprint, in flakes    |
// | "flakeFactor"        | float   | 4                        | flakes per unit of position    |
// | "flakeSize"          | float   | 0.001953125              | texture step between samples   |
// | "flakeNormalTexture" | texture | none                     | normals, (2r - 1, 2g - 1, b)   |
// | "diffuseCube"        | cube    | none                     | light of the base              |
// | "specularCube"       | cube    | none                     | light of the glow              |
// | "reflectCube"        | cube    | none                     | light of the sparkle           |
// | attribute "uv"       | float2  | @24                      | masking texture coordinates    |
//
// The footprint grid has at most kMaxFlakeGrid samples a side, whatever
// "maxFlakes" and "flakeFactor" ask for.
#pragma once

#include "frame/occlusion_masking.h"

namespace pxs {

// Samples per side of the footprint grid, and the weight of its first row and
// first column (the others weigh 1), so that a footprint of 5.12 flakes is five
// whole samples and one of weight 0.12.
struct FlakeGrid {
    int32_t size;
    float edgeWeight;
};

// The widest grid: 65536 samples, each with three lookups. Keeps absurd
// footprint parameters from stalling a render or overflowing the count.
constexpr int32_t kMaxFlakeGrid = 256;

// The grid for a hit at `distance` from the ray origin, with `facing` the cosine
// between the view and the normal. Grazing views (facing below 0.0001) and
// distant hits saturate at maxFlakes * flakeFactor samples a side; a footprint
// that is not positive (or not a number) has no samples.
FlakeGrid flakeFootprint(float distance, float facing, float maxFlakes, float flakeFactor,
                         float flakeSize);

// The sRGB transfer function, per channel: linear below 0.0031308, a 1/2.4
// power above.
float3 encodeSrgb(float3 linear);

class XRite final : public ShaderClass<XRite, MaterialShader> {
  public:
    static constexpr int32_t kUvOffset = 24;

    struct Params {
        OcclusionMasking<0, 8> block;
        Flag reverseNormal = false;
        Flag faceForward = false;
        float3 xriteDiffuse{0.0049f, 0.0049f, 0.0045f};
        float3 flakeColor{0.104f, 0.106f, 0.108f};
        float3 flakeColor2{0.0953f, 0.0958f, 0.0976f};
        float4 fresnel{0.04f, 0.9f, 2.5f, 1.0f};
        Flag xriteIsSolid = false;
        float coarseness = 0.656f;
        float specIntensity = 1.0f;
        float diffIntensity = 1.0f;
        float contributionFactor = 0.75f;
        float maxFlakes = 7.0f;
        float flakeFactor = 4.0f;
        float flakeSize = 0.001953125f;
        TextureHandle flakeNormalTexture;
        TextureHandle diffuseCube;
        TextureHandle specularCube;
        TextureHandle reflectCube;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

#include "materials/legacy/BackgroundGeometry.h"

#include "frame/services.h"
#include "frame/shadow_catcher.h"
#include "shading/grading.h"
#include "shading/ibl.h"
#include "shading/normal_map.h"

namespace pxs {

namespace {

using Params = BackgroundGeometry::Params;

// Surfaces whose shading normal points this close to straight up catch shadows.
constexpr float kUpward = 0.9f;

// Below this diffuse alpha the surface is not there at all.
constexpr float kCoverageCutoff = 0.05f;

// The projections of this material keep the legacy box-axis order.
float4 channel(const TextureChannel& c, const ShadingState& st, float3 boxNormal,
               ChannelProjection* projection = nullptr) {
    ChannelOptions options;
    options.box = BoxAxes::kYZ;
    return evaluateChannel(
        c, {readAttribute<float2>(st, BackgroundGeometry::kUvOffset), st.mappingPoint, boxNormal},
        options, projection);
}

// The normal bent by the normal map; Ns itself when the map is off.
float3 bentNormal(const Params& p, const ShadingState& st) {
    const float3 ns = st.normal;
    if (p.bump.mode == kChannelOff || p.bumpScale == 0.0f) return ns;
    ChannelProjection projection;
    const float3 texel = channel(p.bump, st, st.mappingNormal, &projection).xyz();
    return applyChannelNormalMap(p.bump, texel, projection, p.bumpScale, ns,
                                 readAttribute<float3>(st, BackgroundGeometry::kTangentOffset),
                                 readAttribute<float3>(st, BackgroundGeometry::kBitangentOffset),
                                 p.bumpTextureMatrixInverse, st.matrixB, true);
}

// One cube light's own grading: contrast about a pivot, then either the
// luminance tinted by the gain colour or a scalar gain.
float3 gradeCubeLight(float3 e, float3 pivot, float contrast, int32_t gainSource, float3 gainColor,
                      float gainValue) {
    e = e * contrast + (1.0f - contrast) * pivot;
    if (gainSource == 1) return gradingLuminance(e) * gainColor;
    return e * gainValue;
}

// The shadow and occlusion factor S of an upward-facing point: 1 where light
// arrives unshadowed and unoccluded, towards "shadowColor" where it does not.
float3 shadowFactor(const Params& p, IRenderServices* services, const ShadingState& st) {
    const float3 ratio = lightVisibility(services, st.position, st.normal).ratio();
    const float3 open = svc::ambientOcclusion(services, st.position, st.normal, 1.0f);
    return shadowCatcherFactor(ratio, open, p.shadowColor, p.shadowIntensity);
}

}  // namespace

void BackgroundGeometry::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapShadowTransmission | kCapSampleBsdf);
    Params& p = params;
    declare("diffuseColor", p.diffuse.color);
    declare("diffuseTexture", p.diffuse.texture);
    declare("diffuseMode", p.diffuse.mode);
    declare("diffuseTextureMatrix", p.diffuse.textureMatrix);
    declare("diffuseAngularRepeat", p.diffuse.angularRepeat);
    declare("diffuseUVMatrix", p.diffuse.uvMatrix);
    declare("diffuseIBLGainColor", p.diffuseIBLGainColor);
    declare("diffuseIBLContrastPivot", p.diffuseIBLContrastPivot);
    declare("diffuseIBLContrastValue", p.diffuseIBLContrastValue);
    declare("diffuseIBLGainSource", p.diffuseIBLGainSource);
    declare("specularColor", p.specular.color);
    declare("specularTexture", p.specular.texture);
    declare("specularMode", p.specular.mode);
    declare("specularTextureMatrix", p.specular.textureMatrix);
    declare("specularAngularRepeat", p.specular.angularRepeat);
    declare("specularUVMatrix", p.specular.uvMatrix);
    declare("specularIBLGainColor", p.specularIBLGainColor);
    declare("specularIBLContrastPivot", p.specularIBLContrastPivot);
    declare("specularIBLContrastValue", p.specularIBLContrastValue);
    declare("specularIBLGainSource", p.specularIBLGainSource);
    declare("bumpMode", p.bump.mode);
    declare("bumpTexture", p.bump.texture);
    declare("bumpTextureMatrix", p.bump.textureMatrix);
    declare("bumpTextureMatrixInverse", p.bumpTextureMatrixInverse);
    declare("bumpAngularRepeat", p.bump.angularRepeat);
    declare("bumpScale", p.bumpScale);
    declare("bumpUVMatrix", p.bump.uvMatrix);
    declare("shadowColor", p.shadowColor);
    declare("shadowIntensity", p.shadowIntensity);
    declare("useCubeReflection", p.useCubeReflection);
    declare.textureCube("reflectCube", p.reflectCube);
    declare.textureCube("diffuseCube", p.diffuseCube);
    declare.textureCube("specularCube", p.specularCube);
    declare("diffuseTextureGainColor", p.diffuseTextureGainColor);
    declare("diffuseTextureGainSource", p.diffuseTextureGainSource);
    declare("diffuseTextureGainValue", p.diffuseTextureGainValue);
    declare("diffuseTextureSatValue", p.diffuseTextureSatValue);
    declare("globalIBLContrastPivot", p.globalIBLContrastPivot);
    declare("globalIBLContrastValue", p.globalIBLContrastValue);
    declare("globalIBLGainColor", p.globalIBLGainColor);
    declare("globalIBLSatValue", p.globalIBLSatValue);
    declare("globalIBLGainSource", p.globalIBLGainSource);
    declare("globalIBLGainValue", p.globalIBLGainValue);
    declare("globalIBLMatrix", p.globalIBLMatrix);
    declare("reflectIBLChannelGainColor", p.reflectIBLChannelGainColor);
    declare("reflectIBLChannelGainSource", p.reflectIBLChannelGainSource);
    declare("reflectIBLChannelGainValue", p.reflectIBLChannelGainValue);
    declare("reflectIBLChannelSatValue", p.reflectIBLChannelSatValue);
    declare("diffuseIBLGainValue", p.diffuseIBLGainValue);
    declare("specularIBLGainValue", p.specularIBLGainValue);
    declare.attribute(kAttributeFloat2, "uv", kUvOffset);
    declare.attribute(kAttributeFloat3, "tangent", kTangentOffset);
    declare.attribute(kAttributeFloat3, "bitangent", kBitangentOffset);
}

namespace {

ContrastStage globalContrast(const Params& p) {
    return {p.globalIBLContrastPivot, p.globalIBLContrastValue};
}

GainStage globalGain(const Params& p) {
    return {p.globalIBLGainSource, p.globalIBLGainColor, p.globalIBLGainValue};
}

// What a gather ray sees: the diffuse cube along the ray, graded.
float3 gatherLight(const Params& p, float3 i) {
    const float3 e = lookupCube(p.diffuseCube, p.globalIBLMatrix, i).xyz();
    return gradeTerm(e, {globalContrast(p)},
                     {globalGain(p),
                      {p.reflectIBLChannelGainSource, p.reflectIBLChannelGainColor,
                       p.reflectIBLChannelGainValue}},
                     p.reflectIBLChannelSatValue * p.globalIBLSatValue);
}

// The diffuse colour lit by the diffuse cube along the bent normal n, plus the
// specular channel lit by the specular cube along the mirror direction.
float3 cubeLitColour(const Params& p, const ShadingState& st, float3 n, float3 diffuse) {
    const float3 ed =
        gradeCubeLight(lookupCube(p.diffuseCube, p.globalIBLMatrix, n).xyz(),
                       p.diffuseIBLContrastPivot, p.diffuseIBLContrastValue, p.diffuseIBLGainSource,
                       p.diffuseIBLGainColor, p.diffuseIBLGainValue);
    const float3 es = gradeCubeLight(
        lookupCube(p.specularCube, p.globalIBLMatrix, reflect(st.rayDirection, n)).xyz(),
        p.specularIBLContrastPivot, p.specularIBLContrastValue, p.specularIBLGainSource,
        p.specularIBLGainColor, p.specularIBLGainValue);
    const float3 specular = channel(p.specular, st, st.normal).xyz();
    return diffuse * ed + specular * es;
}

}  // namespace

void BackgroundGeometry::shade(IRenderServices* services, ShadingState* st) {
    const Params& p = params;
    const float3 i = st->rayDirection;
    const float3 position = st->position;
    const float3 ns = st->normal;

    // Seen from behind or edge-on, the background is not there.
    if (dot(st->geometricNormal, i) >= 0.0f) {
        st->skipHit = 1;
        return;
    }

    const float4 dt = channel(p.diffuse, *st, ns);
    const float a = dt.w;
    if (a < kCoverageCutoff) {
        st->skipHit = 1;
        return;
    }
    float4 behind(1.0f, 1.0f, 1.0f, 1.0f);
    if (a < 1.0f) behind = svc::traceTransmission(services, position, i, 1.0f, behind);

    const float3 n = bentNormal(p, *st);

    if (p.useCubeReflection && st->rayType == kRayReflection) {
        st->outColor = lookupCube(p.reflectCube, p.globalIBLMatrix, i).xyz();
        return;
    }

    if (st->rayType == kRayGather) {
        st->outColor = gatherLight(p, i);
        return;
    }

    const float3 s = ns.z > kUpward ? shadowFactor(p, services, *st) : float3(1.0f);
    const float3 y = p.bump.mode != kChannelOff ? cubeLitColour(p, *st, n, dt.xyz()) : dt.xyz();
    const float3 g = gradeTerm(
        y * s, {globalContrast(p)},
        {globalGain(p),
         {p.diffuseTextureGainSource, p.diffuseTextureGainColor, p.diffuseTextureGainValue}},
        p.globalIBLSatValue * p.diffuseTextureSatValue);

    st->outColor = (1.0f - a) * behind.xyz() + a * g;
    // The alpha is the shadow density: clear where nothing darkens the background.
    st->outAlpha = (1.0f - a) * behind.w + a * (1.0f - minComponent(s));
}

// Only occlusion probes at upward-facing parts are stopped, so the background
// shows contact shadows without casting light shadows of its own.
void BackgroundGeometry::shadowTransmission(IRenderServices*, ShadingState* st) {
    const bool blocks = st->rayType == kRayOcclusion && st->normal.z >= kUpward;
    st->outTransmission = blocks ? float3(0.0f) : float3(1.0f);
}

// A straight continuation, whatever the host allows.
void BackgroundGeometry::sampleBsdf(IRenderServices*, ShadingState* st) {
    writeStraightContinuation(st);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(BackgroundGeometry)

#include "frame/occlusion_masking.h"

#include "frame/services.h"

namespace pxs {

void declareMaskingChannel(Declarer& declare, TextureChannel& masking) {
    declare("maskingColor", masking.color);
    declare("maskingMode", masking.mode);
    declare("maskingTexture", masking.texture);
    declare("maskingTextureMatrix", masking.textureMatrix);
    declare("maskingInvertTexture", masking.invert);
    declare("maskingAngularRepeat", masking.angularRepeat);
    declare("maskingUVMatrix", masking.uvMatrix);
    declare("maskingFromAlpha", masking.fromAlpha);
}

void declareOcclusionMasking(Declarer& declare, OcclusionMaskingFields& block, int32_t uv1Offset,
                             int32_t vtxcolorOffset) {
    declare("ambientOcclusionTexture", block.ambientOcclusionTexture);
    declare("ambientOcclusionMode", block.ambientOcclusionMode);
    declare("ambientOcclusionFactor", block.ambientOcclusionFactor);
    declare("ambientOcclusionColor", block.ambientOcclusionColor);
    declare("usePrecalcAO", block.usePrecalcAO);
    declare("showAmbientOnly", block.showAmbientOnly);
    declare("usingRaytracedAO", block.usingRaytracedAO);
    declare.attribute(kAttributeFloat2, "uv1", uv1Offset);
    declare.attribute(kAttributeFloat4, "vtxcolor", vtxcolorOffset);
    declareMaskingChannel(declare, block.masking);
}

float3 evaluateAmbientOcclusion(const OcclusionMaskingFields& block, IRenderServices* services,
                                const ShadingState& st, float3 k, int32_t uv1Offset,
                                int32_t vtxcolorOffset) {
    const float w = 1.0f - maxComponent(k);
    const float factor = block.ambientOcclusionFactor;
    const float3 color = block.ambientOcclusionColor;
    const int32_t mode = block.ambientOcclusionMode;

    if (block.usePrecalcAO && (mode == 1 || mode == 2)) {
        const float2 uv1 = readAttribute<float2>(st, uv1Offset);
        // Mode 1 without a texture reads red 0: fully occluded.
        const float o = mode == 1 ? sampleTexture(block.ambientOcclusionTexture, uv1).x
                                  : readAttribute<float4>(st, vtxcolorOffset).x;
        const float a = (1.0f - o) * factor * w;
        return a * color + float3(1.0f - a);
    }
    if (block.usingRaytracedAO) {
        const float3 nf = faceForward(st.normal, st.rayDirection, st.geometricNormal);
        const float3 r = svc::ambientOcclusion(services, st.position, nf, 1.0f);
        const float3 o = factor * r + float3(1.0f - factor);
        const float3 a = (float3(1.0f) - o) * w;
        return (float3(1.0f) - a) + a * color;
    }
    return float3(1.0f);
}

float3 evaluateMasking(const TextureChannel& masking, const ShadingState& st, float2 uv) {
    ChannelOptions options;
    options.planarSlab = true;
    return evaluateChannel(masking, {uv, st.mappingPoint, st.mappingNormal}, options).xyz();
}

float3 applyShowAmbientOnly(const OcclusionMaskingFields& block, float3 color, float3 ao) {
    const bool active =
        block.usingRaytracedAO || (block.usePrecalcAO && block.ambientOcclusionMode >= 1);
    if (!block.showAmbientOnly || !active) return color;
    return float3(minComponent(ao));
}

void writeMasked(IRenderServices* services, ShadingState* st, float3 mask, float3 color) {
    if (mask == float3(0.0f)) {
        st->outColor = color;
        st->outAlpha = 1.0f;
        return;
    }
    const float4 behind =
        svc::traceTransmission(services, st->position, st->rayDirection, 1.0f, float4(color, 1.0f));
    st->outColor = (float3(1.0f) - mask) * color + mask * behind.xyz();
    st->outAlpha = behind.w;
}

}  // namespace pxs

// The ambient-occlusion and masking block that most materials carry: an
// occlusion input (precomputed from a texture or vertex colours, or traced by the
// host) with its tint and strength, a debug view of the occlusion, and a masking
// channel that cuts the surface out or mixes in what lies behind it.
//
// Usage:
//
//     struct Params {
//         OcclusionMasking<> block;  // "uv1" at attribute offset 0, "vtxcolor" at 8
//         float3 tint{1, 1, 1};
//     } params;
//     // A class whose other attributes come first names its offsets instead:
//     //     OcclusionMasking<32, 40> block;
//
//     void declareParameters(IParameterRegistry* registry) {
//         Declarer declare(registry, this, kCapShade);
//         params.block.declare(declare);  // 15 fields and the two attributes, in order
//         declare("tint", params.tint);
//     }
//
//     void shade(IRenderServices* sv, ShadingState* st) {
//         const float2 uv = readAttribute<float2>(*st, kUvOffset);
//         params.block.applyMasking(sv, st, uv, [&] {
//             // Runs only when the hit is not fully masked; returns the colour.
//             const float3 ao = params.block.evaluateAmbientOcclusion(sv, *st, float3(0.0f));
//             return ao * diffuse + specular;
//         });
//     }
//
// The two attribute offsets are template arguments so that the declared offsets
// and the ones evaluateAmbientOcclusion reads cannot drift apart. Classes that
// need the mask itself (for shadow transmission, or a mix of their own) call
// evaluateMasking and, where it fits, writeMasked.
#pragma once

#include "frame/shader_class.h"
#include "frame/texture_channel.h"

namespace pxs {

// The block's fields, in registration order.
struct OcclusionMaskingFields {
    TextureHandle ambientOcclusionTexture;  // red channel: unoccluded fraction
    int32_t ambientOcclusionMode = 0;       // 1 texture at "uv1", 2 vertex colour; else none
    float ambientOcclusionFactor = 1.0f;    // strength; 0 = no effect
    float3 ambientOcclusionColor{0.0f, 0.0f, 0.0f};  // what full occlusion turns light into
    Flag usePrecalcAO = true;                        // use the source picked by the mode
    Flag showAmbientOnly = false;                    // debug: grey occlusion instead of shading
    Flag usingRaytracedAO = false;  // trace occlusion when no precomputed source applies
    // The masking channel: "maskingColor", "maskingMode", "maskingTexture",
    // "maskingTextureMatrix", "maskingInvertTexture", "maskingAngularRepeat",
    // "maskingUVMatrix", "maskingFromAlpha".
    TextureChannel masking;
};

// Registers the fifteen fields, with "uv1" (float2) and "vtxcolor" (float4)
// between the occlusion and the masking fields.
void declareOcclusionMasking(Declarer& declare, OcclusionMaskingFields& block, int32_t uv1Offset,
                             int32_t vtxcolorOffset);
// Registers only the eight masking-channel fields, in the block's order.
void declareMaskingChannel(Declarer& declare, TextureChannel& masking);

// The occlusion factor A, per channel in [0, 1] for factors in [0, 1]; (1, 1, 1)
// means unoccluded. k is the class's reduction colour: (0, 0, 0) for the full
// effect, (1, 1, 1) switches occlusion off. A precomputed source, when selected,
// wins over tracing.
float3 evaluateAmbientOcclusion(const OcclusionMaskingFields& block, IRenderServices* services,
                                const ShadingState& st, float3 k, int32_t uv1Offset,
                                int32_t vtxcolorOffset);

// The mask M: (1, 1, 1) removes the surface for this ray, (0, 0, 0) keeps it,
// values between mix in what lies behind. p and n are mappingPoint and
// mappingNormal; uv is the attribute the class names (usually "uv").
float3 evaluateMasking(const TextureChannel& masking, const ShadingState& st, float2 uv);

// The debug view: grey min(A) when the switch is on and an occlusion source is
// active (tracing, or a precomputed mode >= 1), otherwise `color` unchanged.
float3 applyShowAmbientOnly(const OcclusionMaskingFields& block, float3 color, float3 ao);

// Writes a partly masked result: with M = (0, 0, 0) the colour and alpha 1;
// otherwise the colour mixed per channel with traceTransmission along the ray,
// and the alpha the service left in the buffer (preset to 1).
void writeMasked(IRenderServices* services, ShadingState* st, float3 mask, float3 color);

template <int32_t Uv1Offset = 0, int32_t VtxcolorOffset = 8>
struct OcclusionMasking : OcclusionMaskingFields {
    static_assert(Uv1Offset >= 0 && Uv1Offset + 8 <= static_cast<int32_t>(kAttributeBytes),
                  "uv1 must lie inside the attribute block");
    static_assert(VtxcolorOffset >= 0 &&
                      VtxcolorOffset + 16 <= static_cast<int32_t>(kAttributeBytes),
                  "vtxcolor must lie inside the attribute block");
    static constexpr int32_t kUv1Offset = Uv1Offset;
    static constexpr int32_t kVtxcolorOffset = VtxcolorOffset;

    void declare(Declarer& d) { declareOcclusionMasking(d, *this, Uv1Offset, VtxcolorOffset); }

    float3 evaluateAmbientOcclusion(IRenderServices* services, const ShadingState& st,
                                    float3 k) const {
        return ::pxs::evaluateAmbientOcclusion(*this, services, st, k, Uv1Offset, VtxcolorOffset);
    }

    float3 evaluateMasking(const ShadingState& st, float2 uv) const {
        return ::pxs::evaluateMasking(masking, st, uv);
    }

    float3 applyShowAmbientOnly(float3 color, float3 ao) const {
        return ::pxs::applyShowAmbientOnly(*this, color, ao);
    }

    // The frame of a masked shade: a fully masked hit sets skipHit and writes
    // nothing else (shadeColor is not called); otherwise shadeColor() -> float3
    // gives the material's colour (alpha 1), written through writeMasked.
    template <class ShadeColor>
    void applyMasking(IRenderServices* services, ShadingState* st, float2 uv,
                      ShadeColor&& shadeColor) const {
        const float3 mask = evaluateMasking(*st, uv);
        if (mask == float3(1.0f)) {
            st->skipHit = 1;
            return;
        }
        writeMasked(services, st, mask, shadeColor());
    }
};

}  // namespace pxs

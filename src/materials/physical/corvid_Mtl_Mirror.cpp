#include "materials/physical/corvid_Mtl_Mirror.h"

#include "shading/lighting.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"

namespace pxs {

void corvid_Mtl_Mirror::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapEvaluateBsdf | kCapSampleBsdf);
    params.block.declare(declare);
    declare("u_tintColor", params.tintColor);
    declare.attribute(kAttributeFloat2, "uv", kUvOffset);
}

void corvid_Mtl_Mirror::shade(IRenderServices* sv, ShadingState* st) {
    const float2 uv = readAttribute<float2>(*st, kUvOffset);
    composeShade(params.block, sv, st, uv, Occlusion::kSkip, [&] {
        ShadingComponents c;
        const float f = mirrorFresnel(dot(st->rayDirection, st->normal));
        const Facing side = facing(*st);
        const float3 r = reflectGuarded(st->rayDirection, side.nf, side.ngf);
        const float3 w = f * params.tintColor;
        c.set(kReflection, weightedReflection(sv, st->position, r, w));
        return c;
    });
}

void corvid_Mtl_Mirror::sampleBsdf(IRenderServices*, ShadingState* st) {
    // Only the reflection lobe 2 is offered; the other permissions are not consulted.
    if (!st->allowLobe[2]) {
        st->sampleKind = kSampleNone;
        return;
    }
    const float3 i = st->rayDirection;
    const float3 nf = faceForward(st->normal, i, st->geometricNormal);
    const float cr = -dot(nf, i);
    writeSpecularSample(st, i + 2.0f * cr * nf, params.tintColor / cr, cr, kSampleSingleLobe);
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Mtl_Mirror)

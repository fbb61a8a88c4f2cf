#include "environments/corvid_Env_Backplate.h"

#include <cmath>

#include "frame/texture.h"

namespace pxs {

namespace {

bool isFinite(float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

void corvid_Env_Backplate::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapEnvironment);
    params.ibl.declare(declare);
    declare("useBackgroundImage", params.useBackgroundImage);
    declare("useCubeBackplate", params.useCubeBackplate);
    declare("useCubeReflection", params.useCubeReflection);
    declare("backgroundColor", params.backgroundColor);
    declare("backgroundImage", params.backgroundImage);
    declare.textureCube("reflectionCube", params.reflectionCube);
    declare.textureCube("diffuseCube", params.diffuseCube);
    declare.textureCube("backplateCube", params.backplateCube);
    declare("backplateCloseUp", params.backplateCloseUp);
    declare("backplateHorizon", params.backplateHorizon);
    declare("camerawindowsize", params.cameraWindowSize);
    declare("backplatetransform", params.backplateTransform);
    declare("backplateCubeRotation", params.backplateCubeRotation);
    declare("uv_scale", params.uvScale);
    declare("uv_offset", params.uvOffset);
    declare("render_size", params.renderSize);
}

void corvid_Env_Backplate::shade(IRenderServices*, ShadingState* st) {
    const int32_t type = st->rayType;
    if (type == kRayReflection && params.useCubeReflection) {
        st->outColor =
            params.ibl.light(params.reflectionCube, params.ibl.reflect, st->rayDirection);
        st->outAlpha = 1.0f;
        return;
    }
    if (params.useBackgroundImage && (type == kRayCamera || type == kRayContinuation)) {
        st->outColor = params.useCubeBackplate ? cubeBackplate(*st) : imageBackplate(*st);
        st->outAlpha = 0.0f;
        return;
    }
    if (type == kRayGather) {
        st->outColor = params.ibl.light(params.diffuseCube, params.ibl.diffuse, st->rayDirection);
        st->outAlpha = 1.0f;
        return;
    }
    st->outColor = params.backgroundColor;
    st->outAlpha = 0.0f;
}

float3 corvid_Env_Backplate::imageBackplate(const ShadingState& st) const {
    // Pixel rows count down from the top, image v counts up from the bottom.
    float height = params.renderSize.y;
    if (height < 0.0f) height = static_cast<float>(st.imageHeight);
    const float2 px = st.pixelPosition;
    const float u = params.uvScale.x * px.x + params.uvOffset.x;
    const float v = params.uvScale.y * (height - px.y) + params.uvOffset.y;
    // Written so that NaN coordinates fail the test as well.
    if (0.0f <= u && u <= 1.0f && 0.0f <= v && v <= 1.0f) {
        return sampleTexture(params.backgroundImage, float2(u, v)).xyz();
    }
    return params.backgroundColor;
}

float3 corvid_Env_Backplate::cubeBackplate(const ShadingState& st) const {
    const float2 px = st.pixelPosition;
    const float u = params.uvScale.x * px.x + params.uvOffset.x;
    const float v = params.uvScale.y * px.y + params.uvOffset.y;

    // Point on the camera window at unit distance; the horizontal shift is 0
    // and is still added, which keeps a -0 out of the window point.
    const float invCloseUp = 1.0f / params.backplateCloseUp;
    const float2 window = params.cameraWindowSize;
    const float x = (2.0f * u - 1.0f) * 0.5f * window.x * invCloseUp + 0.0f;
    const float y =
        (2.0f * (1.0f - v) - 1.0f) * 0.5f * window.y * invCloseUp + params.backplateHorizon;

    // Into the camera frame: each row of the transform against (x, y, 1, 0).
    const float* m = params.backplateTransform.m;
    const float3 w(m[0] * x + m[1] * y + m[2] + m[3] * 0.0f,
                   m[4] * x + m[5] * y + m[6] + m[7] * 0.0f,
                   m[8] * x + m[9] * y + m[10] + m[11] * 0.0f);

    // Into the Y-up cube frame; unlike the IBL lookup, x flips and z does not.
    const float* r = params.backplateCubeRotation.m;
    const float3 e(-(r[0] * w.x + r[1] * w.y + r[2] * w.z), r[6] * w.x + r[7] * w.y + r[8] * w.z,
                   r[3] * w.x + r[4] * w.y + r[5] * w.z);

    // A close-up of 0 (or a broken transform) leaves no direction to look along.
    if (!isFinite(e)) return params.backgroundColor;
    return sampleTexture(params.backplateCube, e).xyz();
}

}  // namespace pxs

VESPER_EXPORT_SHADER(corvid_Env_Backplate)

#include "shading/ibl.h"

#include "frame/texture.h"

namespace pxs {

float3 cubeLookupDirection(const matrix3& iblMatrix, float3 d) {
    const float* m = iblMatrix.m;
    return {m[0] * d.x + m[1] * d.y + m[2] * d.z, m[6] * d.x + m[7] * d.y + m[8] * d.z,
            -(m[3] * d.x + m[4] * d.y + m[5] * d.z)};
}

float4 lookupCube(const TextureHandle& cube, const matrix3& iblMatrix, float3 d) {
    return sampleTexture(cube, cubeLookupDirection(iblMatrix, d));
}

float3 adjustIBLColour(float3 e, float2 contrast, int32_t gainMode, float3 gain, float saturation,
                       float3 luminanceFactors) {
    const float pivot = contrast.x;
    const float k = contrast.y;
    // The exact-1 tests keep neutral settings bit-exact (a -0 channel, an
    // infinite pivot) instead of merely close.
    if (k != 1.0f) e = e * k + float3((1.0f - k) * pivot);
    if (gainMode == 1 || gainMode == 2) {
        if (gainMode == 2) e = float3(dot(luminanceFactors, e));
        e = e * gain;
    }
    if (saturation != 1.0f) {
        const float l = dot(luminanceFactors, e);
        e = e * saturation + float3((1.0f - saturation) * l);
    }
    return e;
}

void IBLSettings::declare(Declarer& declare) {
    declare("IBLLuminanceFactors", luminanceFactors);
    declare("globalIBLMatrix", iblMatrix);
    declare("diffuseIBLContrast", diffuse.contrast);
    declare("diffuseIBLGainMode", diffuse.gainMode);
    declare("diffuseIBLGain", diffuse.gain);
    declare("diffuseIBLSaturation", diffuse.saturation);
    declare("reflectIBLContrast", reflect.contrast);
    declare("reflectIBLGainMode", reflect.gainMode);
    declare("reflectIBLGain", reflect.gain);
    declare("reflectIBLSaturation", reflect.saturation);
}

}  // namespace pxs

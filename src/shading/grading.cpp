#include "shading/grading.h"

#include "frame/math.h"
#include "shading/ibl.h"

namespace pxs {

float gradingLuminance(float3 v) {
    return dot(kIBLLuminanceFactors, v);
}

float3 gradeTerm(float3 v, std::initializer_list<ContrastStage> contrast,
                 std::initializer_list<GainStage> gains, float saturation) {
    // Contrast runs even at value 1, where it is the identity up to rounding.
    for (const ContrastStage& c : contrast) {
        v = v * c.value + (1.0f - c.value) * c.pivot;
    }

    float3 colorGain(1.0f);
    float scalarGain = 1.0f;
    bool anyColorGain = false;
    for (const GainStage& g : gains) {
        if (g.source == 1) {
            colorGain *= g.color;
            anyColorGain = true;
        } else {
            scalarGain *= g.value;
        }
    }
    if (anyColorGain) {
        float l = gradingLuminance(v);
        v = float3(l * colorGain.x, l * colorGain.y, l * colorGain.z);
    }
    if (scalarGain != 1.0f) v *= scalarGain;

    float l = gradingLuminance(v);
    return v * saturation + float3((1.0f - saturation) * l);
}

}  // namespace pxs

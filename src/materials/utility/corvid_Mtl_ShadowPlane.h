// corvid_Mtl_ShadowPlane: a shadow catcher.
//
// An invisible surface, typically a ground plane, that shows only the shadows and
// the ambient occlusion falling on it as a darkening of whatever lies behind it.
// The light sums run over every node of the light list: U adds the brightest
// channel of each light's colour, S adds each light's transmission weighted by
// its brightest shadowed channel, so the shadow ratio R = S / U counts a light's
// visibility twice. With O the unoccluded fraction, each channel is darkened by
// L = (1 - R) * (i * c + (1 - i)) + R and Q = (1 - O) * c + O, and the colour
// traced on behind the plane is multiplied by L * Q; the alpha is 1 minus the
// smallest factor. A point with no shadow and no occlusion removes itself from
// the ray (skipHit). In shadow tests it blocks occlusion rays (type 16) and
// nothing else, and path continuation goes straight through it.
//
// | name              | type   | default   | meaning |
// |-------------------|--------|-----------|-------------------------------------------------------|
// | "shadowColor"     | float3 | (0, 0, 0) | c: what full shadow and occlusion turn the back into |
// | "shadowIntensity" | float  | 0.7       | i: how far shadows go towards c (0 = invisible ones) |
#pragma once

#include "frame/shader_class.h"

namespace pxs {

class corvid_Mtl_ShadowPlane final : public ShaderClass<corvid_Mtl_ShadowPlane, MaterialShader> {
  public:
    struct Params {
        float3 shadowColor{0.0f, 0.0f, 0.0f};
        float shadowIntensity = 0.7f;
    } params;

    void declareParameters(IParameterRegistry* registry) override;
    void shade(IRenderServices* services, ShadingState* state) override;
    void shadowTransmission(IRenderServices* services, ShadingState* state) override;
    void sampleBsdf(IRenderServices* services, ShadingState* state) override;
};

}  // namespace pxs

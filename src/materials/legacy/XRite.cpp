#include "materials/legacy/XRite.h"

#include <cmath>

#include "frame/services.h"
#include "frame/texture.h"

namespace pxs {

namespace {

using Params = XRite::Params;

// The paint's cube maps are read without the IBL rotation of the other
// materials, only turned from the scene's Z-up into the cube's Y-up.
float3 cubeAt(const TextureHandle& cube, float3 d) {
    return sampleTexture(cube, swizzleYUp(d)).xyz();
}

float sum(float3 c) {
    return c.x + c.y + c.z;
}

// (x / 3)^4: how far a lookup of total brightness x falls short of white.
float fourthOfThird(float x) {
    const float q = x / 3.0f;
    return q * q * q * q;
}

struct FlakeLight {
    float3 sparkle;
    float3 glow;
};

// Averages the flake sparkle and glow over the footprint grid. t and b are the
// world tangent and bitangent of the flake texture, n the shading normal, o the
// vector from the hit back to the ray origin.
FlakeLight integrateFlakes(const Params& p, float3 position, float3 t, float3 b, float3 n, float3 o,
                           FlakeGrid grid) {
    FlakeLight acc{float3(0.0f), float3(0.0f)};
    float total = 0.0f;
    const float u0 = position.x * p.flakeFactor;
    // Rows of 1/128 in y, each spread over 1/16 of the texture by the fraction of z.
    const float v0 = ((position.z - std::floor(position.z)) * 0.0625f +
                      std::floor(128.0f * position.y) * 0.0078125f) *
                     16.0f * p.flakeFactor;
    for (int32_t i = 0; i < grid.size; ++i) {
        for (int32_t j = 0; j < grid.size; ++j) {
            const float w = (i == 0 ? grid.edgeWeight : 1.0f) * (j == 0 ? grid.edgeWeight : 1.0f);
            total += w;
            const float2 uv(u0 + static_cast<float>(i) * p.flakeSize,
                            v0 + static_cast<float>(j) * p.flakeSize);
            const float4 texel = sampleTexture(p.flakeNormalTexture, uv);
            const float3 f(2.0f * texel.x - 1.0f, 2.0f * texel.y - 1.0f, texel.z);
            const float3 nf = f.x * t + f.y * b + f.z * n;
            const float3 m = 2.0f * dot(nf, o) * nf - o;

            // Only flakes lying nearly flat in the paint sparkle.
            if (f.z > p.contributionFactor) {
                const float3 a = cubeAt(p.reflectCube, m);
                const float e = p.specIntensity * sum(a);
                if (e > 3.0f) {
                    acc.sparkle += p.flakeColor * a * p.specIntensity * w;
                } else {
                    acc.sparkle += w * fourthOfThird(e) * p.flakeColor;
                }
            }

            const float e2 = sum(cubeAt(p.specularCube, m));
            float3 g = p.diffIntensity * p.flakeColor2;
            if (e2 <= 3.0f) g *= fourthOfThird(e2);
            acc.glow += g * w;
        }
    }
    // The small bias keeps an empty grid at zero instead of dividing by zero.
    acc.sparkle /= total + 0.01f;
    acc.glow /= total + 0.01f;
    return acc;
}

}  // namespace

FlakeGrid flakeFootprint(float distance, float facing, float maxFlakes, float flakeFactor,
                         float flakeSize) {
    const float f = facing >= 0.0001f
                        ? minf(distance / (std::sqrt(facing) * flakeSize) * 0.0025f, maxFlakes)
                        : maxFlakes;
    const float n = f * flakeFactor;
    if (!(n > 0.0f)) return {0, 1.0f};
    if (!(n <= static_cast<float>(kMaxFlakeGrid))) return {kMaxFlakeGrid, 1.0f};
    const float r = n - std::floor(n);
    // A whole number of flakes (up to rounding) needs no partial edge.
    if (r < 0.0001f) return {static_cast<int32_t>(std::floor(n)), 1.0f};
    return {static_cast<int32_t>(std::ceil(n)), r};
}

float3 encodeSrgb(float3 linear) {
    float3 out;
    for (int k = 0; k < 3; ++k) {
        const float x = linear[k];
        out[k] = x <= 0.0031308f ? 12.92f * x : 1.055f * std::pow(x, 0.4166667f) - 0.055f;
    }
    return out;
}

void XRite::declareParameters(IParameterRegistry* registry) {
    Declarer declare(registry, this, kCapShade | kCapShadowTransmission);
    params.block.declare(declare);
    declare("reverseNormal", params.reverseNormal);
    declare("faceForward", params.faceForward);
    declare("xriteDiffuse", params.xriteDiffuse);
    declare("flakeColor", params.flakeColor);
    declare("flakeColor2", params.flakeColor2);
    declare("fresnel", params.fresnel);
    declare("xriteIsSolid", params.xriteIsSolid);
    declare("coarseness", params.coarseness);
    declare("specIntensity", params.specIntensity);
    declare("diffIntensity", params.diffIntensity);
    declare("contributionFactor", params.contributionFactor);
    declare("maxFlakes", params.maxFlakes);
    declare("flakeFactor", params.flakeFactor);
    declare("flakeSize", params.flakeSize);
    declare("flakeNormalTexture", params.flakeNormalTexture);
    declare.textureCube("diffuseCube", params.diffuseCube);
    declare.textureCube("specularCube", params.specularCube);
    declare.textureCube("reflectCube", params.reflectCube);
    declare.attribute(kAttributeFloat2, "uv", kUvOffset);
}

void XRite::shade(IRenderServices* services, ShadingState* st) {
    const Params& p = params;
    const float3 i = st->rayDirection;
    const float3 position = st->position;
    const float3 o = st->rayOrigin - position;

    const float3 mask = p.block.evaluateMasking(*st, readAttribute<float2>(*st, kUvOffset));
    if (mask == float3(1.0f)) {
        st->skipHit = 1;
        return;
    }

    float s = p.reverseNormal ? -1.0f : 1.0f;
    if (p.faceForward && dot(st->geometricNormal, i) > 0.0f) s = -1.0f;
    const float3 n = s * st->normal;
    const float3 nt = s * st->mappingNormal;

    // The list is requested for the host's sake; the paint reads none of it.
    services->getLights(-2, &position, &n);

    // Tangent frame of the flake texture around the mapping normal.
    const float3 t = std::fabs(nt.z) >= 0.999f ? normalize(float3(0.0f, -nt.z, nt.y))
                                               : normalize(float3(-nt.y, nt.x, 0.0f));
    const float3 b = cross(t, nt);

    // View angle in the mapping frame; matrixA carries the view there.
    const float3 v = transformDirection(-i, st->matrixA);
    const float3 vLocal(dot(v, t), dot(v, b), dot(v, nt));
    // A zero matrixA makes this 0/0; minf below then settles on the coat's maximum.
    const float cosTheta = clampf(dot(v, nt) / length(vLocal), 0.0f, 1.0f);
    const float4 fc = p.fresnel;
    const float coat = minf(std::pow(1.0f - cosTheta, fc.z) * fc.y + fc.x, fc.w);

    float3 flakes(0.0f);
    if (!p.xriteIsSolid) {
        const float3 tw = normalize(transformDirection(t, st->matrixB));
        const float3 bw = normalize(transformDirection(b, st->matrixB));
        const FlakeGrid grid =
            flakeFootprint(length(o), dot(-i, n), p.maxFlakes, p.flakeFactor, p.flakeSize);
        const FlakeLight fl = integrateFlakes(p, position, tw, bw, n, o, grid);
        const float under = 1.0f - coat;
        flakes =
            (1.0f - p.coarseness) * fl.glow + p.coarseness * (under * under * under) * fl.sparkle;
    }

    const float3 reflected = svc::traceReflection(services, position, reflect(i, n), 1.0f);

    const float3 d = cubeAt(p.diffuseCube, n) * p.xriteDiffuse * p.diffIntensity;
    float3 base = encodeSrgb(d);
    if (!p.xriteIsSolid) base += flakes;

    const float3 ao = p.block.evaluateAmbientOcclusion(services, *st, float3(0.0f));
    float3 color = saturate(ao * (base * (1.0f - coat) + reflected * coat));

    if (mask != float3(0.0f)) {
        const float4 behind =
            svc::traceTransmission(services, position, i, 1.0f, float4(color, 1.0f));
        color = (float3(1.0f) - mask) * color + mask * behind.xyz();
    }
    st->outColor = color;
}

// Fully masked parts let all light through, unmasked parts none.
void XRite::shadowTransmission(IRenderServices*, ShadingState* st) {
    st->outTransmission = params.block.evaluateMasking(*st, readAttribute<float2>(*st, kUvOffset));
}

}  // namespace pxs

VESPER_EXPORT_SHADER(XRite)

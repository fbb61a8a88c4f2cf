#include "materials/legacy/TamberLegacy.h"

#include <cmath>

#include "frame/services.h"
#include "frame/shadow_catcher.h"
#include "frame/texture_channel.h"
#include "shading/grading.h"
#include "shading/ibl.h"
#include "shading/lighting.h"
#include "shading/normal_map.h"
#include "shading/scattering.h"
#include "shading/shading_frame.h"
#include "shading/ward_lobe.h"

namespace pxs {

namespace {

using Params = TamberLegacy::Params;

// Preset of the transmission buffers: what a host that writes nothing leaves.
constexpr float4 kOpaqueBlack(0.0f, 0.0f, 0.0f, 1.0f);

// A mask with transparency folded in: either one lets the background through.
float3 foldIntoMask(float3 m, float3 t) {
    return float3(1.0f) - (float3(1.0f) - m) * (float3(1.0f) - t);
}

bool isGrey(float3 c) {
    return c.x == c.y && c.y == c.z;
}

// One legacy channel's fields as the shared texture channel; the legacy class
// keeps its own field order and inverts by its own rules.
TextureChannel makeChannel(int32_t mode, float3 color, const TextureHandle& texture,
                           const matrix4& textureMatrix, float angularRepeat,
                           const matrix3& uvMatrix, bool fromAlpha = false) {
    TextureChannel c(color, mode);
    c.texture = texture;
    c.textureMatrix = textureMatrix;
    c.angularRepeat = angularRepeat;
    c.uvMatrix = uvMatrix;
    c.fromAlpha = fromAlpha;
    return c;
}

// What every per-hit operation shares: the turned normals and the channels
// evaluated against them.
class Hit {
  public:
    // `allowFaceForward` is off for shadow transmission, which ignores the switch.
    Hit(const Params& p, const ShadingState& st, bool allowFaceForward) : p_(p), st_(st) {
        sign = p.reverseNormal ? -1.0f : 1.0f;
        n = sign * st.normal;
        boxNormal = sign * st.mappingNormal;
        if (allowFaceForward && p.faceForward && dot(st.geometricNormal, st.rayDirection) > 0.0f) {
            n = -n;
            boxNormal = -boxNormal;
        }
        uv_ = readAttribute<float2>(st, TamberLegacy::kUvOffset);
    }

    float sign;        // -1 with "reverseNormal"
    float3 n;          // shading normal after the switches, before the normal map
    float3 boxNormal;  // picks the box-projection axes

    float4 channel(const TextureChannel& c, ChannelOptions options = {},
                   ChannelProjection* projection = nullptr) const {
        options.box = p_.triplanarXY ? BoxAxes::kZY : BoxAxes::kYZ;
        return evaluateChannel(c, {uv_, st_.mappingPoint, boxNormal}, options, projection);
    }

    float3 diffuse() const {
        return channel(makeChannel(p_.diffuseMode, p_.diffuseColor, p_.diffuseTexture,
                                   p_.diffuseTextureMatrix, p_.diffuseAngularRepeat,
                                   p_.diffuseUVMatrix))
            .xyz();
    }

    float3 specular() const {
        return channel(makeChannel(p_.specularMode, p_.specularColor, p_.specularTexture,
                                   p_.specularTextureMatrix, p_.specularAngularRepeat,
                                   p_.specularUVMatrix))
            .xyz();
    }

    // M: (1, 1, 1) removes the surface. `planarSlab` confines a planar mask to
    // -1 <= depth <= 1 in texture space.
    float3 mask(bool planarSlab) const {
        TextureChannel c =
            makeChannel(p_.maskingMode, p_.maskingColor, p_.maskingTexture, p_.maskingTextureMatrix,
                        p_.maskingAngularRepeat, p_.maskingUVMatrix, p_.maskingFromAlpha);
        c.invert = p_.maskingInvertTexture;
        ChannelOptions options;
        options.planarSlab = planarSlab;
        return channel(c, options).xyz();
    }

    // T before any folding into the mask. The invert switch applies in every mode;
    // taken from the diffuse alpha, the value is inverted unless the switch is set,
    // so by default transparency = 1 - alpha.
    float3 transparency() const {
        float3 t;
        bool invert;
        if (p_.transparencyFromDiffuse) {
            t = channel(makeChannel(p_.diffuseMode, p_.transparencyColor, p_.diffuseTexture,
                                    p_.diffuseTextureMatrix, p_.diffuseAngularRepeat,
                                    p_.diffuseUVMatrix, true))
                    .xyz();
            invert = !p_.transparencyInvert;
        } else {
            t = channel(makeChannel(p_.transparencyMode, p_.transparencyColor,
                                    p_.transparencyTexture, p_.transparencyTextureMatrix,
                                    p_.transparencyAngularRepeat, p_.transparencyUVMatrix))
                    .xyz();
            invert = p_.transparencyInvert;
        }
        return invert ? float3(1.0f) - t : t;
    }

    // The normal map applied to `normal` (N unchanged when the map is off).
    float3 normalMap(float3 normal) const {
        if (p_.bumpMode == -1 || p_.bumpDepth == 0.0f) return normal;
        ChannelProjection projection;
        const TextureChannel bump =
            makeChannel(p_.bumpMode, float3(0.0f, 0.0f, 1.0f), p_.bumpTexture, p_.bumpTextureMatrix,
                        p_.bumpAngularRepeat, p_.bumpUVMatrix);
        const float3 texel = channel(bump, {}, &projection).xyz();
        return applyChannelNormalMap(
            bump, texel, projection, p_.bumpDepth, normal,
            sign * readAttribute<float3>(st_, TamberLegacy::kTangentOffset),
            readAttribute<float3>(st_, TamberLegacy::kBitangentOffset), p_.bumpTextureMatrixInverse,
            st_.matrixB, false);
    }

    // Uniform, or the view-dependent form min((1 - |n.I|)^e * k + b, max), clamped
    // to [0, 1] when `clamp` is set.
    float3 reflectivity(float3 normal, bool clamp) const {
        if (p_.useUniformReflectivity) return p_.reflectivityColor;
        const float4 f = p_.fresnel;
        const float x = maxf(-std::fabs(dot(normal, st_.rayDirection)), -1.0f);
        float r = minf(std::pow(1.0f + x, f.z) * f.y + f.x, f.w);
        if (clamp) r = saturate(r);
        return float3(r);
    }

    // Beer-Lambert over `distance`; a channel of absorbance -1 absorbs everything.
    float3 absorption(float distance) const {
        float3 a;
        for (int i = 0; i < 3; ++i) {
            const float k = p_.absorbanceRGB[i];
            a[i] = k == -1.0f ? 0.0f : std::exp(-distance * k);
        }
        return a;
    }

  private:
    const Params& p_;
    const ShadingState& st_;
    float2 uv_;
};

// The debug colours of the normals-only view.
float3 normalsView(const Params& p, const ShadingState& st, const Hit& hit) {
    const float d = dot(hit.n, st.rayDirection);
    const float ad = std::fabs(d);
    float3 c;
    if (p.faceForward) {
        c = float3(0.7f * ad, 0.35f * ad, 0.05f);
    } else if (p.faceLight) {
        c = float3(0.05f, 0.8f * ad, 0.05f);
    } else if (dot(hit.sign * st.geometricNormal, st.rayDirection) <= 0.0f) {
        c = float3(0.05f, 0.05f, -0.8f * d);
    } else {
        c = float3(d, d, 0.0f);
    }
    return saturate(c);
}

// Highlight strength of one microfacet lobe. reg.x is the reflectance at normal
// incidence, reg.y the roughness; g is the geometry term already divided by nv
// and f = (1 - vh)^3 the Fresnel weight.
float highlight(float3 reg, float g, float nh, float f) {
    const float a2 = reg.y * reg.y;
    const float ratio = a2 / ((a2 - 1.0f) * (nh * nh) + 1.0f);
    const float d = ratio * ratio;
    const float fresnel = (1.0f - f) * reg.x + f;
    // A NaN from a zero roughness at nh = 1 falls to 0 here.
    return maxf(g * d * fresnel, 0.0f);
}

struct LightSums {
    float3 da, db;    // diffuse: tinted lights, other lights
    float3 s1a, s1b;  // first highlight
    float3 s2a, s2b;  // second highlight
};

LightSums gatherLights(const Params& p, IRenderServices* sv, const ShadingState& st, float3 n,
                       float nv, float3 shadowTint) {
    LightSums sums;
    const float3 i = st.rayDirection;
    for (const LightNode* l = sv->getLights(-1024, &st.position, &n); l; l = l->next) {
        if (l->type == kLightSkip || maxComponent(l->lightColor) <= 0.0f) continue;
        const float3 dir = l->direction;
        const float nl = saturate(dot(n, dir));
        const bool tinted = l->type == kLightTinted;
        float3 lc;
        if (tinted) {
            const float3 v = l->lightTransmission;
            const float3 c = l->lightColor;
            lc = (float3(1.0f) - v) * shadowTint * c + v * c;
            sums.da += nl * lc;
        } else {
            lc = l->lightContribution;
            sums.db += nl * lc;
        }
        if (nv <= 0.0f) continue;

        const float3 hv = normalize(i - dir);  // the half vector, negated
        const float nh = dot(n, -hv);
        const float vh = maxf(dot(hv, i), 0.0001f);
        float g;
        if (nl <= nv) {
            g = vh <= 2.0f * nh * nl ? 1.0f / nv : 2.0f * nh * nl / (vh * nv);
        } else {
            g = vh <= 2.0f * nh * nv ? 1.0f / nv : 2.0f * nh / vh;
        }
        const float m = 1.0f - vh;
        const float f = m * m * m;
        const float s1 = highlight(p.specularREG, g, nh, f);
        const float s2 = highlight(p.specular2REG, g, nh, f);
        (tinted ? sums.s1a : sums.s1b) += s1 * lc;
        (tinted ? sums.s2a : sums.s2b) += s2 * lc;
    }
    return sums;
}

// Refraction of i through a surface with normal n (either side) for a solid
// object of index `ior`; zero on total internal reflection.
float3 refractSolid(float3 i, float3 n, float ior) {
    if (ior == 1.0f) return i;
    const float ni = dot(n, i);
    const float eta = ni < 0.0f ? 1.0f / ior : ior;
    // The normal on the viewer's side, chosen by the side the ray comes from so
    // that an index below 1 bends the ray the right way too.
    const float3 nf = ni > 0.0f ? -n : n;
    return refractDirection(i, nf, eta, UndefinedRefraction::kBlocked);
}

}  // namespace

void TamberLegacy::declareParameters(IParameterRegistry* registry) {
    Params& p = params;
    Declarer d(registry, this,
               kCapShade | kCapShadowTransmission | kCapEvaluateBsdf | kCapSampleBsdf);
    d("shadowColor", p.shadowColor);
    d("shadowIntensity", p.shadowIntensity);
    d("reverseNormal", p.reverseNormal);
    d("faceForward", p.faceForward);
    d("faceLight", p.faceLight);
    d("showNormalsOnly", p.showNormalsOnly);
    d("showAmbientOnly", p.showAmbientOnly);
    d("usingRaytracedAO", p.usingRaytracedAO);
    d("diffuseColor", p.diffuseColor);
    d("diffuseMode", p.diffuseMode);
    d("diffuseTexture", p.diffuseTexture);
    d("diffuseTextureMatrix", p.diffuseTextureMatrix);
    d("diffuseAngularRepeat", p.diffuseAngularRepeat);
    d("diffuseUVMatrix", p.diffuseUVMatrix);
    d("diffuseIBLGainColor", p.diffuseIBLGainColor);
    d("diffuseIBLContrastPivot", p.diffuseIBLContrastPivot);
    d("diffuseIBLContrastValue", p.diffuseIBLContrastValue);
    d("diffuseIBLGainSource", p.diffuseIBLGainSource);
    d("diffuseLightGainValue", p.diffuseLightGainValue);
    d("specularColor", p.specularColor);
    d("specularREG", p.specularREG);
    d("specular2REG", p.specular2REG);
    d("specularMode", p.specularMode);
    d("specularTexture", p.specularTexture);
    d("specularTextureMatrix", p.specularTextureMatrix);
    d("specularAngularRepeat", p.specularAngularRepeat);
    d("specular2Color", p.specular2Color);
    d("specularUVMatrix", p.specularUVMatrix);
    d("specularIBLGainColor", p.specularIBLGainColor);
    d("specularIBLContrastPivot", p.specularIBLContrastPivot);
    d("specularIBLContrastValue", p.specularIBLContrastValue);
    d("specularIBLGainSource", p.specularIBLGainSource);
    d("specularLightGainValue", p.specularLightGainValue);
    d("specular2LightGainValue", p.specular2LightGainValue);
    d("transparencyColor", p.transparencyColor);
    d("transparencyMode", p.transparencyMode);
    d("transparencyTexture", p.transparencyTexture);
    d("transparencyTextureMatrix", p.transparencyTextureMatrix);
    d("transparencyAngularRepeat", p.transparencyAngularRepeat);
    d("transparencyInvert", p.transparencyInvert);
    d("transparencyFromDiffuse", p.transparencyFromDiffuse);
    d("transparencyUVMatrix", p.transparencyUVMatrix);
    d("transparencyBlocksHighlights", p.transparencyBlocksHighlights);
    d("bumpMode", p.bumpMode);
    d("bumpTexture", p.bumpTexture);
    d("bumpTextureMatrix", p.bumpTextureMatrix);
    d("bumpTextureMatrixInverse", p.bumpTextureMatrixInverse);
    d("bumpAngularRepeat", p.bumpAngularRepeat);
    d("bumpDepth", p.bumpDepth);
    d("bumpUVMatrix", p.bumpUVMatrix);
    d("maskingColor", p.maskingColor);
    d("maskingMode", p.maskingMode);
    d("maskingTexture", p.maskingTexture);
    d("maskingTextureMatrix", p.maskingTextureMatrix);
    d("maskingInvertTexture", p.maskingInvertTexture);
    d("maskingAngularRepeat", p.maskingAngularRepeat);
    d("maskingUVMatrix", p.maskingUVMatrix);
    d("maskingFromAlpha", p.maskingFromAlpha);
    d("reflectivityColor", p.reflectivityColor);
    d("useUniformReflectivity", p.useUniformReflectivity);
    d("fresnel", p.fresnel);
    d("reflectLight", p.reflectLight);
    d("reflectIBLGainColor", p.reflectIBLGainColor);
    d("reflectIBLGainSource", p.reflectIBLGainSource);
    d("reflectIBLGainValue", p.reflectIBLGainValue);
    d.textureCube("reflectionCubeIBL", p.reflectionCubeIBL);
    d("useReflectionCubeIBL", p.useReflectionCubeIBL);
    d("surfaceRoughness", p.surfaceRoughness);
    d("refractiveIndex", p.refractiveIndex);
    d("simulatedThickness", p.simulatedThickness);
    d("IBLDiffMode", p.IBLDiffMode);
    d("IBLSpecMode", p.IBLSpecMode);
    d("diffuseIBLGainValue", p.diffuseIBLGainValue);
    d("specularIBLGainValue", p.specularIBLGainValue);
    d.textureCube("diffuseIBLCube", p.diffuseIBLCube);
    d.textureCube("specularIBLCube", p.specularIBLCube);
    d("globalIBLContrastPivot", p.globalIBLContrastPivot);
    d("globalIBLContrastValue", p.globalIBLContrastValue);
    d("globalIBLGainColor", p.globalIBLGainColor);
    d("globalIBLSatValue", p.globalIBLSatValue);
    d("globalIBLGainSource", p.globalIBLGainSource);
    d("globalIBLGainValue", p.globalIBLGainValue);
    d("globalIBLMatrix", p.globalIBLMatrix);
    d("diffuseIBLChannelContrastPivot", p.diffuseIBLChannelContrastPivot);
    d("diffuseIBLChannelContrastValue", p.diffuseIBLChannelContrastValue);
    d("diffuseIBLChannelGainColor", p.diffuseIBLChannelGainColor);
    d("diffuseIBLChannelGainSource", p.diffuseIBLChannelGainSource);
    d("diffuseIBLChannelGainValue", p.diffuseIBLChannelGainValue);
    d("diffuseIBLChannelSatValue", p.diffuseIBLChannelSatValue);
    d("specularIBLChannelContrastPivot", p.specularIBLChannelContrastPivot);
    d("specularIBLChannelContrastValue", p.specularIBLChannelContrastValue);
    d("specularIBLChannelGainColor", p.specularIBLChannelGainColor);
    d("specularIBLChannelGainSource", p.specularIBLChannelGainSource);
    d("specularIBLChannelGainValue", p.specularIBLChannelGainValue);
    d("specularIBLChannelSatValue", p.specularIBLChannelSatValue);
    d("reflectIBLChannelContrastPivot", p.reflectIBLChannelContrastPivot);
    d("reflectIBLChannelContrastValue", p.reflectIBLChannelContrastValue);
    d("reflectIBLChannelGainColor", p.reflectIBLChannelGainColor);
    d("reflectIBLChannelGainSource", p.reflectIBLChannelGainSource);
    d("reflectIBLChannelGainValue", p.reflectIBLChannelGainValue);
    d("reflectIBLChannelSatValue", p.reflectIBLChannelSatValue);
    d("ambientOcclusionTexture", p.ambientOcclusionTexture);
    d("ambientOcclusionMode", p.ambientOcclusionMode);
    d("ambientOcclusionFactor", p.ambientOcclusionFactor);
    d("ambientOcclusionColor", p.ambientOcclusionColor);
    d("usePrecalcAO", p.usePrecalcAO);
    d("absorbanceRGB", p.absorbanceRGB);
    d("useAlpha", p.useAlpha);
    d("globalIllumIntensity", p.globalIllumIntensity);
    d("unlitSurface", p.unlitSurface);
    d("selfIlluminance", p.selfIlluminance);
    d("usingHDRbuffer", p.usingHDRbuffer);
    d("triplanarXY", p.triplanarXY);
    d.attribute(kAttributeFloat2, "uv", kUvOffset);
    d.attribute(kAttributeFloat2, "uv1", kUv1Offset);
    d.attribute(kAttributeFloat3, "tangent", kTangentOffset);
    d.attribute(kAttributeFloat3, "bitangent", kBitangentOffset);
    d.attribute(kAttributeFloat4, "vtxcolor", kVertexColorOffset);
}

namespace {

// A lighting term's own grading fields: its contrast and gain stages, its
// channel's gain stage and saturation.
struct TermGrading {
    ContrastStage contrast;
    GainStage gain;
    GainStage channelGain;
    float channelSaturation;
};

// The term graded by its own stages and the global ones.
float3 gradeWithGlobal(const Params& p, float3 v, const TermGrading& t) {
    return gradeTerm(v, {t.contrast, {p.globalIBLContrastPivot, p.globalIBLContrastValue}},
                     {t.gain,
                      {p.globalIBLGainSource, p.globalIBLGainColor, p.globalIBLGainValue},
                      t.channelGain},
                     t.channelSaturation * p.globalIBLSatValue);
}

float3 gradeDiffuseIBL(const Params& p, float3 v) {
    return gradeWithGlobal(p, v,
                           {{p.diffuseIBLContrastPivot, p.diffuseIBLContrastValue},
                            {p.diffuseIBLGainSource, p.diffuseIBLGainColor, p.diffuseIBLGainValue},
                            {p.diffuseIBLChannelGainSource, p.diffuseIBLChannelGainColor,
                             p.diffuseIBLChannelGainValue},
                            p.diffuseIBLChannelSatValue});
}

float3 gradeSpecularIBL(const Params& p, float3 v) {
    return gradeWithGlobal(
        p, v,
        {{p.specularIBLContrastPivot, p.specularIBLContrastValue},
         {p.specularIBLGainSource, p.specularIBLGainColor, p.specularIBLGainValue},
         {p.specularIBLChannelGainSource, p.specularIBLChannelGainColor,
          p.specularIBLChannelGainValue},
         p.specularIBLChannelSatValue});
}

float3 gradeReflection(const Params& p, float3 v) {
    return gradeTerm(v, {{p.globalIBLContrastPivot, p.globalIBLContrastValue}},
                     {{p.reflectIBLGainSource, p.reflectIBLGainColor, p.reflectIBLGainValue},
                      {p.globalIBLGainSource, p.globalIBLGainColor, p.globalIBLGainValue},
                      {p.reflectIBLChannelGainSource, p.reflectIBLChannelGainColor,
                       p.reflectIBLChannelGainValue}},
                     p.reflectIBLChannelSatValue * p.globalIBLSatValue);
}

// Coverage of a transmitting surface: the share k that stays opaque plus the
// transmitted share, weighted by how much the absorption a lets through and by
// the traced alpha.
float transmittedAlpha(float3 absorption, float tracedAlpha, float k) {
    const float a = maxComponent(absorption);
    return ((1.0f - a) + a * tracedAlpha) * (1.0f - k) + k;
}

// One shade call, step by step in the order the terms combine: the diffuse
// light, the transmission, the first highlight, the occlusion, the reflection,
// the second highlight, then the mask. colour_ and alpha_ accumulate the result.
class LegacyShade {
  public:
    // mask: (1, 1, 1) removes the surface; transparency already folded into it
    // when transparency blocks highlights.
    LegacyShade(const Params& p, IRenderServices* sv, ShadingState* st, const Hit& hit, float3 mask,
                float3 transparency)
        : p_(p), sv_(sv), st_(st), hit_(hit), view_(st->rayDirection), point_(st->position) {
        mask_ = mask;
        keepMask_ = float3(1.0f) - mask;
        transparency_ = transparency;
        diffuse_ = hit.diffuse();
        specular_ = hit.specular();
        normal_ = hit.normalMap(hit.n);
    }

    // Lights, image-based and indirect light on the diffuse colour.
    void lightDiffuse(float3 shadowTint) {
        gatherAllLights(shadowTint);
        float3 ibl;
        if (p_.IBLDiffMode == 0 || p_.IBLDiffMode == 2) {
            ibl = gradeDiffuseIBL(p_,
                                  lookupCube(p_.diffuseIBLCube, p_.globalIBLMatrix, normal_).xyz());
        }
        if (p_.IBLSpecMode == 0 || p_.IBLSpecMode == 2) {
            const float3 rv = pxs::reflect(view_, normal_);
            specularIBL_ =
                gradeSpecularIBL(p_, lookupCube(p_.specularIBLCube, p_.globalIBLMatrix, rv).xyz());
        }
        reflectivity_ = hit_.reflectivity(normal_, true);
        keepReflectivity_ = float3(1.0f) - reflectivity_;
        colour_ = diffuseLight(ibl, indirectLight()) + diffuse_ * lights_.db;
    }

    // Refraction through a solid object or a thin slab, mixed in by the
    // transparency.
    void transmit() {
        if (transparency_ == float3(0.0f)) return;
        const float k = 1.0f - maxComponent(transparency_);
        float3 w = keepMask_ * transparency_;
        if (p_.reflectLight) w *= keepReflectivity_;
        if (p_.simulatedThickness == 0.0f) {
            transmitSolid(k, maxComponent(w));
        } else {
            transmitSlab(k, maxComponent(w));
        }
    }

    // The first highlight, from the tinted lights and the specular IBL by mode,
    // and from the other lights always.
    void addFirstHighlight() {
        const float g = p_.specularLightGainValue;
        switch (p_.IBLSpecMode) {
            case 0:
                highlight_ = specular_ * (g * lights_.s1a + specularIBL_);
                break;
            case 1:
                highlight_ = specular_ * lights_.s1a * g;
                break;
            case 2:
                highlight_ = specular_ * specularIBL_;
                break;
            default:
                break;
        }
        highlight_ += specular_ * lights_.s1b;
        colour_ += highlight_;
    }

    // The occlusion multiplier; transparent parts are not occluded. False when
    // the ambient-only view was written instead of the colour.
    bool occlude() {
        const int32_t mode = p_.ambientOcclusionMode;
        occlusion_ = occlusion(1.0f - maxComponent(transparency_));
        if (p_.showAmbientOnly && (p_.usingRaytracedAO || (p_.usePrecalcAO && mode > 0))) {
            st_->outColor = float3(minComponent(occlusion_));
            return false;
        }
        return true;
    }

    // Traced or cube-map reflection, graded, by the reflectivity; the share
    // that could not be transmitted is reflected too. Then the occlusion.
    void addReflection() {
        if (totalInternalReflection_) {
            reflectivity_ = (float3(1.0f) - transparency_) * reflectivity_ + transparency_;
        }
        const float3 r = reflectivity_;
        if (r != float3(0.0f)) {
            const float3 reflection = gradeReflection(p_, reflectedLight());
            if (p_.reflectLight) colour_ *= float3(1.0f) - r;
            colour_ += reflection * r;
            if (p_.useAlpha) alpha_ = (1.0f - maxComponent(r)) * alpha_ + maxComponent(r);
        }
        colour_ *= occlusion_;
    }

    // The second highlight: tinted lights unless the specular IBL replaces them,
    // other lights always; scaled by the reflectivity when reflection takes
    // from the rest.
    void addSecondHighlight() {
        const float g = p_.specular2LightGainValue;
        const float3 c = p_.specular2Color;
        const float3 r = reflectivity_;
        const bool plain = !p_.reflectLight || (r == float3(0.0f) && p_.useUniformReflectivity);
        if (p_.IBLSpecMode != 2) {
            colour_ += plain ? lights_.s2a * c * g : r * lights_.s2a * c * g;
        }
        colour_ += plain ? lights_.s2b * c : r * lights_.s2b * c;
    }

    // Highlights make even a transparent surface opaque where they shine; then
    // the absorption of a totally reflected path, the mask, and the outputs.
    void finish() {
        if (p_.useAlpha) {
            const float m = maxComponent(colour_);
            float x = maxComponent(highlight_ + lights_.s2b * p_.specular2Color);
            if (m != 0.0f) x = x / m;
            alpha_ = (1.0f - x) * alpha_ + x;
        }
        if (totalInternalReflection_) colour_ *= hit_.absorption(length(st_->rayOrigin - point_));
        if (mask_ != float3(0.0f)) {
            const float m = maxComponent(mask_);
            const float3 keep = p_.transparencyBlocksHighlights ? float3(1.0f - m) : keepMask_;
            const float3 behind = svc::traceTransmission(sv_, point_, view_, m, kOpaqueBlack).xyz();
            colour_ = colour_ * keep + mask_ * behind;
            alpha_ = (1.0f - m) * alpha_ + m;
        }
        st_->outColor = p_.usingHDRbuffer ? colour_ : saturate(colour_);
        st_->outAlpha = clampf(alpha_, 0.0f, 1.0f);
    }

  private:
    void gatherAllLights(float3 shadowTint) {
        // Kept off zero so that the geometry term never divides by it; a grazing
        // view counts as a back view and gets no highlight.
        float nv = -dot(normal_, view_);
        nv = nv > 0.0f ? maxf(nv, 0.0001f) : minf(nv, -0.0001f);
        if (!p_.unlitSurface) lights_ = gatherLights(p_, sv_, *st_, normal_, nv, shadowTint);
        if (p_.selfIlluminance) lights_.db = float3(1.0f);
    }

    // The host's indirect light on the opaque, unmasked diffuse share.
    float3 indirectLight() const {
        float3 w = diffuse_ * (float3(1.0f) - transparency_) * keepMask_;
        if (p_.reflectLight) w *= keepReflectivity_;
        return svc::globalIllumination(sv_, point_, normal_, maxComponent(w)) *
               p_.globalIllumIntensity;
    }

    // The diffuse colour lit by the tinted lights, the diffuse IBL and the
    // indirect light, as the diffuse IBL mode combines them.
    float3 diffuseLight(float3 ibl, float3 indirect) const {
        const float g = p_.diffuseLightGainValue;
        switch (p_.IBLDiffMode) {
            case 0:
                return (g * lights_.da + ibl + indirect) * diffuse_;
            case 1:
                return (g * lights_.da + indirect) * diffuse_;
            case 2:
                return (indirect + ibl) * diffuse_;
            default:
                return indirect;
        }
    }

    // A solid object: refracted on entry and exit, absorbed along the path
    // inside; total internal reflection is left to the reflection step.
    void transmitSolid(float k, float importance) {
        const float3 d = refractSolid(view_, normal_, p_.refractiveIndex);
        if (d == float3(0.0f)) {
            totalInternalReflection_ = true;
            return;
        }
        const float4 b = svc::traceGlossyTransmission(sv_, point_, d, p_.surfaceRoughness,
                                                      importance, kOpaqueBlack);
        colour_ = colour_ * k + b.xyz() * transparency_;
        float3 a(1.0f);
        if (dot(hit_.n, view_) > 0.0f) {  // leaving the object: the ray crossed its inside
            a = hit_.absorption(length(st_->rayOrigin - point_));
            colour_ *= a;
        }
        if (p_.useAlpha) alpha_ = transmittedAlpha(a, b.w, k);
    }

    // A thin slab: the continuation leaves the far side along the incoming
    // direction. A path that never crosses the slab (edge-on, or totally
    // reflected inside) has no far side: it stays here.
    void transmitSlab(float k, float importance) {
        const float3 ns = -signf(dot(normal_, view_)) * normal_;
        float3 r = view_;
        if (p_.refractiveIndex != 1.0f) {
            r = refractDirection(view_, ns, 1.0f / p_.refractiveIndex,
                                 UndefinedRefraction::kBlocked);
        }
        const float across = -dot(ns, r);
        const float3 exitPoint =
            across > 0.0f ? point_ + r * p_.simulatedThickness / across : point_;
        const float3 a = hit_.absorption(length(exitPoint - point_));
        const float4 b = svc::traceGlossyTransmission(sv_, exitPoint, view_, p_.surfaceRoughness,
                                                      importance, kOpaqueBlack);
        colour_ = colour_ * k + a * b.xyz() * transparency_;
        if (p_.useAlpha) alpha_ = transmittedAlpha(a, b.w, k);
    }

    float3 occlusion(float opacity) const {
        const float factor = p_.ambientOcclusionFactor;
        const float3 colour = p_.ambientOcclusionColor;
        const int32_t mode = p_.ambientOcclusionMode;
        if (p_.usePrecalcAO && (mode == 1 || mode == 2)) {
            const float x =
                mode == 1 ? sampleTexture(p_.ambientOcclusionTexture,
                                          readAttribute<float2>(*st_, TamberLegacy::kUv1Offset))
                                .x
                          : readAttribute<float4>(*st_, TamberLegacy::kVertexColorOffset).x;
            const float f = (1.0f - x) * factor * opacity;
            return f * colour + float3(1.0f - f);
        }
        if (p_.usingRaytracedAO) {
            const float3 u = svc::ambientOcclusion(sv_, point_, normal_,
                                                   maxComponent(keepMask_ * factor * opacity));
            const float3 f = opacity * (float3(1.0f) - (factor * u + float3(1.0f - factor)));
            return f * colour + (float3(1.0f) - f);
        }
        return float3(1.0f);
    }

    // What the reflection shows: the reflection cube, or a traced ray.
    float3 reflectedLight() const {
        const float3 rv = pxs::reflect(view_, normal_);
        if (p_.useReflectionCubeIBL) {
            return lookupCube(p_.reflectionCubeIBL, p_.globalIBLMatrix, rv).xyz();
        }
        return svc::traceGlossyReflection(
            sv_, point_, rv, p_.surfaceRoughness,
            maxComponent(reflectivity_ * p_.globalIBLContrastValue * keepMask_));
    }

    const Params& p_;
    IRenderServices* sv_;
    ShadingState* st_;
    const Hit& hit_;
    const float3 view_;   // the ray direction
    const float3 point_;  // the hit position
    float3 mask_;
    float3 keepMask_;  // 1 - mask
    float3 transparency_;
    float3 diffuse_;
    float3 specular_;
    float3 normal_;  // after the normal map
    LightSums lights_;
    float3 specularIBL_;
    float3 reflectivity_;
    float3 keepReflectivity_;  // 1 - reflectivity, before total internal reflection
    float3 highlight_;         // the first highlight
    float3 occlusion_{1.0f};
    float3 colour_;
    float alpha_ = 1.0f;
    bool totalInternalReflection_ = false;
};

}  // namespace

void TamberLegacy::shade(IRenderServices* sv, ShadingState* st) {
    const Params& p = params;
    const float3 tint = shadowTint(p.shadowColor, p.shadowIntensity);
    const Hit hit(p, *st, true);
    if (p.showNormalsOnly) {
        st->outColor = normalsView(p, *st, hit);
        return;
    }
    float3 mask = hit.mask(true);
    if (mask == float3(1.0f)) {
        st->skipHit = 1;
        return;
    }
    float3 transparency = hit.transparency();
    if (p.transparencyBlocksHighlights) {
        mask = foldIntoMask(mask, transparency);
        transparency = float3(0.0f);
    }

    LegacyShade s(p, sv, st, hit, mask, transparency);
    s.lightDiffuse(tint);
    s.transmit();
    s.addFirstHighlight();
    if (!s.occlude()) return;
    s.addReflection();
    s.addSecondHighlight();
    s.finish();
}

void TamberLegacy::shadowTransmission(IRenderServices*, ShadingState* st) {
    const Params& p = params;
    const Hit hit(p, *st, false);

    float3 M = hit.mask(false);
    if (M == float3(1.0f)) {
        st->outTransmission = float3(1.0f);
        return;
    }
    float3 T = hit.transparency();
    if (T == float3(0.0f) && M == float3(0.0f)) {
        st->outTransmission = float3(0.0f);
        return;
    }
    if (p.transparencyBlocksHighlights) {
        M = foldIntoMask(M, T);
        T = float3(0.0f);
        if (M == float3(1.0f)) {
            st->outTransmission = float3(1.0f);
            return;
        }
    }

    float3 R(0.0f);
    if (T != float3(0.0f)) {
        R = hit.reflectivity(hit.normalMap(hit.n), false);
        if (R.x < 0.999f || R.y < 0.999f || R.z < 0.999f) {
            const float h = p.simulatedThickness;
            if (h != 0.0f) {
                T *= hit.absorption(h);
            } else if (dot(hit.n, st->rayDirection) > 0.0f) {  // leaving the object
                T *= hit.absorption(length(st->rayOrigin - st->position));
            }
        }
    }
    st->outTransmission =
        float3(1.0f) - (float3(1.0f) - M) * (float3(1.0f) - T * (float3(1.0f) - R));
}

namespace {

enum class Lobe { kMask, kMirror, kDiffuse, kTransmission };

// The random choice between the continuation events, with the quantities the
// chosen one needs. Later quantities are computed only when the choice gets
// that far.
struct LobeChoice {
    Lobe lobe;
    float3 mask;
    float maxMask = 0.0f;
    float3 reflectivity;
    float3 transparency;
    float maxTransparency = 0.0f;
};

LobeChoice chooseLobe(const Params& p, IRenderServices* sv, const ShadingState& st,
                      const Hit& hit) {
    LobeChoice c;
    const float u = sv->random();
    c.mask = hit.mask(true);
    if (p.transparencyBlocksHighlights) c.mask = foldIntoMask(c.mask, hit.transparency());
    c.maxMask = maxComponent(c.mask);
    if (u < c.maxMask) {
        c.lobe = Lobe::kMask;
        return c;
    }
    c.reflectivity = hit.reflectivity(st.normal, true);
    const float rM = maxComponent(c.reflectivity) * (1.0f - c.maxMask);
    const float p1 = c.maxMask + rM;
    if (u < p1) {
        c.lobe = Lobe::kMirror;
        return c;
    }
    if (!p.transparencyBlocksHighlights) c.transparency = hit.transparency();
    c.maxTransparency = maxComponent(c.transparency);
    const bool diffuse = (1.0f - c.maxMask - rM) * c.maxTransparency + p1 <= u;
    c.lobe = diffuse ? Lobe::kDiffuse : Lobe::kTransmission;
    return c;
}

}  // namespace

void TamberLegacy::evaluateBsdf(IRenderServices* sv, ShadingState* st) {
    const Hit hit(params, *st, true);
    const LobeChoice c = chooseLobe(params, sv, *st, hit);
    const float sigma = signf(dot(st->geometricNormal, st->rayDirection));
    switch (c.lobe) {
        case Lobe::kMirror:
            st->sampleValue = float3(0.0f);
            st->sampleCosine = -sigma * dot(st->normal, st->sampleDirection);
            break;
        case Lobe::kDiffuse:
            st->sampleCosine = -sigma * dot(st->normal, st->sampleDirection);
            st->sampleValue = hit.diffuse() * kInvPi;
            break;
        default:  // the mask and the straight transmission have no value here
            st->skipHit = 1;
            break;
    }
}

void TamberLegacy::sampleBsdf(IRenderServices* sv, ShadingState* st) {
    const Hit hit(params, *st, true);
    const LobeChoice c = chooseLobe(params, sv, *st, hit);
    const float3 I = st->rayDirection;
    const float sigma = signf(dot(st->geometricNormal, I));
    const float3 n = -sigma * st->normal;  // towards the viewer

    // A straight or mirror event of unit weight with value `value`.
    auto deterministic = [st](float3 direction, SampleKind kind, float3 value) {
        writeSample(st, direction, value, 1.0f, 1.0f, kind);
    };

    switch (c.lobe) {
        case Lobe::kMask:
            // A grey mask drops the surface for this path; a coloured one tints it.
            if (isGrey(c.mask)) {
                st->skipHit = 1;
                return;
            }
            deterministic(I, kSampleSmoothTransmission, c.mask / c.maxMask * kInvPi);
            return;
        case Lobe::kMirror:
            if (!st->allowLobe[2]) {
                st->sampleKind = kSampleNone;
                return;
            }
            deterministic(reflect(I, n), kSampleSingleLobe,
                          c.reflectivity / maxComponent(c.reflectivity) * kInvPi);
            return;
        case Lobe::kDiffuse: {
            if (!st->allowLobe[0]) {
                st->sampleKind = kSampleNone;
                return;
            }
            const float3 dc = hit.diffuse();
            float2 u;
            sv->random2(&u);
            const float3 d = cosineHemispherePolar(u.x, u.y);
            st->sampleDirection = fromFrame(frameAround(n), d);
            st->sampleValue = dc * kInvPi;
            st->sampleCosine = d.z;
            st->sampleWeight = 3.141593f / d.z;
            st->sampleKind = kSampleDiffuse;
            return;
        }
        case Lobe::kTransmission:
            if (isGrey(c.transparency)) {
                st->skipHit = 1;
                return;
            }
            if (!st->allowLobe[2]) {
                st->sampleKind = kSampleNone;
                return;
            }
            deterministic(I, kSampleSmoothTransmission,
                          c.transparency / c.maxTransparency * kInvPi);
            return;
    }
}

}  // namespace pxs

VESPER_EXPORT_SHADER(TamberLegacy)

#include "host/reference/services.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "host/reference/limits.h"
#include "host/reference/noise.h"
#include "host/slots.h"

namespace vref {

namespace {

constexpr float kWeightCutoff = 1e-4f;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

pxs::matrix4 toMatrix(const Affine& a) {
    return {{a.r0.x, a.r0.y, a.r0.z, 0.0f, a.r1.x, a.r1.y, a.r1.z, 0.0f, a.r2.x, a.r2.y, a.r2.z,
             0.0f, a.t.x, a.t.y, a.t.z, 1.0f}};
}

// Keeps a shader's answer usable: NaN and negative transmission block.
float3 sanitiseTransmission(float3 t) {
    auto c = [](float x) { return x > 0.0f ? (x < 1e30f ? x : 1e30f) : 0.0f; };
    return {c(t.x), c(t.y), c(t.z)};
}

}  // namespace

RenderServices::RenderServices(const Scene& scene, const RenderSettings& settings,
                               const EnvironmentMap* environmentMap)
    : scene_(scene),
      settings_(settings),
      environmentMap_(environmentMap),
      nodeBuffers_(kMaxNesting) {
    for (auto& b : nodeBuffers_) b.reserve(scene.lights.size());
    // Everything of a state that does not depend on the hit, once.
    std::memset(static_cast<void*>(&base_), 0, sizeof base_);
    base_.imageHeight = settings_.height;
    base_.mediumIor = 1.0f;
    base_.outsideIor = 1.0f;
    base_.matrixA = toMatrix(Affine());
    base_.matrixB = toMatrix(Affine());
    base_.rayDepthLimit = settings_.maxDepth;
    base_.outAlpha = 1.0f;
    std::memset(base_.allowLobe, 1, sizeof base_.allowLobe);
    base_.lightSample.lightTransmission = float3(1.0f);
    for (size_t i = 0; i < scene.objectCount(); ++i) {
        objectMatrices_.push_back(
            {toMatrix(scene.object(i).toObject), toMatrix(scene.object(i).toWorld)});
    }
    attributeSlots_.resize(scene.materialCount());
    for (size_t m = 0; m < scene.materialCount(); ++m) {
        for (const Attribute& a : scene.material(static_cast<int>(m)).registry.attributes) {
            size_t size = a.kind == pxs::kAttributeFloat2   ? 8
                          : a.kind == pxs::kAttributeFloat3 ? 12
                          : a.kind == pxs::kAttributeFloat4 ? 16
                                                            : 0;
            if (size == 0 || a.offset < 0 || a.offset + size > pxs::kAttributeBytes) continue;
            AttributeSource source = a.name == "uv" || a.name == "uv1" ? AttributeSource::Uv
                                     : a.name == "tangent"             ? AttributeSource::Tangent
                                     : a.name == "bitangent"           ? AttributeSource::Bitangent
                                     : a.name == "vtxcolor"            ? AttributeSource::Color
                                                                       : AttributeSource::None;
            attributeSlots_[m].push_back({a.offset, static_cast<int>(size), source});
        }
    }
}

void RenderServices::beginSample(int x, int y, int sample) {
    sampler_ = Sampler(settings_.seed, static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                       static_cast<uint32_t>(sample));
    raster_ = float2(x + 0.5f, y + 0.5f);
    ctx_ = Context();
}

RenderServices::HitScope::HitScope(RenderServices& services, int depth, int32_t rayType)
    : services_(services), saved_(services.ctx_) {
    services.ctx_.depth = depth;
    services.ctx_.rayType = rayType;
    ++services.nesting_;
}

RenderServices::HitScope::~HitScope() {
    --services_.nesting_;
    services_.ctx_ = saved_;
}

bool RenderServices::intersect(float3 origin, float3 direction, float tnear, Hit* hit) {
    ++stats_.rays;
    return scene_.intersect(origin, direction, tnear, kInfinity, hit);
}

bool RenderServices::occluded(float3 origin, float3 direction) {
    ++stats_.rays;
    return scene_.occluded(origin, direction, offset(origin), kInfinity);
}

void RenderServices::evaluateBsdf(const ShaderInstance& material, pxs::ShadingState* st) {
    vhost::evaluateBsdf(material.object, this, st);
    ++stats_.shadeCalls;
}

void RenderServices::sampleBsdf(const ShaderInstance& material, pxs::ShadingState* st) {
    vhost::sampleBsdf(material.object, this, st);
    ++stats_.shadeCalls;
}

void RenderServices::fillBase(pxs::ShadingState* st, float3 origin, float3 direction,
                              int32_t rayType, int depth) const {
    std::memcpy(static_cast<void*>(st), &base_, sizeof *st);
    st->rayOrigin = origin;
    st->rayDirection = direction;
    st->pixelPosition = raster_;
    st->rayType = rayType;
    st->rayDepth = depth;
}

void RenderServices::fillSurface(pxs::ShadingState* st, const Hit& hit, const SurfacePoint& sp,
                                 float3 origin, float3 direction, int32_t rayType,
                                 int depth) const {
    fillBase(st, origin, direction, rayType, depth);
    st->position = sp.position;
    st->normal = sp.normal;
    st->geometricNormal = sp.geometricNormal;
    st->mappingPoint = sp.objectPosition;
    st->mappingNormal = sp.objectNormal;
    st->matrixA = objectMatrices_[hit.object].toObject;
    st->matrixB = objectMatrices_[hit.object].toWorld;
    for (const AttributeSlot& a : attributeSlots_[scene_.object(hit.object).material]) {
        float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        switch (a.source) {
            case AttributeSource::Uv:
                v[0] = sp.uv.x, v[1] = sp.uv.y;
                break;
            case AttributeSource::Tangent:
                v[0] = sp.tangent.x, v[1] = sp.tangent.y, v[2] = sp.tangent.z;
                break;
            case AttributeSource::Bitangent:
                v[0] = sp.bitangent.x, v[1] = sp.bitangent.y, v[2] = sp.bitangent.z;
                break;
            case AttributeSource::Color:
                v[0] = sp.color.x, v[1] = sp.color.y, v[2] = sp.color.z, v[3] = sp.color.w;
                break;
            case AttributeSource::None:
                break;
        }
        // Fixed sizes, so that each copy is a few moves and not a call.
        unsigned char* to = st->attributes + a.offset;
        if (a.size == 8) {
            std::memcpy(to, v, 8);
        } else if (a.size == 12) {
            std::memcpy(to, v, 12);
        } else {
            std::memcpy(to, v, 16);
        }
    }
}

Radiance RenderServices::environment(int32_t rayType, float3 direction, int depth) {
    const ShaderInstance* env = scene_.environment;
    if (!env) {
        bool seen = rayType == pxs::kRayCamera || rayType == pxs::kRayContinuation;
        return {scene_.background, seen ? 0.0f : 1.0f};
    }
    pxs::ShadingState st;
    fillBase(&st, float3(), direction, rayType, depth);
    ++nesting_;
    vhost::shade(env->object, this, &st);
    --nesting_;
    ++stats_.shadeCalls;
    return {st.outColor, st.outAlpha};
}

Radiance RenderServices::trace(int32_t rayType, float3 origin, float3 direction, int depth) {
    if (nesting_ >= kMaxNesting) return {float3(), 1.0f};
    float3 dir = normalize(direction);
    if (isZero(dir) || !isFinite(dir) || !isFinite(origin)) return {float3(), 1.0f};
    if (depth >= settings_.maxDepth) return environment(rayType, dir, depth);
    float tnear = depth == 0 && rayType == pxs::kRayCamera ? 0.0f : offset(origin);
    Hit hit;
    if (!intersect(origin, dir, tnear, &hit)) return environment(rayType, dir, depth);
    return shadeHit(hit, rayType, origin, dir, depth, tnear);
}

Radiance RenderServices::shadeHit(const Hit& first, int32_t rayType, float3 origin,
                                  float3 direction, int depth, float tnear) {
    Hit hit = first;
    for (int skips = 0; skips < kMaxSkips; ++skips) {
        const Object& object = scene_.object(hit.object);
        const ShaderInstance& material = scene_.material(object.material);
        SurfacePoint sp = scene_.surface(hit, origin, direction);
        pxs::ShadingState st;
        fillSurface(&st, hit, sp, origin, direction, rayType, depth);
        {
            HitScope scope(*this, depth, rayType);
            vhost::shade(material.object, this, &st);
        }
        ++stats_.shadeCalls;
        if (!st.skipHit) return {st.outColor, st.outAlpha};
        // The surface is not there for this ray: go on behind it.
        tnear = hit.t + offset(st.position);
        if (!intersect(origin, direction, tnear, &hit)) {
            return environment(rayType, direction, depth);
        }
    }
    return {float3(), 1.0f};
}

float3 RenderServices::transmission(float3 from, float3 to, int32_t rayType) {
    float3 d = to - from;
    float dist = length(d);
    float3 t(1.0f);
    float tnear = offset(from), tfar = dist - offset(to);
    if (!(tfar > tnear) || !std::isfinite(dist)) return t;
    float3 dir = d / dist;
    if (!scene_.hasTransmitters()) {
        // Every surface blocks: any hit will do, and it is the cheaper query.
        ++stats_.rays;
        return scene_.occluded(from, dir, tnear, tfar) ? float3() : t;
    }
    float3 previous = from;
    for (int i = 0; i < kMaxShadowHits; ++i) {
        Hit hit;
        ++stats_.rays;
        if (!scene_.intersect(from, dir, tnear, tfar, &hit)) return t;
        const Object& object = scene_.object(hit.object);
        const ShaderInstance& material = scene_.material(object.material);
        if (!material.has(pxs::kCapShadowTransmission)) return float3();
        SurfacePoint sp = scene_.surface(hit, from, dir);
        pxs::ShadingState st;
        // The origin is the previous surface on the way, so that a shader can tell
        // how far the ray travelled inside it.
        fillSurface(&st, hit, sp, previous, dir, rayType, ctx_.depth);
        st.outTransmission = float3();
        ++nesting_;
        vhost::shadowTransmission(material.object, this, &st);
        --nesting_;
        ++stats_.shadeCalls;
        t *= sanitiseTransmission(st.outTransmission);
        if (!(maxComponent(t) > 0.0f)) return float3();
        previous = sp.position;
        tnear = hit.t + offset(sp.position);
    }
    return t;
}

// A light shader's colour and transmission at `p`, from its own shade call.
void RenderServices::shadeLight(const Light& light, float3 p, float3 n, float3 l, float d,
                                float3* color, float3* trans) {
    pxs::ShadingState st;
    fillBase(&st, light.position, -l, kRayShadow, ctx_.depth);
    st.position = p;
    st.normal = n;
    pxs::LightSample& ls = st.lightSample;
    ls.lightPosition = light.position;
    // From the light towards the point, so that it lines up with the spot axis.
    ls.lightDirection = -l;
    ls.lightAxis = light.axis;
    ls.lightDistance = d;
    ls.lightColor = float3();
    ls.lightTransmission = float3(1.0f);
    ++nesting_;
    vhost::shade(light.shader->object, this, &st);
    --nesting_;
    ++stats_.shadeCalls;
    *color = ls.lightColor;
    *trans = sanitiseTransmission(ls.lightTransmission);
}

// A host light's colour at `p` and what lets it through; false outside a
// spot's cone.
bool RenderServices::hostLight(const Light& light, float3 p, float3 l, float d, float3* color,
                               float3* trans) {
    if (!hostLightColor(light, l, d, color)) return false;
    if (maxComponent(*color) > 0.0f && light.castShadows) {
        *trans = transmission(p, light.position, kRayShadow);
    }
    return true;
}

bool RenderServices::lightArrival(const Light& light, float3 p, float3 n, float3 l, float d,
                                  float3* color, float3* shadow) {
    *shadow = float3(1.0f);
    if (light.shader) {
        shadeLight(light, p, n, l, d, color, shadow);
    } else if (!hostLight(light, p, l, d, color, shadow)) {
        return false;
    }
    return maxComponent(*color) > 0.0f && isFinite(*color);
}

const pxs::LightNode* RenderServices::getLights(int32_t, const float3* position,
                                                const float3* normal) {
    if (nesting_ < 0 || nesting_ >= kMaxNesting) return nullptr;
    std::vector<pxs::LightNode>& nodes = nodeBuffers_[nesting_];
    nodes.clear();
    float3 p = *position;
    float3 n = normalize(*normal);
    for (const Light& light : scene_.lights) {
        float3 toLight = light.position - p;
        float d = length(toLight);
        if (!(d > 0.0f) || !std::isfinite(d)) continue;
        float3 l = toLight / d;
        float3 color, trans;
        if (!lightArrival(light, p, n, l, d, &color, &trans)) continue;
        pxs::LightNode node;
        std::memset(static_cast<void*>(&node), 0, sizeof node);
        node.direction = l;
        node.lightFactor = isZero(n) ? 1.0f : std::fabs(dot(n, l));
        node.lightContribution = color * trans;
        node.lightColor = color;
        node.lightTransmission = trans;
        node.type = pxs::kLightTinted;
        nodes.push_back(node);
    }
    for (size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
    return nodes.empty() ? nullptr : nodes.data();
}

float3* RenderServices::ambientLight(float3* out, const float3*, const float3*) {
    *out = scene_.ambient;
    return out;
}

float3* RenderServices::traceShadow(float3* out, const float3* from, const float3* to) {
    *out = transmission(*from, *to, kRayShadow);
    return out;
}

float RenderServices::offset(float3 p) {
    // Relative to the coordinates' magnitude: the spacing of floats there.
    float m = std::max(std::fabs(p.x), std::max(std::fabs(p.y), std::fabs(p.z)));
    return 1e-4f * std::max(1.0f, std::isfinite(m) ? m : 1.0f);
}

bool RenderServices::worthTracing(float weight) const {
    return weight > kWeightCutoff;
}

int32_t RenderServices::throughType() const {
    return ctx_.rayType == pxs::kRayCamera ? pxs::kRayContinuation : ctx_.rayType;
}

float3* RenderServices::traceRay(float3* out, int32_t rayType, const float3* origin,
                                 const float3* direction, float weight) {
    *out =
        worthTracing(weight) ? trace(rayType, *origin, *direction, ctx_.depth + 1).color : float3();
    return out;
}

float3* RenderServices::traceReflection(float3* out, const float3* origin, const float3* direction,
                                        float weight) {
    *out = worthTracing(weight)
               ? trace(pxs::kRayReflection, *origin, *direction, ctx_.depth + 1).color
               : float3();
    return out;
}

float4* RenderServices::traceTransmission(float4* out, const float3* origin,
                                          const float3* direction, float weight) {
    if (!worthTracing(weight)) {
        out->x = out->y = out->z = 0.0f;
        return out;
    }
    Radiance r = trace(throughType(), *origin, *direction, ctx_.depth + 1);
    *out = float4(r.color, r.alpha);
    return out;
}

float3 RenderServices::glossyDirection(float3 direction, float3 axisU, float gu, float gv) {
    float3 d = normalize(direction);
    gu = std::isfinite(gu) ? std::min(std::max(gu, 0.0f), 2.0f) : 0.0f;
    gv = std::isfinite(gv) ? std::min(std::max(gv, 0.0f), 2.0f) : 0.0f;
    if (gu == 0.0f && gv == 0.0f) return d;
    // Tangent axes perpendicular to the direction (any pair when none is usable).
    float3 tu = normalize(axisU - d * dot(axisU, d));
    float3 tv = normalize(cross(d, tu));
    if (isZero(tu) || isZero(tv)) orthonormalBasis(d, &tu, &tv);
    // Gaussian spread of the slope along each axis, of deviation g.
    float u1, u2;
    sampler_.next2(&u1, &u2);
    float r = std::sqrt(-2.0f * std::log(1.0f - u1)) * 0.70710678f;
    float phi = 2.0f * kPi * u2;
    return normalize(d + tu * (gu * r * std::cos(phi)) + tv * (gv * r * std::sin(phi)));
}

float3* RenderServices::traceAnisotropicReflection(float3* out, const float3* origin,
                                                   const float3* direction, const float3* axisU,
                                                   const float3*, float glossinessU,
                                                   float glossinessV, float weight) {
    if (!worthTracing(weight)) {
        *out = float3();
        return out;
    }
    // The second axis is the first turned about the direction; only the first is needed.
    float3 d = glossyDirection(*direction, *axisU, glossinessU, glossinessV);
    *out = trace(pxs::kRayReflection, *origin, d, ctx_.depth + 1).color;
    return out;
}

float3* RenderServices::traceGlossyReflection(float3* out, const float3* origin,
                                              const float3* direction, float glossiness,
                                              float weight) {
    if (!worthTracing(weight)) {
        *out = float3();
        return out;
    }
    float3 d = glossyDirection(*direction, float3(), glossiness, glossiness);
    *out = trace(pxs::kRayReflection, *origin, d, ctx_.depth + 1).color;
    return out;
}

float4* RenderServices::traceGlossyTransmission(float4* out, const float3* origin,
                                                const float3* direction, float glossiness,
                                                float weight) {
    if (!worthTracing(weight)) {
        out->x = out->y = out->z = 0.0f;
        return out;
    }
    float3 d = glossyDirection(*direction, float3(), glossiness, glossiness);
    Radiance r = trace(throughType(), *origin, d, ctx_.depth + 1);
    *out = float4(r.color, r.alpha);
    return out;
}

float3* RenderServices::ambientOcclusion(float3* out, const float3* position, const float3* normal,
                                         float) {
    float3 n = normalize(*normal);
    int k = settings_.aoSamples;
    if (k <= 0 || isZero(n) || !(settings_.aoDistance > 0.0f)) {
        *out = float3(1.0f);
        return out;
    }
    float3 sum;
    for (int i = 0; i < k; ++i) {
        float u1, u2;
        sampler_.next2(&u1, &u2);
        float3 d = cosineHemisphere(n, u1, u2);
        sum += transmission(*position, *position + d * settings_.aoDistance, pxs::kRayOcclusion);
    }
    *out = sum / static_cast<float>(k);
    return out;
}

float3* RenderServices::globalIllumination(float3* out, const float3* position,
                                           const float3* direction, float weight) {
    *out = float3();
    float3 n = normalize(*direction);
    int k = settings_.giSamples;
    if (ctx_.inGather || k <= 0 || isZero(n) || !worthTracing(weight) ||
        ctx_.depth + 1 >= settings_.maxDepth) {
        return out;
    }
    Context saved = ctx_;
    ctx_.inGather = true;
    float3 sum;
    for (int i = 0; i < k; ++i) {
        float u1, u2;
        sampler_.next2(&u1, &u2);
        sum +=
            trace(pxs::kRayGather, *position, cosineHemisphere(n, u1, u2), saved.depth + 1).color;
    }
    ctx_ = saved;
    *out = sum / static_cast<float>(k);
    return out;
}

float RenderServices::random() {
    return sampler_.next();
}

float2* RenderServices::random2(float2* out) {
    float a, b;
    sampler_.next2(&a, &b);
    *out = float2(a, b);
    return out;
}

float RenderServices::noise3(const float* p) {
    return vref::noise3(p[0], p[1], p[2], p[3]);
}
float RenderServices::noise3b(const float3* p) {
    return vref::noise3b(p->x, p->y, p->z);
}
float RenderServices::noise2(const float2* p) {
    return vref::noise2(p->x, p->y);
}
float RenderServices::noise1(float x) {
    return vref::noise1(x);
}
float RenderServices::latticeNoise(const float3* p) {
    return vref::latticeNoise(p->x, p->y, p->z);
}
float3* RenderServices::cellJitter(float3* out, const float3* cell) {
    *out = vref::cellJitter(cell->x, cell->y, cell->z);
    return out;
}

}  // namespace vref

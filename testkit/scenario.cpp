#include "testkit/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/slots.h"
#include "testkit/state_builder.h"

namespace vtest {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ParamType;
using pxs::ShadingState;

namespace {

float3 unitVector(Entropy& e) {
    // Uniform on the sphere from two numbers; never the zero vector.
    float z = e.range(-1.0f, 1.0f);
    float a = e.range(0.0f, 6.2831853f);
    float r = std::sqrt(std::max(0.0f, 1.0f - z * z));
    return float3(r * std::cos(a), r * std::sin(a), z);
}

float dot3(float3 a, float3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

float3 scaled(float3 v, float s) {
    return float3(v.x * s, v.y * s, v.z * s);
}

float3 added(float3 a, float3 b) {
    return float3(a.x + b.x, a.y + b.y, a.z + b.z);
}

float3 unitOrZ(float3 v) {
    float l = std::sqrt(dot3(v, v));
    return l > 1e-6f ? scaled(v, 1.0f / l) : float3(0.0f, 0.0f, 1.0f);
}

// A rotation matrix (row order) from a random unit quaternion.
void rotation(Entropy& e, float m[9]) {
    float q[4];
    float len = 0.0f;
    do {
        len = 0.0f;
        for (float& c : q) {
            c = e.range(-1.0f, 1.0f);
            len += c * c;
        }
    } while (len < 1e-3f && !e.exhausted());
    if (len < 1e-3f) q[0] = 1.0f, q[1] = q[2] = q[3] = 0.0f, len = 1.0f;
    float s = 1.0f / std::sqrt(len);
    float w = q[0] * s, x = q[1] * s, y = q[2] * s, z = q[3] * s;
    const float r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y + w * z),     2 * (x * z - w * y),
                        2 * (x * y - w * z),     1 - 2 * (x * x + z * z), 2 * (y * z + w * x),
                        2 * (x * z + w * y),     2 * (y * z - w * x),     1 - 2 * (x * x + y * y)};
    std::memcpy(m, r, sizeof r);
}

pxs::matrix4 matrix4From(Entropy& e) {
    pxs::matrix4 out = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    if (e.pick(2) == 0) return out;
    float r[9];
    rotation(e, r);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) out.m[row * 4 + col] = r[row * 3 + col];
    }
    return out;
}

// Values an artist types: mostly the usual [0, 1], sometimes beyond it, negative
// or exactly at an edge.
float plausibleFloat(Entropy& e) {
    switch (e.pick(8)) {
        case 0:
            return 0.0f;
        case 1:
            return 1.0f;
        case 2:
            return e.range(-2.0f, 0.0f);
        case 3:
            return e.range(1.0f, 8.0f);
        default:
            return e.unit();
    }
}

float valueFloat(Entropy& e, Values values) {
    return values == Values::Any ? e.anyFloat() : plausibleFloat(e);
}

void writeFloats(void* field, int n, Entropy& e, Values values) {
    auto* f = static_cast<float*>(field);
    for (int i = 0; i < n; ++i) f[i] = valueFloat(e, values);
}

void writeMatrix(void* field, int dim, Entropy& e, Values values) {
    auto* f = static_cast<float*>(field);
    if (values == Values::Any && e.pick(4) == 0) {
        for (int i = 0; i < dim * dim; ++i) f[i] = e.anyFloat();
        return;
    }
    if (dim == 4) {
        pxs::matrix4 m = matrix4From(e);
        std::memcpy(f, m.m, sizeof m.m);
        return;
    }
    float r[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (e.pick(2)) rotation(e, r);
    std::memcpy(f, r, sizeof r);
}

void putBytes(ShadingState& st, size_t offset, const void* v, size_t n) {
    std::memcpy(reinterpret_cast<uint8_t*>(&st) + offset, v, n);
}

// The fields a host sets before every call: the inputs, without sampleDirection
// (an input of evaluateBsdf only) and the attribute block (set per declaration).
bool setBeforeEveryCall(const pxs::StateField& f) {
    return (f.access & pxs::kFieldIn) && f.offset != offsetof(ShadingState, sampleDirection) &&
           f.offset != offsetof(ShadingState, attributes);
}

int32_t attributeSize(int32_t kind) {
    return kind * 4 + 4;  // kinds 1, 2, 3: float2, float3, float4
}

}  // namespace

// ---- Entropy -------------------------------------------------------------------

uint32_t Entropy::bits() {
    if (fromBytes_) {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

uint8_t Entropy::byte() {
    if (!fromBytes_) return static_cast<uint8_t>(bits());
    return used_ < size_ ? data_[used_++] : 0;
}

float Entropy::unit() {
    return static_cast<float>(bits() >> 8) * (1.0f / 16777216.0f);
}

float Entropy::anyFloat() {
    // A third each: raw bits, a special value, an ordinary value.
    switch (pick(3)) {
        case 0: {
            uint32_t b = bits();
            float f;
            std::memcpy(&f, &b, sizeof f);
            return f;
        }
        case 1: {
            static const float kSpecial[] = {0.0f,     -0.0f, 1.0f,   -1.0f,  INFINITY, -INFINITY,
                                             NAN,      1e38f, -1e38f, 1e-38f, 1e-45f,   0.5f,
                                             65536.0f, 1e10f, -1e10f, 2.0f};
            return kSpecial[pick(sizeof kSpecial / sizeof kSpecial[0])];
        }
        default:
            return range(-4.0f, 4.0f);
    }
}

// ---- parameters ----------------------------------------------------------------

vhost::TestTexture* TexturePool::make(Entropy& e, Values values) {
    std::unique_ptr<vhost::TestTexture> t;
    if (e.pick(2) == 0) {
        float4 c(valueFloat(e, values), valueFloat(e, values), valueFloat(e, values),
                 valueFloat(e, values));
        t = std::make_unique<vhost::TestTexture>(c);
    } else {
        // Varies with the coordinates, periodic so any coordinate stays bounded.
        float phase = e.unit();
        t = std::make_unique<vhost::TestTexture>([phase](const float* c) {
            float u = 0.5f + 0.5f * std::sin(6.0f * c[0] + phase);
            float v = 0.5f + 0.5f * std::cos(5.0f * c[1] - phase);
            return float4(u, v, u * v, 0.5f + 0.5f * u);
        });
    }
    t->record = false;
    textures_.push_back(std::move(t));
    return textures_.back().get();
}

void writeParameters(const vhost::RecordingRegistry& registry, Entropy& e, Values values,
                     TexturePool& textures) {
    for (const vhost::Declaration* d : registry.parameters()) {
        switch (d->type) {
            case ParamType::Bool: {
                // The host may store any non-zero byte for true.
                static const uint8_t kBytes[] = {0, 1, 0, 1, 2, 0xFF};
                uint8_t b = values == Values::Any ? e.byte() : kBytes[e.pick(6)];
                std::memcpy(d->field, &b, 1);
                break;
            }
            case ParamType::Int: {
                int32_t v = static_cast<int32_t>(e.pick(14)) - 2;  // selectors and a few beyond
                if (values == Values::Any) {
                    static const int32_t kEdges[] = {INT32_MIN, INT32_MAX, -1, 1 << 20, 1000};
                    v = e.pick(3) == 0 ? static_cast<int32_t>(e.bits())
                                       : (e.pick(2) ? kEdges[e.pick(5)] : v);
                }
                std::memcpy(d->field, &v, sizeof v);
                break;
            }
            case ParamType::Float:
                writeFloats(d->field, 1, e, values);
                break;
            case ParamType::Float2:
                writeFloats(d->field, 2, e, values);
                break;
            case ParamType::Float3:
                writeFloats(d->field, 3, e, values);
                break;
            case ParamType::Float4:
                writeFloats(d->field, 4, e, values);
                break;
            case ParamType::Matrix3:
                writeMatrix(d->field, 3, e, values);
                break;
            case ParamType::Matrix4:
                writeMatrix(d->field, 4, e, values);
                break;
            case ParamType::TextureB:
            case ParamType::Texture2D:
            case ParamType::TextureCube: {
                auto* h = static_cast<pxs::TextureHandle*>(d->field);
                h->object = e.pick(3) == 0 ? nullptr : textures.make(e, values);
                break;
            }
        }
    }
}

std::vector<uint8_t> parameterBytes(const vhost::RecordingRegistry& registry) {
    std::vector<uint8_t> out;
    for (const vhost::Declaration* d : registry.parameters()) {
        size_t n = pxs::paramTypeSize(d->type);
        if (n == sizeof(pxs::TextureHandle)) n = 12;  // bytes 12..15 are the host's
        const auto* b = static_cast<const uint8_t*>(d->field);
        out.insert(out.end(), b, b + n);
    }
    return out;
}

// ---- operations ----------------------------------------------------------------

namespace {

std::vector<Operation> usualOperations(int32_t kind, uint32_t mask) {
    std::vector<Operation> ops;
    switch (kind) {
        case pxs::kKindMaterial:
            ops.push_back({vhost::kSlotShade, "shade", {"outColor", "outAlpha", "skipHit"}});
            if (mask & pxs::kCapShadowTransmission) {
                ops.push_back(
                    {vhost::kSlotShadowTransmission, "shadowTransmission", {"outTransmission"}});
            }
            if (mask & pxs::kCapEvaluateBsdf) {
                ops.push_back(
                    {vhost::kSlotEvaluateBsdf, "evaluateBsdf", {"sampleValue", "sampleCosine"}});
            }
            if (mask & pxs::kCapSampleBsdf) {
                // outsideIor: the medium a refracted continuation enters.
                ops.push_back({vhost::kSlotSampleBsdf,
                               "sampleBsdf",
                               {"sampleDirection", "sampleValue", "sampleCosine", "sampleWeight",
                                "sampleKind", "outsideIor"}});
            }
            break;
        case pxs::kKindLight:
            ops.push_back({vhost::kSlotShade, "shade", {"lightColor", "lightTransmission"}});
            break;
        case pxs::kKindEnvironment:
            ops.push_back({vhost::kSlotShade, "shade", {"outColor", "outAlpha"}});
            break;
        default:
            break;
    }
    return ops;
}

// Writes a class's own description adds to an operation's usual fields.
struct ExtraWrite {
    const char* className;
    int slot;
    const char* field;
};
const ExtraWrite kExtraWrites[] = {
    // The path through a partial mask or the transmission lobe skips the hit.
    {"TamberLegacy", vhost::kSlotEvaluateBsdf, "skipHit"},
    {"TamberLegacy", vhost::kSlotSampleBsdf, "skipHit"},
};

}  // namespace

std::vector<Operation> announcedOperations(int32_t kind, uint32_t mask,
                                           const std::string& className) {
    std::vector<Operation> ops = usualOperations(kind, mask);
    for (Operation& op : ops) {
        for (const ExtraWrite& x : kExtraWrites) {
            if (className == x.className && op.slot == x.slot) op.writes.push_back(x.field);
        }
    }
    return ops;
}

std::vector<std::string> forbiddenWrites(const Operation& op, const ShadingState& before,
                                         const ShadingState& after) {
    std::vector<std::string> out;
    for (const std::string& f : vhost::changedFields(before, after)) {
        if (std::find(op.writes.begin(), op.writes.end(), f) == op.writes.end()) out.push_back(f);
    }
    return out;
}

// ---- states --------------------------------------------------------------------

ShadingState makeState(const vhost::RecordingRegistry& registry, int situation, Entropy& e,
                       Values values, uint8_t canary) {
    static const int32_t kRayTypes[] = {pxs::kRayCamera, pxs::kRayReflection, pxs::kRayContinuation,
                                        pxs::kRayOcclusion, pxs::kRayGather};
    situation = ((situation % kSituations) + kSituations) % kSituations;
    const int facing = (situation / 5) % 3;
    const int depthCase = situation / 15;

    ShadingState st;
    std::memset(static_cast<void*>(&st), canary, sizeof st);

    // The hit: a random frame, the shading normal a little off the geometric one.
    float3 ng = unitVector(e);
    float3 d;
    if (facing == 2) {
        // Grazing: the side test dot(d, ng) is exactly 0, so ng lies on an axis and
        // d in the plane of the other two.
        int axis = static_cast<int>(e.pick(3));
        float a = e.range(0.0f, 6.2831853f);
        float c = std::cos(a), s = std::sin(a);
        ng = float3(0.0f);
        ng[axis] = e.pick(2) ? 1.0f : -1.0f;
        d[(axis + 1) % 3] = c;
        d[(axis + 2) % 3] = s;
        d[axis] = 0.0f;
    } else {
        float3 w = unitVector(e);
        if (dot3(w, ng) > 0.0f) w = scaled(w, -1.0f);
        if (dot3(w, ng) > -0.05f) w = unitOrZ(added(w, scaled(ng, -0.5f)));
        d = facing == 0 ? w : scaled(w, -1.0f);  // back: the ray runs along ng
    }
    float3 n = e.pick(2) ? ng : unitOrZ(added(ng, scaled(unitVector(e), 0.2f)));
    float3 p(e.range(-10.0f, 10.0f), e.range(-10.0f, 10.0f), e.range(-10.0f, 10.0f));
    // A unit vector in the tangent plane, for tangent attributes.
    float3 t = unitVector(e);
    t = added(t, scaled(ng, -dot3(t, ng)));
    t = dot3(t, t) < 1e-6f ? float3(ng.z, ng.x, ng.y) : unitOrZ(t);
    float dist = e.range(0.1f, 50.0f);
    st.rayOrigin = added(p, scaled(d, -dist));
    st.rayDirection = d;
    st.position = p;
    st.normal = n;
    st.geometricNormal = ng;
    st.mappingPoint = e.pick(2) ? p : scaled(p, 0.37f);
    st.mappingNormal = ng;
    st.pixelPosition = float2(e.range(0.0f, 640.0f), e.range(0.0f, 480.0f));
    static const int32_t kHeights[] = {480, 1, 0, 2160};
    st.imageHeight = kHeights[e.pick(4)];
    static const float kIors[] = {1.0f, 1.0f, 1.5f, 1.33f, 2.4f};
    st.mediumIor = kIors[e.pick(5)];
    st.outsideIor = kIors[e.pick(5)];
    st.matrixA = matrix4From(e);
    st.matrixB = matrix4From(e);
    st.rayType = kRayTypes[situation % 5];
    st.rayDepthLimit = static_cast<int32_t>(e.pick(6));
    st.rayDepth = st.rayDepthLimit + (depthCase == 0 ? -1 - static_cast<int32_t>(e.pick(3))
                                                     : (depthCase == 1 ? 0 : 1));
    static const uint8_t kLobes[][6] = {{1, 1, 1, 1, 1, 1}, {1, 1, 1, 0, 0, 0}, {0, 0, 0, 1, 1, 1},
                                        {0, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 1, 0}, {1, 0, 0, 0, 0, 1}};
    std::memcpy(st.allowLobe, kLobes[e.pick(6)], 6);
    // The light: near or far, on the axis or off it.
    float3 l = unitVector(e);
    float ld = e.pick(8) == 0 ? 0.0f : e.range(0.01f, 40.0f);
    st.lightSample.lightPosition = added(p, scaled(l, ld));
    st.lightSample.lightDirection = l;
    st.lightSample.lightAxis = e.pick(2)
                                   ? scaled(l, -1.0f)
                                   : unitOrZ(added(scaled(l, -1.0f), scaled(unitVector(e), 0.7f)));
    st.lightSample.lightDistance = ld;
    st.sampleDirection = unitVector(e);

    for (const vhost::Declaration* a : registry.attributes()) {
        size_t at = offsetof(ShadingState, attributes) + static_cast<size_t>(a->attributeOffset);
        if (a->attributeOffset < 0 ||
            at + attributeSize(a->attributeKind) >
                offsetof(ShadingState, attributes) + pxs::kAttributeBytes) {
            continue;
        }
        if (a->attributeKind == pxs::kAttributeFloat2) {
            float2 uv(e.range(-1.0f, 2.0f), e.range(-1.0f, 2.0f));
            putBytes(st, at, &uv, sizeof uv);
        } else if (a->attributeKind == pxs::kAttributeFloat3) {
            float3 v = e.pick(2) ? t : unitVector(e);
            putBytes(st, at, &v, sizeof v);
        } else if (a->attributeKind == pxs::kAttributeFloat4) {
            float4 c(e.unit(), e.unit(), e.unit(), e.unit());
            putBytes(st, at, &c, sizeof c);
        }
    }

    if (values == Values::Any) {
        // Any bytes the host might hand over, field by field.
        for (const pxs::StateField& f : pxs::kStateFields) {
            if (!setBeforeEveryCall(f) || e.pick(4) != 0) continue;
            if (f.type != pxs::kFieldFloat) {
                for (size_t i = 0; i < f.size; ++i) {
                    uint8_t b = e.byte();
                    putBytes(st, f.offset + i, &b, 1);
                }
            } else {
                for (size_t i = 0; i < f.size; i += 4) {
                    float v = e.anyFloat();
                    putBytes(st, f.offset + i, &v, 4);
                }
            }
        }
    }
    return st;
}

// ---- services ------------------------------------------------------------------

void configureServices(vhost::TestServices& sv, Entropy& e, Values values) {
    sv.record = false;
    auto colour = [&](float hi) {
        if (values == Values::Any && e.pick(8) == 0) {
            return float3(e.anyFloat(), e.anyFloat(), e.anyFloat());
        }
        return float3(e.range(0.0f, hi), e.range(0.0f, hi), e.range(0.0f, hi));
    };
    std::vector<pxs::LightNode> lights(e.pick(4));
    static const int32_t kTypes[] = {pxs::kLightTinted, 0, pxs::kLightSkip, 2};
    for (pxs::LightNode& l : lights) {
        std::memset(static_cast<void*>(&l), 0, sizeof l);
        l.direction = unitVector(e);
        l.lightFactor = e.unit();
        l.lightContribution = colour(2.0f);
        l.lightColor = colour(2.0f);
        l.lightTransmission = colour(1.0f);
        l.type = kTypes[e.pick(4)];
    }
    sv.setLights(std::move(lights));
    sv.ambientLightValue = colour(1.0f);
    sv.shadowValue = e.pick(3) == 0 ? float3(1.0f) : colour(1.0f);
    sv.rayValue = colour(1.0f);
    sv.reflectionValue = colour(1.0f);
    sv.transmissionValue = colour(1.0f);
    if (e.pick(2)) sv.transmissionAlpha = e.unit();
    sv.anisotropicReflectionValue = colour(1.0f);
    sv.glossyReflectionValue = colour(1.0f);
    sv.glossyTransmissionValue = colour(1.0f);
    if (e.pick(2)) sv.glossyTransmissionAlpha = e.unit();
    sv.ambientOcclusionValue = e.pick(3) == 0 ? float3(1.0f) : colour(1.0f);
    sv.globalIlluminationValue = colour(1.0f);
    // Edges of [0, 1) included; the fixed-seed generator continues after these.
    sv.randoms.clear();
    for (int i = 0; i < 24; ++i) {
        switch (e.pick(10)) {
            case 0:
                sv.randoms.push_back(0.0f);
                break;
            case 1:
                sv.randoms.push_back(0.99999994f);
                break;
            default:
                sv.randoms.push_back(e.unit());
                break;
        }
    }
}

}  // namespace vtest

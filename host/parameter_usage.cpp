#include "host/parameter_usage.h"

#include <cmath>
#include <cstring>

#include "host/recording_registry.h"
#include "host/slots.h"

namespace vhost {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using pxs::ShadingState;

namespace {

float3 add(float3 a, float3 b) {
    return float3(a.x + b.x, a.y + b.y, a.z + b.z);
}
float3 scale(float3 v, float s) {
    return float3(v.x * s, v.y * s, v.z * s);
}
float3 unit(float3 v) {
    return scale(v, 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
}
// A direction `theta` degrees off +z, turned `phi` degrees about it.
float3 polar(float theta, float phi) {
    const float t = theta * 0.0174532925f, p = phi * 0.0174532925f;
    return float3(std::sin(t) * std::cos(p), std::sin(t) * std::sin(p), std::cos(t));
}
// A colour that varies smoothly with a direction; dim, so that sums of several
// terms stay below the 1 that clamping materials cut at.
float3 colourOf(float3 d) {
    return float3(0.25f + 0.15f * d.x, 0.25f + 0.15f * d.y, 0.25f + 0.15f * d.z);
}

// A texture whose value varies with its coordinates: 2 for images, 3 for cubes.
class ProbeTexture final : public pxs::ITextureObject {
  public:
    ProbeTexture(int dimensions, float phase) : dimensions_(dimensions), phase_(phase) {}
    void sample(float4* out, const float* c) override {
        const float z = dimensions_ > 2 ? c[2] : 0.0f;
        const float u = 0.5f + 0.4f * std::sin(5.0f * c[0] + 3.0f * z + phase_);
        const float v = 0.5f + 0.4f * std::cos(4.0f * c[1] - 2.0f * z + 2.0f * phase_);
        *out = float4(u, v, 0.5f * (u + v), 0.3f + 0.6f * u * v);
    }

  private:
    int dimensions_;
    float phase_;
};

// Two textures of each dimension, so that a bound texture can be swapped too.
struct ProbeTextures {
    ProbeTexture image[2] = {{2, 0.3f}, {2, 1.9f}};
    ProbeTexture cube[2] = {{3, 0.7f}, {3, 2.6f}};
    pxs::ITextureObject* get(pxs::ParamType type, int which) {
        return type == pxs::ParamType::TextureCube ? &cube[which] : &image[which];
    }
};

// Render services whose answers depend on the question, as a renderer's do:
// traced light on the direction and the gloss, occlusion on the normal, noise
// on the point; a trace whose weight is below a cutoff is not traced (black).
// Random numbers start over for every call, from a place of their fixed
// sequence that differs by state, so that the states reach every lobe.
class ProbeServices final : public pxs::IRenderServices {
  public:
    explicit ProbeServices(ProbeLights lights) : lights_(lights) {}
    void restart(int state) { draws_ = 5 * state; }

    const pxs::LightNode* getLights(int32_t, const float3*, const float3* n) override;
    float3* ambientLight(float3* out, const float3*, const float3*) override {
        return &(*out = float3(0.06f, 0.08f, 0.1f));
    }
    float3* traceShadow(float3* out, const float3*, const float3*) override {
        return &(*out = float3(0.8f, 0.7f, 0.6f));
    }
    float3* traceRay(float3* out, int32_t, const float3*, const float3* d, float w) override {
        return &(*out = traced(*d, w));
    }
    float3* traceReflection(float3* out, const float3*, const float3* d, float w) override {
        return &(*out = traced(*d, w));
    }
    float4* traceTransmission(float4* out, const float3*, const float3* d, float w) override {
        return &(*out = float4(traced(*d, w), 0.75f));
    }
    float3* traceAnisotropicReflection(float3* out, const float3*, const float3* d, const float3*,
                                       const float3*, float gu, float gv, float w) override {
        return &(*out = traced(*d, w, float3(0.1f * gu, 0.1f * gv, 0.0f)));
    }
    float3* traceGlossyReflection(float3* out, const float3*, const float3* d, float g,
                                  float w) override {
        return &(*out = traced(*d, w, float3(0.1f * g)));
    }
    float4* traceGlossyTransmission(float4* out, const float3*, const float3* d, float g,
                                    float w) override {
        return &(*out = float4(traced(*d, w, float3(0.1f * g)), 0.75f));
    }
    float3* ambientOcclusion(float3* out, const float3*, const float3* n, float) override {
        return &(*out = scale(colourOf(*n), 0.8f));
    }
    float3* globalIllumination(float3* out, const float3*, const float3* d, float w) override {
        return &(*out = scale(traced(*d, w), 0.5f));
    }
    float random() override {
        // A fixed sequence spread over [0, 1).
        return std::fmod(0.137f + 0.618034f * static_cast<float>(draws_++), 1.0f);
    }
    float2* random2(float2* out) override {
        const float a = random();
        return &(*out = float2(a, random()));
    }
    float noise3(const float* p) override { return wave(p[0], p[1], p[2] + 0.5f * p[3]); }
    float noise3b(const float3* p) override { return wave(p->x, p->y, p->z); }
    float noise2(const float2* p) override { return wave(p->x, p->y, 0.0f); }
    float noise1(float x) override { return wave(x, 0.0f, 0.0f); }
    // Lattice noise and cell jitter are asked at lattice points: a value per point.
    float latticeNoise(const float3* p) override { return 2.0f * hash(*p, 0) - 1.0f; }
    float3* cellJitter(float3* out, const float3* c) override {
        return &(*out = float3(hash(*c, 1), hash(*c, 2), hash(*c, 3)));
    }

  private:
    static float3 traced(float3 d, float weight, float3 spread = float3()) {
        return weight > 1e-4f ? add(colourOf(d), spread) : float3();
    }
    static float wave(float x, float y, float z) {
        return std::sin(1.7f * x + 2.3f * y + 3.1f * z) * std::cos(0.9f * x - 1.3f * z);
    }
    // In [0, 1), from the bits of a point.
    static float hash(float3 p, uint32_t salt) {
        uint32_t h = 2166136261u ^ salt;
        for (float f : {p.x, p.y, p.z}) {
            uint32_t b;
            std::memcpy(&b, &f, sizeof b);
            h = (h ^ b) * 16777619u;
            h ^= h >> 15;
        }
        return static_cast<float>(h >> 8) * (1.0f / 16777216.0f);
    }

    ProbeLights lights_;
    int draws_ = 0;
    pxs::LightNode nodes_[3];
};

const pxs::LightNode* ProbeServices::getLights(int32_t, const float3*, const float3* n) {
    static const float3 kDirections[] = {float3(0.3f, 0.2f, 0.93f), float3(-0.5f, 0.4f, 0.77f),
                                         float3(0.2f, -0.3f, -0.93f)};
    static const float3 kColours[] = {float3(0.4f, 0.33f, 0.27f), float3(0.17f, 0.23f, 0.37f),
                                      float3(0.3f, 0.3f, 0.2f)};
    const int32_t kTypes[] = {pxs::kLightTinted,
                              lights_ == ProbeLights::AnyType ? 0 : pxs::kLightTinted,
                              pxs::kLightTinted};
    for (int i = 0; i < 3; ++i) {
        pxs::LightNode& l = nodes_[i];
        std::memset(static_cast<void*>(&l), 0, sizeof l);
        l.direction = unit(kDirections[i]);
        l.lightFactor =
            std::fabs(l.direction.x * n->x + l.direction.y * n->y + l.direction.z * n->z);
        l.lightColor = kColours[i];
        l.lightTransmission = float3(0.9f, 0.6f, 0.3f + 0.3f * static_cast<float>(i));
        l.lightContribution =
            float3(l.lightColor.x * l.lightTransmission.x, l.lightColor.y * l.lightTransmission.y,
                   l.lightColor.z * l.lightTransmission.z);
        l.type = kTypes[i];
        l.next = i < 2 ? &nodes_[i + 1] : nullptr;
    }
    return nodes_;
}

// The situations probed: view directions spread over the hemisphere, every
// third ray a secondary one (whose branches differ), every fifth hit from
// behind, and points, uvs and mapping points spread over a few texture periods.
struct View {
    int32_t rayType;
    float incidence, azimuth;  // degrees
    bool fromBehind;
};
View viewOf(int k) {
    static const int32_t kSecondary[] = {pxs::kRayReflection, pxs::kRayGather,
                                         pxs::kRayContinuation};
    const float f = static_cast<float>(k);
    return {k % 3 == 2 ? kSecondary[(k / 3) % 3] : pxs::kRayCamera,
            std::fmod(13.0f + 0.618034f * 80.0f * f, 80.0f), std::fmod(10.0f + 137.5f * f, 360.0f),
            k % 5 == 4};
}

// The declared vertex attributes: uv-like float2s, a tangent frame for the
// float3s in declaration order, a colour for the float4s.
void fillAttributes(ShadingState& st, const RecordingRegistry& registry, int k) {
    int frame = 0;
    for (const Declaration* a : registry.attributes()) {
        if (a->attributeOffset < 0) continue;
        const size_t at = static_cast<size_t>(a->attributeOffset);
        const float f = 0.1f * static_cast<float>(k);
        float v[4] = {std::fmod(0.37f + 2.3f * f, 2.0f), std::fmod(0.61f + 3.7f * f, 2.0f), 0.0f,
                      0.0f};
        size_t n = 2;
        if (a->attributeKind == pxs::kAttributeFloat3) {
            const float3 t = polar(90.0f, 20.0f + 90.0f * static_cast<float>(frame++));
            v[0] = t.x, v[1] = t.y, v[2] = t.z, n = 3;
        } else if (a->attributeKind == pxs::kAttributeFloat4) {
            v[0] = 0.6f, v[1] = 0.45f, v[2] = 0.3f + f, v[3] = 1.0f, n = 4;
        }
        if (at + n * sizeof(float) <= pxs::kAttributeBytes)
            std::memcpy(st.attributes + at, v, n * sizeof(float));
    }
}

ShadingState probeState(const RecordingRegistry& registry, int k) {
    const View view = viewOf(k);
    ShadingState st;
    std::memset(static_cast<void*>(&st), 0, sizeof st);
    const float3 towards = polar(view.incidence, view.azimuth);
    const float fk = static_cast<float>(k);
    st.position = float3(std::fmod(0.73f * fk, 4.0f) - 2.0f, std::fmod(1.37f * fk, 4.0f) - 2.0f,
                         0.3f * fk - 1.0f);
    st.geometricNormal = st.mappingNormal = float3(0.0f, 0.0f, 1.0f);
    // Every fourth shading normal a little off the geometric one (a smoothed mesh).
    st.normal = k % 4 == 1 ? unit(float3(0.12f, -0.07f, 1.0f)) : st.geometricNormal;
    st.rayDirection = view.fromBehind ? towards : scale(towards, -1.0f);
    st.rayOrigin = add(st.position, scale(st.rayDirection, -4.0f));
    st.mappingPoint = add(scale(st.position, 1.3f), float3(0.1f, 0.2f, 0.3f));
    st.pixelPosition = float2(320.0f + 40.0f * fk, 240.0f - 30.0f * fk);
    st.imageHeight = 480;
    st.mediumIor = st.outsideIor = 1.0f;
    for (int i = 0; i < 4; ++i) st.matrixA.m[i * 5] = st.matrixB.m[i * 5] = 1.0f;
    st.rayType = view.rayType;
    st.rayDepth = view.rayType == pxs::kRayCamera ? 0 : 1;
    st.rayDepthLimit = 6;
    std::memset(st.allowLobe, 1, sizeof st.allowLobe);
    st.sampleDirection = polar(view.fromBehind ? 150.0f : std::fmod(20.0f + 37.0f * fk, 85.0f),
                               view.azimuth + 160.0f);
    pxs::LightSample& ls = st.lightSample;
    // The light near and far, its axis from straight at the point to 70 degrees off.
    ls.lightDistance = 0.5f + std::fmod(3.7f * fk, 20.0f);
    ls.lightPosition = add(st.position, scale(polar(30.0f, 50.0f * fk), ls.lightDistance));
    ls.lightDirection = unit(add(st.position, scale(ls.lightPosition, -1.0f)));
    const float3 off = polar(90.0f, 80.0f * fk);
    ls.lightAxis = unit(
        add(ls.lightDirection, scale(off, std::tan(std::fmod(7.0f * fk, 70.0f) * 0.0174532925f))));
    fillAttributes(st, registry, k);
    return st;
}

// The states of a probe over many settings, and of a probe at one setting
// (where more points find more of what varies over the surface).
constexpr int kStatesPerSetting = 10;
constexpr int kStatesAtOneSetting = 24;

int slotOf(uint32_t operation) {
    switch (operation) {
        case pxs::kCapShadowTransmission:
            return kSlotShadowTransmission;
        case pxs::kCapEvaluateBsdf:
            return kSlotEvaluateBsdf;
        case pxs::kCapSampleBsdf:
            return kSlotSampleBsdf;
        default:
            return kSlotShade;
    }
}

int indexOf(uint32_t operation) {
    int i = 0;
    while (operation > 1) operation >>= 1, ++i;
    return i;
}

// The bytes of one parameter value (a 4x4 matrix at most).
struct Value {
    alignas(16) uint8_t bytes[64];
};

Value valueOf(const Declaration& d) {
    Value v;
    std::memcpy(v.bytes, d.field, pxs::paramTypeSize(d.type));
    return v;
}

void write(const Declaration& d, const Value& v) {
    std::memcpy(d.field, v.bytes, pxs::paramTypeSize(d.type));
}

// Other values of a texture parameter: unbound, or bound to a probe texture
// other than the one it has.
std::vector<Value> otherTextures(const Declaration& d, ProbeTextures& textures) {
    std::vector<Value> out;
    const Value now = valueOf(d);
    pxs::TextureHandle h;
    std::memcpy(&h, now.bytes, sizeof h);
    for (int which = 0; which < 3; ++which) {
        pxs::TextureHandle other = h;
        other.object = which < 2 ? textures.get(d.type, which) : nullptr;
        if (other.object == h.object) continue;
        Value v = now;
        std::memcpy(v.bytes, &other, sizeof other);
        out.push_back(v);
    }
    return out;
}

// A few values other than the current one: a switch flipped, a mode one up and
// one down, every number a step up and a step down, and with `extremes` also
// zero (or one, from zero), where thresholds and ranges take effect.
std::vector<Value> otherValues(const Declaration& d, ProbeTextures& textures, bool extremes) {
    if (pxs::isTextureType(d.type)) return otherTextures(d, textures);
    const Value now = valueOf(d);
    Value up = now, down = now;
    if (d.type == pxs::ParamType::Bool) {
        up.bytes[0] = now.bytes[0] ? 0 : 1;
        return {up};
    }
    if (d.type == pxs::ParamType::Int) {
        int32_t x;
        std::memcpy(&x, now.bytes, sizeof x);
        // Wrapping at the ends of the range, which any value may reach.
        const int32_t a = static_cast<int32_t>(static_cast<uint32_t>(x) + 1u);
        const int32_t b = static_cast<int32_t>(static_cast<uint32_t>(x) - 1u);
        std::memcpy(up.bytes, &a, sizeof a);
        std::memcpy(down.bytes, &b, sizeof b);
        return {up, down};
    }
    static const float kSteps[] = {0.31f, 0.17f, 0.23f, 0.11f};
    const size_t n = pxs::paramTypeSize(d.type) / sizeof(float);
    float f[16], g[16], z[16];
    std::memcpy(f, now.bytes, n * sizeof(float));
    for (size_t i = 0; i < n; ++i) {
        const float step = kSteps[i % 4] * std::fmax(1.0f, std::fabs(f[i]));
        g[i] = f[i] - step;
        z[i] = f[i] == 0.0f ? 1.0f : 0.0f;
        f[i] += step;
    }
    Value zero = now;
    std::memcpy(up.bytes, f, n * sizeof(float));
    std::memcpy(down.bytes, g, n * sizeof(float));
    std::memcpy(zero.bytes, z, n * sizeof(float));
    if (!extremes) return {up, down};
    return {up, down, zero};
}

// An object of the class, its declarations, the operations it announces and
// what each of them writes over the probe states at the current values.
class Prober {
  public:
    // `states` situations; `extremes`: zero among the values tried (see otherValues).
    Prober(const Library& library, const std::string& className, ProbeLights lights, int states,
           bool extremes)
        : object_(library.create(className)),
          services_(lights),
          states_(states),
          extremes_(extremes) {
        if (!object_) return;
        declareParameters(object_.get(), &registry_);
        params_ = registry_.parameters();
        const uint32_t caps = registry_.capabilities();
        ops_ = shaderKind(object_.get()) == pxs::kKindMaterial
                   ? pxs::kCapShade | (caps & kOperationBits)
                   : pxs::kCapShade;
        for (int k = 0; k < states_; ++k) state_.push_back(probeState(registry_, k));
        base_.resize(4 * static_cast<size_t>(states_));
    }

    bool ok() const { return object_ != nullptr; }
    const std::vector<const Declaration*>& parameters() const { return params_; }
    uint32_t operations() const { return ops_; }
    void copyFrom(const pxs::IShaderBase* source) { copyParameters(object_.get(), source); }

    // Records what every operation writes at the current values.
    void baseline() {
        for (uint32_t op = 1; op <= ops_; op <<= 1) {
            if (!(ops_ & op)) continue;
            for (int k = 0; k < states_; ++k) base_[indexOf(op) * states_ + k] = run(op, k);
        }
    }

    // The operations of `wanted` that parameter i changes with another value.
    uint32_t readers(size_t i, uint32_t wanted) {
        const Declaration& d = *params_[i];
        const Value saved = valueOf(d);
        uint32_t found = 0;
        for (const Value& v : otherValues(d, textures, extremes_)) {
            write(d, v);
            found |= changed(wanted & ~found);
            if (found == wanted) break;
        }
        write(d, saved);
        return found;
    }

    ProbeTextures textures;

  private:
    ShadingState run(uint32_t op, int k) {
        ShadingState st = state_[k];
        services_.restart(k);
        callPerHit(object_.get(), slotOf(op), &services_, &st);
        return st;
    }

    // The operations of `wanted` that write anything else than in the baseline.
    uint32_t changed(uint32_t wanted) {
        uint32_t out = 0;
        for (uint32_t op = 1; op <= wanted; op <<= 1) {
            if (!(wanted & op)) continue;
            for (int k = 0; k < states_ && !(out & op); ++k) {
                const ShadingState st = run(op, k);
                if (std::memcmp(&st, &base_[indexOf(op) * states_ + k], sizeof st)) out |= op;
            }
        }
        return out;
    }

    ShaderPtr object_;
    RecordingRegistry registry_;
    std::vector<const Declaration*> params_;
    uint32_t ops_ = 0;
    ProbeServices services_;
    int states_;
    bool extremes_;
    std::vector<ShadingState> state_;
    std::vector<ShadingState> base_;  // operation index * states_ + state
};

// splitmix64: the settings drawn for the random probes.
class Draw {
  public:
    explicit Draw(uint64_t seed) : s_(seed) {}
    uint32_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    float unit() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }

  private:
    uint64_t s_;
};

// Settings 1 to 27: every mode set to one value from -1 to 7 with the maps
// bound, with every switch on (1 to 9), at its default (10 to 18), or on with
// every zero number at 0.5 instead (19 to 27: weights and amounts that start at
// zero switch their parts off too).
void setModes(Prober& p, int setting) {
    const int32_t mode = (setting - 1) % 9 - 1;
    const int group = (setting - 1) / 9;
    for (const Declaration* d : p.parameters()) {
        if (d->type == pxs::ParamType::Int) std::memcpy(d->field, &mode, sizeof mode);
        if (d->type == pxs::ParamType::Bool && group != 1) *static_cast<uint8_t*>(d->field) = 1;
        if (pxs::isTextureType(d->type)) {
            static_cast<pxs::TextureHandle*>(d->field)->object = p.textures.get(d->type, 0);
        } else if (group == 2 && d->type != pxs::ParamType::Bool &&
                   d->type != pxs::ParamType::Int) {
            auto* f = static_cast<float*>(d->field);
            for (size_t i = 0; i < pxs::paramTypeSize(d->type) / sizeof(float); ++i) {
                if (f[i] == 0.0f) f[i] = 0.5f;
            }
        }
    }
}

// Settings from 28: drawn modes; switches on and maps bound three times in
// four; numbers that start at zero drawn from [0, 1], the others kept or drawn
// from [0, 2] times their size.
void drawSettings(Prober& p, int setting) {
    Draw draw(0x5EEDull * static_cast<uint64_t>(setting));
    for (const Declaration* d : p.parameters()) {
        const uint32_t r = draw.next();
        if (d->type == pxs::ParamType::Int) {
            const int32_t mode = static_cast<int32_t>(r % 9) - 1;
            std::memcpy(d->field, &mode, sizeof mode);
        } else if (d->type == pxs::ParamType::Bool) {
            *static_cast<uint8_t*>(d->field) = (r & 3) != 0;
        } else if (pxs::isTextureType(d->type)) {
            static_cast<pxs::TextureHandle*>(d->field)->object =
                r & 3 ? p.textures.get(d->type, static_cast<int>(r >> 2 & 1)) : nullptr;
        } else if (d->type != pxs::ParamType::Matrix3 && d->type != pxs::ParamType::Matrix4) {
            auto* f = static_cast<float*>(d->field);
            for (size_t i = 0; i < pxs::paramTypeSize(d->type) / sizeof(float); ++i) {
                if (f[i] == 0.0f)
                    f[i] = draw.unit();
                else if (r & 4)
                    f[i] = 2.0f * draw.unit() * std::fabs(f[i]);
            }
        }
    }
}

constexpr int kSettings = 28 + 32;

}  // namespace

std::vector<std::string> operationNames(uint32_t mask) {
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{pxs::kCapShade, "shade"},
                  {pxs::kCapShadowTransmission, "shadowTransmission"},
                  {pxs::kCapEvaluateBsdf, "evaluateBsdf"},
                  {pxs::kCapSampleBsdf, "sampleBsdf"}};
    std::vector<std::string> names;
    for (const auto& n : kNames) {
        if (mask & n.bit) names.push_back(n.name);
    }
    return names;
}

std::vector<uint32_t> probeParameterUsage(const Library& library, const std::string& className) {
    Prober p(library, className, ProbeLights::AnyType, kStatesPerSetting, true);
    if (!p.ok()) return {};
    const size_t n = p.parameters().size();
    std::vector<Value> defaults;
    for (const Declaration* d : p.parameters()) defaults.push_back(valueOf(*d));
    std::vector<uint32_t> used(n, 0);
    for (int setting = 0; setting < kSettings; ++setting) {
        for (size_t i = 0; i < n; ++i) write(*p.parameters()[i], defaults[i]);
        if (setting > 27)
            drawSettings(p, setting);
        else if (setting > 0)
            setModes(p, setting);
        p.baseline();
        for (size_t i = 0; i < n; ++i) {
            if (used[i] != p.operations()) used[i] |= p.readers(i, p.operations() & ~used[i]);
        }
    }
    return used;
}

std::vector<uint32_t> probeParameterUsageAt(const Library& library, const std::string& className,
                                            const pxs::IShaderBase* source, ProbeLights lights) {
    Prober p(library, className, lights, kStatesAtOneSetting, false);
    if (!p.ok() || !source) return {};
    p.copyFrom(source);
    p.baseline();
    std::vector<uint32_t> used;
    for (size_t i = 0; i < p.parameters().size(); ++i) used.push_back(p.readers(i, p.operations()));
    return used;
}

}  // namespace vhost

#include "testkit/golden.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "host/recording_registry.h"
#include "host/slots.h"
#include "testkit/state_builder.h"
#include "testkit/test_services.h"

namespace vgolden {

using pxs::float2;
using pxs::float3;
using pxs::float4;
using vhost::DeclType;

std::string goldenDirectory() {
    return VESPER_GOLDEN_DIR;
}

std::string goldenPath(const std::string& dir, const std::string& className) {
    return dir + "/" + className + ".golden";
}

namespace {

// SplitMix64: small, fixed, and the same on every platform.
class Rng {
  public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // [lo, hi), from 24 random bits.
    float uniform(float lo, float hi) {
        const float u = static_cast<float>(next() >> 40) * (1.0f / 16777216.0f);
        return lo + (hi - lo) * u;
    }
    int pick(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    bool chance(float p) { return uniform(0.0f, 1.0f) < p; }
    // Braced lists: their elements are evaluated in order, so the draws are too.
    float3 colour() { return float3{uniform(0, 1), uniform(0, 1), uniform(0, 1)}; }
    float3 unitVector() {
        for (;;) {
            const float3 v{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
            const float l2 = v.x * v.x + v.y * v.y + v.z * v.z;
            if (l2 > 0.01f && l2 <= 1.0f) return scaled(v, 1.0f / std::sqrt(l2));
        }
    }
    static float3 scaled(float3 v, float s) { return float3(v.x * s, v.y * s, v.z * s); }

  private:
    uint64_t s_;
};

uint64_t hashName(const std::string& s) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

float3 add(float3 a, float3 b) {
    return float3(a.x + b.x, a.y + b.y, a.z + b.z);
}
float3 sub(float3 a, float3 b) {
    return float3(a.x - b.x, a.y - b.y, a.z - b.z);
}
float3 unit(float3 v) {
    return Rng::scaled(v, 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z));
}

uint32_t bitsOf(float f) {
    if (std::isnan(f)) return 0x7FC00000u;
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
void appendBits(std::string& out, float f) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(bitsOf(f)));
    out += buf;
}

// A texture whose value is a fixed function of its coordinates, and that logs
// every lookup. `dimensions` coordinates are read: 2 for images, 3 for cubes.
class GoldenTexture final : public pxs::ITextureObject {
  public:
    GoldenTexture(int id, int dimensions, std::string* log)
        : id_(id), dimensions_(dimensions), log_(log) {}

    void sample(float4* out, const float* c) override {
        const float z = dimensions_ > 2 ? c[2] : 0.0f;
        std::string& log = *log_;
        log += " t" + std::to_string(id_) + "(";
        for (int i = 0; i < dimensions_; ++i) {
            if (i) log += ',';
            appendBits(log, c[i]);
        }
        log += ')';
        const float k = 0.1f * static_cast<float>(id_);
        *out = float4(wrap(0.37f * c[0] + 0.11f * c[1] + k), wrap(0.23f * c[1] - 0.41f * z + k),
                      wrap(0.29f * z + 0.17f * c[0] + 0.5f), wrap(0.13f * c[0] + 0.31f * c[1]));
    }

  private:
    static float wrap(float x) { return x - std::floor(x); }

    int id_;
    int dimensions_;
    std::string* log_;
};

// What the services answer in one case; each operation gets fresh services built
// from it, so every operation sees the same random numbers.
struct ServiceAnswers {
    std::vector<pxs::LightNode> lights;
    float3 ambientLight{0, 0, 0}, shadow{1, 1, 1}, ray{0, 0, 0}, reflection{0, 0, 0};
    float3 transmission{0, 0, 0}, anisotropicReflection{0, 0, 0}, glossyReflection{0, 0, 0};
    float3 glossyTransmission{0, 0, 0}, ambientOcclusion{1, 1, 1}, globalIllumination{0, 0, 0};
    bool transmissionAlpha = false, glossyTransmissionAlpha = false;
    float transmissionAlphaValue = 1, glossyTransmissionAlphaValue = 1;

    void configure(vhost::TestServices& s) const {
        s.setLights(lights);
        s.ambientLightValue = ambientLight;
        s.shadowValue = shadow;
        s.rayValue = ray;
        s.reflectionValue = reflection;
        s.transmissionValue = transmission;
        if (transmissionAlpha) s.transmissionAlpha = transmissionAlphaValue;
        s.anisotropicReflectionValue = anisotropicReflection;
        s.glossyReflectionValue = glossyReflection;
        s.glossyTransmissionValue = glossyTransmission;
        if (glossyTransmissionAlpha) s.glossyTransmissionAlpha = glossyTransmissionAlphaValue;
        s.ambientOcclusionValue = ambientOcclusion;
        s.globalIlluminationValue = globalIllumination;
    }
};

pxs::LightNode makeLight(float3 direction, float factor, float3 contribution, float3 colour,
                         float3 transmission, int32_t type) {
    pxs::LightNode n;
    std::memset(static_cast<void*>(&n), 0, sizeof n);
    n.direction = direction;
    n.lightFactor = factor;
    n.lightContribution = contribution;
    n.lightColor = colour;
    n.lightTransmission = transmission;
    n.type = type;
    return n;
}

}  // namespace

namespace {

// One case of one class: a fresh object with its parameters, textures and state.
class Case {
  public:
    Case(const vhost::Library& library, const std::string& className, int index)
        : index_(index), shader_(library.create(className)) {
        if (!shader_) return;
        vhost::declareParameters(shader_.get(), &registry_);
        kind_ = vhost::shaderKind(shader_.get());
        setParameters(hashName(className));
        state_ = index < 2 ? fixedState() : randomState();
        answers_ = index == 0 ? fixedAnswers(1) : (index == 1 ? fixedAnswers(3) : randomAnswers());
    }

    bool ok() const { return shader_ != nullptr; }
    int32_t kind() const { return kind_; }
    uint32_t mask() const { return registry_.capabilities(); }

    Outcome run(int slot, const char* opName) {
        lookups_.clear();
        vhost::TestServices services;
        answers_.configure(services);
        Outcome o;
        char key[64];
        std::snprintf(key, sizeof key, "c%02d %s", index_, opName);
        o.key = key;
        o.before = state_;
        o.after = state_;
        vhost::callPerHit(shader_.get(), slot, &services, &o.after);
        for (const vhost::ServiceCall& c : services.calls) {
            o.calls += ' ' + std::to_string(c.slot) + '(';
            for (size_t i = 0; i < c.args.size(); ++i) {
                if (i) o.calls += ',';
                appendBits(o.calls, c.args[i]);
            }
            o.calls += ')';
            if (c.slot == vhost::kSvcTraceTransmission ||
                c.slot == vhost::kSvcTraceGlossyTransmission) {
                o.calls += '[';
                const float p[4] = {c.preset.x, c.preset.y, c.preset.z, c.preset.w};
                for (int i = 0; i < 4; ++i) {
                    if (i) o.calls += ',';
                    appendBits(o.calls, p[i]);
                }
                o.calls += ']';
            }
        }
        o.lookups = lookups_;
        return o;
    }

  private:
    void setParameters(uint64_t classSeed) {
        int textureId = 0;
        for (const vhost::Declaration* d : registry_.parameters()) {
            Rng r(hashName(d->name) ^ (classSeed * 31) ^ (static_cast<uint64_t>(index_) << 48));
            const bool random = index_ >= 2;
            switch (d->type) {
                case DeclType::Bool: {
                    auto* b = static_cast<uint8_t*>(d->field);
                    if (index_ == 1) {
                        const std::string& n = d->name;
                        if (n.size() < 4 || n.compare(n.size() - 4, 4, "Only") != 0) *b = 1;
                    } else if (random) {
                        *b = r.chance(0.5f) ? 1 : 0;
                    }
                    break;
                }
                case DeclType::Int: {
                    auto* v = static_cast<int32_t*>(d->field);
                    if (index_ == 1 && *v == 0) *v = 1;
                    if (random && r.pick(5) != 0) *v = r.pick(6) - 1;
                    break;
                }
                case DeclType::Float:
                case DeclType::Float2:
                case DeclType::Float3:
                case DeclType::Float4: {
                    if (!random) break;
                    auto* f = static_cast<float*>(d->field);
                    const size_t n = vhost::fieldSize(d->type) / 4;
                    for (size_t i = 0; i < n; ++i) f[i] = randomFloat(r, f[i]);
                    break;
                }
                case DeclType::Matrix3:
                case DeclType::Matrix4:
                    setMatrix(r, d, random);
                    break;
                case DeclType::Texture2D:
                case DeclType::TextureB:
                case DeclType::TextureCube: {
                    ++textureId;
                    if (index_ == 0 || (random && r.chance(0.25f))) break;
                    const int dims = d->type == DeclType::TextureCube ? 3 : 2;
                    textures_.push_back(
                        std::make_unique<GoldenTexture>(textureId, dims, &lookups_));
                    static_cast<pxs::TextureHandle*>(d->field)->object = textures_.back().get();
                    break;
                }
                default:
                    break;
            }
        }
    }

    static float randomFloat(Rng& r, float def) {
        switch (r.pick(4)) {
            case 0:
                return def;
            case 1:
                return r.uniform(0.0f, 1.0f);
            case 2: {
                const float scale = r.uniform(0.5f, 1.5f);
                return def * scale + r.uniform(-0.1f, 0.1f);
            }
            default:
                return r.uniform(-0.5f, 2.0f);
        }
    }

    // Fixed cases keep a matrix the constructor set and make an unset (all zero)
    // one the identity, as a host writes its matrices; random cases perturb it.
    static void setMatrix(Rng& r, const vhost::Declaration* d, bool random) {
        auto* m = static_cast<float*>(d->field);
        const int dim = d->type == DeclType::Matrix3 ? 3 : 4;
        bool zero = true;
        for (int i = 0; i < dim * dim; ++i) zero = zero && m[i] == 0.0f;
        if (!random && !zero) return;
        for (int i = 0; i < dim; ++i) {
            for (int j = 0; j < dim; ++j) {
                float v = i == j ? 1.0f : 0.0f;
                if (random && i < 3 && j < 3) v += r.uniform(-0.25f, 0.25f);
                if (random && dim == 4 && i == 3 && j < 3) v = r.uniform(-0.5f, 0.5f);
                if (random && dim == 3 && i == 2 && j < 2) v += r.uniform(-0.5f, 0.5f);
                m[i * dim + j] = v;
            }
        }
    }

    vhost::StateBuilder& attributes(vhost::StateBuilder& b, Rng* r) const {
        for (const vhost::Declaration* d : registry_.attributes()) {
            switch (d->attributeKind) {
                case pxs::kAttributeFloat2:
                    b.attribute(d->attributeOffset,
                                r ? float2{r->uniform(-0.5f, 1.5f), r->uniform(-0.5f, 1.5f)}
                                  : float2(0.3f, 0.7f));
                    break;
                case pxs::kAttributeFloat3:
                    b.attribute(d->attributeOffset,
                                r ? r->unitVector()
                                  : (d->name == "bitangent" ? float3(0, 1, 0) : float3(1, 0, 0)));
                    break;
                default:
                    b.attribute(d->attributeOffset, r ? float4{r->colour(), r->uniform(0, 1)}
                                                      : float4(0.8f, 0.6f, 0.4f, 1.0f));
                    break;
            }
        }
        return b;
    }

    pxs::ShadingState fixedState() const {
        const float3 p(0.1f, 0.2f, 0.0f);
        const float3 lightPosition(1.0f, 2.0f, 4.0f);
        const float3 toLight = sub(lightPosition, p);
        vhost::StateBuilder b;
        b.ray(float3(0.3f, -0.4f, 5.0f), unit(float3(-0.2f, 0.6f, -5.0f)))
            .hit(p, unit(float3(0.1f, 0.05f, 1.0f)), float3(0, 0, 1))
            .pixel(float2(320.0f, 240.0f), 480)
            .sampleDirection(unit(float3(0.3f, 0.2f, 0.9f)))
            .light(
                lightPosition, unit(toLight), unit(float3(1.0f, 0.4f, 1.6f)),
                std::sqrt(toLight.x * toLight.x + toLight.y * toLight.y + toLight.z * toLight.z));
        if (index_ == 1 && kind_ == pxs::kKindEnvironment) b.rayType(pxs::kRayReflection);
        return attributes(b, nullptr).build();
    }

    pxs::ShadingState randomState() const {
        Rng r(0x5EED0000ull + static_cast<uint64_t>(index_));
        // Every draw in its own statement: argument order is unspecified in C++.
        const float3 p{r.uniform(-1, 1), r.uniform(-1, 1), r.uniform(-0.2f, 0.2f)};
        float3 n = unit(float3{r.uniform(-0.6f, 0.6f), r.uniform(-0.6f, 0.6f), 1.0f});
        float3 ng = unit(add(n, Rng::scaled(r.unitVector(), 0.2f)));
        if (r.chance(0.25f)) ng = Rng::scaled(ng, -1.0f);  // the back of the geometry
        if (r.chance(0.15f)) n = Rng::scaled(n, -1.0f);
        float3 toEye = r.unitVector();
        if (toEye.z < 0.0f && r.chance(0.8f)) toEye.z = -toEye.z;
        const float3 origin = add(p, Rng::scaled(toEye, r.uniform(1.0f, 6.0f)));
        float3 sd = r.unitVector();
        if (r.chance(0.6f) && sd.x * n.x + sd.y * n.y + sd.z * n.z < 0.0f) {
            sd = Rng::scaled(sd, -1.0f);
        }
        const float3 lightOffset = r.unitVector();
        const float3 lightPosition = add(p, Rng::scaled(lightOffset, r.uniform(0.5f, 8.0f)));
        const float3 toLight = sub(lightPosition, p);
        const float3 lightDirection = unit(toLight);
        const int32_t rayTypes[] = {pxs::kRayCamera,       pxs::kRayCamera,    pxs::kRayReflection,
                                    pxs::kRayContinuation, pxs::kRayOcclusion, pxs::kRayGather};
        const float iors[] = {1.0f, 1.5f, 1.33f};
        pxs::matrix4 ma = pxs::matrix4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
        pxs::matrix4 mb = ma;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                ma.m[i * 4 + j] += r.uniform(-0.3f, 0.3f);
                mb.m[i * 4 + j] += r.uniform(-0.3f, 0.3f);
            }
        }
        const float3 mappingPoint{r.uniform(-2, 2), r.uniform(-2, 2), r.uniform(-2, 2)};
        const float3 mappingNormal = r.unitVector();
        const int32_t rayType = rayTypes[r.pick(6)];
        const int32_t depth = r.pick(6);
        const float2 pixel{r.uniform(0, 640), r.uniform(0, 480)};
        const float mediumIor = iors[r.pick(3)];
        const float outsideIor = iors[r.pick(2)];
        uint8_t lobes[6];
        for (uint8_t& l : lobes) l = r.chance(0.7f) ? 1 : 0;
        const float3 axisJitter = r.unitVector();
        const float3 axis =
            unit(add(lightDirection, Rng::scaled(axisJitter, r.uniform(0.0f, 0.6f))));
        vhost::StateBuilder b;
        b.ray(origin, unit(sub(p, origin)))
            .hit(p, n, ng)
            .mapping(mappingPoint, mappingNormal)
            .rayType(rayType)
            .depth(depth, 4)
            .pixel(pixel, 480)
            .ior(mediumIor, outsideIor)
            .matrixA(ma)
            .matrixB(mb)
            .sampleDirection(sd)
            .allowLobes(lobes[0], lobes[1], lobes[2], lobes[3], lobes[4], lobes[5])
            .light(
                lightPosition, lightDirection, axis,
                std::sqrt(toLight.x * toLight.x + toLight.y * toLight.y + toLight.z * toLight.z));
        return attributes(b, &r).build();
    }

    static ServiceAnswers fixedAnswers(int lightCount) {
        ServiceAnswers a;
        const float3 dirs[] = {unit(float3(0.3f, 0.2f, 1.0f)), unit(float3(-0.5f, 0.4f, 0.8f)),
                               unit(float3(0.1f, -0.7f, 0.6f))};
        const int32_t types[] = {pxs::kLightTinted, 0, pxs::kLightTinted};
        for (int i = 0; i < lightCount; ++i) {
            a.lights.push_back(makeLight(dirs[i], 1.0f, float3(0.8f, 0.7f, 0.6f),
                                         float3(1.0f, 0.9f, 0.8f), float3(0.9f, 0.85f, 0.8f),
                                         types[i]));
        }
        if (lightCount > 1) {
            a.ambientLight = float3(0.1f, 0.1f, 0.12f);
            a.shadow = float3(0.9f);
            a.ray = float3(0.3f, 0.4f, 0.5f);
            a.reflection = float3(0.5f, 0.45f, 0.4f);
            a.transmission = float3(0.2f, 0.3f, 0.4f);
            a.anisotropicReflection = float3(0.45f, 0.4f, 0.35f);
            a.glossyReflection = float3(0.4f, 0.4f, 0.45f);
            a.glossyTransmission = float3(0.25f, 0.3f, 0.35f);
            a.ambientOcclusion = float3(0.8f);
            a.globalIllumination = float3(0.15f, 0.15f, 0.1f);
        }
        return a;
    }

    ServiceAnswers randomAnswers() const {
        Rng r(0xA115E700ull + static_cast<uint64_t>(index_));
        ServiceAnswers a;
        const int32_t types[] = {pxs::kLightTinted, pxs::kLightTinted, 0, 2, pxs::kLightSkip};
        const int count = r.pick(5);
        for (int i = 0; i < count; ++i) {
            float3 d = r.unitVector();
            if (d.z < 0.0f && r.chance(0.7f)) d.z = -d.z;
            const float3 t = r.chance(0.3f) ? float3(1.0f) : r.colour();
            const float factor = r.uniform(0.0f, 2.0f);
            const float3 contribution = r.colour();
            const float3 colour = r.colour();
            const int32_t type = types[r.pick(5)];
            a.lights.push_back(makeLight(d, factor, contribution, colour, t, type));
        }
        a.ambientLight = r.colour();
        a.shadow = r.chance(0.3f) ? float3(1.0f) : r.colour();
        a.ray = r.colour();
        a.reflection = r.colour();
        a.transmission = r.colour();
        a.anisotropicReflection = r.colour();
        a.glossyReflection = r.colour();
        a.glossyTransmission = r.colour();
        a.ambientOcclusion = r.chance(0.3f) ? float3(1.0f) : r.colour();
        a.globalIllumination = r.colour();
        a.transmissionAlpha = r.chance(0.5f);
        a.transmissionAlphaValue = r.uniform(0.0f, 1.0f);
        a.glossyTransmissionAlpha = r.chance(0.5f);
        a.glossyTransmissionAlphaValue = r.uniform(0.0f, 1.0f);
        return a;
    }

    int index_;
    vhost::ShaderPtr shader_;
    vhost::RecordingRegistry registry_;
    int32_t kind_ = -1;
    std::vector<std::unique_ptr<GoldenTexture>> textures_;
    std::string lookups_;
    pxs::ShadingState state_;
    ServiceAnswers answers_;
};

}  // namespace

std::vector<Outcome> runClass(const vhost::Library& library, const std::string& className) {
    std::vector<Outcome> out;
    for (int i = 0; i < kCases; ++i) {
        Case c(library, className, i);
        if (!c.ok()) return {};
        const uint32_t mask = c.mask();
        out.push_back(c.run(vhost::kSlotShade, "shade"));
        if (c.kind() != pxs::kKindMaterial) continue;
        if (mask & pxs::kCapShadowTransmission) {
            out.push_back(c.run(vhost::kSlotShadowTransmission, "shadowTransmission"));
        }
        if (mask & pxs::kCapEvaluateBsdf) {
            out.push_back(c.run(vhost::kSlotEvaluateBsdf, "evaluateBsdf"));
        }
        if (mask & pxs::kCapSampleBsdf) out.push_back(c.run(vhost::kSlotSampleBsdf, "sampleBsdf"));
    }
    return out;
}

namespace {

// NaNs of the float outputs become one canonical NaN.
void canonicalise(pxs::ShadingState& st) {
    auto* bytes = reinterpret_cast<uint8_t*>(&st);
    for (const pxs::StateField& field : pxs::kStateFields) {
        if (field.type != pxs::kFieldFloat || !(field.access & pxs::kFieldOut)) continue;
        for (size_t at = field.offset; at < field.offset + field.size; at += 4) {
            float f;
            std::memcpy(&f, bytes + at, 4);
            if (std::isnan(f)) {
                const uint32_t nan = 0x7FC00000u;
                std::memcpy(bytes + at, &nan, 4);
            }
        }
    }
}

// The changed bytes of `o` as runs "<offset>:<hex>".
std::string stateRuns(const Outcome& o) {
    pxs::ShadingState after = o.after;
    canonicalise(after);
    const auto* a = reinterpret_cast<const uint8_t*>(&o.before);
    const auto* b = reinterpret_cast<const uint8_t*>(&after);
    std::string out;
    size_t i = 0;
    while (i < sizeof(pxs::ShadingState)) {
        if (a[i] == b[i]) {
            ++i;
            continue;
        }
        out += ' ' + std::to_string(i) + ':';
        for (; i < sizeof(pxs::ShadingState) && a[i] != b[i]; ++i) {
            char h[3];
            std::snprintf(h, sizeof h, "%02x", b[i]);
            out += h;
        }
    }
    return out;
}

// Entries of one kind in a row ("49(...)" or "t2(...)"): past kLongRun of them
// the run is written as "<kind>*<count>#<FNV-1a hash of its text>", which still
// pins every argument bit but keeps noise and texture loops to one entry.
constexpr int kLongRun = 4;

std::string compressed(const std::string& entries) {
    std::istringstream in(entries);
    std::vector<std::string> tokens;
    for (std::string t; in >> t;) tokens.push_back(t);
    std::string out;
    for (size_t i = 0; i < tokens.size();) {
        const std::string kind = tokens[i].substr(0, tokens[i].find('('));
        size_t j = i;
        while (j < tokens.size() && tokens[j].compare(0, kind.size() + 1, kind + "(") == 0) ++j;
        if (j - i > kLongRun) {
            uint64_t h = 0xCBF29CE484222325ull;
            for (size_t k = i; k < j; ++k) {
                for (unsigned char c : tokens[k] + ' ') h = (h ^ c) * 0x100000001B3ull;
            }
            char buf[48];
            std::snprintf(buf, sizeof buf, "*%zu#%016llx", j - i, static_cast<unsigned long long>(h));
            out += ' ' + kind + buf;
        } else {
            for (size_t k = i; k < j; ++k) out += ' ' + tokens[k];
        }
        i = j;
    }
    return out;
}

std::string formatLine(const Outcome& o) {
    return o.key + " |" + stateRuns(o) + " |" + compressed(o.calls) + " |" + compressed(o.lookups);
}

}  // namespace

std::string formatClass(const std::string& className, const std::vector<Outcome>& outs) {
    std::string text = "# Golden outputs of " + className + ": " + std::to_string(kCases) +
                       " cases. Written by vesper_golden; do not edit.\n";
    for (const Outcome& o : outs) text += formatLine(o) + '\n';
    return text;
}

namespace {

// Lines of a golden file by key ("c03 shade").
std::map<std::string, std::string> parseGolden(const std::string& text) {
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t bar = line.find(" |");
        if (bar == std::string::npos) continue;
        lines[line.substr(0, bar)] = line;
    }
    return lines;
}

// The state a golden line describes: `before` with the stored runs applied.
pxs::ShadingState applyRuns(const pxs::ShadingState& before, const std::string& line) {
    pxs::ShadingState st = before;
    auto* bytes = reinterpret_cast<uint8_t*>(&st);
    const size_t start = line.find(" |") + 2;
    const size_t end = line.find(" |", start);
    std::istringstream runs(line.substr(start, end - start));
    std::string run;
    while (runs >> run) {
        const size_t colon = run.find(':');
        if (colon == std::string::npos) continue;
        size_t at = std::stoul(run.substr(0, colon));
        for (size_t i = colon + 1; i + 1 < run.size() && at < sizeof st; i += 2, ++at) {
            bytes[at] = static_cast<uint8_t>(std::stoul(run.substr(i, 2), nullptr, 16));
        }
    }
    return st;
}

// The part of a line after the n-th " |" (1: state, 2: calls, 3: lookups).
std::string section(const std::string& line, int n) {
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
        at = line.find(" |", at);
        if (at == std::string::npos) return "";
        at += 2;
    }
    const size_t end = line.find(" |", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The first differing entry of two space-separated lists.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    std::istringstream e(expected), a(actual);
    std::string x, y;
    for (int i = 0;; ++i) {
        const bool hx = static_cast<bool>(e >> x), hy = static_cast<bool>(a >> y);
        if (!hx && !hy) return "";
        if (!hx || !hy || x != y) {
            return "entry " + std::to_string(i) + ": expected " + (hx ? x : "(none)") + ", got " +
                   (hy ? y : "(none)");
        }
    }
}

}  // namespace

std::vector<std::string> compare(const std::string& goldenText,
                                 const std::vector<Outcome>& outcomes) {
    std::vector<std::string> diffs;
    std::map<std::string, std::string> expected = parseGolden(goldenText);
    for (const Outcome& o : outcomes) {
        auto it = expected.find(o.key);
        if (it == expected.end()) {
            diffs.push_back(o.key + ": not in the golden file");
            continue;
        }
        const std::string& want = it->second;
        const std::string got = formatLine(o);
        if (want != got) {
            std::string what;
            if (section(want, 1) != section(got, 1)) {
                pxs::ShadingState after = o.after;
                canonicalise(after);
                for (const std::string& f :
                     vhost::changedFields(applyRuns(o.before, want), after)) {
                    what += (what.empty() ? "state fields " : ", ") + f;
                }
            }
            if (section(want, 2) != section(got, 2)) {
                what += (what.empty() ? "" : "; ") + std::string("service calls (") +
                        firstDifference(section(want, 2), section(got, 2)) + ")";
            }
            if (section(want, 3) != section(got, 3)) {
                what += (what.empty() ? "" : "; ") + std::string("texture lookups (") +
                        firstDifference(section(want, 3), section(got, 3)) + ")";
            }
            diffs.push_back(o.key + ": " + what);
        }
        expected.erase(it);
    }
    for (const auto& e : expected) diffs.push_back(e.first + ": no longer produced");
    return diffs;
}

bool readFile(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

}  // namespace vgolden

#include "testkit/golden.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "host/recording_registry.h"
#include "host/slots.h"
#include "testkit/scenario.h"
#include "testkit/state_builder.h"
#include "testkit/test_services.h"

namespace vgolden {

using pxs::float4;
using pxs::ParamType;

std::string goldenDirectory() {
    return VESPER_GOLDEN_DIR;
}

std::string goldenPath(const std::string& dir, const std::string& className) {
    return dir + "/" + className + ".golden";
}

namespace {

uint64_t hashName(const std::string& s) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
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

}  // namespace

namespace {

// The situation (see vtest::makeState) of random case k: every ray type on
// front hits below the depth limit three times as often as on back, grazing and
// at- or past-the-limit hits.
int situationOf(int k) {
    static const int kGroups[] = {0, 5, 0, 10, 0, 15, 30};  // facing and depth offsets
    return k % 5 + kGroups[(k / 5) % 7];
}

// One case of one class: a fresh object with its parameters, textures, state
// (vtest::makeState) and service answers (vtest::configureServices). Case 0
// keeps the defaults, case 1 binds every texture and turns flags and modes on,
// the others draw parameters near the defaults and every mode from -1 to 7,
// each from a seed of its own name, so that adding a parameter moves no other.
class Case {
  public:
    Case(const vhost::Library& library, const std::string& className, int index)
        : index_(index), shader_(library.create(className)) {
        if (!shader_) return;
        vhost::declareParameters(shader_.get(), &registry_);
        kind_ = vhost::shaderKind(shader_.get());
        const uint64_t classSeed = hashName(className);
        setParameters(classSeed);
        vtest::Entropy e(classSeed ^ (static_cast<uint64_t>(index_) << 40));
        state_ = vtest::makeState(registry_, index < 2 ? index : situationOf(index - 2), e);
        servicesSeed_ = e.bits();
        servicesSeed_ |= uint64_t{e.bits()} << 32;
    }

    bool ok() const { return shader_ != nullptr; }
    int32_t kind() const { return kind_; }
    uint32_t mask() const { return registry_.capabilities(); }

    Outcome run(int slot, const char* opName) {
        lookups_.clear();
        // Fresh services for every operation, so each sees the same answers.
        vhost::TestServices services;
        vtest::Entropy e(servicesSeed_);
        vtest::configureServices(services, e, vtest::Values::Plausible);
        services.record = true;
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
            vtest::Entropy r(hashName(d->name) ^ (classSeed * 31) ^
                             (static_cast<uint64_t>(index_) << 48));
            const bool random = index_ >= 2;
            switch (d->type) {
                case ParamType::Bool: {
                    auto* b = static_cast<uint8_t*>(d->field);
                    if (index_ == 1) {
                        const std::string& n = d->name;
                        if (n.size() < 4 || n.compare(n.size() - 4, 4, "Only") != 0) *b = 1;
                    } else if (random) {
                        *b = r.pick(2) ? 1 : 0;
                    }
                    break;
                }
                case ParamType::Int: {
                    auto* v = static_cast<int32_t*>(d->field);
                    if (index_ == 1 && *v == 0) *v = 1;
                    if (random && r.pick(5) != 0) *v = static_cast<int32_t>(r.pick(9)) - 1;
                    break;
                }
                case ParamType::Float:
                case ParamType::Float2:
                case ParamType::Float3:
                case ParamType::Float4: {
                    if (!random) break;
                    auto* f = static_cast<float*>(d->field);
                    const size_t n = pxs::paramTypeSize(d->type) / 4;
                    for (size_t i = 0; i < n; ++i) f[i] = randomFloat(r, f[i]);
                    break;
                }
                case ParamType::Matrix3:
                case ParamType::Matrix4:
                    setMatrix(r, d, random);
                    break;
                case ParamType::Texture2D:
                case ParamType::TextureB:
                case ParamType::TextureCube: {
                    ++textureId;
                    if (index_ == 0 || (random && r.pick(4) == 0)) break;
                    const int dims = d->type == ParamType::TextureCube ? 3 : 2;
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

    static float randomFloat(vtest::Entropy& r, float def) {
        switch (r.pick(4)) {
            case 0:
                return def;
            case 1:
                return r.unit();
            case 2: {
                const float scale = r.range(0.5f, 1.5f);
                return def * scale + r.range(-0.1f, 0.1f);
            }
            default:
                return r.range(-0.5f, 2.0f);
        }
    }

    // Fixed cases keep a matrix the constructor set and make an unset (all zero)
    // one the identity, as a host writes its matrices; random cases perturb it.
    static void setMatrix(vtest::Entropy& r, const vhost::Declaration* d, bool random) {
        auto* m = static_cast<float*>(d->field);
        const int dim = d->type == ParamType::Matrix3 ? 3 : 4;
        bool zero = true;
        for (int i = 0; i < dim * dim; ++i) zero = zero && m[i] == 0.0f;
        if (!random && !zero) return;
        for (int i = 0; i < dim; ++i) {
            for (int j = 0; j < dim; ++j) {
                float v = i == j ? 1.0f : 0.0f;
                if (random && i < 3 && j < 3) v += r.range(-0.25f, 0.25f);
                if (random && dim == 4 && i == 3 && j < 3) v = r.range(-0.5f, 0.5f);
                if (random && dim == 3 && i == 2 && j < 2) v += r.range(-0.5f, 0.5f);
                m[i * dim + j] = v;
            }
        }
    }

    int index_;
    vhost::ShaderPtr shader_;
    vhost::RecordingRegistry registry_;
    int32_t kind_ = -1;
    std::vector<std::unique_ptr<GoldenTexture>> textures_;
    std::string lookups_;
    pxs::ShadingState state_;
    uint64_t servicesSeed_ = 0;
};

// The registrations of a fresh object as the entry "registry": the capability
// mask, every parameter with its type and default, every attribute with its kind
// and offset, in order.
Outcome registrations(const vhost::Library& library, const std::string& className) {
    Outcome o;
    o.key = "registry";
    std::memset(static_cast<void*>(&o.before), 0, sizeof o.before);
    o.after = o.before;
    vhost::ShaderPtr shader = library.create(className);
    if (!shader) return o;
    vhost::RecordingRegistry registry;
    vhost::declareParameters(shader.get(), &registry);
    for (const vhost::Declaration& d : registry.declarations) {
        std::string text;
        if (d.what == vhost::Declared::Capabilities) {
            text = "capabilities=" + std::to_string(d.mask);
        } else if (d.what == vhost::Declared::Attribute) {
            text = d.name + ":attribute=" + std::to_string(d.attributeKind) + "@" +
                   std::to_string(d.attributeOffset);
        } else {
            text = d.name + ":" + pxs::paramTypeName(d.type) + "=" + d.valueText();
        }
        text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
        o.calls += ' ' + text;
    }
    return o;
}

}  // namespace

std::vector<Outcome> runClass(const vhost::Library& library, const std::string& className) {
    std::vector<Outcome> out{registrations(library, className)};
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
            std::snprintf(buf, sizeof buf, "*%zu#%016llx", j - i,
                          static_cast<unsigned long long>(h));
            out += ' ' + kind + buf;
        } else {
            for (size_t k = i; k < j; ++k) out += ' ' + tokens[k];
        }
        i = j;
    }
    return out;
}

std::string formatLine(const Outcome& o) {
    const std::string calls = o.key == "registry" ? o.calls : compressed(o.calls);
    return o.key + " |" + stateRuns(o) + " |" + calls + " |" + compressed(o.lookups);
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
                what += (what.empty() ? "" : "; ") +
                        std::string(o.key == "registry" ? "registrations (" : "service calls (") +
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

// The per-hit contract, checked for every exported class and every operation it
// announces, over many situations (ray types, front, back and grazing hits,
// depth against limit, lights near and far, lobes allowed or not) and parameter
// blocks (defaults, then values an artist might type, textures bound or not,
// matrices identity or rotations).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "testkit/alloc_counter.h"
#include "testkit/elf_data.h"
#include "testkit/harness.h"
#include "testkit/scenario.h"

namespace {

using vtest::Entropy;
using vtest::Operation;
using vtest::Values;

// The first set is the defaults. VESPER_SWEEP_SETS asks for a deeper sweep.
int parameterSets() {
    const char* env = std::getenv("VESPER_SWEEP_SETS");
    const int n = env ? std::atoi(env) : 0;
    return n > 0 ? n : 24;
}
constexpr int kStatesPerSet = 15;
constexpr uint8_t kCanaryA = 0xA7;
constexpr uint8_t kCanaryB = 0x5C;

uint64_t seedOf(const std::string& className, uint64_t salt) {
    uint64_t h = 1469598103934665603ull;
    for (char c : className) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    return h ^ (salt * 0x9E3779B97F4A7C15ull);
}

// The output field called `name` (as changedFields names it), or null.
const pxs::StateField* outputNamed(const std::string& name) {
    for (const pxs::StateField& f : pxs::kStateFields) {
        if ((f.access & pxs::kFieldOut) && name == f.name) return &f;
    }
    return nullptr;
}

// Parameter values a class documents as outside its domain, where a non-finite
// result is the documented answer (see docs/non-finite-policy.md). The sweep
// draws these parameters from inside the domain; the fuzz targets still try all.
struct Domain {
    const char* className;
    const char* parameter;
    bool (*inside)(float);  // for every float of the parameter
    float replacement;      // what the sweep writes instead
};
const Domain kDomains[] = {
    // Divides the reflectance squared, and 1 / level is the power of the map
    // colour: levels near 0 overflow.
    {"corvid_Mtl_Glazing", "u_level", [](float v) { return v > 0.1f; }, 0.5f},
    // exp(-distance * a): a negative absorbance other than -1 amplifies without
    // bound and overflows over long distances.
    {"TamberLegacy", "absorbanceRGB", [](float v) { return v >= 0.0f || v == -1.0f; }, 0.5f},
};

void keepInsideDomains(const std::string& cls, const vhost::RecordingRegistry& registry) {
    for (const Domain& d : kDomains) {
        if (cls != d.className) continue;
        const vhost::Declaration* p = registry.find(d.parameter);
        if (!p || !p->isParameter()) continue;
        auto* f = static_cast<float*>(p->field);
        for (size_t i = 0; i < pxs::paramTypeSize(p->type) / sizeof(float); ++i) {
            if (!d.inside(f[i])) f[i] = d.replacement;
        }
    }
}

// Findings of one kind: how many, and the first few described.
struct Findings {
    int count = 0;
    std::vector<std::string> examples;
    void add(const std::string& what) {
        if (++count <= 4) examples.push_back(what);
    }
    std::string text() const {
        std::ostringstream s;
        s << count << " case(s), e.g.";
        for (const std::string& e : examples) s << "\n  " << e;
        return s.str();
    }
};

struct SweepResult {
    int calls = 0;
    Findings forbiddenWrites, allocations, inputDependence, parameterWrites, nonFinite, noKind;
};

std::string where(const std::string& cls, const Operation& op, int set, int situation) {
    std::ostringstream s;
    s << cls << "::" << op.name << " parameter set " << set << " situation " << situation;
    return s.str();
}

// The written fields hold the same values in both runs.
bool writtenFieldsEqual(const pxs::ShadingState& beforeA, const pxs::ShadingState& a,
                        const pxs::ShadingState& b) {
    const auto* pa = reinterpret_cast<const uint8_t*>(&a);
    const auto* pb = reinterpret_cast<const uint8_t*>(&b);
    for (const std::string& name : vhost::changedFields(beforeA, a)) {
        const pxs::StateField* f = outputNamed(name);
        if (f && std::memcmp(pa + f->offset, pb + f->offset, f->size) != 0) return false;
    }
    return true;
}

std::vector<std::string> nonFiniteFields(const pxs::ShadingState& before,
                                         const pxs::ShadingState& after) {
    std::vector<std::string> out;
    const auto* p = reinterpret_cast<const uint8_t*>(&after);
    for (const std::string& name : vhost::changedFields(before, after)) {
        const pxs::StateField* f = outputNamed(name);
        if (!f || f->type != pxs::kFieldFloat) continue;
        for (size_t i = 0; i < f->size / 4; ++i) {
            float v;
            std::memcpy(&v, p + f->offset + 4 * i, 4);
            if (!std::isfinite(v)) {
                std::ostringstream s;
                s << name << "[" << i << "]=" << v;
                out.push_back(s.str());
            }
        }
    }
    return out;
}

// Runs `op` on the state and services that `seed` and `situation` make.
struct Call {
    pxs::ShadingState before, after;
};
Call callWith(const vtest::Shader& s, const Operation& op, uint64_t seed, int situation,
              uint8_t canary) {
    Entropy se(seed), sv(~seed);
    Call c;
    c.before = vtest::makeState(s.registry, situation, se, Values::Plausible, canary);
    c.after = c.before;
    vhost::TestServices services;
    vtest::configureServices(services, sv, Values::Plausible);
    vhost::callPerHit(s.get(), op.slot, &services, &c.after);
    return c;
}

// The parameters that, put back to their defaults one at a time, make a
// non-finite result finite: what a developer looks at first.
std::string blame(vtest::Shader& s, const vtest::Shader& fresh, const Operation& op, uint64_t seed,
                  int situation) {
    std::string out;
    const auto edited = s.registry.parameters();
    const auto defaults = fresh.registry.parameters();
    for (size_t i = 0; i < edited.size() && i < defaults.size(); ++i) {
        const size_t n = pxs::paramTypeSize(edited[i]->type);
        std::vector<uint8_t> saved(n);
        std::memcpy(saved.data(), edited[i]->field, n);
        std::memcpy(edited[i]->field, defaults[i]->field, n);
        const Call c = callWith(s, op, seed, situation, kCanaryA);
        std::memcpy(edited[i]->field, saved.data(), n);
        if (nonFiniteFields(c.before, c.after).empty()) {
            out += " " + edited[i]->name + "=" + edited[i]->valueText();
        }
    }
    return out.empty() ? "" : "; finite with the default of:" + out;
}

SweepResult sweep(const std::string& cls) {
    SweepResult r;
    vtest::Shader s(cls), fresh(cls);
    if (!s.object) return r;
    const std::vector<Operation> ops =
        vtest::announcedOperations(vhost::shaderKind(s.get()), s.registry.capabilities(), cls);
    vtest::TexturePool textures;
    for (int set = 0, sets = parameterSets(); set < sets; ++set) {
        Entropy pe(seedOf(cls, static_cast<uint64_t>(set)));
        if (set > 0) {
            vtest::writeParameters(s.registry, pe, Values::Plausible, textures);
            keepInsideDomains(cls, s.registry);
        }
        const std::vector<uint8_t> params = vtest::parameterBytes(s.registry);
        for (int k = 0; k < kStatesPerSet; ++k) {
            const int situation = (set * kStatesPerSet + k) % vtest::kSituations;
            for (const Operation& op : ops) {
                // Two runs on identical inputs; all other bytes hold different canaries.
                const uint64_t seed = seedOf(cls, 1000003ull * set + 7919ull * k + op.slot);
                Entropy se(seed), seB(seed), svE(~seed), svEB(~seed);
                pxs::ShadingState a =
                    vtest::makeState(s.registry, situation, se, Values::Plausible, kCanaryA);
                pxs::ShadingState b =
                    vtest::makeState(s.registry, situation, seB, Values::Plausible, kCanaryB);
                vhost::TestServices svA, svB;
                vtest::configureServices(svA, svE, Values::Plausible);
                vtest::configureServices(svB, svEB, Values::Plausible);
                const pxs::ShadingState beforeA = a, beforeB = b;

                const vtest::AllocationCounts heap = vtest::allocationCounts();
                vhost::callPerHit(s.get(), op.slot, &svA, &a);
                const uint64_t allocated = vtest::allocationCounts().allocations - heap.allocations;
                vhost::callPerHit(s.get(), op.slot, &svB, &b);
                ++r.calls;

                const std::string at = where(cls, op, set, situation);
                for (const std::string& f : vtest::forbiddenWrites(op, beforeA, a)) {
                    r.forbiddenWrites.add(at + ": wrote " + f);
                }
                if (allocated != 0) {
                    r.allocations.add(at + ": " + std::to_string(allocated) + " allocation(s)");
                }
                if (vhost::changedFields(beforeA, a) != vhost::changedFields(beforeB, b) ||
                    !writtenFieldsEqual(beforeA, a, b)) {
                    r.inputDependence.add(at + ": results depend on bytes the host did not set");
                }
                // The host reads sampleKind after every sampleBsdf that keeps the hit.
                const std::vector<std::string> written = vhost::changedFields(beforeA, a);
                if (op.slot == vhost::kSlotSampleBsdf &&
                    std::find(written.begin(), written.end(), "sampleKind") == written.end() &&
                    std::find(written.begin(), written.end(), "skipHit") == written.end()) {
                    r.noKind.add(at + ": no sampleKind");
                }
                if (vtest::parameterBytes(s.registry) != params) {
                    r.parameterWrites.add(at + ": changed its own parameters");
                }
                const std::vector<std::string> nonFinite = nonFiniteFields(beforeA, a);
                if (!nonFinite.empty()) {
                    r.nonFinite.add(
                        at + ": " + nonFinite.front() +
                        (r.nonFinite.count < 4 ? blame(s, fresh, op, seed, situation) : ""));
                }
            }
        }
    }
    return r;
}

// One sweep per class, shared by the checks below.
const SweepResult& sweepOf(const std::string& cls) {
    static std::map<std::string, SweepResult> results;
    auto it = results.find(cls);
    if (it == results.end()) it = results.emplace(cls, sweep(cls)).first;
    return it->second;
}

class Sweep : public ::testing::TestWithParam<std::string> {};

TEST_P(Sweep, WritesOnlyTheFieldsOfItsOperation) {
    const SweepResult& r = sweepOf(GetParam());
    ASSERT_GT(r.calls, 0);
    EXPECT_EQ(r.forbiddenWrites.count, 0) << r.forbiddenWrites.text();
}

TEST_P(Sweep, AllocatesNothingPerHit) {
    const SweepResult& r = sweepOf(GetParam());
    EXPECT_EQ(r.allocations.count, 0) << r.allocations.text();
}

// Outputs, reserved bytes and undeclared attributes hold different canaries in
// two otherwise identical calls: the results must not see the difference.
TEST_P(Sweep, ResultsDependOnlyOnInputFields) {
    const SweepResult& r = sweepOf(GetParam());
    EXPECT_EQ(r.inputDependence.count, 0) << r.inputDependence.text();
}

TEST_P(Sweep, SampleBsdfAlwaysSaysWhatItSampled) {
    const SweepResult& r = sweepOf(GetParam());
    EXPECT_EQ(r.noKind.count, 0) << r.noKind.text();
}

TEST_P(Sweep, PerHitCallsLeaveTheParametersAlone) {
    const SweepResult& r = sweepOf(GetParam());
    EXPECT_EQ(r.parameterWrites.count, 0) << r.parameterWrites.text();
}

TEST_P(Sweep, FiniteResultsForFiniteInput) {
    const SweepResult& r = sweepOf(GetParam());
    EXPECT_EQ(r.nonFinite.count, 0) << r.nonFinite.text();
}

// The host may store any non-zero byte for true: every such byte must give the
// results of 1.
TEST_P(Sweep, EveryNonZeroBoolByteMeansTrue) {
    const std::string cls = GetParam();
    vtest::Shader s(cls);
    ASSERT_TRUE(s.object);
    const std::vector<Operation> ops =
        vtest::announcedOperations(vhost::shaderKind(s.get()), s.registry.capabilities(), cls);
    vtest::TexturePool textures;
    Findings wrong;
    for (int set = 0; set < 4; ++set) {
        Entropy pe(seedOf(cls, 500u + set));
        if (set > 0) vtest::writeParameters(s.registry, pe, Values::Plausible, textures);
        for (const vhost::Declaration* d : s.registry.parameters()) {
            if (d->type != pxs::ParamType::Bool) continue;
            auto* byte = static_cast<uint8_t*>(d->field);
            const uint8_t saved = *byte;
            for (int situation = set; situation < vtest::kSituations; situation += 4) {
                for (const Operation& op : ops) {
                    pxs::ShadingState want;
                    for (uint8_t value : {uint8_t(1), uint8_t(2), uint8_t(0x80), uint8_t(0xFF)}) {
                        *byte = value;
                        Entropy se(seedOf(cls, 77u * situation + op.slot)), sv(se.bits());
                        pxs::ShadingState st = vtest::makeState(s.registry, situation, se);
                        vhost::TestServices services;
                        vtest::configureServices(services, sv, Values::Plausible);
                        vhost::callPerHit(s.get(), op.slot, &services, &st);
                        if (value == 1) {
                            want = st;
                        } else if (std::memcmp(&want, &st, sizeof st) != 0) {
                            std::ostringstream m;
                            m << cls << "::" << op.name << " \"" << d->name << "\" = " << int(value)
                              << " situation " << situation;
                            wrong.add(m.str());
                        }
                    }
                }
            }
            *byte = saved;
        }
    }
    EXPECT_EQ(wrong.count, 0) << wrong.text();
}

INSTANTIATE_TEST_SUITE_P(Library, Sweep, ::testing::ValuesIn(vtest::library().classes()),
                         [](const auto& info) { return info.param; });

// Per-hit operations may run on many threads at once, so the library keeps no
// data it can write: nothing of its own in .data, .bss or thread-local storage.
TEST(LibraryData, NoWritableDataOfItsOwn) {
#if defined(VESPER_SANITIZE_BUILD)
    GTEST_SKIP() << "the sanitizers add writable data of their own";
#endif
    const vtest::WritableData w = vtest::writableData(vtest::library().path());
    ASSERT_TRUE(w.readable) << vtest::library().path();
    EXPECT_EQ(w.tlsBytes, 0u) << "thread-local storage";
    if (!w.hasSymbols) {
        // Stripped: only the toolchain's few bytes may remain.
        EXPECT_LE(w.writableBytes, 32u);
        return;
    }
    // What the C runtime start files and the C++ runtime put into every library.
    static const char* const kToolchain[] = {"__dso_handle", "__TMC_END__", "completed.0",
                                             "DW.ref.__gxx_personality_v0"};
    for (const vtest::WritableSymbol& s : w.symbols) {
        bool toolchain = false;
        for (const char* t : kToolchain) toolchain = toolchain || s.name == t;
        EXPECT_TRUE(toolchain) << s.name << " (" << s.size << " bytes in " << s.section << ")";
    }
}

}  // namespace

// One object of every class, shared by many render threads at once: each thread
// has its own states and services (with scripted random numbers) and must get,
// bit for bit, what a single thread gets. Run under ThreadSanitizer as well.
#include <atomic>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>

#include "testkit/harness.h"
#include "testkit/scenario.h"

namespace {

using vtest::Entropy;
using vtest::Values;

constexpr int kThreads = 8;
constexpr int kRounds = 3;
constexpr int kSituationsPerOperation = 12;

// One call: which shared object and slot, the seeds of its state and services,
// and the state a single thread produced.
struct Case {
    size_t shader;
    vtest::Operation op;
    int situation;
    uint64_t seed;
    pxs::ShadingState expected;
};

pxs::ShadingState run(const vtest::Shader& s, const Case& c) {
    Entropy se(c.seed), sv(~c.seed);
    pxs::ShadingState st = vtest::makeState(s.registry, c.situation, se);
    vhost::TestServices services;
    vtest::configureServices(services, sv, Values::Plausible);
    vhost::callPerHit(s.get(), c.op.slot, &services, &st);
    return st;
}

TEST(Concurrency, SharedObjectsGiveSingleThreadedResults) {
    std::vector<std::unique_ptr<vtest::Shader>> shaders;
    vtest::TexturePool textures;
    std::vector<Case> cases;
    for (const std::string& cls : vtest::library().classes()) {
        auto s = std::make_unique<vtest::Shader>(cls);
        ASSERT_TRUE(s->object) << cls;
        Entropy pe(0xC0FFEEull + cases.size());
        vtest::writeParameters(s->registry, pe, Values::Plausible, textures);
        for (const vtest::Operation& op : vtest::announcedOperations(
                 vhost::shaderKind(s->get()), s->registry.capabilities(), cls)) {
            for (int k = 0; k < kSituationsPerOperation; ++k) {
                Case c{shaders.size(),
                       op,
                       (k * 7 + op.slot) % vtest::kSituations,
                       0x5EEDull * (cases.size() + 1),
                       {}};
                c.expected = run(*s, c);
                cases.push_back(c);
            }
        }
        shaders.push_back(std::move(s));
    }
    ASSERT_FALSE(cases.empty());

    std::atomic<int> ready{0};
    std::atomic<int> mismatches{0};
    std::vector<std::string> firstMismatch(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Start together so that the calls overlap.
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                // Each thread walks the cases from its own starting point.
                for (size_t i = 0; i < cases.size(); ++i) {
                    const Case& c = cases[(i + t * cases.size() / kThreads) % cases.size()];
                    pxs::ShadingState got = run(*shaders[c.shader], c);
                    if (std::memcmp(&got, &c.expected, sizeof got) != 0) {
                        if (mismatches.fetch_add(1) == 0) {
                            std::ostringstream m;
                            m << vtest::library().classes()[c.shader] << "::" << c.op.name
                              << " situation " << c.situation;
                            firstMismatch[t] = m.str();
                        }
                    }
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    std::string first;
    for (const std::string& m : firstMismatch) first += m;
    EXPECT_EQ(mismatches.load(), 0) << "first: " << first;
}

}  // namespace

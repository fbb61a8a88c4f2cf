#include "fuzz_driver.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/library.h"
#include "host/slots.h"

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));

namespace vfuzz {

namespace {

const vhost::Library* gLibrary = nullptr;
std::atomic<bool> gCounting{false};
std::atomic<uint64_t> gAllocations{0};

void onMalloc(const volatile void*, size_t) {
    if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1);
}
void onFree(const volatile void*) {}

[[noreturn]] void fail(const std::string& cls, const vtest::Operation& op, const char* what,
                       const std::string& detail) {
    std::fprintf(stderr, "\n%s::%s %s %s\n", cls.c_str(), op.name, what, detail.c_str());
    std::abort();
}

uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t nameHash(const std::string& s) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// The class named by the input's first line. Otherwise its first four bytes
// are a key, and the class whose name hashes highest with that key wins: a new
// class takes over only its own share of such inputs, the rest keep theirs.
const std::string& chooseClass(const uint8_t*& data, size_t& size) {
    const std::vector<std::string>& classes = gLibrary->classes();
    const void* nl = std::memchr(data, '\n', size < 64 ? size : 64);
    if (nl) {
        size_t n = static_cast<size_t>(static_cast<const uint8_t*>(nl) - data);
        for (const std::string& c : classes) {
            if (c.size() == n && std::memcmp(c.data(), data, n) == 0) {
                data += n + 1;
                size -= n + 1;
                return c;
            }
        }
    }
    uint64_t key = 0;
    for (int i = 0; i < 4 && size; ++i, ++data, --size) key = (key << 8) | *data;
    const std::string* best = &classes.front();
    uint64_t bestScore = 0;
    for (const std::string& c : classes) {
        const uint64_t score = mix(nameHash(c) ^ key);
        if (score >= bestScore) best = &c, bestScore = score;
    }
    return *best;
}

}  // namespace

void initialize() {
    static const vhost::Library library;
    if (!library.loaded() || library.classes().empty()) {
        std::fprintf(stderr, "cannot load the library: %s\n", library.error().c_str());
        std::abort();
    }
    gLibrary = &library;
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
}

void runInput(const uint8_t* data, size_t size, vtest::Values hostValues) {
    const std::string& cls = chooseClass(data, size);
    vtest::Entropy e(data, size);
    vhost::ShaderPtr object = gLibrary->create(cls);
    if (!object) std::abort();
    vhost::RecordingRegistry registry;
    vhost::declareParameters(object.get(), &registry);
    vtest::TexturePool textures;
    vtest::writeParameters(registry, e, vtest::Values::Any, textures);
    const std::vector<uint8_t> params = vtest::parameterBytes(registry);

    for (const vtest::Operation& op : vtest::announcedOperations(vhost::shaderKind(object.get()),
                                                                 registry.capabilities(), cls)) {
        const int situation = static_cast<int>(e.pick(vtest::kSituations));
        pxs::ShadingState st = vtest::makeState(registry, situation, e, hostValues);
        vhost::TestServices services;
        vtest::configureServices(services, e, hostValues);
        const pxs::ShadingState before = st;

        gAllocations.store(0);
        gCounting.store(true);
        vhost::callPerHit(object.get(), op.slot, &services, &st);
        gCounting.store(false);

        std::vector<std::string> wrong = vtest::forbiddenWrites(op, before, st);
        if (!wrong.empty()) fail(cls, op, "wrote", wrong.front());
        if (gAllocations.load() != 0) fail(cls, op, "allocated", "");
        if (vtest::parameterBytes(registry) != params) fail(cls, op, "changed", "its parameters");
    }
}

}  // namespace vfuzz

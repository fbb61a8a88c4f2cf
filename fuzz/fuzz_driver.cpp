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

// The class named by the input's first line, or picked by its first byte.
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
    size_t pick = size ? data[0] % classes.size() : 0;
    if (size) ++data, --size;
    return classes[pick];
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

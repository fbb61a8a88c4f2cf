#include "testkit/alloc_counter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> gAllocations{0};
std::atomic<uint64_t> gFrees{0};

#if defined(VESPER_SANITIZE_BUILD)
// The sanitizers own malloc and operator new; they report every heap block,
// the library's included, through these hooks.
void onMalloc(const volatile void*, std::size_t) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
}
void onFree(const volatile void*) {
    gFrees.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));
namespace {
[[maybe_unused]] const int gHooked = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
#else
void* allocate(std::size_t n) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    void* p = std::malloc(n ? n : 1);
    return p;
}
void release(void* p) {
    if (!p) return;
    gFrees.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}
#endif
}  // namespace

namespace vtest {
AllocationCounts allocationCounts() {
    return {gAllocations.load(std::memory_order_relaxed), gFrees.load(std::memory_order_relaxed)};
}
}  // namespace vtest

#if !defined(VESPER_SANITIZE_BUILD)
void* operator new(std::size_t n) {
    if (void* p = allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    if (void* p = allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
#endif

// On Windows the DLL carries its own statically linked operator new and delete,
// so the test program's counting replacements (testkit/alloc_counter.cpp) never
// see the library's allocations. Once the library is loaded, its imports of
// malloc and free are pointed at the counting operators, so the contract tests
// observe what _create and the deleting destroy do inside the DLL.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <new>

#include "testkit/harness.h"

namespace {

void* countedMalloc(size_t n) {
    return ::operator new(n ? n : 1, std::nothrow);
}

void countedFree(void* p) {
    ::operator delete(p);
}

// Replaces the import-table entries of `module` for `name`; returns how many.
int redirectImport(HMODULE module, const char* name, void* replacement) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return 0;
    int replaced = 0;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         imp->Name != 0; ++imp) {
        DWORD lookup = imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookup);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD old;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            ++replaced;
        }
    }
    return replaced;
}

class DllAllocations : public ::testing::Environment {
  public:
    void SetUp() override {
        const vhost::Library& lib = vtest::library();
        ASSERT_TRUE(lib.loaded()) << lib.error();
        HMODULE module = GetModuleHandleA(lib.path().c_str());
        ASSERT_TRUE(module) << lib.path();
        ASSERT_GT(redirectImport(module, "malloc", reinterpret_cast<void*>(&countedMalloc)), 0)
            << "the DLL's allocator should come from the C runtime's malloc";
        ASSERT_GT(redirectImport(module, "free", reinterpret_cast<void*>(&countedFree)), 0);
    }
};

::testing::Environment* const gDllAllocations =
    ::testing::AddGlobalTestEnvironment(new DllAllocations);

}  // namespace

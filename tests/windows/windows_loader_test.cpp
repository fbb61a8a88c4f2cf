// The Windows side of the test host: LoadLibrary, and the export list read from
// the DLL file, checked against the export directory Windows itself mapped.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

#include "testkit/harness.h"

namespace {

using vtest::library;

// Export names of a loaded module, read from its mapped image with the system's
// own structure definitions (independent of the file reader under test).
std::vector<std::string> mappedExports(HMODULE module) {
    auto* base = reinterpret_cast<const uint8_t*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (dir.VirtualAddress == 0) return names;
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WindowsLoader, LoadsTheDllBesideTheProgram) {
    ASSERT_TRUE(library().loaded()) << library().error();
    std::string path = library().path();
    std::string file = path.substr(path.find_last_of("/\\") + 1);
    EXPECT_EQ(file, "vesperShaders64.dll");
    EXPECT_EQ(GetModuleHandleA(path.c_str()), GetModuleHandleA("vesperShaders64.dll"));
}

TEST(WindowsLoader, FileExportListMatchesTheMappedImage) {
    HMODULE module = GetModuleHandleA(library().path().c_str());
    ASSERT_TRUE(module);
    std::vector<std::string> fromFile = vhost::exportedFunctions(library().path());
    EXPECT_FALSE(fromFile.empty());
    EXPECT_EQ(fromFile, mappedExports(module));
    for (const std::string& name : fromFile) {
        EXPECT_TRUE(GetProcAddress(module, name.c_str())) << name;
    }
    // The load hook is not an export, nor is anything from the static runtime.
    EXPECT_FALSE(GetProcAddress(module, "DllMain"));
    EXPECT_FALSE(GetProcAddress(module, "_Znwy"));
    EXPECT_FALSE(GetProcAddress(module, "malloc"));
}

TEST(WindowsLoader, MissingLibraryIsReportedNotFatal) {
    vhost::Library missing("no-such-directory\\vesperShaders64.dll");
    EXPECT_FALSE(missing.loaded());
    EXPECT_FALSE(missing.error().empty());
    EXPECT_TRUE(missing.classes().empty());
    EXPECT_FALSE(missing.createFunction("corvid_Mtl_Solid"));
    EXPECT_EQ(missing.apiVersion("corvid_Mtl_Solid"), -1);
    EXPECT_FALSE(missing.create("corvid_Mtl_Solid"));
}

}  // namespace

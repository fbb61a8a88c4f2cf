// The Windows side of the test host: LoadLibrary, and the export list read from
// the DLL file, checked against the export directory Windows itself mapped.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

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

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string writeTemp(const std::string& bytes) {
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "vsp", 0, file);
    std::ofstream(file, std::ios::binary).write(bytes.data(), bytes.size());
    return file;
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

// Damaged or foreign files must give an empty or partial list, never a crash or
// a name that is not in the real table.
TEST(WindowsLoader, DamagedFilesYieldNoForeignNames) {
    std::string dll = readFile(library().path());
    ASSERT_GT(dll.size(), 4096u);
    std::vector<std::string> full = vhost::exportedFunctions(library().path());
    std::set<std::string> known(full.begin(), full.end());

    std::vector<std::string> damaged = {
        "",
        "MZ",
        dll.substr(0, 0x40),
        dll.substr(0, 0x200),
        dll.substr(0, dll.size() / 2),
        dll.substr(0, dll.size() - 1),
        std::string("MZ") + std::string(0x3a, '\0') + std::string("\xff\xff\xff\x7f", 4),
    };
    // The PE header offset pointing past the end, and the export directory RVA
    // pointing nowhere.
    std::string farHeader = dll;
    farHeader[0x3c] = '\xf0';
    farHeader[0x3d] = '\xff';
    damaged.push_back(farHeader);
    uint32_t pe;
    std::memcpy(&pe, dll.data() + 0x3c, 4);
    std::string badExports = dll;
    std::memset(&badExports[pe + 24 + 112], 0x7f, 4);
    damaged.push_back(badExports);

    for (size_t i = 0; i < damaged.size(); ++i) {
        std::string path = writeTemp(damaged[i]);
        for (const std::string& name : vhost::exportedFunctions(path)) {
            EXPECT_TRUE(known.count(name)) << "case " << i << ": " << name;
        }
        DeleteFileA(path.c_str());
    }
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    EXPECT_TRUE(vhost::exportedFunctions(self).empty()) << "the test program exports nothing";
}

}  // namespace

#include "host/library.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#endif

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/slots.h"

namespace vhost {

namespace {

constexpr char kCreateSuffix[] = "_create";

bool endsWith(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() > n && s.compare(s.size() - n, n, suffix) == 0;
}

}  // namespace

#if defined(_WIN32)

namespace {

// Little-endian reads that fail instead of running past the end of the file.
struct Bytes {
    std::vector<char> data;

    bool u16(size_t at, uint32_t* v) const {
        if (at > data.size() || data.size() - at < 2) return false;
        auto b = reinterpret_cast<const unsigned char*>(data.data() + at);
        *v = b[0] | (b[1] << 8);
        return true;
    }
    bool u32(size_t at, uint32_t* v) const {
        if (at > data.size() || data.size() - at < 4) return false;
        auto b = reinterpret_cast<const unsigned char*>(data.data() + at);
        *v = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
        return true;
    }
};

}  // namespace

// Every name in the export directory of the PE file at `path`. Data and
// forwarded exports are listed too: the library should have none, and a check
// against the class list must see them if it does.
std::vector<std::string> exportedFunctions(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Bytes f{
        std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
    std::vector<std::string> names;
    uint32_t pe, signature, sectionCount, optionalSize, magic;
    if (f.data.size() < 2 || f.data[0] != 'M' || f.data[1] != 'Z' || !f.u32(0x3c, &pe) ||
        !f.u32(pe, &signature) || signature != 0x00004550 || !f.u16(pe + 6, &sectionCount) ||
        !f.u16(pe + 20, &optionalSize) || !f.u16(pe + 24, &magic)) {
        return names;
    }
    size_t optional = pe + 24;
    // Data directories start at 112 in a PE32+ optional header, at 96 in a PE32 one.
    size_t directories = optional + (magic == 0x20b ? 112 : 96);
    uint32_t directoryCount, exportRva;
    size_t countAt = directories - 4;
    if (!f.u32(countAt, &directoryCount) || directoryCount < 1 || !f.u32(directories, &exportRva) ||
        exportRva == 0) {
        return names;
    }
    size_t sections = optional + optionalSize;
    // File offset of a relative virtual address, through the section that holds it.
    auto offsetOf = [&](uint32_t rva, size_t* out) {
        for (uint32_t i = 0; i < sectionCount; ++i) {
            size_t h = sections + 40 * static_cast<size_t>(i);
            uint32_t va, rawSize, rawOffset;
            if (!f.u32(h + 12, &va) || !f.u32(h + 16, &rawSize) || !f.u32(h + 20, &rawOffset)) {
                return false;
            }
            if (rva >= va && rva - va < rawSize) {
                *out = static_cast<size_t>(rawOffset) + (rva - va);
                return *out < f.data.size();
            }
        }
        return false;
    };
    size_t dir, nameTable;
    uint32_t nameCount, nameTableRva;
    if (!offsetOf(exportRva, &dir) || !f.u32(dir + 24, &nameCount) ||
        !f.u32(dir + 32, &nameTableRva) || !offsetOf(nameTableRva, &nameTable)) {
        return names;
    }
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint32_t nameRva;
        size_t at;
        if (!f.u32(nameTable + 4 * static_cast<size_t>(i), &nameRva) || !offsetOf(nameRva, &at)) {
            break;
        }
        const char* name = f.data.data() + at;
        names.emplace_back(name, strnlen(name, f.data.size() - at));
    }
    std::sort(names.begin(), names.end());
    return names;
}

#else

std::vector<std::string> exportedFunctions(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    if (bytes.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr eh;
    std::memcpy(&eh, bytes.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) {
        return names;
    }
    auto section = [&](size_t i, Elf64_Shdr* out) {
        size_t at = eh.e_shoff + i * eh.e_shentsize;
        if (i >= eh.e_shnum || at + sizeof(Elf64_Shdr) > bytes.size()) return false;
        std::memcpy(out, bytes.data() + at, sizeof *out);
        return true;
    };
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr sh, strtab;
        if (!section(i, &sh) || sh.sh_type != SHT_DYNSYM || !section(sh.sh_link, &strtab)) continue;
        if (sh.sh_offset + sh.sh_size > bytes.size() ||
            strtab.sh_offset + strtab.sh_size > bytes.size()) {
            break;
        }
        for (size_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, bytes.data() + sh.sh_offset + off, sizeof sym);
            int bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || ELF64_ST_TYPE(sym.st_info) != STT_FUNC ||
                (bind != STB_GLOBAL && bind != STB_WEAK) || sym.st_name >= strtab.sh_size) {
                continue;
            }
            const char* name = bytes.data() + strtab.sh_offset + sym.st_name;
            names.emplace_back(name, strnlen(name, strtab.sh_size - sym.st_name));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

#endif

void ShaderDeleter::operator()(pxs::IShaderBase* s) const {
    if (s) destroy(s, pxs::kDestroyFree);
}

#if defined(_WIN32)

namespace {

std::string lastErrorText() {
    DWORD code = GetLastError();
    char* text = nullptr;
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string s = n ? std::string(text, n) : "LoadLibrary failed";
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s + " (error " + std::to_string(code) + ")";
}

// The file a loaded module came from, or "" (nullptr: the running program).
std::string moduleFileName(HMODULE module) {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return "";
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

using AnyFunction = void (*)();

AnyFunction symbol(void* handle, const std::string& name) {
    if (!handle) return nullptr;
    // Through void(*)(): the one function type a FARPROC may be cast to quietly.
    return reinterpret_cast<AnyFunction>(
        GetProcAddress(static_cast<HMODULE>(handle), name.c_str()));
}

}  // namespace

// The build records where it wrote the DLL, but a Windows program may run on
// another machine or under an emulator: look beside the running program instead.
std::string Library::defaultPath() {
    std::string built = VESPER_LIBRARY_PATH;
    std::string file = built.substr(built.find_last_of("/\\") + 1);
    std::string self = moduleFileName(nullptr);
    return self.substr(0, self.find_last_of("/\\") + 1) + file;
}

Library::Library(const std::string& path) : path_(path) {
    // No "cannot find the DLL" message boxes: the caller gets the error instead.
    DWORD mode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &mode);
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) error_ = lastErrorText();
    SetThreadErrorMode(mode, nullptr);
    if (!module) return;
    handle_ = module;
    // LoadLibrary may have searched for a bare name: read the file it chose.
    std::string loadedFrom = moduleFileName(module);
    if (!loadedFrom.empty()) path_ = loadedFrom;
    for (const std::string& f : exportedFunctions(path_)) {
        if (endsWith(f, kCreateSuffix)) {
            classes_.push_back(f.substr(0, f.size() - std::strlen(kCreateSuffix)));
        }
    }
}

Library::~Library() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

pxs::CreateFunction Library::createFunction(const std::string& className) const {
    return reinterpret_cast<pxs::CreateFunction>(symbol(handle_, className + "_create"));
}

pxs::ApiVersionFunction Library::apiVersionFunction(const std::string& className) const {
    return reinterpret_cast<pxs::ApiVersionFunction>(symbol(handle_, className + "_getAPIVersion"));
}

#else

std::string Library::defaultPath() {
    return VESPER_LIBRARY_PATH;
}

Library::Library(const std::string& path) : path_(path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = dlerror();
        error_ = e ? e : "dlopen failed";
        return;
    }
    for (const std::string& f : exportedFunctions(path)) {
        if (endsWith(f, kCreateSuffix)) {
            classes_.push_back(f.substr(0, f.size() - std::strlen(kCreateSuffix)));
        }
    }
}

Library::~Library() {
    if (handle_) dlclose(handle_);
}

pxs::CreateFunction Library::createFunction(const std::string& className) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<pxs::CreateFunction>(dlsym(handle_, (className + "_create").c_str()));
}

pxs::ApiVersionFunction Library::apiVersionFunction(const std::string& className) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<pxs::ApiVersionFunction>(
        dlsym(handle_, (className + "_getAPIVersion").c_str()));
}

#endif

int32_t Library::apiVersion(const std::string& className) const {
    pxs::ApiVersionFunction f = apiVersionFunction(className);
    return f ? f() : -1;
}

ShaderPtr Library::create(const std::string& className) const {
    pxs::CreateFunction f = createFunction(className);
    return ShaderPtr(f ? f() : nullptr);
}

}  // namespace vhost

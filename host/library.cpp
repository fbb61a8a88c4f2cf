#include "host/library.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdint>
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

namespace {

// Little-endian reads that fail instead of running past the end of the file;
// offsets come from the file, so every sum is checked before it is formed.
struct Bytes {
    const unsigned char* data;
    size_t size;

    bool within(uint64_t at, uint64_t length) const { return at <= size && length <= size - at; }
    // base + index * stride, when it lies in the file.
    bool element(uint64_t base, uint64_t index, uint64_t stride, uint64_t* out) const {
        if (base > size || (stride != 0 && index > (size - base) / stride)) return false;
        *out = base + index * stride;
        return true;
    }
    template <typename T>
    bool read(uint64_t at, T* v) const {
        if (!within(at, sizeof(T))) return false;
        uint64_t x = 0;
        for (size_t i = 0; i < sizeof(T); ++i) x |= static_cast<uint64_t>(data[at + i]) << (8 * i);
        *v = static_cast<T>(x);
        return true;
    }
    std::string text(uint64_t at, uint64_t limit) const {
        const char* s = reinterpret_cast<const char*>(data + at);
        return std::string(s, strnlen(s, limit));
    }
};

// Every name in the export directory of a PE file. Data and forwarded exports
// are listed too: the library should have none, and a check against the class
// list must see them if it does.
std::vector<std::string> peExports(const Bytes& f) {
    std::vector<std::string> names;
    uint32_t pe;
    uint32_t signature;
    uint16_t sectionCount, optionalSize, magic;
    if (!f.read(0x3c, &pe) || !f.read(pe, &signature) || signature != 0x00004550 ||
        !f.read(uint64_t{pe} + 6, &sectionCount) || !f.read(uint64_t{pe} + 20, &optionalSize) ||
        !f.read(uint64_t{pe} + 24, &magic)) {
        return names;
    }
    uint64_t optional = uint64_t{pe} + 24;
    // Data directories start at 112 in a PE32+ optional header, at 96 in a PE32 one.
    uint64_t directories = optional + (magic == 0x20b ? 112 : 96);
    uint32_t directoryCount, exportRva;
    if (!f.read(directories - 4, &directoryCount) || directoryCount < 1 ||
        !f.read(directories, &exportRva) || exportRva == 0) {
        return names;
    }
    uint64_t sections = optional + optionalSize;
    // The Windows loader takes at most 96 sections; more is not a library.
    if (sectionCount > 96) return names;
    // File offset of a relative virtual address, through the section that holds it.
    auto offsetOf = [&](uint32_t rva, uint64_t* out) {
        for (uint32_t i = 0; i < sectionCount; ++i) {
            uint64_t h;
            uint32_t va, rawSize, rawOffset;
            if (!f.element(sections, i, 40, &h) || !f.read(h + 12, &va) ||
                !f.read(h + 16, &rawSize) || !f.read(h + 20, &rawOffset)) {
                return false;
            }
            if (rva >= va && rva - va < rawSize) {
                *out = uint64_t{rawOffset} + (rva - va);
                return *out < f.size;
            }
        }
        return false;
    };
    uint64_t dir, nameTable;
    uint32_t nameCount, nameTableRva;
    if (!offsetOf(exportRva, &dir) || !f.read(dir + 24, &nameCount) ||
        !f.read(dir + 32, &nameTableRva) || !offsetOf(nameTableRva, &nameTable)) {
        return names;
    }
    for (uint32_t i = 0; i < nameCount && i < (1u << 16); ++i) {
        uint32_t nameRva;
        uint64_t at;
        if (!f.read(nameTable + 4 * uint64_t{i}, &nameRva) || !offsetOf(nameRva, &at)) break;
        names.push_back(f.text(at, f.size - at));
    }
    return names;
}

// The defined global and weak functions of the dynamic symbol table of a
// little-endian 64-bit ELF file.
std::vector<std::string> elfExports(const Bytes& f) {
    constexpr uint32_t kDynsym = 11;
    constexpr unsigned kFunction = 2, kGlobal = 1, kWeak = 2;
    constexpr uint64_t kSectionHeader = 64, kSymbol = 24;
    std::vector<std::string> names;
    uint64_t shoff;
    uint16_t shentsize, shnum;
    if (f.size < 64 || f.data[4] != 2 /* 64-bit */ || f.data[5] != 1 /* little-endian */ ||
        !f.read(40, &shoff) || !f.read(58, &shentsize) || !f.read(60, &shnum)) {
        return names;
    }
    struct Section {
        uint32_t type = 0, link = 0;
        uint64_t offset = 0, size = 0;
    };
    auto section = [&](uint64_t i, Section* s) {
        uint64_t at;
        return i < shnum && f.element(shoff, i, shentsize, &at) && f.within(at, kSectionHeader) &&
               f.read(at + 4, &s->type) && f.read(at + 24, &s->offset) &&
               f.read(at + 32, &s->size) && f.read(at + 40, &s->link) &&
               f.within(s->offset, s->size);
    };
    for (uint64_t i = 0; i < shnum; ++i) {
        Section sym, str;
        if (!section(i, &sym) || sym.type != kDynsym || !section(sym.link, &str)) continue;
        for (uint64_t off = 0; sym.size - off >= kSymbol; off += kSymbol) {
            uint64_t at = sym.offset + off;
            uint32_t name = 0;
            uint16_t shndx = 0;
            f.read(at, &name);
            f.read(at + 6, &shndx);
            unsigned info = f.data[at + 4];
            unsigned bind = info >> 4;
            if (shndx == 0 || (info & 0xf) != kFunction || (bind != kGlobal && bind != kWeak) ||
                name >= str.size) {
                continue;
            }
            names.push_back(f.text(str.offset + name, str.size - name));
        }
    }
    return names;
}

}  // namespace

std::vector<std::string> exportedFunctions(const unsigned char* data, size_t size) {
    Bytes f{data, size};
    std::vector<std::string> names;
    if (size >= 4 && std::memcmp(data,
                                 "\x7f"
                                 "ELF",
                                 4) == 0) {
        names = elfExports(f);
    } else if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        names = peExports(f);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> exportedFunctions(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return exportedFunctions(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

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
    // A factory of another interface revision (or of another library altogether)
    // is never called: what it returns cannot be used through these slots.
    if (apiVersion(className) != pxs::kApiVersion) return nullptr;
    pxs::CreateFunction f = createFunction(className);
    return ShaderPtr(f ? f() : nullptr);
}

}  // namespace vhost

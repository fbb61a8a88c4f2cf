#include "host/library.h"

#include <dlfcn.h>
#include <elf.h>

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

void ShaderDeleter::operator()(pxs::IShaderBase* s) const {
    if (s) destroy(s, pxs::kDestroyFree);
}

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

int32_t Library::apiVersion(const std::string& className) const {
    pxs::ApiVersionFunction f = apiVersionFunction(className);
    return f ? f() : -1;
}

ShaderPtr Library::create(const std::string& className) const {
    pxs::CreateFunction f = createFunction(className);
    return ShaderPtr(f ? f() : nullptr);
}

}  // namespace vhost

#include "testkit/elf_data.h"

#include <cxxabi.h>
#include <elf.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vtest {

namespace {

std::string demangle(const char* name) {
    int status = 0;
    char* d = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = status == 0 && d ? d : name;
    std::free(d);
    return out;
}

struct Range {
    uint64_t begin, end;
    bool contains(uint64_t a) const { return a >= begin && a < end; }
};

}  // namespace

WritableData writableData(const std::string& path) {
    WritableData out;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto read = [&](uint64_t at, void* dst, size_t n) {
        if (at > bytes.size() || n > bytes.size() - at) return false;
        std::memcpy(dst, bytes.data() + at, n);
        return true;
    };
    Elf64_Ehdr eh;
    if (!read(0, &eh, sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
        eh.e_ident[EI_CLASS] != ELFCLASS64) {
        return out;
    }
    out.readable = true;

    std::vector<Range> relro;
    for (size_t i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        if (!read(eh.e_phoff + i * eh.e_phentsize, &ph, sizeof ph)) return out;
        if (ph.p_type == PT_GNU_RELRO) relro.push_back({ph.p_vaddr, ph.p_vaddr + ph.p_memsz});
        if (ph.p_type == PT_TLS) out.tlsBytes += ph.p_memsz;
    }
    auto protectedAfterLoad = [&](uint64_t a) {
        for (const Range& r : relro) {
            if (r.contains(a)) return true;
        }
        return false;
    };

    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        if (!read(eh.e_shoff + i * eh.e_shentsize, &sections[i], sizeof(Elf64_Shdr))) return out;
    }
    auto sectionName = [&](size_t i) -> std::string {
        if (eh.e_shstrndx >= sections.size()) return "?";
        const Elf64_Shdr& names = sections[eh.e_shstrndx];
        uint64_t at = names.sh_offset + sections[i].sh_name;
        if (at >= bytes.size()) return "?";
        return std::string(bytes.data() + at, strnlen(bytes.data() + at, bytes.size() - at));
    };
    // Sections whose symbols are writable data: allocated and writable outside
    // the relocation-protected range, or thread-local.
    std::vector<bool> writable(sections.size(), false);
    for (size_t i = 0; i < sections.size(); ++i) {
        const Elf64_Shdr& s = sections[i];
        if (!(s.sh_flags & SHF_ALLOC) || !(s.sh_flags & SHF_WRITE)) continue;
        if (s.sh_flags & SHF_TLS) {
            writable[i] = true;
            continue;
        }
        if (s.sh_size == 0 || protectedAfterLoad(s.sh_addr)) continue;
        writable[i] = true;
        out.sections.push_back(sectionName(i) + ":" + std::to_string(s.sh_size));
        out.writableBytes += s.sh_size;
    }

    for (const Elf64_Shdr& s : sections) {
        if (s.sh_type != SHT_SYMTAB || s.sh_link >= sections.size()) continue;
        out.hasSymbols = true;
        const Elf64_Shdr& strtab = sections[s.sh_link];
        for (uint64_t off = 0; off + sizeof(Elf64_Sym) <= s.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            if (!read(s.sh_offset + off, &sym, sizeof sym)) break;
            int type = ELF64_ST_TYPE(sym.st_info);
            if (type == STT_SECTION || type == STT_FILE || type == STT_FUNC) continue;
            if (sym.st_shndx == SHN_UNDEF || sym.st_shndx >= sections.size() ||
                !writable[sym.st_shndx]) {
                continue;
            }
            if (type == STT_NOTYPE && sym.st_size == 0) continue;  // section markers
            uint64_t at = strtab.sh_offset + sym.st_name;
            if (at >= bytes.size()) continue;
            std::string raw(bytes.data() + at, strnlen(bytes.data() + at, bytes.size() - at));
            out.symbols.push_back({demangle(raw.c_str()), sectionName(sym.st_shndx), sym.st_size});
        }
    }
    return out;
}

}  // namespace vtest

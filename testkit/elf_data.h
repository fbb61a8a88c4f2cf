// Reads a built shared library's ELF file to find the data it can write at run
// time: symbols in writable memory that stays writable after relocation (the
// .data and .bss kind; read-only-after-relocation tables such as vtables do not
// count) and thread-local storage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtest {

struct WritableSymbol {
    std::string name;  // demangled
    std::string section;
    uint64_t size;
};

struct WritableData {
    bool readable = false;    // a 64-bit ELF file was parsed
    bool hasSymbols = false;  // it has a full symbol table (not stripped)
    // Allocated, writable sections outside the read-only-after-relocation range,
    // with their sizes ("name:bytes").
    std::vector<std::string> sections;
    uint64_t writableBytes = 0;  // their total size
    uint64_t tlsBytes = 0;       // thread-local storage of the file
    std::vector<WritableSymbol> symbols;
};

WritableData writableData(const std::string& path);

}  // namespace vtest

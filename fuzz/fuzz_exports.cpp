// Any bytes as a library file: the export-table reader the loader runs before
// anything is loaded must stay inside the bytes and terminate, whatever the
// ELF or PE headers claim.
#include <cstddef>
#include <cstdint>

#include "host/library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vhost::exportedFunctions(data, size);
    return 0;
}

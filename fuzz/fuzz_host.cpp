// Any parameter values and a careless host: state fields, light lists and
// traced colours may hold any bit pattern as well.
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vfuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vfuzz::runInput(data, size, vtest::Values::Any);
    return 0;
}

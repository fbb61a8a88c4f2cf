// Any parameter values, with a well-formed host: states and service answers as
// a renderer produces them.
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vfuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vfuzz::runInput(data, size, vtest::Values::Plausible);
    return 0;
}

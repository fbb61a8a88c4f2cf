// One fuzz input, run the way a host would: create the class the input names,
// write every parameter from the input (any bit pattern, textures bound or
// not), fill a shading state and the host's answers, and call every operation
// the class announces. Besides the sanitizers, each call is checked for writes
// outside its fields, heap allocation and changes to its own parameters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "testkit/scenario.h"

namespace vfuzz {

// Loads the library; aborts when it cannot.
void initialize();

// An input starts with a class name and '\n' (as the seeds do), or else a
// stable hash of the class names and its first four bytes picks the class. `hostValues` says how
// wild the state and the service answers are; parameters always take any value.
void runInput(const uint8_t* data, size_t size, vtest::Values hostValues);

}  // namespace vfuzz

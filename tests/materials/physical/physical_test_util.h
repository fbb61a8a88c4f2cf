// The physically based materials' test helpers, kept under their old names for the
// tests that still use them; they live in the shared harness.
#pragma once

#include "support/harness.h"

namespace ptest {

using vtest::blockDeclarations;
using vtest::expectArgs;
using vtest::kSampleFields;
using vtest::light;
using vtest::scaled;
using vtest::unit;
using vtest::viewing;

}  // namespace ptest

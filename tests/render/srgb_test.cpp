// The 8-bit sRGB codes of written images come from a table that must give the
// formula's code for every value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "host/reference/image_io.h"

namespace {

float fromBits(uint32_t b) {
    float x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// Every float of [0, 1] in steps of 61 bit patterns, and every one of the steps
// in which the code changes.
TEST(SrgbCodes, TableGivesTheFormulasCode) {
    const uint32_t one = 0x3f800000u, step = 61;
    int previous = vref::srgbByteExact(0.0f);
    for (uint32_t b = 0; b <= one; b += step) {
        float x = fromBits(b);
        int code = vref::srgbByteExact(x);
        ASSERT_EQ(vref::srgbByte(x), code) << x;
        if (code != previous) {
            for (uint32_t k = b - step; k < b; ++k) {
                ASSERT_EQ(vref::srgbByte(fromBits(k)), vref::srgbByteExact(fromBits(k)))
                    << fromBits(k);
            }
        }
        previous = code;
    }
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {-0.0f, -1.0f, -inf, std::nanf(""), 1.0f, 1.5f, 3.0e38f, inf}) {
        EXPECT_EQ(vref::srgbByte(x), vref::srgbByteExact(x)) << x;
    }
}

}  // namespace

// The reference host's random numbers: one low-discrepancy sequence per pixel
// sample, which the render services hand to shaders (random, random2) and the
// integrators draw from.
#pragma once

#include <cstdint>

namespace vref {

// The random numbers of one pixel sample: a low-discrepancy sequence per pixel
// and dimension. Dimension d of sample i of a pixel is component d % 2 of point i
// of a 2D Sobol sequence, shuffled (Owen-scrambled index) per pixel and pair of
// dimensions d / 2 and Owen-scrambled per pixel and dimension. Over the samples of
// a pixel every dimension, and every aligned pair of dimensions, is stratified;
// pixels, pairs and dimensions are decorrelated by hashing. A value depends on
// (seed, pixel, sample, dimension) only, so an image does not depend on thread
// scheduling or on how the frame is split.
class Sampler {
  public:
    Sampler() = default;
    Sampler(uint32_t seed, uint32_t x, uint32_t y, uint32_t sample);
    // The next dimension; uniform in [0, 1), never 1.
    float next();
    // The next aligned pair of dimensions (an odd dimension is skipped), so that the
    // two values are stratified together over the pixel's samples.
    void next2(float* a, float* b);
    // Continues at `dimension` unless the sample is already past it, so that each
    // bounce of a path starts at the same dimension in every sample while no
    // dimension is ever used twice.
    void skipTo(uint32_t dimension) {
        dimension_ = dimension > dimension_ ? dimension : dimension_;
    }
    uint32_t dimension() const { return dimension_; }

  private:
    // The sample's index shuffled for a pair of dimensions, and the pair's seed.
    uint32_t shuffled(uint32_t pair, uint32_t* seed) const;

    uint32_t pixel_ = 0;          // hash of the seed and the pixel
    uint32_t reversedIndex_ = 0;  // the sample, bit-reversed
    uint32_t dimension_ = 0;
};

}  // namespace vref

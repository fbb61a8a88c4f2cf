// Chi-square goodness-of-fit test of a direction sampler against its density.
//
// Directions are binned on a theta x phi grid over the whole sphere (theta from +z).
// The expected count of a cell is the density integrated over the cell (Simpson's
// rule in theta and phi, with the sin(theta) of the solid angle) times the number of
// attempts. Attempts the sampler rejects form one more cell, whose expected count is
// the mass the density leaves outside the sphere (1 minus its integral). Cells whose
// expected count is below a minimum are pooled into one. A cell with no expected mass
// but observed samples fails the test outright.
//
// Random numbers come from a fixed seed, so every run sees the same samples.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "vesper/types.h"

namespace vtest {

struct Chi2Settings {
    int thetaBins = 20;
    int phiBins = 40;
    int samples = 400000;
    // Integration points per cell and axis.
    int integrationSteps = 16;
    double minExpected = 5.0;
    // Significance of one test, before the correction for `testCount` repeated tests.
    double significance = 0.01;
    int testCount = 1;
    uint64_t seed = 0x5EED1234ABCDull;
};

struct Chi2Result {
    bool passed = false;
    double statistic = 0.0;
    int degreesOfFreedom = 0;
    double pValue = 0.0;
    double integral = 0.0;  // the density's integral over the sphere
    std::string message;    // why it failed, with the cell table
};

// sample(u1, u2) turns two uniform numbers in [0, 1) into a unit direction, or
// nothing when it rejects them; density(d) is its density over solid angle (0 where
// it never samples).
using DirectionSampler = std::function<std::optional<pxs::float3>(float, float)>;
using DirectionDensity = std::function<double(pxs::float3)>;

Chi2Result chi2Test(const DirectionSampler& sample, const DirectionDensity& density,
                    const Chi2Settings& settings = {});

// Upper tail of the chi-square distribution: P(X >= x) with k degrees of freedom.
double chi2Survival(double x, int k);

}  // namespace vtest

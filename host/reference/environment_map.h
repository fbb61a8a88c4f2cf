// Importance sampling of the environment by its brightness.
//
// The sphere of directions (z up) is cut into a latitude-longitude grid of cells:
// cell (i, j), in row j from the zenith, spans phi in [i, i + 1) 2 pi / width and
// theta in [j, j + 1) pi / height. Each cell has a brightness b (a luminance, never
// negative), and directions are drawn with a density over solid angle that is
// constant within a cell and proportional to its brightness:
//
//   pdf(w) = b(cell of w) / sum over cells of b * solidAngle(cell)
//
// A cell's solid angle, (cos theta_j - cos theta_j+1) 2 pi / width, is the integral
// of sin(theta) over it: rows near the poles are chosen in proportion to how little
// of the sphere they cover. Within the cell the direction is uniform in phi and
// cos(theta), so the density stays finite at the poles.
#pragma once

#include <functional>
#include <vector>

#include "host/reference/vmath.h"

namespace vref {

class EnvironmentMap {
  public:
    // An empty map: nothing to sample.
    EnvironmentMap() = default;
    // `brightness` holds width x height values, row by row from the zenith. Values
    // that are negative or not finite count as 0. A map whose cells are all 0 is
    // empty.
    EnvironmentMap(int width, int height, const std::vector<float>& brightness);

    bool empty() const { return total_ <= 0.0; }
    int width() const { return width_; }
    int height() const { return height_; }

    // A direction drawn from two uniforms in [0, 1), and its density over solid
    // angle. An empty map returns (0, 0, 1) with density 0.
    float3 sample(float u1, float u2, float* pdf) const;
    // The density of drawing `direction` (unit) over solid angle.
    float pdf(float3 direction) const;

  private:
    int width_ = 0, height_ = 0;
    double total_ = 0.0;            // sum of brightness x solid angle
    std::vector<float> rowCdf_;     // height + 1 entries, from 0 to 1
    std::vector<float> columnCdf_;  // (width + 1) per row, from 0 to 1
    std::vector<float> density_;    // per cell, over solid angle
    std::vector<float> cosTheta_;   // height + 1 row boundaries
};

// The brightness of every cell of a width x height grid, for EnvironmentMap: the
// mean luminance of `radiance` at 2 x 2 points inside each cell, so that a bright
// spot of more than half a cell across (the sun) is never missed. Rows are
// evaluated in parallel: `radiance(direction)` is called from several threads at
// once, and must give the same value for a direction whatever thread calls it.
std::vector<float> cellBrightness(int width, int height,
                                  const std::function<float3(float3)>& radiance);

// The unit direction of latitude-longitude coordinates: phi about z from +x,
// theta from +z.
inline float3 sphericalDirection(float cosTheta, float phi) {
    float sinTheta = std::sqrt(std::max(0.0f, 1.0f - cosTheta * cosTheta));
    return {sinTheta * std::cos(phi), sinTheta * std::sin(phi), cosTheta};
}

}  // namespace vref

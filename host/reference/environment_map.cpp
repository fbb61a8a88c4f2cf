#include "host/reference/environment_map.h"

#include <algorithm>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace vref {

namespace {

// Cumulative sums of `weights`, scaled to end at exactly 1; all zeros stay zeros.
void cumulative(const double* weights, int n, float* cdf) {
    double sum = 0.0;
    for (int k = 0; k < n; ++k) sum += weights[k];
    double run = 0.0;
    cdf[0] = 0.0f;
    for (int k = 0; k < n; ++k) {
        run += weights[k];
        cdf[k + 1] = sum > 0.0 ? static_cast<float>(run / sum) : 0.0f;
    }
    if (sum > 0.0) cdf[n] = 1.0f;
}

// The interval k of a cdf of n intervals with cdf[k] <= u < cdf[k + 1], and where u
// lies inside it, in [0, 1): the remainder keeps stratified numbers stratified.
int pick(const float* cdf, int n, float u, float* within) {
    int k = static_cast<int>(std::upper_bound(cdf, cdf + n + 1, u) - cdf) - 1;
    k = std::min(std::max(k, 0), n - 1);
    float width = cdf[k + 1] - cdf[k];
    float t = width > 0.0f ? (u - cdf[k]) / width : 0.0f;
    *within = std::min(std::max(t, 0.0f), 0x1.fffffep-1f);
    return k;
}

float usable(float b) {
    return b > 0.0f && b < 3.0e38f ? b : 0.0f;
}

}  // namespace

EnvironmentMap::EnvironmentMap(int width, int height, const std::vector<float>& brightness) {
    if (width <= 0 || height <= 0 || brightness.size() != size_t(width) * size_t(height)) return;
    width_ = width;
    height_ = height;
    cosTheta_.resize(height + 1);
    for (int j = 0; j <= height; ++j) cosTheta_[j] = std::cos(kPi * j / height);
    cosTheta_[0] = 1.0f;
    cosTheta_[height] = -1.0f;
    // Each row's weight is its brightness times the solid angle of its cells.
    const double cellPhi = 2.0 * 3.14159265358979323846 / width;
    std::vector<double> rowWeight(height), weights(width);
    columnCdf_.resize(size_t(height) * (width + 1));
    for (int j = 0; j < height; ++j) {
        double sum = 0.0;
        for (int i = 0; i < width; ++i) {
            weights[i] = usable(brightness[size_t(j) * width + i]);
            sum += weights[i];
        }
        cumulative(weights.data(), width, &columnCdf_[size_t(j) * (width + 1)]);
        rowWeight[j] = sum * cellPhi * (double(cosTheta_[j]) - double(cosTheta_[j + 1]));
        total_ += rowWeight[j];
    }
    rowCdf_.resize(height + 1);
    cumulative(rowWeight.data(), height, rowCdf_.data());
    // The density follows from the cdfs as stored, so that it is exactly what the
    // sampler draws, cells too faint to be drawn included (density 0).
    density_.assign(size_t(width) * height, 0.0f);
    for (int j = 0; j < height && total_ > 0.0; ++j) {
        double row = double(rowCdf_[j + 1]) - double(rowCdf_[j]);
        double solidAngle = cellPhi * (double(cosTheta_[j]) - double(cosTheta_[j + 1]));
        const float* cdf = &columnCdf_[size_t(j) * (width + 1)];
        for (int i = 0; i < width; ++i) {
            double p = row * (double(cdf[i + 1]) - double(cdf[i]));
            density_[size_t(j) * width + i] = static_cast<float>(p / solidAngle);
        }
    }
}

float3 EnvironmentMap::sample(float u1, float u2, float* pdf) const {
    if (empty()) {
        *pdf = 0.0f;
        return {0.0f, 0.0f, 1.0f};
    }
    float v, u;
    int j = pick(rowCdf_.data(), height_, u2, &v);
    int i = pick(&columnCdf_[size_t(j) * (width_ + 1)], width_, u1, &u);
    *pdf = density_[size_t(j) * width_ + i];
    float phi = (static_cast<float>(i) + u) * (2.0f * kPi / static_cast<float>(width_));
    float cosTheta = cosTheta_[j] + v * (cosTheta_[j + 1] - cosTheta_[j]);
    return sphericalDirection(cosTheta, phi);
}

float EnvironmentMap::pdf(float3 d) const {
    if (empty() || !isFinite(d)) return 0.0f;
    float theta = std::acos(std::min(1.0f, std::max(-1.0f, d.z)));
    float phi = std::atan2(d.y, d.x);
    if (phi < 0.0f) phi += 2.0f * kPi;
    int j = std::min(height_ - 1, static_cast<int>(theta * (static_cast<float>(height_) / kPi)));
    int i =
        std::min(width_ - 1, static_cast<int>(phi * (static_cast<float>(width_) / (2.0f * kPi))));
    return density_[size_t(j) * width_ + std::max(i, 0)];
}

std::vector<float> cellBrightness(int width, int height,
                                  const std::function<float3(float3)>& radiance) {
    std::vector<float> out(size_t(width) * height, 0.0f);
    tbb::parallel_for(tbb::blocked_range<int>(0, height), [&](const tbb::blocked_range<int>& r) {
        for (int j = r.begin(); j < r.end(); ++j) {
            for (int i = 0; i < width; ++i) {
                float sum = 0.0f;
                for (int k = 0; k < 4; ++k) {
                    float theta = kPi * (static_cast<float>(j) + 0.25f + 0.5f * (k >> 1)) / height;
                    float phi =
                        2.0f * kPi * (static_cast<float>(i) + 0.25f + 0.5f * (k & 1)) / width;
                    float3 c = radiance(sphericalDirection(std::cos(theta), phi));
                    sum += usable(luminance(c));
                }
                out[size_t(j) * width + i] = 0.25f * sum;
            }
        }
    });
    return out;
}

}  // namespace vref

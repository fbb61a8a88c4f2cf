#include "testkit/chi2.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "testkit/scenario.h"

namespace vtest {

namespace {

constexpr double kPi = 3.14159265358979323846;

pxs::float3 direction(double theta, double phi) {
    double st = std::sin(theta);
    return pxs::float3(static_cast<float>(st * std::cos(phi)),
                       static_cast<float>(st * std::sin(phi)), static_cast<float>(std::cos(theta)));
}

// Composite midpoint rule over one cell of the density times sin(theta). Open: the
// cell's edges, where a density may jump (the horizon), are never evaluated.
double integrateCell(const DirectionDensity& density, double t0, double t1, double p0, double p1,
                     int n) {
    double ht = (t1 - t0) / n;
    double hp = (p1 - p0) / n;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        double theta = t0 + (i + 0.5) * ht;
        double st = std::sin(theta);
        for (int j = 0; j < n; ++j) sum += density(direction(theta, p0 + (j + 0.5) * hp)) * st;
    }
    return sum * ht * hp;
}

// Regularised lower incomplete gamma P(a, x) by its series (x < a + 1).
double gammaSeries(double a, double x) {
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n < 1000; ++n) {
        term *= x / (a + n);
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * 1e-15) break;
    }
    return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// Regularised upper incomplete gamma Q(a, x) by its continued fraction (x >= a + 1).
double gammaFraction(double a, double x) {
    const double tiny = 1e-300;
    double b = x + 1.0 - a;
    double c = 1.0 / tiny;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i < 1000; ++i) {
        double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < tiny) d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0) < 1e-15) break;
    }
    return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

struct Cell {
    double expected;
    double observed;
    int index;  // theta * phiBins + phi; -1 for the rejected cell, -2 for the pool
};

}  // namespace

double chi2Survival(double x, int k) {
    if (x <= 0.0) return 1.0;
    double a = 0.5 * k;
    double h = 0.5 * x;
    return h < a + 1.0 ? 1.0 - gammaSeries(a, h) : gammaFraction(a, h);
}

Chi2Result chi2Test(const DirectionSampler& sample, const DirectionDensity& density,
                    const Chi2Settings& s) {
    const int cells = s.thetaBins * s.phiBins;
    std::vector<double> observed(cells, 0.0);
    double rejected = 0.0;

    Entropy rng(s.seed);
    for (int i = 0; i < s.samples; ++i) {
        float u1 = rng.unit();
        float u2 = rng.unit();
        std::optional<pxs::float3> d = sample(u1, u2);
        if (!d) {
            rejected += 1.0;
            continue;
        }
        double theta = std::acos(std::clamp(static_cast<double>(d->z), -1.0, 1.0));
        double phi = std::atan2(static_cast<double>(d->y), static_cast<double>(d->x));
        if (phi < 0.0) phi += 2.0 * kPi;
        int ti = std::min(static_cast<int>(theta / kPi * s.thetaBins), s.thetaBins - 1);
        int pi = std::min(static_cast<int>(phi / (2.0 * kPi) * s.phiBins), s.phiBins - 1);
        observed[ti * s.phiBins + pi] += 1.0;
    }

    Chi2Result result;
    std::vector<Cell> table;
    for (int ti = 0; ti < s.thetaBins; ++ti) {
        double t0 = kPi * ti / s.thetaBins;
        double t1 = kPi * (ti + 1) / s.thetaBins;
        for (int pi = 0; pi < s.phiBins; ++pi) {
            double p0 = 2.0 * kPi * pi / s.phiBins;
            double p1 = 2.0 * kPi * (pi + 1) / s.phiBins;
            double mass = integrateCell(density, t0, t1, p0, p1, s.integrationSteps);
            result.integral += mass;
            int index = ti * s.phiBins + pi;
            table.push_back({mass * s.samples, observed[index], index});
        }
    }
    table.push_back({std::max(0.0, 1.0 - result.integral) * s.samples, rejected, -1});

    std::ostringstream why;
    for (const Cell& c : table) {
        if (c.expected == 0.0 && c.observed > 0.0) {
            why << "cell " << c.index << " has " << c.observed << " samples where the density is 0";
            result.message = why.str();
            return result;
        }
    }

    // Pool the sparse cells so that every term of the statistic is well behaved.
    std::sort(table.begin(), table.end(),
              [](const Cell& a, const Cell& b) { return a.expected < b.expected; });
    std::vector<Cell> pooled;
    Cell pool{0.0, 0.0, -2};
    for (const Cell& c : table) {
        if (c.expected < s.minExpected) {
            pool.expected += c.expected;
            pool.observed += c.observed;
        } else {
            pooled.push_back(c);
        }
    }
    if (pool.expected > 0.0 || pool.observed > 0.0) {
        if (pool.expected >= s.minExpected || pooled.empty()) {
            pooled.push_back(pool);
        } else {
            pooled.front().expected += pool.expected;
            pooled.front().observed += pool.observed;
        }
    }

    std::vector<std::pair<double, Cell>> terms;
    for (const Cell& c : pooled) {
        double diff = c.observed - c.expected;
        double term = diff * diff / c.expected;
        result.statistic += term;
        terms.push_back({term, c});
    }
    result.degreesOfFreedom = static_cast<int>(pooled.size()) - 1;
    result.pValue = chi2Survival(result.statistic, result.degreesOfFreedom);
    double alpha = 1.0 - std::pow(1.0 - s.significance, 1.0 / s.testCount);
    result.passed = result.degreesOfFreedom > 0 && result.pValue >= alpha;

    if (!result.passed) {
        std::sort(terms.begin(), terms.end(),
                  [](const auto& a, const auto& b) { return a.first > b.first; });
        why << "chi2 " << result.statistic << " with " << result.degreesOfFreedom << " dof, p "
            << result.pValue << " < " << alpha << "; density integral " << result.integral
            << "\nworst cells (index theta*phiBins+phi, -1 rejected, -2 pool):";
        for (size_t i = 0; i < terms.size() && i < 12; ++i) {
            const Cell& c = terms[i].second;
            why << "\n  " << c.index << ": observed " << c.observed << ", expected " << c.expected;
        }
        result.message = why.str();
    }
    return result;
}

}  // namespace vtest

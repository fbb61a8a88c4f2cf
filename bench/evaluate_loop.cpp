// The C++ half of bench/python_evaluate.py: evaluateBsdf on N directions through
// the rows the Python module runs (python/bsdf_batch.h), called from C++ with no
// Python in between, so that the two throughputs differ by the binding alone.
//
//   vesper_evaluate_loop [--class NAME] [--rows N] [--threads N] [--repeat N]
//
// Prints one JSON line: {"class", "rows", "threads", "seconds", "rowsPerSecond"},
// the fastest of the repeats.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/reference/scene.h"
#include "python/bsdf_batch.h"

namespace {

struct Options {
    std::string className = "corvid_Mtl_Ward";
    size_t rows = 1000000;
    int threads = 1;
    int repeat = 5;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--class") {
            o.className = argv[i + 1];
        } else if (a == "--rows") {
            o.rows = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (a == "--threads") {
            o.threads = std::atoi(argv[i + 1]);
        } else if (a == "--repeat") {
            o.repeat = std::atoi(argv[i + 1]);
        }
    }
    return o;
}

// Directions spread evenly over the sphere (a Fibonacci spiral), as the Python
// half makes them.
std::vector<float> sphereDirections(size_t n) {
    std::vector<float> d(3 * n);
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (size_t i = 0; i < n; ++i) {
        double z = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1.0 - z * z), phi = golden * i;
        d[3 * i] = static_cast<float>(r * std::cos(phi));
        d[3 * i + 1] = static_cast<float>(r * std::sin(phi));
        d[3 * i + 2] = static_cast<float>(z);
    }
    return d;
}

}  // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    vhost::Library lib;
    vhost::ShaderPtr object = lib.create(o.className);
    if (!object) {
        std::fprintf(stderr, "vesper_evaluate_loop: cannot create %s\n", o.className.c_str());
        return 1;
    }
    pxs::IShaderBase* raw = object.get();
    auto material = vref::declareShader(o.className, o.className, raw, std::move(object));
    vref::Scene scene;
    scene.commit();
    vref::RenderSettings settings;
    std::vector<float> directions = sphereDirections(o.rows);
    std::vector<float> value(3 * o.rows), cosine(o.rows), weight(o.rows);
    std::vector<int32_t> kind(o.rows);
    const float s = std::sqrt(0.5f), view[3] = {s, 0.0f, s}, up[3] = {0, 0, 1},
                alongX[3] = {1, 0, 0}, origin[3] = {0, 0, 0};
    vpy::BsdfRows rows;
    rows.count = o.rows;
    rows.view = {view, false};
    rows.direction = {directions.data(), true};
    rows.normal = {up, false};
    rows.tangent = {alongX, false};
    rows.position = {origin, false};
    rows.outValue = value.data();
    rows.outCosine = cosine.data();
    rows.outWeight = weight.data();
    rows.outKind = kind.data();
    double best = 1e30;
    for (int r = 0; r < o.repeat; ++r) {
        auto start = std::chrono::steady_clock::now();
        vpy::runAll(*material, scene, settings, rows, o.threads);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    std::printf(
        "{\"class\": \"%s\", \"rows\": %zu, \"threads\": %d, \"seconds\": %.6f, "
        "\"rowsPerSecond\": %.0f}\n",
        o.className.c_str(), o.rows, o.threads, best, o.rows / best);
    return 0;
}

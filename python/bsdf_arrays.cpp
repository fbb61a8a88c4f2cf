// evaluate and sample: numpy arrays in, the rows run without the GIL, arrays out.
#include <cmath>
#include <string>
#include <vector>

#include "host/reference/scene_loader.h"
#include "python/bsdf_batch.h"
#include "python/convert.h"
#include "python/shader.h"

namespace vpy {

namespace {

using FloatArray = py::array_t<float, py::array::c_style | py::array::forcecast>;

// Unit vectors may be off by this much, as vectors normalised in double or half
// precision are.
constexpr float kUnitTolerance = 1e-3f;

struct VectorInput {
    FloatArray array;  // keeps the data alive while the rows run
    Vectors vectors;
    size_t rows = 1;
};

std::string shapeText(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

// (3,) for every row, or (N, 3); None is `fallback` for every row.
VectorInput vectorInput(py::handle value, const char* name, bool unit, const float* fallback) {
    VectorInput in;
    in.array = value.is_none() ? FloatArray(3, fallback) : FloatArray::ensure(value);
    if (!in.array) throw py::value_error(std::string(name) + " expects an array of numbers");
    const py::array& a = in.array;
    bool single = a.ndim() == 1 && a.shape(0) == 3;
    if (!single && !(a.ndim() == 2 && a.shape(1) == 3)) {
        throw py::value_error(std::string(name) + " expects the shape (3,) or (N, 3), not " +
                              shapeText(a));
    }
    in.vectors = {in.array.data(), !single};
    in.rows = single ? 1 : static_cast<size_t>(a.shape(0));
    for (size_t i = 0; i < in.rows; ++i) {
        vref::float3 v = in.vectors.at(i);
        bool finite = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
        float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        if (!finite || (unit && !(std::fabs(length - 1.0f) <= kUnitTolerance))) {
            throw py::value_error(std::string(name) + "[" + std::to_string(i) + "] is " +
                                  (finite ? "not a unit vector" : "not finite"));
        }
    }
    return in;
}

std::vector<uint32_t> seedInput(py::handle value) {
    py::array a = py::module_::import("numpy").attr("asarray")(value);
    char kind = a.dtype().kind();
    if (a.ndim() != 1 || (kind != 'i' && kind != 'u')) {
        throw py::value_error("seeds expects a one-dimensional array of integers, not " +
                              shapeText(a) + " of " + std::string(py::str(a.dtype())));
    }
    std::vector<uint32_t> seeds;
    seeds.reserve(static_cast<size_t>(a.size()));
    for (py::handle s : a.attr("tolist")()) {
        long long n = s.cast<long long>();
        if (n < 0 || n > 4294967295LL) {
            throw py::value_error("seeds[" + std::to_string(seeds.size()) +
                                  "] is outside [0, 4294967295]");
        }
        seeds.push_back(static_cast<uint32_t>(n));
    }
    return seeds;
}

// The rows every per-row input agrees on.
size_t rowCount(const std::vector<std::pair<const char*, size_t>>& perRow, py::handle count) {
    size_t rows = 0;
    const char* first = nullptr;
    for (const auto& [name, n] : perRow) {
        if (first && n != rows) {
            throw py::value_error(std::string(first) + " has " + std::to_string(rows) +
                                  " rows and " + name + " " + std::to_string(n));
        }
        first = name;
        rows = n;
    }
    if (count.is_none()) return first ? rows : 1;
    double d = 0.0;
    if (!realNumber(count, &d) || d != std::floor(d) || !(std::fabs(d) < 9e18)) {
        throw py::value_error("count expects a whole number of rows");
    }
    long long c = static_cast<long long>(d);
    if (c < 1 || (first && static_cast<size_t>(c) != rows)) {
        throw py::value_error(
            "count is " + std::to_string(c) + ", not " +
            (first ? std::to_string(rows) + " as the arrays have" : "at least 1"));
    }
    return static_cast<size_t>(c);
}

// Every input of a call, checked, with the rows they agree on.
struct Inputs {
    VectorInput view, direction, normal, tangent, position;
    std::vector<uint32_t> seeds;
    size_t rows = 1;

    Inputs(const BsdfArguments& args, bool sample) {
        static const float kZero[3] = {0, 0, 0}, kUp[3] = {0, 0, 1}, kAlongX[3] = {1, 0, 0};
        view = vectorInput(args.view, "view", true, kUp);
        if (!sample) {
            if (args.direction.is_none()) throw py::value_error("evaluate needs directions");
            direction = vectorInput(args.direction, "direction", true, kUp);
        }
        normal = vectorInput(args.normal, "normal", true, kUp);
        tangent = vectorInput(args.tangent, "tangent", true, kAlongX);
        position = vectorInput(args.position, "position", false, kZero);
        std::vector<std::pair<const char*, size_t>> perRow;
        const std::pair<const char*, const VectorInput*> named[] = {{"view", &view},
                                                                    {"direction", &direction},
                                                                    {"normal", &normal},
                                                                    {"tangent", &tangent},
                                                                    {"position", &position}};
        for (const auto& [name, in] : named) {
            if (in->vectors.perRow) perRow.push_back({name, in->rows});
        }
        if (!args.seeds.is_none()) {
            seeds = seedInput(args.seeds);
            perRow.push_back({"seeds", seeds.size()});
        }
        rows = rowCount(perRow, args.count);
    }

    BsdfRows bsdfRows(bool sample) const {
        BsdfRows r;
        r.count = rows;
        r.sample = sample;
        r.view = view.vectors;
        r.direction = direction.vectors;
        r.normal = normal.vectors;
        r.tangent = tangent.vectors;
        r.position = position.vectors;
        r.seeds = seeds.empty() ? nullptr : seeds.data();
        r.rowSeeds = sample;
        return r;
    }
};

vref::RenderSettings settingsOf(const BsdfArguments& args, bool sample) {
    vref::RenderSettings settings;
    try {
        vrender::applyRenderSettings(
            {{"seed", toJson(args.seed, "seed")}, {"threads", toJson(args.threads, "threads")}},
            sample ? "sample()" : "evaluate()", settings);
    } catch (const vrender::SceneError& e) {
        throw Error(e.what());
    }
    return settings;
}

}  // namespace

py::dict Shader::evaluate(const BsdfArguments& args) {
    return run(args, false);
}

py::dict Shader::sample(const BsdfArguments& args) {
    return run(args, true);
}

void Shader::checkOperation(bool sample) const {
    const char* op = sample ? "sampleBsdf" : "evaluateBsdf";
    if (instance_->kind != pxs::kKindMaterial) {
        throw Error("\"" + className() + "\" is not a material: only materials have " + op);
    }
    if (!instance_->has(sample ? pxs::kCapSampleBsdf : pxs::kCapEvaluateBsdf)) {
        throw Error("\"" + className() + "\" does not announce " + op);
    }
}

py::dict Shader::run(const BsdfArguments& args, bool sample) {
    checkOperation(sample);
    const vref::RenderSettings settings = settingsOf(args, sample);
    const Inputs in(args, sample);
    BsdfRows rows = in.bsdfRows(sample);
    const py::ssize_t n = static_cast<py::ssize_t>(rows.count);
    py::array_t<float> direction({n, py::ssize_t{3}}), value({n, py::ssize_t{3}});
    py::array_t<float> cosine(n), weight(n);
    py::array_t<int32_t> kind(n);
    rows.outDirection = direction.mutable_data();
    rows.outValue = value.mutable_data();
    rows.outCosine = cosine.mutable_data();
    rows.outWeight = weight.mutable_data();
    rows.outKind = kind.mutable_data();
    {
        py::gil_scoped_release release;
        std::shared_lock<std::shared_mutex> lock(busy_);
        runAll(*instance_, lib_->scene(), settings, rows, settings.threads);
    }
    py::dict out;
    if (sample) out["direction"] = direction;
    out["value"] = value;
    out["cosine"] = cosine;
    out["weight"] = weight;
    out["kind"] = kind;
    return out;
}

}  // namespace vpy

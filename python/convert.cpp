#include "python/convert.h"

#include <cmath>
#include <limits>

#include <pybind11/numpy.h>

namespace vpy {

using nlohmann::json;

namespace {

// Deeper than any scene; a value that nests itself ends here instead of the stack.
constexpr int kMaxDepth = 64;

bool isNumpy(py::handle v, const char* type) {
    return py::isinstance(v, py::module_::import("numpy").attr(type));
}

json toJsonAt(py::handle v, const std::string& where, int depth) {
    if (depth > kMaxDepth) throw Error(where + " is nested too deeply");
    if (v.is_none()) return nullptr;
    if (isBool(v)) return v.cast<bool>();
    if (py::isinstance<py::str>(v)) return v.cast<std::string>();
    if (py::isinstance<py::int_>(v) || isNumpy(v, "integer")) {
        py::object i = py::reinterpret_steal<py::object>(PyNumber_Long(v.ptr()));
        if (!i) throw py::error_already_set();
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
        if (overflow) throw Error(where + " holds " + std::string(py::repr(v)) + ", too large");
        return n;
    }
    double d;
    if (realNumber(v, &d)) return d;
    if (py::isinstance<py::dict>(v)) {
        json out = json::object();
        for (auto item : v.cast<py::dict>()) {
            if (!py::isinstance<py::str>(item.first)) {
                throw Error(where + " has the key " + std::string(py::repr(item.first)) +
                            "; keys are strings");
            }
            std::string key = item.first.cast<std::string>();
            out[key] = toJsonAt(item.second, where + "." + key, depth + 1);
        }
        return out;
    }
    if (py::isinstance<py::array>(v)) return toJsonAt(v.attr("tolist")(), where, depth);
    if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v)) {
        json out = json::array();
        size_t i = 0;
        for (py::handle e : v) {
            out.push_back(toJsonAt(e, where + "[" + std::to_string(i++) + "]", depth + 1));
        }
        return out;
    }
    if (py::hasattr(v, "__fspath__")) return py::str(v.attr("__fspath__")()).cast<std::string>();
    throw Error(where + " holds a " + std::string(py::str(v.get_type().attr("__name__"))) +
                ", which a scene cannot hold");
}

}  // namespace

bool isBool(py::handle v) {
    return py::isinstance<py::bool_>(v) || isNumpy(v, "bool_");
}

bool realNumber(py::handle v, double* out) {
    if (isBool(v)) return false;
    bool number = py::isinstance<py::float_>(v) || py::isinstance<py::int_>(v) ||
                  isNumpy(v, "floating") || isNumpy(v, "integer");
    if (!number) return false;
    *out = v.cast<double>();
    return true;
}

py::object toPython(const json& j) {
    switch (j.type()) {
        case json::value_t::null:
            return py::none();
        case json::value_t::boolean:
            return py::bool_(j.get<bool>());
        case json::value_t::number_integer:
            return py::int_(j.get<int64_t>());
        case json::value_t::number_unsigned:
            return py::int_(j.get<uint64_t>());
        case json::value_t::number_float:
            return py::float_(j.get<double>());
        case json::value_t::string:
            return py::str(j.get<std::string>());
        case json::value_t::array: {
            py::list out;
            for (const json& e : j) out.append(toPython(e));
            return std::move(out);
        }
        case json::value_t::object: {
            py::dict out;
            for (auto it = j.begin(); it != j.end(); ++it) out[py::str(it.key())] = toPython(*it);
            return std::move(out);
        }
        default:
            return py::none();
    }
}

json toJson(py::handle value, const std::string& where) {
    return toJsonAt(value, where, 0);
}

}  // namespace vpy

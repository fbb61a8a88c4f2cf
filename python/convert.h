// Python values to and from JSON and parameter values, and the module's exceptions.
#pragma once

#include <stdexcept>
#include <string>

#include <pybind11/pybind11.h>
#include <nlohmann/json.hpp>

namespace vpy {

namespace py = pybind11;

// What the module raises as vesper.Error (a ValueError) and its subclasses
// vesper.ParameterError and vesper.SceneError, with the tools' messages.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct ParameterError : Error {
    using Error::Error;
};
struct SceneError : Error {
    using Error::Error;
};

// JSON as plain Python values: dict, list, str, int, float, bool, None.
py::object toPython(const nlohmann::json& j);

// A Python value in the scene format's terms: dicts with string keys, lists and
// tuples, str and path-like objects, numbers (numpy's too), bools, None, numpy
// arrays as nested lists. Throws Error naming `where` for anything else.
nlohmann::json toJson(py::handle value, const std::string& where);

// Python's or numpy's bool.
bool isBool(py::handle value);

// A real number (Python's or numpy's, not a bool) as a double; false otherwise.
bool realNumber(py::handle value, double* out);

}  // namespace vpy

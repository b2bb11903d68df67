// options.hpp: what the binding files share about the library's option
// structs (bound in bind_options.cpp): the conversions of their fields that
// other calls take as plain arguments too.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "numpy_convert.hpp"
#include "velmar/equivalent_linear.hpp"

namespace velmar_python {

// A name (Python text); InvalidArgument naming `name` otherwise.
std::string text_option(const pybind11::handle& value, const std::string& name);

// One curve: None or LinearLayer (linear), Darendeli, Menq, CurveTable,
// PublishedCurve, ZhangAndrusJuang, Kishida, Rollins (the bound structs, or
// the package's classes, which hand theirs over by _core()). TypeError
// naming `name` for anything else.
velmar::Curve curve_option(const pybind11::handle& value, const std::string& name);

// A sequence of curves (None: none), entries named name[i].
std::vector<velmar::Curve> curves_option(const pybind11::handle& value, const std::string& name);

// The bound struct of a curve.
pybind11::object curve_object(const velmar::Curve& curve);

// An unsigned 64-bit integer (a seed or a realisation index), not a bool.
inline std::uint64_t seed_option(const pybind11::handle& value, const std::string& name) {
  namespace py = pybind11;
  if (!is_boolean(value) && PyIndex_Check(value.ptr())) {
    const auto big = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!big) {
      PyErr_Clear();
      throw velmar::InvalidArgument(name + " must be an integer in [0, 2**64), got " + shown(value));
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(big.ptr());
    if (!(v == static_cast<unsigned long long>(-1) && PyErr_Occurred())) return v;
    PyErr_Clear();
  }
  throw velmar::InvalidArgument(name + " must be an integer in [0, 2**64), got " + shown(value));
}

// A value of the bound struct S; TypeError naming `name` otherwise.
template <class S>
S bound_value(const pybind11::handle& value, const std::string& name) {
  namespace py = pybind11;
  if (!py::isinstance<S>(value)) {
    throw py::type_error(name + " must be a velmar._velmar." +
                         py::str(py::type::of<S>().attr("__name__")).cast<std::string>() + ", got " +
                         py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
  }
  return value.cast<S>();
}

}  // namespace velmar_python

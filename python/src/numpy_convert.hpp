// numpy_convert.hpp: the conversions every binding file of velmar._velmar
// shares: numpy arrays in as spans or vectors, results out as numpy arrays,
// and Python scalars into option fields with a message that names the
// option. Conversions only: ranges and combinations are the library's
// checks (its InvalidArgument becomes ValueError).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "velmar/errors.hpp"

namespace velmar_python {

namespace py = pybind11;

// A numpy array of doubles, C order; other dtypes are converted on the way in.
using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

inline std::span<const double> span_of(const InArray& a) { return {a.data(), static_cast<std::size_t>(a.size())}; }

inline std::vector<double> vector_of(const InArray& a) {
  const std::span<const double> s = span_of(a);
  return {s.begin(), s.end()};
}

// A numpy array that takes over `v` (no copy): the capsule frees the vector
// with the array.
template <class T>
py::array_t<T> to_numpy(std::vector<T>&& v) {
  auto* owner = new std::vector<T>(std::move(v));
  py::capsule free_owner(owner, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>({static_cast<py::ssize_t>(owner->size())}, {static_cast<py::ssize_t>(sizeof(T))},
                        owner->data(), free_owner);
}

template <class T>
py::array_t<T> copy_to_numpy(const std::vector<T>& v) {
  return to_numpy(std::vector<T>(v));
}

// A copy of `v` as an array of the given shape (row-major).
template <class T>
py::array_t<T> shaped(const std::vector<T>& v, std::vector<py::ssize_t> shape) {
  py::array_t<T> out(shape);
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}

// The short text of a value for a message (a 400-digit integer by its size).
inline std::string shown(const py::handle& value) {
  if (PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr())) {
    const std::string digits = py::str(value).cast<std::string>();
    if (digits.size() > 30) return "an integer of " + std::to_string(digits.size() - (digits[0] == '-')) + " digits";
  }
  std::string text = py::repr(value).cast<std::string>();
  if (text.size() > 80) text = text.substr(0, 77) + "...";
  return text;
}

inline bool is_boolean(const py::handle& value) {
  if (PyBool_Check(value.ptr())) return true;
  const std::string type = py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
  return type == "bool_" || type == "bool";
}

// A real number (a Python or numpy int or float, not a bool, not complex,
// not text) as a double. Its range is not looked at here: a NaN or an
// infinity reaches the library, whose check names the option. Throws
// InvalidArgument naming `name` otherwise.
inline double real_option(const py::handle& value, const std::string& name) {
  if (is_boolean(value) || PyComplex_Check(value.ptr()) || PyUnicode_Check(value.ptr()) ||
      PyBytes_Check(value.ptr()) || value.is_none()) {
    throw velmar::InvalidArgument(name + " must be a real number, got " + shown(value));
  }
  // An integer (PyIndex_Check holds for a numpy array too: a 0-d float
  // array is no index, and goes on as a float).
  const auto big = PyIndex_Check(value.ptr()) ? py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()))
                                              : py::object();
  if (!big) PyErr_Clear();
  if (big) {
    const double x = PyLong_AsDouble(big.ptr());
    if (x == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw velmar::InvalidArgument(name + " must be a finite real number, got " + shown(value) +
                                    " (too large for a float)");
    }
    return x;
  }
  // A float, a numpy float, or anything else Python turns into one (a 0-d
  // array, a Fraction).
  const auto x = py::reinterpret_steal<py::object>(PyNumber_Float(value.ptr()));
  if (!x) {
    PyErr_Clear();
    throw velmar::InvalidArgument(name + " must be a real number, got " + shown(value));
  }
  return PyFloat_AsDouble(x.ptr());
}

// None, or a real number as real_option takes it.
inline std::optional<double> optional_real_option(const py::handle& value, const std::string& name) {
  if (value.is_none()) return std::nullopt;
  return real_option(value, name);
}

// A whole number (a Python or numpy integer, or a float with no fraction,
// not a bool) within [low, high]. Throws InvalidArgument naming `name`
// otherwise (1.7 is refused, not truncated).
inline long long whole_option(const py::handle& value, const std::string& name, long long low, long long high) {
  const auto refuse = [&]() -> long long {
    throw velmar::InvalidArgument(name + " must be a whole number, got " + shown(value));
  };
  if (is_boolean(value)) return refuse();
  double x = 0.0;
  long long exact = 0;
  bool is_exact = false;
  const auto big = PyIndex_Check(value.ptr()) ? py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()))
                                              : py::object();
  if (!big) PyErr_Clear();
  if (big) {
    int overflow = 0;
    exact = PyLong_AsLongLongAndOverflow(big.ptr(), &overflow);
    is_exact = overflow == 0;
    x = overflow > 0 ? HUGE_VAL : overflow < 0 ? -HUGE_VAL : static_cast<double>(exact);
  } else if (PyFloat_Check(value.ptr()) ||
             py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>().rfind("float", 0) == 0) {
    x = value.cast<double>();
    if (!(std::isfinite(x) && x == std::floor(x))) return refuse();
  } else {
    return refuse();
  }
  if (is_exact ? (exact < low || exact > high)
               : !(x >= static_cast<double>(low) && x <= static_cast<double>(high))) {
    throw velmar::InvalidArgument(name + " must lie in [" + std::to_string(low) + ", " + std::to_string(high) +
                                  "], got " + shown(value));
  }
  return is_exact ? exact : static_cast<long long>(x);
}

inline int integer_option(const py::handle& value, const std::string& name) {
  return static_cast<int>(whole_option(value, name, INT_MIN, INT_MAX));
}

// A one-dimensional sequence of real numbers as a vector; a boolean array
// or entry is refused (numpy would make it 1.0), so is text.
inline std::vector<double> real_vector_option(const py::handle& value, const std::string& name) {
  if (value.is_none() || PyUnicode_Check(value.ptr()) || is_boolean(value)) {
    throw velmar::InvalidArgument(name + " must be a sequence of real numbers, got " + shown(value));
  }
  const py::array raw = py::array::ensure(value);
  if (!raw) {
    PyErr_Clear();
    throw velmar::InvalidArgument(name + " must be a sequence of real numbers, got " + shown(value));
  }
  const char kind = raw.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u') {
    throw velmar::InvalidArgument(name + " must hold real numbers, got " +
                                  (kind == 'b' ? std::string("booleans") : "an array of dtype " +
                                                                               py::str(raw.dtype()).cast<std::string>()));
  }
  if (raw.ndim() != 1) {
    throw velmar::InvalidArgument(name + " must be one-dimensional, got an array of " + std::to_string(raw.ndim()) +
                                  " dimensions");
  }
  return vector_of(InArray::ensure(raw));
}

}  // namespace velmar_python

// curve_tuple.hpp: what the equivalent-linear and batch bindings share: the
// curve models as the pure-Python layer hands them over, one tuple per curve
// (velmar/_eql.py writes them):
//   ("linear",), ("darendeli", pi, ocr, k0, frequency, cycles),
//   ("menq", cu, d50, k0, cycles), ("table", strain, g_ratio, damping).
#pragma once

#include <pybind11/pybind11.h>

#include "velmar/equivalent_linear.hpp"

// The library's curve of one tuple. Throws InvalidArgument for an unknown
// kind; the values are checked by the library where the curve is used.
velmar::Curve curve_from_tuple(const pybind11::tuple& t);

// A whole-number option (a Python or numpy integer, or a float with no
// fraction, not a bool) as an int. Throws InvalidArgument naming `name`
// otherwise (1.7 is refused, not truncated).
int integer_option(const pybind11::handle& value, const char* name);

// curve_tuple.hpp: the curve models as the pure-Python layer hands them over,
// one tuple per curve (velmar/_eql.py writes them):
//   ("linear",), ("darendeli", pi, ocr, k0, frequency, cycles),
//   ("menq", cu, d50, k0, cycles), ("table", strain, g_ratio, damping).
#pragma once

#include <pybind11/pybind11.h>

#include "velmar/equivalent_linear.hpp"

// The library's curve of one tuple. Throws InvalidArgument for an unknown
// kind; the values are checked by the library where the curve is used.
velmar::Curve curve_from_tuple(const pybind11::tuple& t);

// fields.hpp: fixed-width numeric fields, as the output file is written.
//
//   Iw    integer right-aligned in w columns
//   Fw.d  fixed point, d decimals; a zero integer part is written as 0 when
//         the field has room for it
//   Ew.d  0.ddd...E+xx: d significant digits, two exponent digits
//
// Rounding is to nearest, a decimal tie going away from zero. A value that
// does not fit its field (or is not finite) fills it with w asterisks, so the
// other fields keep their columns. Each function appends exactly w characters.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velmar::console {

void field_i(std::string& out, std::int32_t v, int w);
void field_f(std::string& out, float v, int w, int d);
void field_e(std::string& out, float v, int w, int d);

// One field descriptor of a layout: `repeat` fields of kind 'I', 'F' or 'E'.
struct FieldLayout {
  char kind;
  int repeat;
  int w;
  int d;
};

// Writes values through a layout as field lines: the layout is used from its
// start on each line; when it is used up and values remain, the line ends and
// a new one starts. Every line ends with '\n'. Integer fields take the value
// converted to an integer. An empty value list writes nothing.
void field_lines(std::string& out, std::span<const FieldLayout> layout,
                 std::span<const float> values);

}  // namespace velmar::console

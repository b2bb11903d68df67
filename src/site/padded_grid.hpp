// padded_grid.hpp: the transform window of a record filtered through a
// profile, shared by every call that filters records.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "signal/fft_double.hpp"
#include "signal/split_fft.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar::detail {

// A record of n samples at dt is padded with zeros to L, the smallest length
// 2^a or 3 2^a at least 2n (so a filtered motion does not wrap around, and
// the window is at most a third longer than that, not twice as long as a
// power of two alone may be); its spectrum stands at the L/2 + 1
// frequencies k / (L dt), k = 0 .. L/2.
inline std::size_t padded_length(std::size_t n) { return fft_fast_length(2 * n); }

struct PaddedGrid {
  std::size_t L = 0;
  std::vector<double> freqs;  // Hz
};

inline PaddedGrid padded_grid(std::size_t n, double dt) {
  PaddedGrid g;
  g.L = padded_length(n);
  const double df = 1.0 / (static_cast<double>(g.L) * dt);
  g.freqs.resize(g.L / 2 + 1);
  for (std::size_t k = 0; k < g.freqs.size(); ++k) g.freqs[k] = static_cast<double>(k) * df;
  if (!std::isfinite(g.freqs.back())) {
    throw InvalidArgument("dt is so small that the frequencies overflow: " + number(dt));
  }
  return g;
}

}  // namespace velmar::detail

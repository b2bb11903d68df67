// padded_grid.hpp: the transform window of a record filtered through a
// profile, shared by every call that filters records.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "signal/fft_double.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar {

// A record of n samples at dt is padded with zeros to L, the smallest power
// of two at least 2n (so a filtered motion does not wrap around); its
// spectrum stands at the L/2 + 1 frequencies k / (L dt), k = 0 .. L/2.
struct PaddedGrid {
  std::size_t L = 0;
  std::vector<double> freqs;  // Hz
};

inline PaddedGrid padded_grid(std::size_t n, double dt) {
  PaddedGrid g;
  g.L = next_power_of_two(2 * n);
  const double df = 1.0 / (static_cast<double>(g.L) * dt);
  g.freqs.resize(g.L / 2 + 1);
  for (std::size_t k = 0; k < g.freqs.size(); ++k) g.freqs[k] = static_cast<double>(k) * df;
  if (!std::isfinite(g.freqs.back())) {
    throw InvalidArgument("dt is so small that the frequencies overflow: " + number(dt));
  }
  return g;
}

}  // namespace velmar

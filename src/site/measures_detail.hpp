// measures_detail.hpp: transforms shared by the spectra routines (not part of
// the public interface).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "velmar/profile.hpp"

namespace velmar::detail {

// The first `count` terms (count <= n/2 + 1) of the unpadded DFT
// X_k = sum_j x_j exp(+2 pi i j k / n) of the n real samples `x` (n >= 1):
// a power-of-two length directly, any other length by the chirp-z
// (Bluestein) identity over a power-of-two transform of at least 2n - 1
// points. Memory O(n). Does not check the samples.
std::vector<cdouble> real_dft(std::span<const double> x, std::size_t count);

// Velocity (m/s) and displacement (m) of the acceleration `accel` (sampled
// every dt s, times to_si for m/s2), integrated in the frequency domain over
// a window padded with zeros to a power of two at least twice the record's
// length: the spectrum is divided by -i w and by -w^2 (time factor
// exp(-i w t)), its zero-frequency term dropped, so each history has zero
// mean over the padded window. Same length as `accel`.
std::array<std::vector<double>, 2> integrate_twice(std::span<const double> accel, double dt, double to_si);

}  // namespace velmar::detail

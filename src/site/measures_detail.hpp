// measures_detail.hpp: transforms shared by the spectra routines (not part of
// the public interface).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "velmar/profile.hpp"

namespace velmar::detail {

// The unnormalised DFT in place, X_k = sum_j x_j exp(sign 2 pi i j k / n)
// (sign +1 or -1), of any length n: a length 2^a or 3 2^a directly, any
// other by the chirp-z (Bluestein) identity over a transform of such a
// length at least 2n - 1. Memory O(n).
void dft(std::span<cdouble> x, int sign);

// The first `count` terms (count <= n/2 + 1) of the unpadded DFT
// X_k = sum_j x_j exp(+2 pi i j k / n) of the n real samples `x` (n >= 1):
// a length 2^a or 3 2^a directly, any other length by the chirp-z
// (Bluestein) identity over a transform of such a length at least 2n - 1. Memory O(n). Does not check the samples.
std::vector<cdouble> real_dft(std::span<const double> x, std::size_t count);

// Velocity (m/s) and displacement (m) of the acceleration `accel` (sampled
// every dt s, times to_si for m/s2), integrated in the frequency domain over
// the padded window of RecordFilter (record_filter.hpp): the spectrum is divided by -i w and by -w^2 (time factor
// exp(-i w t)), its zero-frequency term dropped, so each history has zero
// mean over the padded window. Same length as `accel`. Throws
// InvalidArgument when a value overflows.
std::array<std::vector<double>, 2> integrate_twice(std::span<const double> accel, double dt, double to_si);

// A positive factor held as m 2^k (m in [0.5, 1) or 0), so that a product
// of factors of any size (a record's peak, dt^2, a period's -2 power) neither
// overflows nor underflows before the one rounding of value(): that result
// is infinite only when the true product is above the largest double.
class Scale {
 public:
  explicit Scale(double x = 1.0) { m_ = std::frexp(x, &k_); }
  Scale& times(double x) {
    int j = 0;
    m_ *= std::frexp(x, &j);
    k_ += j;
    return normalise();
  }
  Scale& over(double x) {
    int j = 0;
    m_ /= std::frexp(x, &j);
    k_ -= j;
    return normalise();
  }
  Scale& times_power_of_two(int e) {
    k_ += e;
    return *this;
  }
  double value() const { return std::ldexp(m_, k_); }

 private:
  Scale& normalise() {
    int j = 0;
    m_ = std::frexp(m_, &j);
    k_ += j;
    return *this;
  }
  double m_ = 0.5;
  int k_ = 1;
};

// The exponent e with max |x| 2^-e in [0.5, 1): a record divided by 2^e
// (exactly, a power of two) has its peak there; 0 for a record of zeros.
inline int peak_exponent(std::span<const double> x) {
  double peak = 0.0;
  for (const double v : x) peak = std::max(peak, std::abs(v));
  int e = 0;
  std::frexp(peak, &e);
  return e;
}

// x 2^-e, samples below `floor` in magnitude (after the division) set to 0.
inline std::vector<double> scaled_down(std::span<const double> x, int e, double floor = 0.0) {
  std::vector<double> y(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double v = std::ldexp(x[i], -e);
    y[i] = std::abs(v) < floor ? 0.0 : v;
  }
  return y;
}

// Refuses oscillator periods the response spectrum cannot take for a record
// sampled at dt: none at all, one not finite or not above 0, or one below
// 1e-9 dt (an oscillator that stiff follows the ground; its PSA is the PGA).
void check_oscillator_periods(std::span<const double> periods, double dt);

}  // namespace velmar::detail

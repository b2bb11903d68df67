// bench_records.hpp: the benchmarks' synthetic accelerogram.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "velmar/motion.hpp"

// A stationary-looking noise record with a smooth envelope, about 0.3 g,
// low-passed by a running mean (content mostly below 20 Hz at dt = 0.005 s).
inline velmar::Record bench_record(std::size_t samples, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> z;
  velmar::Record r;
  r.dt = 0.005;
  std::vector<double> w(samples + 8);
  for (double& v : w) v = z(gen);
  r.accel.resize(samples);
  for (std::size_t j = 0; j < samples; ++j) {
    double s = 0.0;
    for (std::size_t k = 0; k < 8; ++k) s += w[j + k];
    const double t = static_cast<double>(j) * r.dt;
    r.accel[j] = 0.03 * s * (t / 8.0) * std::exp(1.0 - t / 8.0);
  }
  return r;
}

// bench_records.hpp: the benchmarks' synthetic accelerogram and their
// 30-layer soft profile with its curves.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "velmar/equivalent_linear.hpp"
#include "velmar/motion.hpp"
#include "velmar/profile.hpp"

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

// The strain-compatible analyses' benchmark site: `layers` 2 m layers of soft
// soil (Vs 140 m/s rising 9 m/s a layer, density 1.75 t/m3 rising 0.005,
// damping 2 %) over rock (1000 m/s, 2.4 t/m3, 1 %).
inline velmar::Profile bench_soft_profile(std::size_t layers = 30) {
  std::vector<double> th, rho, vs, xi;
  for (std::size_t k = 0; k < layers; ++k) {
    const double x = static_cast<double>(k);
    th.push_back(2.0);
    rho.push_back(1.75 + 0.005 * x);
    vs.push_back(140.0 + 9.0 * x);
    xi.push_back(0.02);
  }
  th.push_back(0.0), rho.push_back(2.4), vs.push_back(1000.0), xi.push_back(0.01);
  return velmar::Profile(th, rho, vs, xi);
}

// Its curves: Darendeli with PI 10, 20, 30, 40 in turn down the layers.
inline std::vector<velmar::Curve> bench_soft_curves(std::size_t layers = 30) {
  std::vector<velmar::Curve> c;
  for (std::size_t k = 0; k < layers; ++k) c.push_back(velmar::Darendeli{10.0 + static_cast<double>(k % 4) * 10.0});
  return c;
}

// eql_acceleration.cpp: Anderson mixing of the equivalent-linear iteration's
// log strains (see eql_acceleration.hpp).
#include "site/eql_acceleration.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace velmar::detail {
namespace {

constexpr std::size_t MAX_DEPTH = 8;
// A residual that grew this much since the last pass starts the history
// afresh (a milder growth is the nonlinearity the mixing rides over).
constexpr double RESET_GROWTH = 10.0;

// Solves the m x m symmetric system A c = b (row-major, m <= MAX_DEPTH) by
// Gaussian elimination with partial pivoting, A with a small ridge already
// added; returns false when a pivot vanishes.
bool solve(std::array<double, MAX_DEPTH * MAX_DEPTH>& A, std::array<double, MAX_DEPTH>& b, std::size_t m) {
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < m; ++r) {
      if (std::abs(A[r * MAX_DEPTH + c]) > std::abs(A[p * MAX_DEPTH + c])) p = r;
    }
    if (!(std::abs(A[p * MAX_DEPTH + c]) > 0.0)) return false;
    if (p != c) {
      for (std::size_t k = 0; k < m; ++k) std::swap(A[c * MAX_DEPTH + k], A[p * MAX_DEPTH + k]);
      std::swap(b[c], b[p]);
    }
    for (std::size_t r = c + 1; r < m; ++r) {
      const double f = A[r * MAX_DEPTH + c] / A[c * MAX_DEPTH + c];
      for (std::size_t k = c; k < m; ++k) A[r * MAX_DEPTH + k] -= f * A[c * MAX_DEPTH + k];
      b[r] -= f * b[c];
    }
  }
  for (std::size_t c = m; c-- > 0;) {
    double s = b[c];
    for (std::size_t k = c + 1; k < m; ++k) s -= A[c * MAX_DEPTH + k] * b[k];
    b[c] = s / A[c * MAX_DEPTH + c];
  }
  return true;
}

}  // namespace

void AndersonMixing::step(std::span<const double> x, std::span<const double> g, std::span<const double> weight,
                          std::span<double> next, double max_step) {
  const std::size_t n = x.size();
  const std::size_t depth = std::clamp<std::size_t>(depth_, 1, MAX_DEPTH - 1);
  const std::size_t rows = depth + 1;
  if (n != size_) {
    size_ = n, count_ = 0;
    f_.assign(rows * n, 0.0), g_.assign(rows * n, 0.0);
  }
  // The newest residual into the ring.
  const std::size_t slot = count_ == 0 ? 0 : (newest_ + 1) % rows;
  double norm = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    f_[slot * n + j] = weight[j] * (g[j] - x[j]);
    g_[slot * n + j] = g[j];
    norm += f_[slot * n + j] * f_[slot * n + j];
  }
  // A residual that grew tenfold since the last pass: the history misleads;
  // start it afresh from this point.
  if (count_ > 0 && norm > RESET_GROWTH * last_norm_) {
    for (std::size_t j = 0; j < n; ++j) {
      f_[j] = f_[slot * n + j], g_[j] = g_[slot * n + j];
    }
    count_ = 0, newest_ = 0;
  } else {
    newest_ = slot;
  }
  count_ = std::min(count_ + 1, rows);
  last_norm_ = norm;
  const std::size_t m = count_ - 1;  // differences available
  const double* f0 = &f_[newest_ * n];
  const double* g0 = &g_[newest_ * n];
  std::array<double, MAX_DEPTH> gamma{};
  bool mixed = false;
  if (m > 0) {
    // Differences D_i = f_newest - f_(newest - i - 1); normal equations of
    // min |f0 - sum gamma_i D_i|, with a ridge of 1e-10 of their scale.
    std::array<std::size_t, MAX_DEPTH> older{};
    for (std::size_t i = 0; i < m; ++i) older[i] = (newest_ + rows - 1 - i) % rows;
    std::array<double, MAX_DEPTH * MAX_DEPTH> A{};
    std::array<double, MAX_DEPTH> b{};
    for (std::size_t j = 0; j < n; ++j) {
      std::array<double, MAX_DEPTH> d{};
      for (std::size_t i = 0; i < m; ++i) d[i] = f0[j] - f_[older[i] * n + j];
      for (std::size_t i = 0; i < m; ++i) {
        b[i] += d[i] * f0[j];
        for (std::size_t k = 0; k <= i; ++k) A[i * MAX_DEPTH + k] += d[i] * d[k];
      }
    }
    double scale = 0.0;
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t k = 0; k < i; ++k) A[k * MAX_DEPTH + i] = A[i * MAX_DEPTH + k];
      scale = std::max(scale, A[i * MAX_DEPTH + i]);
    }
    for (std::size_t i = 0; i < m; ++i) A[i * MAX_DEPTH + i] += 1e-10 * scale;
    mixed = scale > 0.0 && solve(A, b, m);
    if (mixed) {
      for (std::size_t i = 0; i < m; ++i) gamma[i] = std::isfinite(b[i]) ? b[i] : 0.0;
      for (std::size_t j = 0; j < n; ++j) {
        double v = g0[j];
        for (std::size_t i = 0; i < m; ++i) v -= gamma[i] * (g0[j] - g_[older[i] * n + j]);
        next[j] = std::clamp(v, g0[j] - max_step, g0[j] + max_step);
      }
    }
  }
  if (!mixed) {
    for (std::size_t j = 0; j < n; ++j) next[j] = g0[j];
  }
}

}  // namespace velmar::detail

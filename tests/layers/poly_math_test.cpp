// The sweeps' polynomial exponentials, sines and cosines against long double
// over their whole stated ranges: a dense even sweep (which also meets every
// quadrant boundary and reduction step) and random points, uniform in the
// argument and in its logarithm (so that small arguments, where a relative
// bound is hardest, are well represented). The worst errors are recorded as
// test properties; the bounds are the ones poly_math.hpp states.
#include "layers/poly_math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

namespace velmar::detail::poly {
namespace {

using LD = long double;

// The bounds are poly_math.hpp's named ones (the measured worst cases, in
// the comments there, rounded up): a coefficient or reduction constant wrong
// in its last digits fails, the rounding of the evaluation passes.

constexpr int DENSE = 100000;
constexpr int RANDOM = 50000;

// Calls check(x) at DENSE even points of [lo, hi] and RANDOM random ones
// (half uniform, half log-uniform in |x| away from 0 with the sign of the
// interval) and returns the largest value it gave.
double worst_over(double lo, double hi, const std::function<double(double)>& check) {
  double worst = 0.0;
  for (int i = 0; i <= DENSE; ++i) {
    worst = std::max(worst, check(lo + (hi - lo) * (static_cast<double>(i) / DENSE)));
  }
  std::mt19937_64 gen(20240611u);
  std::uniform_real_distribution<double> uni(lo, hi);
  const double big = std::max(std::abs(lo), std::abs(hi));
  std::uniform_real_distribution<double> expo(std::log(1e-12 * big), std::log(big));
  for (int i = 0; i < RANDOM; ++i) {
    double x = uni(gen);
    if (i % 2 == 1) {
      x = std::exp(expo(gen));
      if (hi <= 0.0 || (lo < 0.0 && i % 4 == 1)) x = -x;
      if (x < lo || x > hi) continue;
    }
    worst = std::max(worst, check(x));
  }
  return worst;
}

double sincos_abs_error(double x, double s, double c) {
  const LD xl = x;
  return static_cast<double>(std::max(std::abs(s - std::sin(xl)), std::abs(c - std::cos(xl))));
}

double rel_error(double got, LD want) {
  if (want == 0.0L) return got == 0.0 ? 0.0 : INFINITY;
  return static_cast<double>(std::abs((got - want) / want));
}

struct Case {
  std::string name;
  double lo, hi;
  double bound;
  std::function<double(double)> error;
};

class PolyMath : public ::testing::TestWithParam<Case> {};

TEST_P(PolyMath, WithinItsStatedBoundOverItsWholeRange) {
  const Case& c = GetParam();
  const double worst = worst_over(c.lo, c.hi, c.error);
  RecordProperty("worst_error", std::to_string(worst));
  EXPECT_LE(worst, c.bound) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Functions, PolyMath,
    ::testing::Values(
        Case{"sincos_poly", -SINCOS_LIMIT, SINCOS_LIMIT, SINCOS_POLY_ERROR,
             [](double x) {
               const SinCos v = sincos_poly(x);
               return sincos_abs_error(x, v.s, v.c);
             }},
        Case{"sincos_poly_near_zero", -8.0, 8.0, SINCOS_POLY_ERROR,
             [](double x) {
               const SinCos v = sincos_poly(x);
               return sincos_abs_error(x, v.s, v.c);
             }},
        Case{"half_exp_poly", EXP_FLOOR, 0.0, HALF_EXP_POLY_ERROR,
             [](double x) { return rel_error(half_exp_poly(x), std::exp(static_cast<LD>(x)) / 2); }},
        Case{"expm1_poly", 0.0, EXPM1_LIMIT, EXPM1_POLY_ERROR,
             [](double x) { return rel_error(expm1_poly(x), std::expm1(static_cast<LD>(x))); }},
        Case{"expm1_poly_near_zero", 0.0, 2.0, EXPM1_POLY_ERROR,
             [](double x) { return rel_error(expm1_poly(x), std::expm1(static_cast<LD>(x))); }},
        Case{"sincos_taylor", -MAX_PHASE, MAX_PHASE, SINCOS_TAYLOR_ERROR,
             [](double x) {
               double s = 0.0;
               double c = 0.0;
               sincos_taylor(x, s, c);
               return sincos_abs_error(x, s, c);
             }},
        Case{"sincos_taylor_near_zero", -8.0, 8.0, SINCOS_TAYLOR_ERROR,
             [](double x) {
               double s = 0.0;
               double c = 0.0;
               sincos_taylor(x, s, c);
               return sincos_abs_error(x, s, c);
             }}),
    [](const auto& info) { return info.param.name; });

// Exact values the sweeps rely on: e^0 - 1 is 0 (not a rounding residue), the
// sine of 0 keeps its sign, and the floor of half_exp_poly is a normal double.
TEST(PolyMath, ExactAtZeroAndNormalAtTheFloor) {
  EXPECT_EQ(expm1_poly(0.0), 0.0);
  EXPECT_EQ(half_exp_poly(0.0), 0.5);
  EXPECT_EQ(sincos_poly(0.0).s, 0.0);
  EXPECT_EQ(sincos_poly(0.0).c, 1.0);
  double s = 1.0;
  double c = 0.0;
  sincos_taylor(-0.0, s, c);
  EXPECT_TRUE(std::signbit(s));
  EXPECT_EQ(c, 1.0);
  EXPECT_EQ(std::fpclassify(half_exp_poly(EXP_FLOOR)), FP_NORMAL);
}

}  // namespace
}  // namespace velmar::detail::poly

#include "layers/complex_ops.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "console/engines/damping.hpp"

namespace velmar::detail {
namespace {

TEST(CsqrtBranch, NegativeRealGivesPositiveImaginaryForEitherZeroSign) {
  for (float zero : {0.0f, -0.0f}) {
    const std::complex<float> r = csqrt_branch(std::complex<float>(-4.0f, zero));
    EXPECT_EQ(r.real(), 0.0f);
    EXPECT_EQ(r.imag(), 2.0f);
  }
  const std::complex<double> d = csqrt_branch(std::complex<double>(-9.0, -0.0));
  EXPECT_EQ(d.imag(), 3.0);
}

TEST(CsqrtBranch, NonZeroImaginaryPartFollowsPrincipalBranch) {
  const std::complex<double> z(-3.0, -4.0);  // sqrt = 1 - 2i
  const std::complex<double> r = csqrt_branch(z);
  EXPECT_NEAR(r.real(), 1.0, 1e-15);
  EXPECT_NEAR(r.imag(), -2.0, 1e-15);
  EXPECT_GE(csqrt_branch(std::complex<double>(5.0, -0.0)).real(), 0.0);
}

TEST(Cdiv, ScaledQuotientDoesNotOverflowWhereResultIsRepresentable) {
  const float big = 1e30f;
  const std::complex<float> q = cdiv(std::complex<float>(big, big), std::complex<float>(big, -big));
  EXPECT_NEAR(q.real(), 0.0f, 1e-6f);
  EXPECT_NEAR(q.imag(), 1.0f, 1e-6f);
  const std::complex<double> e = cdiv(std::complex<double>(1, 2), std::complex<double>(3, 4));
  EXPECT_NEAR(e.real(), 0.44, 1e-15);
  EXPECT_NEAR(e.imag(), 0.08, 1e-15);
}

using cd = std::complex<double>;

// A few units of double rounding in a short formula.
constexpr double DOUBLE_REL = 8 * std::numeric_limits<double>::epsilon();

double rel_diff(cd got, cd want) { return std::abs(got - want) / std::abs(want); }

// Every quadrant, the axes with both zero signs, and magnitudes where |q|^2
// leaves the normal range (the fallback through csqrt_branch).
class CsqrtDecaying : public ::testing::TestWithParam<cd> {};

TEST_P(CsqrtDecaying, IsARootWithNonNegativeImaginaryPart) {
  const cd q = GetParam();
  const cd r = csqrt_decaying(q);
  EXPECT_GE(r.imag(), 0.0) << q;
  // One of the two roots of the library, to rounding.
  const cd lib = std::sqrt(q);
  EXPECT_LE(std::min(rel_diff(r, lib), rel_diff(r, -lib)), DOUBLE_REL) << q << " -> " << r;
  if (q.imag() == 0.0 && q.real() > 0.0) {
    EXPECT_GT(r.real(), 0.0) << q;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CsqrtDecaying,
    ::testing::Values(cd(3.0, 4.0), cd(-3.0, 4.0), cd(-3.0, -4.0), cd(3.0, -4.0), cd(-9.0, 0.0), cd(-9.0, -0.0),
                      cd(9.0, 0.0), cd(9.0, -0.0), cd(0.0, 2.0), cd(0.0, -2.0), cd(1e-200, -3e-200),
                      cd(-4e200, 1e200), cd(1e160, -1e160), cd(-1e-170, -1e-170)));

TEST(CsqrtDecaying, ZeroGivesZero) {
  EXPECT_EQ(csqrt_decaying(cd(0.0, 0.0)), cd(0.0, 0.0));
  EXPECT_EQ(csqrt_decaying(cd(-0.0, -0.0)), cd(0.0, 0.0));
}

// The plain products against std::complex over random operands, and the
// reciprocal where |b|^2 is and is not a normal double.
TEST(ComplexProducts, AgreeWithStdComplexToRounding) {
  std::mt19937_64 gen(5u);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int i = 0; i < 1000; ++i) {
    const cd a(u(gen), u(gen));
    const cd b(u(gen), u(gen));
    EXPECT_LE(std::abs(cmul(a, b) - a * b), DOUBLE_REL * std::abs(a) * std::abs(b));
    EXPECT_LE(rel_diff(crecip(b), 1.0 / b), DOUBLE_REL);
  }
  for (double m : {1e-170, 1e170, 1e-300}) {
    const cd b(3.0 * m, -4.0 * m);
    EXPECT_LE(rel_diff(crecip(b), cdiv(cd(1.0, 0.0), b)), DOUBLE_REL) << m;
  }
  EXPECT_EQ(cscale(cd(1.5, -2.0), 2.0f), cd(3.0, -4.0));
}

// The damping law: d from Q for both laws, and the damped velocity and
// slowness against the complex division they stand for.
TEST(DampingLaw, RatioVelocityAndSlownessFollowTheLaw) {
  using namespace console;  // the console engines' damping law, over these operations
  EXPECT_EQ(damping_ratio(1, 20.0, 7.0), 0.025);
  EXPECT_EQ(damping_ratio(0, 20.0, 7.0), 0.025);
  EXPECT_EQ(damping_ratio(IQF_PROPORTIONAL, 20.0, 2.0), 0.0125);
  EXPECT_EQ(proportional_damping_ratio(20.0, 2.0), 0.0125);
  for (double d : {0.0, 0.025, 0.5, -0.1, 3.0}) {
    const cd v(250.0, 0.0);
    EXPECT_LE(rel_diff(damped_velocity(v, d), v / cd(1.0, d)), DOUBLE_REL) << d;
    EXPECT_LE(rel_diff(damped_slowness(v, d), cd(1.0, d) / v), DOUBLE_REL) << d;
  }
}

}  // namespace
}  // namespace velmar::detail

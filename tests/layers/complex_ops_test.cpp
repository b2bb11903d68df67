#include "layers/complex_ops.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace velmar {
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

}  // namespace
}  // namespace velmar

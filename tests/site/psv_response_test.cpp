#include "site/psv_response.hpp"
#include <gtest/gtest.h>
namespace velmar { namespace {
TEST(PsvResponse, Smoke) {
  PsvMedium m{{}, {2.2}, {{800.0, 0.0}}, {{1600.0, 0.0}}};
  std::vector<double> f{1.0}, z{0.0};
  std::vector<cdouble> U(1), W(1);
  psv_response(m, false, 0.0, f, z, U, W);
  EXPECT_NEAR(W[0].real(), -2.0, 1e-12);
}
}}

#include "console/driver/fields.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace velmar::console {
namespace {

std::string F(float v, int w, int d) {
  std::string s;
  field_f(s, v, w, d);
  return s;
}
std::string E(float v, int w, int d) {
  std::string s;
  field_e(s, v, w, d);
  return s;
}
std::string I(int v, int w) {
  std::string s;
  field_i(s, v, w);
  return s;
}

TEST(FieldF, ExactStrings) {
  EXPECT_EQ(F(0.5f, 10, 4), "    0.5000");
  EXPECT_EQ(F(1.0e-6f, 10, 4), "    0.0000");
  EXPECT_EQ(F(-0.25f, 10, 3), "    -0.250");
  EXPECT_EQ(F(0.125f, 5, 2), " 0.13");   // decimal tie goes away from zero
  EXPECT_EQ(F(-0.125f, 6, 2), " -0.13");
  EXPECT_EQ(F(2.675f, 5, 2), " 2.67");   // 2.67499995... is no tie
  EXPECT_EQ(F(19.95f, 10, 4), "   19.9500");
  EXPECT_EQ(F(0.0f, 10, 4), "    0.0000");
  EXPECT_EQ(F(-0.0f, 10, 4), "    0.0000");
  EXPECT_EQ(F(99999.9999f, 10, 4), "**********");  // rounds to 100000.0000: 11 columns
  EXPECT_EQ(F(12345.5f, 10, 4), "12345.5000");      // fills the field exactly
  EXPECT_EQ(F(123456.5f, 10, 4), "**********");     // one digit too many
  EXPECT_EQ(F(0.5f, 5, 4), ".5000");                // no room for the leading 0
  EXPECT_EQ(F(std::numeric_limits<float>::quiet_NaN(), 10, 4), "**********");
  EXPECT_EQ(F(std::numeric_limits<float>::infinity(), 10, 4), "**********");
}

TEST(FieldE, ExactStrings) {
  EXPECT_EQ(E(1234.5f, 12, 3), "   0.123E+04");
  EXPECT_EQ(E(-0.0456f, 12, 3), "  -0.456E-01");
  EXPECT_EQ(E(0.0f, 12, 3), "   0.000E+00");
  EXPECT_EQ(E(9.9996f, 12, 3), "   0.100E+02");   // the rounding carries into the exponent
  EXPECT_EQ(E(1245.0f, 12, 3), "   0.125E+04");   // tie away from zero
  EXPECT_EQ(E(-1235.0f, 12, 3), "  -0.124E+04");
  EXPECT_EQ(E(3.0e38f, 12, 3), "   0.300E+39");
  EXPECT_EQ(E(1.0e-40f, 12, 3), "   0.100E-39");   // subnormal
  EXPECT_EQ(E(1.0f, 12, 3), "   0.100E+01");
  EXPECT_EQ(E(-1.0f, 9, 3), "-.100E+01");          // leading 0 dropped to fit
  EXPECT_EQ(E(-1.0f, 8, 3), "********");
}

TEST(FieldI, ExactStrings) {
  EXPECT_EQ(I(4000, 10), "      4000");
  EXPECT_EQ(I(-7, 3), " -7");
  EXPECT_EQ(I(1234, 3), "***");
}

TEST(FieldLines, LayoutIsReusedOnNewLines) {
  std::vector<float> v(20, 1.0f);
  std::string out;
  static constexpr FieldLayout EIGHT[] = {{'E', 8, 12, 3}};
  field_lines(out, EIGHT, v);
  ASSERT_EQ(out.size(), 20u * 12u + 3u);
  EXPECT_EQ(out.find('\n'), 96u);
  EXPECT_EQ(out.rfind('\n', out.size() - 2), 2u * 97u - 1u);
  static constexpr FieldLayout HEADER[] = {{'I', 1, 10, 0}, {'F', 1, 10, 3}};
  std::string h;
  const float hv[2] = {4000.0f, 0.01f};
  field_lines(h, HEADER, hv);
  EXPECT_EQ(h, "      4000     0.010\n");
  std::string none;
  field_lines(none, EIGHT, std::span<const float>());
  EXPECT_EQ(none, "");
}

}  // namespace
}  // namespace velmar::console

// The shipped example decks: each run reproduces its expected output (layout
// exactly, numbers to the printed precision), and the transfer-function tables
// agree row by row with the independent long-double reference solver.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "e2e/velmar_run.hpp"
#include "layers/psv_reference.hpp"

namespace velmar::e2e {
namespace {

using console::LayerTable;

const fs::path EXAMPLES = VELMAR_EXAMPLES;

// Runs an example deck in a scratch folder; its signal file path is made absolute.
std::string run_example(const ScratchDir& d, const std::string& name) {
  std::string deck = read_file(EXAMPLES / (name + ".deck"));
  const std::string rel = "examples/accelerogram.txt";
  if (const auto p = deck.find(rel); p != std::string::npos) {
    deck.replace(p, rel.size(), (EXAMPLES / "accelerogram.txt").string());
  }
  const RunResult r = run_velmar(d.path(), deck);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  return read_file(d / (name + ".out"));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// Unit of the last printed digit of a fixed-width numeric field.
double last_digit_unit(const std::string& field) {
  const auto e = field.find('E');
  const auto dot = field.find('.');
  const std::string mant = field.substr(0, e);
  const int decimals = static_cast<int>(mant.size() - dot - 1);
  const int exp10 = (e == std::string::npos) ? 0 : std::stoi(field.substr(e + 1));
  return std::pow(10.0, exp10 - decimals);
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, ReproducesItsExpectedOutput) {
  ScratchDir d;
  const std::string name = GetParam();
  const std::vector<std::string> got = lines_of(run_example(d, name));
  const std::vector<std::string> want = lines_of(read_file(EXAMPLES / "expected" / (name + ".out")));
  ASSERT_EQ(got.size(), want.size());
  const int width = (name.find("signal") != std::string::npos) ? 12 : 10;
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].size(), want[i].size()) << "line " << i + 1;
    const int w = (width == 12 && i == 0) ? 10 : width;  // the header of a history is I10, F10.3
    for (std::size_t p = 0; p < got[i].size(); p += static_cast<std::size_t>(w)) {
      const std::string g = got[i].substr(p, static_cast<std::size_t>(w));
      const std::string x = want[i].substr(p, static_cast<std::size_t>(w));
      // Layout: the same columns hold a sign, digits, point and exponent.
      ASSERT_EQ(g.find('.'), x.find('.')) << "line " << i + 1 << ": '" << g << "' vs '" << x << "'";
      // Numbers: within one unit of the last printed digit (a float result
      // that lies near a rounding boundary may print either way).
      EXPECT_NEAR(std::stod(g), std::stod(x), 1.01 * std::max(last_digit_unit(g), last_digit_unit(x)))
          << "line " << i + 1 << " column " << p + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Decks, Example,
                         ::testing::Values("sh_transfer_clay_sand_rock", "psv_transfer_basin", "sh_signal",
                                           "psv_signal"),
                         [](const auto& info) { return info.param; });

// The model and grid of a transfer-function example deck, read plainly.
struct ExampleDeck {
  int itype = 0;
  float angle = 0;
  LayerTable table;
  int lout = 1;
};

ExampleDeck read_example(const std::string& name) {
  std::ifstream in(EXAMPLES / (name + ".deck"));
  std::string line;
  std::getline(in, line);
  ExampleDeck e;
  in >> e.itype >> e.angle;
  std::getline(in, line);
  in >> e.table.NLAYER >> e.lout >> e.table.IQF;
  std::getline(in, line);
  for (int k = 0; k <= e.table.NLAYER; ++k) {
    const auto i = static_cast<std::size_t>(k);
    float vs = 0;
    float vp = 0;
    in >> e.table.THICK[i] >> e.table.RHO[i] >> vs >> e.table.QS[i] >> vp >> e.table.QP[i];
    e.table.VSC[i] = {vs, 0.0f};
    e.table.VPC[i] = {vp, 0.0f};
    std::getline(in, line);
  }
  return e;
}

// Each printed row against half the modulus of the reference response; F10.4
// prints to 5e-5, and the float computation adds a few units of 1e-7 relative.
TEST(ExampleTables, AgreeWithTheIndependentReference) {
  constexpr double PRINT_HALF_UNIT = 0.5e-4;
  constexpr double FLOAT_REL = 64 * std::numeric_limits<float>::epsilon();
  for (const char* name : {"sh_transfer_clay_sand_rock", "psv_transfer_basin"}) {
    ScratchDir d;
    const std::vector<std::string> rows = lines_of(run_example(d, name));
    const ExampleDeck e = read_example(name);
    ASSERT_FALSE(rows.empty());
    for (const std::string& row : rows) {
      double f = std::stod(row.substr(0, 10));
      const double a = std::stod(row.substr(10, 10));
      const double b = std::stod(row.substr(20, 10));
      if (f == 0.0) f = 1.0e-6;
      double ra = 0;
      double rb = 0;
      if (e.itype == 0) {
        ra = std::abs(reference::sh_response(e.table, e.angle, f).u[static_cast<std::size_t>(e.lout - 1)]) / 2;
      } else {
        const reference::PsvResponse r = reference::psv_response(e.table, e.itype, e.angle, f);
        ra = std::abs(r.u[0]) / 2;
        rb = std::abs(r.w[0]) / 2;
      }
      EXPECT_NEAR(a, ra, PRINT_HALF_UNIT * 1.01 + FLOAT_REL * ra) << name << " at " << f;
      EXPECT_NEAR(b, rb, PRINT_HALF_UNIT * 1.01 + FLOAT_REL * rb) << name << " at " << f;
    }
  }
}

}  // namespace
}  // namespace velmar::e2e

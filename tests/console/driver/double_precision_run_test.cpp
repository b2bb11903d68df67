#include "console/driver/double_precision_run.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "console/driver/deck.hpp"
#include "console/driver/run.hpp"
#include "console/driver/text_input.hpp"
#include "console/signal/taper.hpp"
#include "velmar/errors.hpp"

namespace velmar::console {
namespace {

// One 20 m layer (rho 1.8, Vs 200 m/s, QS 10) over an elastic half-space
// (rho 2.2, Vs 1000 m/s); `run` completes the deck after the table.
std::string one_layer_deck(const std::string& wave_line, const std::string& iqf, const std::string& run) {
  return "out.txt\n" + wave_line + "\n1 1 " + iqf + "\n20.0 1.8 200.0 10.0 400.0 20.0\n0.0 2.2 1000.0 50.0 2000.0 100.0\n" +
         run;
}

std::unique_ptr<RunState> read_state(const std::string& text) {
  auto s = std::make_unique<RunState>();
  std::istringstream in(text);
  LineSource src(in, "test.deck");
  read_run_input(src, *s);
  return s;
}

const ResultColumn& column(const DeckColumns& r, const std::string& name) {
  const auto it = std::find_if(r.columns.begin(), r.columns.end(), [&](const ResultColumn& c) { return c.name == name; });
  if (it == r.columns.end()) throw std::runtime_error("no column " + name);
  return *it;
}

// The SH surface response of one layer (thickness h, rho1, complex velocity
// v1) over an elastic half-space (rho2, v2) at vertical incidence, per unit
// incident displacement (time factor exp(-i w t)): 2 / (cos kh - i a sin kh),
// k = w / v1, a = rho1 v1 / (rho2 v2).
cdouble one_layer_surface(double f, double h, double rho1, cdouble v1, double rho2, double v2) {
  const cdouble kh = 2.0 * std::numbers::pi * f / v1 * h;
  const cdouble a = rho1 * v1 / (rho2 * v2);
  return 2.0 / (std::cos(kh) - cdouble(0.0, 1.0) * a * std::sin(kh));
}

TEST(DoublePrecisionRun, ShTransferRunIsTheOneLayerClosedForm) {
  auto s = read_state(one_layer_deck("0 0.0", "1", "0\n0.0 20.0 0.05\n"));
  const DeckColumns r = double_precision_run(*s, "g");
  ASSERT_EQ(r.kind, "transfer");
  ASSERT_EQ(r.components, std::vector<std::string>{"SH"});
  std::vector<std::string> names;
  for (const auto& c : r.columns) names.push_back(c.name + " (" + c.unit + ")");
  EXPECT_EQ(names, (std::vector<std::string>{"frequency (Hz)", "half_modulus (ratio)",
                                             "real (per unit incident displacement)",
                                             "imag (per unit incident displacement)"}));
  const auto& f = column(r, "frequency").values;
  ASSERT_EQ(f.size(), 400u);
  EXPECT_EQ(f[0], 0.0);
  const cdouble v1 = complex_velocity(200.0, 1.0 / 20.0, DampingLaw::VELMAR);
  for (std::size_t i = 0; i < f.size(); ++i) {
    const cdouble want = one_layer_surface(f[i] == 0.0 ? 1e-6 : f[i], 20.0, double{1.8f}, v1, double{2.2f}, 1000.0);
    const double tol = 1e-12 * std::abs(want);
    EXPECT_NEAR(column(r, "real").values[i], want.real(), tol) << f[i];
    EXPECT_NEAR(column(r, "imag").values[i], want.imag(), tol) << f[i];
    EXPECT_NEAR(column(r, "half_modulus").values[i], std::abs(want) / 2.0, tol) << f[i];
  }
}

// A signal run against the console's own float run of the same deck: the
// same steps, so the histories agree within single-precision rounding.
TEST(DoublePrecisionRun, ShSignalRunAgreesWithTheFloatConsole) {
  const std::filesystem::path record = std::filesystem::temp_directory_path() /
                                             ("velmar_dp_run_record_" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream out(record);
    out << "a header line\n";
    for (int i = 0; i < 997; ++i) {  // a decaying 3 Hz burst, 997 samples (transform length 2 x 1000)
      const double t = 0.01 * i;
      out << std::exp(-0.5 * (t - 2.0) * (t - 2.0)) * std::sin(2.0 * std::numbers::pi * 3.0 * t) << "\n";
    }
  }
  for (const char* conv : {"1", "2"}) {
    SCOPED_TRACE(std::string("ICONV = ") + conv);
    const std::string deck =
        one_layer_deck("0 0.0", "1", "1\n" + record.string() + "\n1\n0.01 997 2 " + conv + "\n");
    auto s = read_state(deck);
    const DeckColumns r = double_precision_run(*s, "m/s2");
    ASSERT_EQ(r.kind, "signal");
    auto console = read_state(deck);
    prepare_signal(*console);
    set_grid(*console);
    compute(*console);
    ASSERT_EQ(console->NFFT, 2000);
    const auto& t = column(r, "time").values;
    const auto& y = column(r, "accel").values;
    EXPECT_EQ(column(r, "accel").unit, "m/s2");
    ASSERT_EQ(y.size(), 2000u);
    ASSERT_EQ(r.input.size(), 2000u);
    EXPECT_EQ(t[1], 0.01);
    EXPECT_EQ(t[1999], 1999 * 0.01);
    double peak = 0.0;
    for (double v : y) peak = std::max(peak, std::abs(v));
    ASSERT_GT(peak, 0.1);
    for (std::size_t k = 0; k < y.size(); ++k) {
      ASSERT_NEAR(y[k], double{console->SIG[k]}, 2e-5 * peak) << k;
    }
    // The input is the tapered, halved record padded with zeros.
    EXPECT_EQ(r.input[0], 0.0);
    EXPECT_NEAR(r.input[500], 0.5 * std::exp(-0.5 * 9.0) * std::sin(2.0 * std::numbers::pi * 15.0), 1e-7);
    EXPECT_EQ(r.input[1500], 0.0);
  }
  std::filesystem::remove(record);
}

TEST(DoublePrecisionRun, TaperInDoubleIsTheConsoleTaper) {
  for (const double fraction : {0.05, 0.3, 0.8}) {
    for (const int n : {1, 10, 11, 40, 1001}) {
      std::vector<double> x(static_cast<std::size_t>(n), 1.0);
      std::vector<float> xf(static_cast<std::size_t>(n), 1.0f);
      taper_in_double(x, fraction);
      TAPER(xf, static_cast<float>(fraction), n);
      for (std::size_t k = 0; k < x.size(); ++k) {
        ASSERT_NEAR(x[k], double{xf[k]}, 1e-5) << "n " << n << " fraction " << fraction << " sample " << k;
        ASSERT_LE(x[k], 1.0);  // a fraction above one half never tapers a sample twice
      }
    }
  }
}

TEST(DoublePrecisionRun, DecksTheLibraryDoesNotCompute) {
  auto nothing = read_state(one_layer_deck("-1 0.0", "1", "0\n0.0 20.0 0.05\n"));
  const DeckColumns none = double_precision_run(*nothing, "g");
  EXPECT_EQ(none.kind, "none");
  EXPECT_TRUE(none.columns.empty());
  auto qf = read_state(one_layer_deck("0 0.0", "2", "0\n0.0 20.0 0.05\n"));
  try {
    double_precision_run(*qf, "g");
    FAIL() << "no refusal";
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find("test.deck"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("IQF = 2"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace velmar::console

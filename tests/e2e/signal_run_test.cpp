// Whole-program signal runs: layouts, the prepared record, closed-form filters.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "e2e/velmar_run.hpp"

namespace velmar::e2e {
namespace {

// E12.3 keeps three significant digits: half a unit of the third digit.
constexpr double PRINT_REL = 5e-3;

std::string signal_deck(const std::string& head, const std::string& layers, int npt, int ihalf = 1,
                        int iconv = 1, const std::string& nlayer_line = "0 1 1") {
  return "out.txt\n" + head + "\n" + nlayer_line + "\n" + layers + "1\nsig.txt\n0\n0.01 " + std::to_string(npt) +
         " " + std::to_string(ihalf) + " " + std::to_string(iconv) + "\n";
}

const std::string HALF_SPACE = "0.0 2.2 800 10 1600 20\n";

// The record after tapering (5 % each end, quarter-sine) and optional halving.
std::vector<double> prepared(std::vector<double> x, bool halve) {
  const int n = static_cast<int>(x.size());
  const int ntap = static_cast<int>(std::lround(n * 0.05));
  for (int k = 0; k < ntap; ++k) {
    const double w = std::sin(k * (3.14159265358979 / 2) / ntap);
    x[static_cast<std::size_t>(k)] *= w;
    x[static_cast<std::size_t>(n - 1 - k)] *= w;
  }
  if (halve) for (double& v : x) v /= 2;
  return x;
}

void expect_close(double got, double want, double scale, const std::string& what) {
  EXPECT_NEAR(got, want, PRINT_REL * std::max(std::fabs(want), 1e-30) + 1e-6 * scale) << what;
}

TEST(SignalRun, TwentySampleTransformWritesLinesOfEightEightFour) {
  ScratchDir d;
  write_file(d / "sig.txt", "1 2 3 4 5 6 7 8 9 10\n");
  for (const char* head : {"0 0.0", "2 0.0"}) {
    ASSERT_EQ(run_velmar(d.path(), signal_deck(head, HALF_SPACE, 10)).status, 0);
    const Histories h = parse_histories(read_file(d / "out.txt"));
    EXPECT_EQ(h.nfft, 20);
    EXPECT_DOUBLE_EQ(h.dt, 0.01);
    const std::vector<int> one{8, 8, 4};
    std::vector<int> want = one;
    if (head[0] == '2') want.insert(want.end(), one.begin(), one.end());
    EXPECT_EQ(h.per_line, want) << head;
    EXPECT_EQ(read_file(d / "out.txt").substr(0, 21), "        20     0.010\n");
  }
}

TEST(SignalRun, ITypeNegativeWritesThePreparedRecordAndZeros) {
  ScratchDir d;
  std::vector<double> x;
  for (int i = 1; i <= 40; ++i) x.push_back(i * 1.5);
  write_file(d / "sig.txt", record_text(x));
  for (int ihalf : {1, 2}) {
    ASSERT_EQ(run_velmar(d.path(), signal_deck("-1 0.0", HALF_SPACE, 40, ihalf)).status, 0);
    const Histories h = parse_histories(read_file(d / "out.txt"));
    ASSERT_EQ(h.nfft, 80);
    ASSERT_EQ(h.values.size(), 160u);
    const std::vector<double> p = prepared(x, ihalf == 2);
    for (std::size_t j = 0; j < 80; ++j) {
      expect_close(h.values[j], j < 40 ? p[j] : 0.0, 60, "sample " + std::to_string(j));
      EXPECT_EQ(h.values[80 + j], 0.0);
    }
  }
}

TEST(SignalRun, BareHalfSpaceSvDoublesTheRecordWithoutItsNyquistComponent) {
  ScratchDir d;
  std::vector<double> x;
  for (int i = 0; i < 50; ++i) x.push_back(std::sin(0.3 * i) + 0.25 * ((i % 2) ? -1 : 1) + 0.1 * i);
  write_file(d / "sig.txt", record_text(x));
  ASSERT_EQ(run_velmar(d.path(), signal_deck("2 0.0", HALF_SPACE, 50)).status, 0);
  const Histories h = parse_histories(read_file(d / "out.txt"));
  ASSERT_EQ(h.nfft, 100);
  std::vector<double> p = prepared(x, false);
  p.resize(100, 0.0);
  double nyq = 0;  // the record's mean alternating component
  for (std::size_t j = 0; j < 100; ++j) nyq += p[j] * ((j % 2) ? -1 : 1);
  nyq /= 100;
  for (std::size_t j = 0; j < 100; ++j) {
    const double want = 2 * (p[j] - nyq * ((j % 2) ? -1 : 1));
    expect_close(h.values[j], want, 10, "horizontal " + std::to_string(j));
    EXPECT_LT(std::fabs(h.values[100 + j]), 1e-5) << "vertical " << j;
  }
}

TEST(SignalRun, TransformLengthsAndHistoryLengthsFollowTheSampleCount) {
  ScratchDir d;
  const struct {
    int npt;
    int nfft;
  } cases[] = {{1, 2}, {1000, 2000}, {1025, 2160}, {30000, 60000}};
  for (const auto& c : cases) {
    std::vector<double> x(static_cast<std::size_t>(c.npt));
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::cos(0.01 * static_cast<double>(i));
    write_file(d / "sig.txt", record_text(x));
    const RunResult r = run_velmar(d.path(), signal_deck("0 10.0", "5.0 1.8 200 10 400 20\n" + HALF_SPACE, c.npt,
                                                         1, 1, "1 2 1"));
    ASSERT_EQ(r.status, 0) << r.err;
    const Histories h = parse_histories(read_file(d / "out.txt"));
    EXPECT_EQ(h.nfft, c.nfft);
    EXPECT_EQ(h.values.size(), static_cast<std::size_t>(c.nfft));
    EXPECT_EQ(h.per_line.size(), static_cast<std::size_t>((c.nfft + 7) / 8));
    for (double v : h.values) ASSERT_TRUE(std::isfinite(v));
  }
}

TEST(SignalRun, DivisionUndoesMultiplicationForAWellConditionedResponse) {
  ScratchDir d;
  // A pulse well inside the record, so that the taper leaves it alone and the
  // filtered record's ringing dies out before the padded end.
  std::vector<double> x(200, 0.0);
  for (int i = 40; i < 80; ++i) x[static_cast<std::size_t>(i)] = std::sin(3.14159265358979 * (i - 40) / 40.0);
  write_file(d / "sig.txt", record_text(x));
  const std::string model = "10.0 1.8 300 5 600 10\n" + HALF_SPACE;
  ASSERT_EQ(run_velmar(d.path(), signal_deck("0 0.0", model, 200, 1, 1, "1 1 1")).status, 0);
  const Histories y = parse_histories(read_file(d / "out.txt"));
  ASSERT_EQ(y.nfft, 400);
  write_file(d / "sig.txt", record_text(y.values));
  ASSERT_EQ(run_velmar(d.path(), signal_deck("0 0.0", model, 400, 1, 2, "1 1 1")).status, 0);
  const Histories back = parse_histories(read_file(d / "out.txt"));
  ASSERT_EQ(back.nfft, 800);
  // Three printed digits of y, amplified by 1/|response| (at least 1/2 here).
  constexpr double TOL = 2e-2;
  for (std::size_t j = 0; j < 200; ++j) EXPECT_NEAR(back.values[j], x[j], TOL) << j;
  for (std::size_t j = 200; j < 800; ++j) EXPECT_NEAR(back.values[j], 0.0, TOL) << j;
}

}  // namespace
}  // namespace velmar::e2e

// Tests of the batch: results independent of threads and of how the range is
// split, failures listed without stopping the batch, column statistics.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "velmar/batch.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace velmar {
namespace {

Profile soil_column() {
  return Profile({4.0, 6.0, 10.0, 0.0}, {1.8, 1.9, 2.0, 2.3}, {180.0, 250.0, 400.0, 1200.0},
                 {0.03, 0.03, 0.02, 0.01});
}

Record pulse(double amplitude) {
  Record r;
  r.dt = 0.01;
  for (int i = 0; i < 400; ++i) {
    const double t = i * r.dt;
    r.accel.push_back(amplitude * std::sin(2 * std::numbers::pi * 3.0 * t) * std::exp(-2.0 * t));
  }
  return r;
}

BatchOptions linear_options() {
  BatchOptions o;
  o.randomize.velocity = velocity_model("USGS C");
  o.randomize.layering = LayeringModel{};
  o.seed = 21;
  o.periods = {0.05, 0.2, 1.0};
  o.strain_depths = {2.0, 12.0};
  return o;
}

TEST(RunBatch, SameNumbersWithAnyThreadsAndSplit) {
  const std::vector<Record> recs{pulse(0.1), pulse(0.3)};
  BatchOptions o = linear_options();
  o.threads = 1;
  const BatchResult one = run_batch(soil_column(), recs, o, 0, 12);
  o.threads = 3;
  const BatchResult three = run_batch(soil_column(), recs, o, 0, 12);
  const BatchResult head = run_batch(soil_column(), recs, o, 0, 5);
  const BatchResult tail = run_batch(soil_column(), recs, o, 5, 7);
  EXPECT_EQ(one.psa, three.psa);
  EXPECT_EQ(one.pga, three.pga);
  EXPECT_EQ(one.max_strain, three.max_strain);
  EXPECT_EQ(one.layers, three.layers);
  std::vector<double> joined = head.psa;
  joined.insert(joined.end(), tail.psa.begin(), tail.psa.end());
  EXPECT_EQ(joined, one.psa);
  ASSERT_EQ(one.psa.size(), 12u * 2u * 3u);
  for (double v : one.psa) EXPECT_TRUE(std::isfinite(v) && v > 0);
  for (double v : one.max_strain) EXPECT_TRUE(std::isfinite(v) && v > 0);
  EXPECT_TRUE(one.failures.empty());
}

// The batch filters each record's spectrum once and pairs histories in one
// transform; the library's propagate on the same realisation is the reference.
class LinearRunMatchesPropagate : public ::testing::TestWithParam<InputMotion> {};

TEST_P(LinearRunMatchesPropagate, AccelerationSpectrumAndStrains) {
  const std::vector<Record> recs{pulse(0.2)};
  constexpr double REL = 1e-9;  // the same sums in another order
  // Histories go two to a transform, an odd one out through the half-length
  // transform: three strain depths pair everything, two and none leave one.
  for (const std::vector<double>& depths : {std::vector<double>{2.0, 5.0, 12.0}, {2.0, 12.0}, {}}) {
    BatchOptions o = linear_options();
    o.el.input = GetParam();
    o.el.input_depth = GetParam() == InputMotion::WITHIN ? 8.0 : 0.0;  // a depth only for a record within
    o.el.scale = 1.5;
    o.output_depth = 1.0;
    o.strain_depths = depths;
    const std::size_t nd = depths.size();
    const BatchResult b = run_batch(soil_column(), recs, o, 4, 3);
    ASSERT_TRUE(b.failures.empty());
    for (std::size_t j = 0; j < 3; ++j) {
      const Realisation real = realise(soil_column(), o.randomize, o.seed, 4 + j);
      PropagateOptions po;
      po.setup.law = o.el.law;  // the batch's law serves its linear runs too
      po.input = o.el.input;
      po.input_depth = o.el.input_depth;
      po.scale = o.el.scale;
      po.depth = o.output_depth;
      const std::vector<double> acc = propagate(recs[0], real.profile, po);
      double pga = 0;
      for (double v : acc) pga = std::max(pga, std::abs(v));
      EXPECT_NEAR(b.pga[j], pga, REL * pga);
      const ResponseSpectrum rs = response_spectrum(acc, recs[0].dt, o.periods, o.spectral_damping);
      for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(b.psa[j * 3 + k], rs.psa[k], REL * rs.psa[k]);
      po.quantity = Quantity::STRAIN;
      for (std::size_t d = 0; d < nd; ++d) {
        po.depth = depths[d];
        double peak = 0;
        for (double v : propagate(recs[0], real.profile, po)) peak = std::max(peak, std::abs(v));
        EXPECT_NEAR(b.max_strain[j * nd + d], peak, REL * peak) << "depth " << po.depth;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, LinearRunMatchesPropagate,
                         ::testing::Values(InputMotion::OUTCROP, InputMotion::WITHIN, InputMotion::INCIDENT));

// A linear run scales with the record: twice the record, twice every result.
TEST(RunBatch, LinearRunsScaleWithTheRecord) {
  const std::vector<Record> recs{pulse(0.1), pulse(0.2)};
  const BatchResult b = run_batch(soil_column(), recs, linear_options(), 3, 4);
  constexpr double REL = 1e-9;  // two transforms and a recursion in double
  for (std::size_t r = 0; r < 4; ++r) {
    EXPECT_NEAR(b.pga[r * 2 + 1], 2 * b.pga[r * 2], REL * b.pga[r * 2 + 1]);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(b.psa[(r * 2 + 1) * 3 + k], 2 * b.psa[r * 2 * 3 + k], REL * b.psa[(r * 2 + 1) * 3 + k]);
    }
  }
  for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(b.input_psa[3 + k], 2 * b.input_psa[k], REL * b.input_psa[3 + k]);
}

// A record whose response overflows fails every run it takes part in; the
// other record's runs go on.
TEST(RunBatch, FailedRunsListedAndTheRestComputed) {
  const std::vector<Record> recs{pulse(0.1), pulse(1e306)};
  BatchOptions o = linear_options();
  o.threads = 2;
  const BatchResult b = run_batch(soil_column(), recs, o, 10, 6);
  ASSERT_EQ(b.failures.size(), 6u);
  for (std::size_t j = 0; j < 6; ++j) {
    EXPECT_EQ(b.failures[j].realisation, 10 + j);
    EXPECT_EQ(b.failures[j].record, 1u);
    EXPECT_FALSE(b.failures[j].message.empty());
    EXPECT_TRUE(std::isnan(b.pga[j * 2 + 1]));
    EXPECT_TRUE(std::isfinite(b.pga[j * 2]));
  }
}

// A period too short for the oscillator's arithmetic for some record gave
// NaN PSA in every run: it is refused before the first realisation, naming
// the period and the shortest one the record admits.
TEST(RunBatch, APeriodTooShortForARecordIsRefusedBeforeAnyRun) {
  const std::vector<Record> recs{pulse(0.1)};
  BatchOptions o = linear_options();
  o.periods = {0.1, 1e-320};
  try {
    run_batch(soil_column(), recs, o, 0, 3);
    FAIL() << "a period below 1e-9 dt was accepted";
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find("periods[1]"), std::string::npos) << e.what();
  }
}

TEST(RunBatch, RefusesBadOptionsBeforeAnyRun) {
  const std::vector<Record> recs{pulse(0.1)};
  BatchOptions o = linear_options();
  o.periods = {0.1, -1.0};
  EXPECT_THROW(run_batch(soil_column(), recs, o, 0, 1), InvalidArgument);
  o = linear_options();
  o.analysis = Analysis::EQUIVALENT_LINEAR;
  EXPECT_THROW(run_batch(soil_column(), recs, o, 0, 1), InvalidArgument);
  o.curves = {Darendeli{}, Darendeli{}};  // the base profile has three layers
  EXPECT_THROW(run_batch(soil_column(), recs, o, 0, 1), InvalidArgument);
  EXPECT_THROW(run_batch(soil_column(), {}, linear_options(), 0, 1), InvalidArgument);
  EXPECT_THROW(analysis_from_name("nonlinear"), InvalidArgument);
}

// Settings every run would refuse (once an all-NaN batch) are refused by
// the call, before the first realisation, as a call of no realisation
// (a batch's probe) refuses them; so are curves and randomisation options.
TEST(RunBatch, RefusesEveryRunsBadSettingsBeforeTheFirstRealisation) {
  const std::vector<Record> recs{pulse(0.1)};
  const std::vector<std::pair<void (*)(BatchOptions&), const char*>> cases{
      {[](BatchOptions& o) { o.el.tolerance = -1.0; }, "tolerance"},
      {[](BatchOptions& o) { o.el.tolerance = 0.0; }, "tolerance"},
      {[](BatchOptions& o) { o.el.strain_ratio = 0.0; }, "strain_ratio"},
      {[](BatchOptions& o) { o.el.strain_ratio = 2.0; }, "strain_ratio"},
      {[](BatchOptions& o) { o.el.max_iterations = 0; }, "max_iterations"},
      {[](BatchOptions& o) { o.el.strain_limit = -1.0; }, "strain_limit"},
      {[](BatchOptions& o) { o.el.water_table = -5.0; }, "water_table"},
      {[](BatchOptions& o) { o.el.input_depth = -1.0; }, "input_depth"},
      {[](BatchOptions& o) { o.el.input_depth = 5.0; }, "not 'within'"},
      {[](BatchOptions& o) { o.curves = {Darendeli{1e6}}; }, "curves[0] (layer 1, Darendeli): pi"},
      {[](BatchOptions& o) { o.randomize.truncation = 1e-9; }, "truncation"},
      {[](BatchOptions& o) { o.randomize.layering = LayeringModel{10.86, 5.0, 1.98}; }, "layer boundaries"},
  };
  for (const auto& [set, message] : cases) {
    BatchOptions o = linear_options();
    o.analysis = Analysis::EQUIVALENT_LINEAR;
    o.curves = {Darendeli{20.0}};
    set(o);
    for (std::size_t count : {0, 4}) {
      try {
        run_batch(soil_column(), recs, o, 0, count);
        ADD_FAILURE() << message << ": accepted";
      } catch (const InvalidArgument& e) {
        EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
      }
    }
  }
}

// The caller's check runs on the calling thread only, on one thread or
// many; when it asks to stop, the batch throws Interrupted (or the check's
// own exception) and returns nothing.
TEST(RunBatch, InterruptCheckStopsTheBatchFromTheCallingThread) {
  const std::vector<Record> recs{pulse(0.3)};
  for (unsigned threads : {1u, 2u}) {
    BatchOptions o = linear_options();
    o.analysis = Analysis::EQUIVALENT_LINEAR;
    o.curves = {Darendeli{20.0}};
    o.el.tolerance = 1e-12;  // every run makes all its passes
    o.el.max_iterations = 200;
    o.threads = threads;
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> polls{0}, elsewhere{0};
    o.interrupt = [&] {
      if (std::this_thread::get_id() != caller) ++elsewhere;
      return ++polls >= 4;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(run_batch(soil_column(), recs, o, 0, 1000), Interrupted) << threads << " threads";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << threads << " threads";
    EXPECT_EQ(polls, 4);
    EXPECT_EQ(elsewhere, 0);
    o.interrupt = []() -> bool { throw std::logic_error("the caller's own"); };
    EXPECT_THROW(run_batch(soil_column(), recs, o, 0, 1000), std::logic_error) << threads << " threads";
  }
}

TEST(RealisationCurves, VariedCurvesAreValidTables) {
  RandomizeOptions ro;
  ro.layering = LayeringModel{};
  ro.curves = CurveVariation{};
  const std::vector<Curve> base{Darendeli{20.0}, LinearLayer{}, Darendeli{0.0}};
  for (std::uint64_t r = 0; r < 20; ++r) {
    const Realisation real = realise(soil_column(), ro, 8, r);
    const std::vector<Curve> c = realisation_curves(real, base, 3.0);
    ASSERT_EQ(c.size(), real.profile.layers());
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (real.base_layer[i] == 1) {
        EXPECT_TRUE(std::holds_alternative<LinearLayer>(c[i]));
        continue;
      }
      const auto& t = std::get<CurveTable>(c[i]);
      for (std::size_t j = 0; j < t.strain.size(); ++j) {
        EXPECT_GE(t.g_ratio[j], G_RATIO_FLOOR);
        EXPECT_LE(t.g_ratio[j], 1.0);
        EXPECT_GE(t.damping[j], 0.0);
        if (j > 0) {
          EXPECT_GT(t.strain[j], t.strain[j - 1]);
          EXPECT_LE(t.g_ratio[j], t.g_ratio[j - 1]);
          EXPECT_GE(t.damping[j], t.damping[j - 1]);
        }
      }
    }
  }
}

// Against numpy's defaults by hand: values 1, 2, 4, 8 and a NaN left out.
TEST(ColumnStatistics, MedianPercentilesAndLogStd) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> v{1, 5, 2, nan, 4, 5, nan, 5, 8, 5};  // column 0: 1,2,4,8; column 1: 5,5,5,5
  const std::vector<double> p{0.0, 25.0, 100.0};
  const ColumnStatistics s = column_statistics(v, 5, 2, p);
  EXPECT_DOUBLE_EQ(s.median[0], 3.0);
  EXPECT_DOUBLE_EQ(s.percentiles[0 * 2], 1.0);
  EXPECT_DOUBLE_EQ(s.percentiles[1 * 2], 1.75);  // position 0.75 between 1 and 2
  EXPECT_DOUBLE_EQ(s.percentiles[2 * 2], 8.0);
  // ln values 0, ln2, 2ln2, 3ln2: sample std = ln2 sqrt(5/3)
  EXPECT_NEAR(s.log_std[0], std::log(2.0) * std::sqrt(5.0 / 3.0), 1e-14);
  EXPECT_EQ(s.count[0], 4u);
  EXPECT_EQ(s.log_std[1], 0.0);
  const ColumnStatistics none = column_statistics(std::vector<double>{nan, nan}, 2, 1, p);
  EXPECT_TRUE(std::isnan(none.median[0]));
  EXPECT_EQ(none.count[0], 0u);
  EXPECT_THROW(column_statistics(v, 5, 2, std::vector<double>{101.0}), InvalidArgument);
}

}  // namespace
}  // namespace velmar

// record_filter_test.cpp: the record filter's steps against identities a
// correct filter must keep (the record back through a unit filter, a within
// input deconvolved at its own depth, pairs equal to singles, integration
// of a known motion), its padded length, and its refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "velmar/velmar.hpp"

namespace {

using namespace velmar;

std::vector<double> noise(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> z;
  std::vector<double> v(n);
  for (double& x : v) x = z(gen);
  return v;
}

double largest_gap(std::span<const double> a, std::span<const double> b) {
  double g = 0.0;
  for (std::size_t j = 0; j < a.size(); ++j) g = std::max(g, std::abs(a[j] - b[j]));
  return g;
}

TEST(RecordFilter, PadsToTheShortestServedLengthAtLeastTwiceTheRecord) {
  for (auto [n, L] : {std::pair<std::size_t, std::size_t>{1, 2}, {2, 4}, {3, 6}, {5, 12}, {7, 16}, {12000, 24576},
                      {16384, 32768}, {16385, 49152}}) {
    EXPECT_EQ(padded_length(n), L) << n;
    const RecordFilter f(noise(n, 1), 0.01);
    EXPECT_EQ(f.padded_length(), L);
    EXPECT_EQ(f.frequencies().size(), L / 2 + 1);
    EXPECT_DOUBLE_EQ(f.frequencies()[1], 1.0 / (static_cast<double>(L) * 0.01));
  }
}

// A unit filter returns the record (times its factor), for single and
// paired inverse transforms, on both kinds of padded length and at the
// smallest records.
TEST(RecordFilter, AUnitFilterGivesTheRecordBack) {
  for (std::size_t n : {1u, 2u, 3u, 17u, 1000u, 1537u}) {
    const std::vector<double> x = noise(n, static_cast<unsigned>(n));
    RecordFilter f(x, 0.02, 3.0);
    const std::size_t nf = f.frequencies().size();
    std::vector<cdouble> Y(nf), Z(nf);
    std::vector<double> y(n), a(n), b(n);
    f.filtered_spectrum({}, InputMotion::INCIDENT, {}, 0, 1.0, Y);
    f.history(Y, y);
    f.filtered_spectrum({}, InputMotion::OUTCROP, {}, 0, -2.0, Z);  // -2 x 1/2: minus the record
    f.history_pair(Y, Z, a, b);
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_NEAR(y[j], 3.0 * x[j], 1e-12 * 3.0 * std::sqrt(static_cast<double>(n))) << n << " " << j;
      ASSERT_NEAR(a[j], y[j], 1e-12) << n;
      ASSERT_NEAR(b[j], -y[j], 1e-12) << n;
    }
  }
}

// Velocity and displacement of a motion whose integrals are known: a
// Gaussian pulse of acceleration well inside the record.
TEST(RecordFilter, IntegratesAPulseTwice) {
  const double dt = 0.002, t0 = 2.0, s = 0.1;
  const std::size_t n = 2000;
  std::vector<double> a(n), v_ref(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double t = static_cast<double>(j) * dt - t0;
    a[j] = -t / (s * s) * std::exp(-0.5 * t * t / (s * s));  // d/dt of the velocity exp(-t^2 / 2 s^2)
    v_ref[j] = std::exp(-0.5 * t * t / (s * s));
  }
  RecordFilter f(a, dt);
  std::vector<cdouble> V(f.frequencies().size()), D(V.size());
  f.filtered_spectrum({}, InputMotion::INCIDENT, {}, 1, 1.0, V);
  f.filtered_spectrum({}, InputMotion::INCIDENT, {}, 2, 1.0, D);
  std::vector<double> v(n), d(n);
  f.history_pair(V, D, v, d);
  // The velocity's mean over the padded window is removed: a constant shift.
  const double shift = v[0] - v_ref[0];
  for (std::size_t j = 0; j < n; ++j) ASSERT_NEAR(v[j] - shift, v_ref[j], 1e-6) << j;
  // The displacement rises by the pulse's area s sqrt(2 pi) across it.
  EXPECT_NEAR(d[n - 1] - d[0] - shift * dt * static_cast<double>(n - 1), s * std::sqrt(2.0 * std::numbers::pi), 1e-4);
}

// A record observed within the profile and asked for at its own depth comes
// back; with the depths apart, the filter's history is propagate's.
TEST(RecordFilter, AWithinRecordAtItsOwnDepthComesBack) {
  const Profile p({6.0, 9.0, 0.0}, {1.8, 1.9, 2.3}, {180.0, 320.0, 900.0}, {0.05, 0.04, 0.02});
  Record r;
  r.dt = 0.01;
  r.accel = noise(800, 4);
  for (double z : {0.0, 4.0, 15.0, 22.0}) {
    PropagateOptions o;
    o.input = InputMotion::WITHIN, o.input_depth = z, o.depth = z;
    RecordFilter f(r);
    const std::vector<double> y = f.propagate(p, o);
    EXPECT_LT(largest_gap(y, r.accel), 1e-9) << z;
    o.depth = 0.5;
    EXPECT_EQ(f.propagate(p, o), propagate(r, p, o)) << z;
  }
}

// The SH path goes straight to the engine: the angle is checked here, as
// response() checks it, for histories and peaks alike.
TEST(RecordFilter, RefusesAGrazingOrNonFiniteAngle) {
  const Profile p({6.0, 0.0}, {1.8, 2.3}, {180.0, 900.0}, {0.05, 0.02});
  Record r;
  r.dt = 0.01;
  r.accel = noise(200, 7);
  RecordFilter f(r);
  for (double angle : {90.0, -90.0, 120.0, std::numeric_limits<double>::quiet_NaN()}) {
    PropagateOptions o;
    o.setup.angle = angle;
    EXPECT_THROW(f.propagate(p, o), InvalidArgument) << angle;
    EXPECT_THROW(f.peak_profile(p, o), InvalidArgument) << angle;
    EXPECT_THROW(propagate(r, p, o), InvalidArgument) << angle;
  }
}

TEST(RecordFilter, RefusesWhatItCannotFilter) {
  RecordFilter empty;
  std::vector<cdouble> Y(3);
  std::vector<double> y(2);
  EXPECT_THROW(empty.filtered_spectrum({}, InputMotion::INCIDENT, {}, 0, 1.0, Y), InvalidArgument);
  EXPECT_THROW(empty.history(Y, y), InvalidArgument);
  EXPECT_THROW(RecordFilter(std::vector<double>{}, 0.01), InvalidArgument);
  EXPECT_THROW(RecordFilter(std::vector<double>{1.0, NAN}, 0.01), InvalidArgument);
  EXPECT_THROW(RecordFilter(std::vector<double>{1.0}, 0.0), InvalidArgument);
  EXPECT_THROW(RecordFilter(std::vector<double>{1.0}, 1e-320), InvalidArgument);  // the frequencies overflow
  RecordFilter f(std::vector<double>{1.0, 2.0}, 0.01);  // L = 4: 3 frequencies
  std::vector<cdouble> short_y(2);
  std::vector<double> long_y(3);
  EXPECT_THROW(f.filtered_spectrum({}, InputMotion::INCIDENT, {}, 0, 1.0, short_y), InvalidArgument);
  EXPECT_THROW(f.filtered_spectrum({}, InputMotion::WITHIN, {}, 0, 1.0, Y), InvalidArgument);  // no h_in
  EXPECT_THROW(f.history(Y, long_y), InvalidArgument);
  // A filtered value beyond the double range is refused, not returned.
  const std::vector<cdouble> huge(3, cdouble{1e308, 0.0});
  f.filtered_spectrum(huge, InputMotion::INCIDENT, {}, 0, 1e10, Y);
  EXPECT_THROW(f.history(Y, y), InvalidArgument);
  // A refused record leaves no half-made grid behind.
  EXPECT_THROW(f.assign(std::vector<double>{1.0}, 1e-320), InvalidArgument);
  EXPECT_THROW(f.history(Y, y), InvalidArgument);
}

}  // namespace

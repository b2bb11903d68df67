// workspace_alloc_test.cpp: calls with a caller's workspace allocate nothing
// once sized, and give the value-returning calls' numbers. Global operator
// new is replaced in this executable to count allocations.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "velmar/velmar.hpp"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* counted(std::size_t n) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* counted_aligned(std::size_t n, std::align_val_t a) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t al = static_cast<std::size_t>(a);
  if (void* p = std::aligned_alloc(al, (n + al - 1) / al * al)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return counted(n); }
void* operator new[](std::size_t n) { return counted(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try { return counted(n); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try { return counted(n); } catch (...) { return nullptr; }
}
void* operator new(std::size_t n, std::align_val_t a) { return counted_aligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return counted_aligned(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

using namespace velmar;

// Allocations made by f.
template <class F>
long allocations_of(F&& f) {
  allocations = 0;
  counting = true;
  f();
  counting = false;
  return allocations.load();
}

Profile five_layers() {
  return Profile({4.0, 6.0, 8.0, 10.0, 12.0, 0.0}, {1.7, 1.8, 1.9, 2.0, 2.1, 2.4},
                 {150.0, 220.0, 300.0, 420.0, 560.0, 1200.0}, {0.04, 0.03, 0.03, 0.02, 0.02, 0.01},
                 {400.0, 600.0, 1500.0, 1600.0, 1800.0, 2500.0}, {0.02, 0.02, 0.01, 0.01, 0.01, 0.005});
}

// Record k of a family: same length and step, different values.
Record record(std::size_t n, unsigned k) {
  std::mt19937 gen(k);
  std::normal_distribution<double> z;
  Record r;
  r.dt = 0.01;
  r.units = k % 2 ? "g" : "cm/s2";
  r.accel.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double t = static_cast<double>(j) * r.dt;
    r.accel[j] = 0.1 * z(gen) * t * std::exp(-t / 4.0);
  }
  return r;
}

struct Case {
  const char* name;
  PropagateOptions options;
};

std::vector<Case> cases() {
  std::vector<Case> c;
  PropagateOptions o;
  c.push_back({"outcrop acceleration", o});
  o.input = InputMotion::WITHIN, o.input_depth = 40.0, o.depth = 3.0;
  c.push_back({"within acceleration", o});
  o.quantity = Quantity::STRAIN, o.scale = 2.5;
  c.push_back({"within strain", o});
  o = PropagateOptions{};
  o.quantity = Quantity::DISPLACEMENT, o.input = InputMotion::INCIDENT, o.setup.angle = 20.0, o.depth = 12.0;
  c.push_back({"incident displacement at an angle", o});
  o = PropagateOptions{};
  o.setup.wave = Wave::P, o.setup.angle = 10.0, o.depth = 5.0;
  c.push_back({"P, vertical acceleration", o});
  o.setup.wave = Wave::SV, o.input = InputMotion::WITHIN, o.input_depth = 30.0, o.quantity = Quantity::VELOCITY;
  c.push_back({"SV within, horizontal velocity", o});
  o.component = Component::VERTICAL;
  c.push_back({"SV within, vertical velocity", o});
  return c;
}

// 100 calls on different records of one length: nothing allocated after the
// first call, every history the value-returning call's.
TEST(WorkspacePropagate, AllocatesNothingAfterTheFirstCallAndMatchesTheValueCall) {
  constexpr std::size_t N = 3000, CALLS = 100;
  const Profile p = five_layers();
  std::vector<Record> recs;
  for (unsigned k = 0; k < CALLS; ++k) recs.push_back(record(N, k + 1));
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    Workspace ws;
    std::vector<std::vector<double>> out(CALLS, std::vector<double>(N));
    propagate(recs[0], p, c.options, ws, out[0]);
    const long n = allocations_of([&] {
      for (std::size_t k = 1; k < CALLS; ++k) propagate(recs[k], p, c.options, ws, out[k]);
    });
    EXPECT_EQ(n, 0);
    for (std::size_t k = 0; k < CALLS; k += 33) EXPECT_EQ(out[k], propagate(recs[k], p, c.options)) << k;
  }
}

// A workspace moves between sizes: a longer record, then the first length
// again, each gives the value call's numbers; a new dt costs nothing.
TEST(WorkspacePropagate, ServesAnySizeAndRefusesAWrongOutputLength) {
  const Profile p = five_layers();
  const PropagateOptions o;
  Workspace ws;
  for (std::size_t n : {1000u, 1537u, 1000u, 1u, 2u}) {
    const Record r = record(n, static_cast<unsigned>(n));
    std::vector<double> out(n);
    propagate(r, p, o, ws, out);
    EXPECT_EQ(out, propagate(r, p, o)) << n;
  }
  Record r = record(1000, 5);
  std::vector<double> out(1000);
  propagate(r, p, o, ws, out);
  r.dt = 0.005;
  EXPECT_EQ(allocations_of([&] { propagate(r, p, o, ws, out); }), 0);
  EXPECT_EQ(out, propagate(r, p, o));
  std::vector<double> short_out(999);
  EXPECT_THROW(propagate(r, p, o, ws, short_out), InvalidArgument);
  r.accel[3] = NAN;
  EXPECT_THROW(propagate(r, p, o, ws, out), InvalidArgument);
}

TEST(WorkspaceTransfer, AllocatesNothingAfterTheFirstCallAndMatchesTheValueCall) {
  const Profile p = five_layers();
  std::vector<double> f(4096);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = 0.01 * static_cast<double>(i);
  for (Quantity q : {Quantity::DISPLACEMENT, Quantity::STRAIN, Quantity::STRESS}) {
    Workspace ws;
    std::vector<cdouble> out(f.size());
    transfer(p, f, WaveSetup{}, 7.0, q, std::nullopt, ws, out);
    const long n = allocations_of([&] {
      for (int k = 0; k < 20; ++k) transfer(p, f, WaveSetup{Wave::SH, 1.0 * k, DampingLaw::VELMAR}, 7.0, q, std::nullopt, ws, out);
    });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(out, transfer(p, f, WaveSetup{Wave::SH, 19.0, DampingLaw::VELMAR}, 7.0, q));
  }
  for (Wave wave : {Wave::P, Wave::SV}) {
    for (Component c : {Component::HORIZONTAL, Component::VERTICAL}) {
      Workspace ws;
      std::vector<cdouble> out(f.size());
      transfer(p, f, WaveSetup{wave, 5.0, DampingLaw::VELMAR}, 7.0, Quantity::DISPLACEMENT, c, ws, out);
      EXPECT_EQ(allocations_of([&] {
                  transfer(p, f, WaveSetup{wave, 15.0, DampingLaw::VELMAR}, 9.0, Quantity::DISPLACEMENT, c, ws, out);
                }), 0);
      EXPECT_EQ(out, transfer(p, f, WaveSetup{wave, 15.0, DampingLaw::VELMAR}, 9.0, Quantity::DISPLACEMENT, c));
    }
  }
  // The counter sees what a value-returning call allocates.
  EXPECT_GT(allocations_of([&] { (void)transfer(p, f, WaveSetup{}); }), 0);
  Workspace ws;
  std::vector<cdouble> wrong(f.size() - 1);
  EXPECT_THROW(transfer(p, f, WaveSetup{}, 0.0, Quantity::DISPLACEMENT, std::nullopt, ws, wrong), InvalidArgument);
}

// A filter re-assigned a record of the same padded length reuses its plans.
TEST(RecordFilterAllocations, ReassigningARecordOfTheSameLengthAllocatesNothing) {
  RecordFilter f(record(2000, 1));
  const Record r = record(2000, 2);
  EXPECT_EQ(allocations_of([&] { f.assign(r); }), 0);
  EXPECT_EQ(f.propagate(five_layers(), PropagateOptions{}), propagate(r, five_layers(), PropagateOptions{}));
}

// RVT: the peak of a strain spectrum (called per layer per pass of an
// iteration) and a response spectrum into the caller's array allocate
// nothing, for every peak method.
TEST(WorkspaceAllocations, RvtPeaksAndResponseSpectrumIntoCallersArray) {
  SourceTheoryParams p;
  p.magnitude = 6.5;
  p.distance = 20.0;
  RvtMotion m = source_theory_motion(p);
  m.magnitude = 6.5;
  m.distance = 21.5;
  m.site = SiteResonance{{2.0, 6.0, 0.0}, 5.0};
  const std::vector<double> amplitude(m.fas.begin(), m.fas.end());
  const std::vector<double> periods = default_periods();
  std::vector<double> psa(periods.size());
  for (int k = 0; k < 10; ++k) {
    m.method = static_cast<PeakMethod>(k);
    double peak = 0.0;
    EXPECT_EQ(allocations_of([&] {
                peak = rvt_peak(m, amplitude);
                rvt_response_spectrum(m, periods, 0.05, psa);
              }),
              0)
        << peak_method_name(m.method);
    EXPECT_GT(peak, 0.0);
  }
}

}  // namespace

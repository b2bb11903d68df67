// Records filtered through a profile: input conventions, quantities and
// their units, deconvolution, reading record files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>

#include "velmar/velmar.hpp"

namespace velmar {
namespace {

namespace fs = std::filesystem;

Profile site() {
  return Profile({8, 12, 0}, {1.8, 2.0, 2.3}, {180, 350, 900}, {0.04, 0.03, 0.0});
}

// A tapered sine of `cycles` cycles at f Hz, sampled every dt.
Record tone(double f, double dt, std::size_t n, std::string units = "g") {
  Record r;
  r.dt = dt;
  r.units = std::move(units);
  r.accel.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double t = static_cast<double>(j) * dt;
    const double env = std::sin(std::numbers::pi * static_cast<double>(j) / static_cast<double>(n - 1));
    r.accel[j] = env * env * std::sin(2 * std::numbers::pi * f * t);
  }
  return r;
}

double peak(const std::vector<double>& v, std::size_t from, std::size_t to) {
  double m = 0.0;
  for (std::size_t j = from; j < to; ++j) m = std::max(m, std::abs(v[j]));
  return m;
}

TEST(Propagate, SteadyToneIsScaledByHalfTheTransferModulusForAnOutcropInput) {
  const double f = 2.0, dt = 0.005;
  const Record r = tone(f, dt, 8000);
  PropagateOptions o;
  const std::vector<double> y = propagate(r, site(), o);
  const double h = std::abs(transfer(site(), std::vector<double>{f}, WaveSetup{})[0]);
  // Near the middle of the record the envelope is flat to a few 1e-4.
  EXPECT_NEAR(peak(y, 3800, 4200) / peak(r.accel, 3800, 4200), h / 2, 2e-3 * h);
  o.input = InputMotion::INCIDENT;
  const std::vector<double> yi = propagate(r, site(), o);
  for (std::size_t j = 0; j < y.size(); j += 97) EXPECT_NEAR(yi[j], 2 * y[j], 1e-12);
  o.scale = 3.0;
  const std::vector<double> ys = propagate(r, site(), o);
  for (std::size_t j = 0; j < y.size(); j += 97) EXPECT_NEAR(ys[j], 6 * y[j], 1e-11);
}

TEST(Propagate, VelocityAndDisplacementOfAToneInSIUnits) {
  const double f = 1.5, dt = 0.01;
  const Record r = tone(f, dt, 6000, "cm/s2");
  const Profile bare({0}, {2.3}, {900}, {0.0});  // outcrop in, surface out: the record itself
  PropagateOptions o;
  const double w = 2 * std::numbers::pi * f;
  const double a = peak(r.accel, 2900, 3100) * 0.01;  // m/s2
  o.quantity = Quantity::ACCELERATION;
  EXPECT_NEAR(peak(propagate(r, bare, o), 2900, 3100), a * 100, 1e-9);
  o.quantity = Quantity::VELOCITY;
  EXPECT_NEAR(peak(propagate(r, bare, o), 2900, 3100), a / w, 1e-3 * a / w);
  o.quantity = Quantity::DISPLACEMENT;
  EXPECT_NEAR(peak(propagate(r, bare, o), 2900, 3100), a / (w * w), 1e-3 * a / (w * w));
}

TEST(Propagate, WithinInputDeconvolvedAndPropagatedBackReturnsTheRecord) {
  const Record r = tone(1.2, 0.01, 3000);
  PropagateOptions o;
  o.input = InputMotion::WITHIN;
  o.input_depth = 15.0;
  o.depth = 15.0;
  const std::vector<double> y = propagate(r, site(), o);
  for (std::size_t j = 0; j < y.size(); j += 11) EXPECT_NEAR(y[j], r.accel[j], 1e-9);
  // Surface from a within record, then back down to the same depth from the
  // surface as a within record, returns it too.
  o.depth = 0.0;
  Record surface = r;
  surface.accel = propagate(r, site(), o);
  o.input_depth = 0.0;
  o.depth = 15.0;
  const std::vector<double> back = propagate(surface, site(), o);
  for (std::size_t j = 500; j < 2500; j += 13) EXPECT_NEAR(back[j], r.accel[j], 2e-3);
}

TEST(Propagate, StrainAndStressHistoriesAreConsistent) {
  const Record r = tone(3.0, 0.005, 4000);
  PropagateOptions o;
  o.depth = 4.0;
  o.quantity = Quantity::STRAIN;
  const std::vector<double> g = propagate(r, site(), o);
  o.quantity = Quantity::STRESS;
  const std::vector<double> t = propagate(r, site(), o);
  // |tau| = |M*| |gamma| for a steady tone (the phase of M* is small).
  const double G = 1.8 * 180 * 180;
  EXPECT_NEAR(peak(t, 1800, 2200) / peak(g, 1800, 2200), G, 0.01 * G);
  o.depth = 0.0;
  o.quantity = Quantity::STRAIN;
  for (double v : propagate(r, site(), o)) EXPECT_EQ(v, 0.0);
}

TEST(Propagate, RefusesBadInput) {
  Record r = tone(1.0, 0.01, 100);
  PropagateOptions o;
  const auto message = [&](const Record& rec, const PropagateOptions& opt) {
    try {
      propagate(rec, site(), opt);
    } catch (const InvalidArgument& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  Record nan = r;
  nan.accel[7] = std::nan("");
  EXPECT_NE(message(nan, o).find("accel[7]"), std::string::npos);
  Record empty = r;
  empty.accel.clear();
  EXPECT_NE(message(empty, o).find("no samples"), std::string::npos);
  Record zero_dt = r;
  zero_dt.dt = 0.0;
  EXPECT_NE(message(zero_dt, o).find("dt"), std::string::npos);
  PropagateOptions deep = o;
  deep.depth = -1.0;
  EXPECT_NE(message(r, deep).find("depth"), std::string::npos);
  PropagateOptions p_strain = o;
  p_strain.setup.wave = Wave::P;
  p_strain.quantity = Quantity::STRAIN;
  EXPECT_NE(message(r, p_strain).find("SH"), std::string::npos);
}

class RecordFile : public ::testing::Test {
 protected:
  // One folder per test process: ctest runs the tests of this fixture at
  // once, and a name shared between them lets one's TearDown empty
  // another's folder.
  fs::path dir = fs::temp_directory_path() /
                 ("velmar_record_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  "_" + std::to_string(std::random_device{}()));
  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }
  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name) << text;
    return (dir / name).string();
  }
};

TEST_F(RecordFile, ReadsBothPeerHeaderStylesAndRefusesAWrongCount) {
  const std::string head = "PEER NGA STRONG MOTION DATABASE RECORD\nEVENT, STATION, COMPONENT\n"
                           "ACCELERATION TIME SERIES IN UNITS OF G\n";
  const Record a = read_record(write("a.AT2", head + "NPTS=    5, DT=   .0050 SEC\n 1.0E-02 2.0E-02\n -3.0E-02 4.0E-02 5.0E-02\n"));
  EXPECT_EQ(a.accel, (std::vector<double>{0.01, 0.02, -0.03, 0.04, 0.05}));
  EXPECT_DOUBLE_EQ(a.dt, 0.005);
  EXPECT_EQ(a.units, "g");
  const Record b = read_record(write("b.AT2", head + "    3    0.0100    NPTS, DT\n .1 .2 .3\n"));
  EXPECT_EQ(b.accel.size(), 3u);
  EXPECT_DOUBLE_EQ(b.dt, 0.01);
  EXPECT_THROW(read_record(write("c.AT2", head + "NPTS=    4, DT=   .0050 SEC\n .1 .2 .3\n")), FileError);
  EXPECT_EQ(a.description, "EVENT, STATION, COMPONENT");
}

TEST_F(RecordFile, ReadsKnetCountsWithTheScaleFactorLessTheMean) {
  const std::string head =
      "Origin Time       2020/06/01 10:20:00\nMag.              5.5\nStation Code      TST001\n"
      "Sampling Freq(Hz) 200Hz\nDuration Time(s)  0.05\nDir.              E-W\n"
      "Scale Factor      2000(gal)/1000000\nMemo.\n";
  const Record k = read_record(write("k.EW", head + "  10  20  30  40  50  60  70  80\n  90 100\n"));
  ASSERT_EQ(k.accel.size(), 10u);
  EXPECT_NEAR(k.accel[0], 0.002 * (10.0 - 55.0), 1e-15);
  EXPECT_DOUBLE_EQ(k.dt, 0.005);
  EXPECT_EQ(k.units, "cm/s2");
  EXPECT_EQ(k.station, "TST001");
  EXPECT_EQ(k.component, "E-W");
  // A line short of 8 counts before the last: damaged.
  EXPECT_THROW(read_record(write("k2.EW", head + "  10  20  30\n  40  50  60  70  80  90 100 110\n")), FileError);
  EXPECT_THROW(read_record(write("k3.EW", head + "  10  20  30  40  50  60  70  80\n  90 100\n"), 0.0, "g"),
               InvalidArgument);
}

TEST_F(RecordFile, ColumnsWithAndWithoutTimes) {
  const Record t = read_record(write("t.txt", "time accel\n0.00 0.1\n0.02 0.2\n0.04 -0.1\n"));
  EXPECT_EQ(t.accel, (std::vector<double>{0.1, 0.2, -0.1}));
  EXPECT_NEAR(t.dt, 0.02, 1e-15);
  const std::string one = write("one.txt", "0.1\n0.2\n0.3\n");
  EXPECT_THROW(read_record(one), FileError);  // no dt
  const Record o = read_record(one, 0.01, "m/s2");
  EXPECT_EQ(o.accel.size(), 3u);
  EXPECT_EQ(o.units, "m/s2");
  EXPECT_THROW(read_record((dir / "missing.txt").string()), FileError);
  EXPECT_THROW(read_record(write("bad.txt", "0.1\n0.2 abc\n"), 0.01), FileError);
  EXPECT_THROW(read_record(one, -1.0), InvalidArgument);
}

// The samples of the record files below: a 0.5 g sine, 60 samples at 0.01 s.
std::vector<double> sine_samples() {
  std::vector<double> v(60);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = 0.5 * std::sin(0.3 * static_cast<double>(i));
  return v;
}

// Values in fixed-width E fields, five a line, as PEER writes them.
std::string e_fields(const std::vector<double>& v) {
  std::string out;
  char field[32];
  for (std::size_t i = 0; i < v.size(); ++i) {
    std::snprintf(field, sizeof field, "%15.7E", v[i]);
    out += field;
    if (i % 5 == 4 || i + 1 == v.size()) out += '\n';
  }
  return out;
}

const std::string PEER_HEAD = "PEER NGA STRONG MOTION DATABASE RECORD\nEVENT 1999, STATION, 90\n"
                              "ACCELERATION TIME SERIES IN UNITS OF G\n";

double peak(const Record& r) {
  double m = 0.0;
  for (double a : r.accel) m = std::max(m, std::abs(a));
  return m;
}

TEST_F(RecordFile, TimesAreNeverReadAsSamples) {
  const std::vector<double> v = sine_samples();
  std::string pairs, triples, ragged, uneven;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::string t = std::to_string(0.01 * static_cast<double>(i)), a = std::to_string(v[i]);
    pairs += t + " " + a + "\n";
    triples += t + " " + a + " " + a + "\n";
    ragged += i % 2 ? a + " " + a + "\n" : a + "\n";
    uneven += std::to_string(0.01 * static_cast<double>(i * i)) + " " + a + "\n";
  }
  // Time, value pairs with dt: the times stay times, and dt must agree with them.
  const Record p = read_record(write("pairs.txt", pairs), 0.01);
  EXPECT_EQ(p.accel.size(), v.size());
  EXPECT_NEAR(peak(p), 0.5, 1e-3);
  EXPECT_THROW(read_record(write("pairs.txt", pairs), 0.02), InvalidArgument);
  // No layout that would flatten times or several columns into samples.
  for (const auto& [name, text] : {std::pair{"triples.txt", triples}, {"ragged.txt", ragged}, {"uneven.txt", uneven}}) {
    EXPECT_THROW(read_record(write(name, text), 0.01), FileError) << name;
    EXPECT_THROW(read_record(write(name, text)), FileError) << name;
  }
  // A count that equals all the numbers of such pairs does not make their times samples.
  EXPECT_THROW(read_record(write("counted.txt", "NPTS= " + std::to_string(2 * v.size()) + " DT= 0.01\n" + pairs)),
               FileError);
  // A first line of numbers that overflow is no header to skip.
  EXPECT_THROW(read_record(write("huge.txt", "1e400\n0.1\n"), 0.01), FileError);
  EXPECT_THROW(read_record(write("nan.txt", "nan\n0.1\n"), 0.01), FileError);
  try {
    read_record(write("triples.txt", triples), 0.01);
  } catch (const FileError& e) {
    EXPECT_NE(std::string(e.what()).find("cannot tell times from values"), std::string::npos) << e.what();
  }
}

TEST_F(RecordFile, CountAndStepLinesAndSkippedHeaders) {
  const std::vector<double> v = sine_samples();
  std::string pairs, column;
  for (std::size_t i = 0; i < v.size(); ++i) {
    pairs += std::to_string(0.01 * static_cast<double>(i)) + "," + std::to_string(v[i]) + "\n";
    column += std::to_string(v[i]) + "\n";
  }
  // PEER's fourth line without words, with and without dt.
  const std::string peer = write("plain.AT2", PEER_HEAD + "   60    0.0100\n" + e_fields(v));
  for (double dt : {0.0, 0.01}) {
    const Record r = read_record(peer, dt);
    ASSERT_EQ(r.accel.size(), v.size());
    EXPECT_NEAR(r.accel.front(), 0.0, 1e-12);
    EXPECT_NEAR(r.accel.back(), v.back(), 1e-7);
    EXPECT_DOUBLE_EQ(r.dt, 0.01);
  }
  // A title, the count and step, then pairs or values.
  for (const std::string& body : {pairs, column}) {
    const Record r = read_record(write("titled.txt", "Record title\n60 0.01\n" + body), 0.01);
    ASSERT_EQ(r.accel.size(), v.size());
    EXPECT_NEAR(peak(r), peak(read_record(peer)), 1e-6);
    EXPECT_NEAR(r.dt, 0.01, 1e-12);
  }
  EXPECT_THROW(read_record(write("short.txt", "Record title\n61 0.01\n" + column)), FileError);
  // skip_header passes over lines of numbers that are no samples.
  const Record s = read_record(write("skip.txt", "1 2 3\n4 5 6\n" + column), 0.01, "", 2);
  EXPECT_EQ(s.accel.size(), v.size());
  EXPECT_THROW(read_record(write("skip.txt", "1 2 3\n4 5 6\n" + column), 0.01), FileError);
  EXPECT_THROW(read_record(write("skip.txt", "0.1\n"), 0.01, "", 5), FileError);
}

TEST_F(RecordFile, FilesCutShortAreRefused) {
  const std::string full = PEER_HEAD + "NPTS=   60, DT=   .0100 SEC\n" + e_fields(sine_samples());
  ASSERT_EQ(read_record(write("full.AT2", full)).accel.size(), 60u);
  // Every cut inside the last two lines, with and without a line end added.
  for (std::size_t cut = full.size() - 32; cut < full.size(); ++cut) {
    const std::string part = full.substr(0, cut);
    EXPECT_THROW(read_record(write("cut.AT2", part)), FileError) << part.substr(part.size() - 20);
    if (cut + 1 < full.size()) {
      EXPECT_THROW(read_record(write("cut.AT2", part + "\n")), FileError) << cut;
    }
  }
  // One value a line: the missing line end is all that shows the cut.
  EXPECT_THROW(read_record(write("one.txt", "0.1\n0.2\n0.496963E-0"), 0.01), FileError);
  EXPECT_EQ(read_record(write("one.txt", "0.1\n0.2\n0.496963E-04\n"), 0.01).accel.size(), 3u);
}

TEST_F(RecordFile, UnitsAndTimeUnitsOfTheHeader) {
  const std::string values = e_fields(sine_samples());
  const std::string peer = write("g.AT2", PEER_HEAD + "NPTS=   60, DT=   10 MSEC\n" + values);
  EXPECT_DOUBLE_EQ(read_record(peer).dt, 0.01);
  EXPECT_EQ(read_record(peer, 0.0, "G").units, "g");
  EXPECT_THROW(read_record(peer, 0.0, "cm/s2"), InvalidArgument);
  for (const char* kind : {"VELOCITY TIME HISTORY IN UNITS OF CM/S", "DISPLACEMENT TIME HISTORY IN UNITS OF CM"}) {
    const std::string other = write("other.VT2", "PEER RECORD\nEVENT\n" + std::string(kind) + "\nNPTS=   60, DT= .01 SEC\n" + values);
    EXPECT_THROW(read_record(other), FileError) << kind;
    EXPECT_THROW(read_record(other, 0.0, "g"), FileError) << kind;
  }
  const std::string column = "0.1\n0.2\n-0.3\n";
  const Record stated = read_record(write("s.txt", "STATION X\nUNITS: G   (PEAK 245.2 CM/S/S = 0.25 G)\n" + column), 0.01);
  EXPECT_EQ(stated.units, "g");
  const std::string mixed = write("m.txt", "STATION X\nPEAK 245.2 CM/S/S = 0.25 G\n" + column);
  EXPECT_THROW(read_record(mixed, 0.01), FileError);
  EXPECT_EQ(read_record(mixed, 0.01, "gal").units, "cm/s2");  // one of the units mentioned
  EXPECT_EQ(read_record(write("c.txt", "UNITS = CM/SEC/SEC\n" + column), 0.01).units, "cm/s2");

  EXPECT_EQ(header_units("STATION X\nUNITS: G   (PEAK 245.2 CM/S/S = 0.25 G)\n"), "g");
  EXPECT_EQ(header_units("PEAK ACCELERATION 250.0 CM/S/S\n"), "cm/s2");
  EXPECT_EQ(header_units("ACCELERATION (G)\n"), "");
  EXPECT_THROW(header_units("PEAK 245.2 CM/S/S = 0.25 G\n"), InvalidArgument);
  EXPECT_THROW(header_units("UNITS: G\nUNITS: GAL\n"), InvalidArgument);
}

TEST_F(RecordFile, PathsDevicesAndFoldersAreRefusedByName) {
  const std::string good = write("good.txt", "0.1\n0.2\n");
  EXPECT_THROW(read_record(good + std::string(1, '\0') + "junk", 0.01), InvalidArgument);
  const auto message = [](const std::string& path) {
    try {
      read_record(path, 0.01);
    } catch (const FileError& e) {
      return std::string(e.what());
    }
    return std::string("read");
  };
  EXPECT_NE(message(dir.string()).find("folder"), std::string::npos);
  for (const char* device : {"/dev/urandom", "/dev/zero"}) {
    if (!fs::exists(device)) continue;
    const std::string m = message(device);
    EXPECT_EQ(m.rfind(device, 0), 0u) << m;
    EXPECT_NE(m.find("not text"), std::string::npos) << m;
  }
  EXPECT_EQ(message("/dev/null").find("read"), std::string::npos);  // empty: refused, not read
}

TEST(RecordChecks, OneUnitTableAndTheBoundsOfDt) {
  EXPECT_EQ(acceleration_unit_name("GAL"), "cm/s2");
  EXPECT_EQ(acceleration_unit_name("cm/s^2"), "cm/s2");
  EXPECT_EQ(acceleration_unit_name("m/s/s"), "m/s2");
  EXPECT_DOUBLE_EQ(acceleration_unit("Gal"), 0.01);
  EXPECT_THROW(acceleration_unit_name("ft/s2"), InvalidArgument);
  Record r;
  r.accel = {0.0, 1.0};
  for (double dt : {1e308, 10.5, 1e-320, 0.0}) {
    r.dt = dt;
    EXPECT_THROW(check_record(r), InvalidArgument) << dt;
  }
  r.dt = MAX_RECORD_DT;
  EXPECT_NO_THROW(check_record(r));
}

TEST(ProfileChecks, NameTheArgumentIndexAndValue) {
  const auto message = [](auto make) {
    try {
      make();
    } catch (const InvalidArgument& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([] { Profile({10, 0}, {1.8, 2}, {200, -120}, {0.05, 0}); }), "vs[1] must be above 0, got -120");
  EXPECT_NE(message([] { Profile({10, 0}, {1.8}, {200, 400}, {0.05, 0}); }).find("density has 1 entries"), std::string::npos);
  EXPECT_NE(message([] { Profile({0, 0}, {1.8, 2}, {200, 400}, {0.05, 0}); }).find("thickness[0]"), std::string::npos);
  EXPECT_NE(message([] { Profile({10, 0}, {1.8, 2}, {200, std::nan("")}, {0.05, 0}); }).find("vs[1] must be a finite"), std::string::npos);
  EXPECT_NE(message([] { Profile({10, 0}, {1.8, 2}, {200, 400}, {1.5, 0}); }).find("damping[0]"), std::string::npos);
  EXPECT_NE(message([] { Profile({10, 0}, {1.8, 2}, {200, 400}, {0.05, 0}, {150, 800}); }).find("vp[0]"), std::string::npos);
  EXPECT_NE(message([] { transfer(Profile({0}, {2}, {400}, {0}), std::vector<double>{1}, WaveSetup{Wave::SH, 90.0}); })
                .find("angle"),
            std::string::npos);
  EXPECT_NE(message([] { damping_law_from_name("bogus"); }).find("'bogus'"), std::string::npos);
  // Values a double cannot carry through the computation are refused, never
  // returned as NaN.
  EXPECT_NE(message([] { transfer(site(), std::vector<double>{1e308}, WaveSetup{}); }).find("freqs[0] is too large"),
            std::string::npos);
  EXPECT_NE(message([] { transfer(Profile({0}, {2.2}, {1e-300}, {0.0}), std::vector<double>{1.0}, WaveSetup{}); })
                .find("computable range"),
            std::string::npos);
  // Q = 1/(2 xi); 0 is elastic.
  const Profile q = Profile::from_quality({10, 0}, {1.8, 2}, {200, 400}, {10, 0});
  EXPECT_DOUBLE_EQ(q.damping_s()[0], 0.05);
  EXPECT_EQ(q.damping_s()[1], 0.0);
}

TEST(ProfileChecks, AnyDensityRebuildsADeckTableExactly) {
  // A console deck's table in kg/m3 with Q: rebuilt from its own columns
  // (damping ratios, not Q again), every value the same bits.
  const Profile deck = Profile::from_quality_any_density({8, 15, 0}, {1700, 1900, 2400}, {120, 250, 1200},
                                                         {10, 15, 100}, {1500, 1700, 2400}, {20, 30, 200});
  const Profile again = Profile::any_density(deck.thickness(), deck.density(), deck.vs(), deck.damping_s(),
                                             deck.vp(), deck.damping_p());
  EXPECT_EQ(again.density(), deck.density());
  EXPECT_EQ(again.damping_s(), deck.damping_s());
  EXPECT_EQ(again.damping_p(), deck.damping_p());
  EXPECT_EQ(again.halfspace_depth(), deck.halfspace_depth());
  // Only the density limit is lifted.
  EXPECT_THROW(Profile::any_density({8, 0}, {1700, 2400}, {120, 1200}, {1.5, 0}), InvalidArgument);
  EXPECT_THROW(Profile::any_density({8, 0}, {-1, 2400}, {120, 1200}, {0.05, 0}), InvalidArgument);
}

TEST(DampingLaws, ComplexModuliAtTenPerCent) {
  const double xi = 0.1;
  const auto near = [](cdouble a, cdouble b) { return std::abs(a - b) < 1e-15; };
  EXPECT_TRUE(near(complex_modulus(1.0, xi, DampingLaw::SEED), {1.0, -0.2}));
  EXPECT_TRUE(near(complex_modulus(1.0, xi, DampingLaw::KRAMER), {0.99, -0.2}));
  EXPECT_TRUE(near(complex_modulus(1.0, xi, DampingLaw::DORMIEUX), {std::sqrt(0.96), -0.2}));
  // 1/(1 + 0.1 i)^2 = (0.99 - 0.2 i) / 1.0201
  EXPECT_TRUE(near(complex_modulus(1.0, xi, DampingLaw::VELMAR), cdouble{0.99, -0.2} / 1.0201));
  const cdouble v = complex_velocity(100.0, xi, DampingLaw::SEED);
  EXPECT_LT(std::abs(v * v - 1e4 * cdouble{1.0, -0.2}), 1e-10);
  EXPECT_THROW(complex_modulus(1.0, 0.6, DampingLaw::DORMIEUX), InvalidArgument);
}

}  // namespace
}  // namespace velmar

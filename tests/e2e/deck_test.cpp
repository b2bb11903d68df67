// Whole-program runs: limit stops, refusals, the frequency table, the output file's fate.
#include <gtest/gtest.h>

#include "e2e/velmar_run.hpp"

namespace velmar::e2e {
namespace {

// A two-layer SH transfer-function deck with the grid given.
std::string sh_deck(const std::string& out, const std::string& grid, const std::string& head = "0 30.0") {
  return out + "\n" + head + "\n2 1 1\n10.0 1.8 200.0 10.0 400.0 20.0\n20.0 2.0 400.0 20.0 800.0 40.0\n"
               "0.0 2.2 1000.0 50.0 2000.0 100.0\n0\n" + grid + "\n";
}

TEST(LimitStops, LayerLimitPrintsItsLineAndStopsWithStatus1) {
  ScratchDir d;
  const RunResult r = run_velmar(d.path(), "out.txt\n0 0.0\n50 1 1\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " NUMERO MASSIMO STRATI =          49\n");
  EXPECT_EQ(r.err, "limit: at most 49 layers (NLAYER = 50)\n");
  ASSERT_TRUE(fs::exists(d / "out.txt"));  // created when the deck named it, left empty
  EXPECT_EQ(fs::file_size(d / "out.txt"), 0u);
}

TEST(LimitStops, SampleLimitHoldsForEveryCountThatFitsIn32Bits) {
  for (const char* npt : {"30001", "1073741824", "2147483647"}) {
    ScratchDir d;
    const std::string deck = "out.txt\n0 0.0\n0 1 1\n0 2.2 800 10 1600 20\n1\nmissing.txt\n0\n0.01 " +
                             std::string(npt) + " 1 1\n";
    const RunResult r = run_velmar(d.path(), deck);
    EXPECT_EQ(r.status, 1) << npt;
    EXPECT_EQ(r.out, " NUMERO PUNTI MASSIMO =       30000\n") << npt;
    // The missing signal file is never opened.
    EXPECT_EQ(r.err, "limit: at most 30000 samples (NPT = " + std::string(npt) + ")\n") << npt;
  }
}

TEST(LimitStops, FortyNineLayersAreRead) {
  ScratchDir d;
  std::string deck = "out.txt\n0 0.0\n49 50 1\n";
  for (int i = 0; i < 49; ++i) deck += "2.0 1.8 200 20 400 40\n";
  deck += "0 2.2 800 50 1600 100\n0\n1.0 2.0 0.5\n";
  const RunResult r = run_velmar(d.path(), deck);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count_lines(read_file(d / "out.txt")), 2);
}

TEST(FrequencyTable, ITypeNegativeWritesFrequencyAndZeros) {
  ScratchDir d;
  const RunResult r = run_velmar(d.path(), sh_deck("out.txt", "0.0 1.25 0.5", "-1 0.0"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(d / "out.txt"),
            "    0.0000    0.0000    0.0000\n"
            "    0.5000    0.0000    0.0000\n"
            "    1.0000    0.0000    0.0000\n");  // 1.25/0.5 = 2.5 steps: a half goes up
}

TEST(FrequencyTable, BareHalfSpaceGivesOneAndRowsOf30Columns) {
  ScratchDir d;
  const RunResult r = run_velmar(d.path(), "t.txt\n0 0.0\n0 1 1\n0.0 2.2 800 10 1600 20\n0\n0.0 10.0 1.0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string t = read_file(d / "t.txt");
  ASSERT_EQ(count_lines(t), 10);
  EXPECT_EQ(t.substr(0, 31), "    0.0000    1.0000    0.0000\n");  // 0 was replaced by 1.0e-6
  EXPECT_EQ(t.substr(31 * 9, 31), "    9.0000    1.0000    0.0000\n");
}

TEST(FrequencyTable, PSVBareHalfSpaceReportsOneInTheVerticalColumn) {
  ScratchDir d;
  const RunResult r = run_velmar(d.path(), "t.txt\n1 0.0\n0 1 1\n0.0 2.2 800 10 1600 20\n0\n1.0 3.0 1.0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(d / "t.txt"), "    1.0000    0.0000    1.0000\n    2.0000    0.0000    1.0000\n");
}

TEST(OutputFile, FailedRunLeavesAnExistingFileByteForByte) {
  ScratchDir d;
  const std::string old = "precious results\nline two\n";
  write_file(d / "out.txt", old);
  EXPECT_EQ(run_velmar(d.path(), "out.txt\n0 0.0\n50 1 1\n").status, 1);
  EXPECT_EQ(run_velmar(d.path(), sh_deck("out.txt", "0.0 abc 0.5")).status, 2);
  EXPECT_EQ(read_file(d / "out.txt"), old);
}

TEST(OutputFile, CompleteRunLeavesNoTailOfALongerOldFile) {
  ScratchDir d;
  write_file(d / "out.txt", std::string(10000, 'x'));
  ASSERT_EQ(run_velmar(d.path(), sh_deck("out.txt", "1.0 2.0 1.0", "-1 0.0")).status, 0);
  EXPECT_EQ(read_file(d / "out.txt"), "    1.0000    0.0000    0.0000\n");
}

TEST(OutputFile, LongNamesAreNotCutAndCrlfDecksWork) {
  ScratchDir d;
  const std::string name(100, 'n');
  std::string deck = sh_deck(name, "1.0 2.0 1.0", "-1 0.0");
  std::string crlf;
  for (char c : deck) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
  ASSERT_EQ(run_velmar(d.path(), crlf).status, 0);
  EXPECT_TRUE(fs::exists(d / name));
}

TEST(Refusals, OneLineNamingSourceLineAndText) {
  struct Case {
    std::string deck;
    std::string err;
  };
  const std::string hs = "0.0 2.2 800 10 1600 20\n";
  const Case cases[] = {
      {"", "standard input:1: empty input, expected the output file name: ''\n"},
      {"   \n", "standard input:1: the output file name is blank: ''\n"},
      {"o.txt\n3 0.0\n", "standard input:2: ITYPE must be 0 (SH), 1 (P), 2 (SV) or negative (nothing computed): '3'\n"},
      {"o.txt\n0 90.0\n", "standard input:2: ANGLE must lie strictly between -90 and 90 degrees: '90.0'\n"},
      {"o.txt\n0 0\n-1 1 1\n", "standard input:3: NLAYER must be 0 or more: '-1'\n"},
      {"o.txt\n0 0\n0 2 1\n",
       "standard input:3: LOUT must lie from 1 (free surface) to NLAYER+1 = 1 (top of the half-space): '2'\n"},
      {"o.txt\n0 0\n1.5 1 1\n", "standard input:3: not an integer for NLAYER: '1.5'\n"},
      {"o.txt\n0 0\n1 1 1\n0 1.8 200 10 400 20\n", "standard input:4: THICK of layer 1 must be above 0: '0'\n"},
      {"o.txt\n1 0\n0 1 1\n0 2.2 800 10 800 20\n",
       "standard input:4: VP of the half-space must exceed VS (a solid's P velocity exceeds its S velocity): '800'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "2\n",
       "standard input:5: ISIG must be 1 (signal run) or 0 (transfer-function run): '2'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "0\n1 2 0\n", "standard input:6: DF must be above 0: '0'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "0\n0 30001 1\n", "standard input:6: DF gives more than 30000 grid points: '1'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "0\n2 1 1\n",
       "standard input:6: FMAX gives no grid point (FMAX must exceed FMIN by half a step): '1'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "1\nsig.txt\n0\n0 10 1 1\n", "standard input:8: DT must be above 0: '0'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "1\nsig.txt\n0\n0.01 0 1 1\n", "standard input:8: NPT must be 1 or more: '0'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "1\nnone.txt\n0\n0.01 10 1 1\n",
       "standard input:6: the signal file does not exist: 'none.txt'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs + "1\no.txt\n0\n0.01 10 1 1\n",
       "standard input:6: the signal file is the output file (the run would overwrite the record): 'o.txt'\n"},
      {"o.txt\n0 0\n0 1 1\n" + hs, "standard input:5: input ends early, expected ISIG: ''\n"},
  };
  for (const Case& c : cases) {
    ScratchDir d;
    const RunResult r = run_velmar(d.path(), c.deck);
    EXPECT_EQ(r.status, 2) << c.deck;
    EXPECT_EQ(r.err, c.err) << c.deck;
    EXPECT_EQ(r.out, "") << c.deck;
  }
}

TEST(Refusals, SignalFileProblemsNameTheSignalFile) {
  ScratchDir d;
  const std::string head = "o.txt\n0 0\n0 1 1\n0.0 2.2 800 10 1600 20\n1\nsig.txt\n";
  write_file(d / "sig.txt", "header\n1 2 3\n");
  RunResult r = run_velmar(d.path(), head + "1\n0.01 5 1 1\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "sig.txt:3: input ends early, expected 5 samples (NPT): ''\n");
  r = run_velmar(d.path(), head + "4\n0.01 5 1 1\n");
  EXPECT_EQ(r.err, "sig.txt:3: input ends early, expected header line 3 of 4 (NSKIP): ''\n");
  write_file(d / "sig.txt", "1 2 1e21\n");
  r = run_velmar(d.path(), head + "0\n0.01 5 1 1\n");
  EXPECT_EQ(r.err, "sig.txt:1: sample 3 exceeds 1e20 in magnitude: '1e21'\n");
  fs::create_directory(d / "dir");
  r = run_velmar(d.path(), "o.txt\n0 0\n0 1 1\n0.0 2.2 800 10 1600 20\n1\ndir\n0\n0.01 5 1 1\n");
  EXPECT_EQ(r.err, "standard input:6: the signal file name names a folder: 'dir'\n");
}

TEST(CommandLine, HelpVersionAndStrayArguments) {
  ScratchDir d;
  RunResult r = run_velmar(d.path(), "", "--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: velmar < deck"), std::string::npos);
  r = run_velmar(d.path(), "", "--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("velmar ", 0), 0u);
  r = run_velmar(d.path(), "", "deck.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unexpected argument 'deck.txt'"), std::string::npos);
}

}  // namespace
}  // namespace velmar::e2e

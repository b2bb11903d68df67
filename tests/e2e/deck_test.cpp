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

// The signal deck with NSKIP replaced.
std::string with_skip(const std::string& deck, const std::string& nskip) {
  const std::size_t p = deck.find("sig.txt\n") + 8;
  return deck.substr(0, p) + nskip + deck.substr(deck.find('\n', p));
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

TEST(DeckStart, AByteOrderMarkIsSkippedInTheDeckAndTheSignalFile) {
  const std::string bom = "\xEF\xBB\xBF";
  ScratchDir d;
  write_file(d / "sig.txt", bom + "header\n1 2 3 4 5\n");
  const std::string deck = "o.txt\n0 0\n0 1 1\n0.0 2.2 800 10 1600 20\n1\nsig.txt\n1\n0.01 5 1 1\n";
  const RunResult r = run_velmar(d.path(), bom + deck);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(d / "o.txt"));
  EXPECT_FALSE(fs::exists(d / (bom + "o.txt")));
  // No header to skip: the mark must not become part of the first sample.
  write_file(d / "sig.txt", bom + "1 2 3 4 5\n");
  EXPECT_EQ(run_velmar(d.path(), with_skip(deck, "0")).status, 0);
  // Only at the very start: a mark on a later line is text like any other.
  const RunResult late = run_velmar(d.path(), "o.txt\n" + bom + "0 0\n");
  EXPECT_EQ(late.err, "standard input:2: not an integer for ITYPE: '\\xef\\xbb\\xbf0'\n");
}

TEST(Refusals, TrapsOfANewUser) {
  struct Case {
    std::string deck;
    std::string record;  // the signal file sig.txt, when the deck reads one
    std::string err;
  };
  const std::string hs = "0.0 2.2 800 10 1600 20\n";
  const std::string layer = "10 1.8 200 10 400 20\n";
  const std::string sig_head = "o.txt\n0 0\n0 1 1\n" + hs + "1\nsig.txt\n0\n";
  const Case cases[] = {
      // A negative frequency would turn the damping into a gain.
      {"o.txt\n0 0\n0 1 1\n" + hs + "0\n-3.5 20 0.5\n", "",
       "standard input:6: FMIN must be 0 or above (the grid holds no negative frequency): '-3.5'\n"},
      {"o.txt\n1 0\n0 1 1\n" + hs + "0\n-1e-30 20 0.5\n", "",
       "standard input:6: FMIN must be 0 or above (the grid holds no negative frequency): '-1e-30'\n"},
      // Time and value on each line, the time rising by DT.
      {sig_head + "0.01 6 1 1\n", "0.00 1.5\n0.01 -2.5\n0.02 3.5\n",
       "sig.txt:1: the record looks like a time,value file (two values on each line, the first rising by DT); "
       "this program reads sample values only: '0.00 1.5'\n"},
      {sig_head + "0.02 4 1 1\n", "10.00,1.5\n10.02,-2.5\n",
       "sig.txt:1: the record looks like a time,value file (two values on each line, the first rising by DT); "
       "this program reads sample values only: '10.00,1.5'\n"},
      // A layer line one value short: the note says where layer 1 began.
      {"o.txt\n0 0\n2 1 1\n10 1.8 200 10 400\n" + layer + "0 2.2 1000 50 2000 100\n0\n1 3 1\n", "",
       "standard input:6: THICK of layer 2 must be above 0 (layer 1's values run from line 4 to line 5): '0'\n"},
      {"o.txt\n0 0\n1 1 1\n10 1.8 200 10 400\n0 2.2 1000 50 2000 100\n0\n1 3 1\n", "",
       "standard input:8: input ends early, expected the half-space line (THICK RHO VS QS VP QP) "
       "(layer 1's values run from line 4 to line 5): ''\n"},
      {"o.txt\n0 0\n1 1 1\n10 1.8 200 -10\n400 20\n" + hs + "0\n1 3 1\n", "",
       "standard input:4: QS of layer 1 must be above 0 (layer 1's values run from line 4 to line 5): '-10'\n"},
  };
  for (const Case& c : cases) {
    ScratchDir d;
    if (!c.record.empty()) write_file(d / "sig.txt", c.record);
    const RunResult r = run_velmar(d.path(), c.deck);
    EXPECT_EQ(r.status, 2) << c.deck;
    EXPECT_EQ(r.err, c.err) << c.deck;
  }
}

TEST(Refusals, TwoValuesALineAreSamplesWhenTheFirstDoesNotStepByDT) {
  ScratchDir d;
  const std::string deck = "o.txt\n0 0\n0 1 1\n0.0 2.2 800 10 1600 20\n1\nsig.txt\n0\n0.01 6 1 1\n";
  for (const char* record : {"0.00 1.5\n0.02 -2.5\n0.04 3.5\n", "0.00 1.5\n0.01 -2.5 7\n0.02 3.5\n",
                             "0.00 1.5\n0.01 -2.5\n0.02\n3.5\n", "0.00 1.5 0.01 -2.5 0.02 3.5\n"}) {
    write_file(d / "sig.txt", record);
    const RunResult r = run_velmar(d.path(), deck);
    EXPECT_EQ(r.status, 0) << record << r.err;
  }
}

TEST(Refusals, ReadErrorsOfStandardInputNameTheLine) {
  ScratchDir d;
  for (const auto& [redirect, why] : {std::pair{"<&-", "Bad file descriptor"}, std::pair{"< .", "Is a directory"}}) {
    const std::string cmd = "cd '" + d.path().string() + "' && '" + std::string(VELMAR_EXE) + "' " + redirect +
                            " 2> .stderr";
    const int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 2);
    EXPECT_EQ(read_file(d / ".stderr"), "standard input:1: cannot read the input (" + std::string(why) + "): ''\n");
  }
}

TEST(Refusals, AnOverflowingPsvResponseStopsTheRunLikeSh) {
  // An SV wave through three layers of extreme contrast: the response near
  // 0.078 is beyond the float range (it was once written as asterisks).
  ScratchDir d;
  write_file(d / "out.txt", "old\n");
  const RunResult r =
      run_velmar(d.path(), read_file(fs::path(VELMAR_TEST_DATA) / "findings" / "haspsv_overflow_sv.deck"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "standard input:9: the model's response at frequency 0.0784 is beyond the range the program "
                   "can compute (too large or not finite): '0.0784'\n");
  EXPECT_EQ(read_file(d / "out.txt"), "old\n");
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

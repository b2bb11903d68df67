// Hostile and broken input, run through the executable. Every case builds a
// scratch folder, runs a deck and checks the whole outcome: the exit status,
// standard output, the one line on standard error (which names the file or
// standard input, the line and the offending text), and every file in the
// folder afterwards. A refused run is tried twice: once where the output file
// does not exist yet (the run leaves it created and empty) and once where it
// already holds bytes the user cares about (they survive byte for byte).
//
// The base decks and the record live in tests/data/corpus:
//   sh_transfer.deck  SH transfer-function run, layer 1 written over two lines
//   psv_signal.deck   P-SV signal run reading record.txt
//   record.txt        two header lines, then 20 samples over three lines
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "console/driver/run_stop.hpp"
#include "console/driver/text_input.hpp"
#include "e2e/velmar_run.hpp"

namespace velmar::e2e {
namespace {

using namespace console;

const fs::path CORPUS = fs::path(VELMAR_TEST_DATA) / "corpus";

// A string literal with every byte it holds, NUL characters included.
template <std::size_t N>
std::string lit(const char (&s)[N]) {
  return std::string(s, N - 1);
}

// Bytes a user would hate to lose: no final line end, a NUL, a high byte.
const std::string PRECIOUS = lit("results of last week\n\0\xff tail");

const std::string SH_TRANSFER = read_file(CORPUS / "sh_transfer.deck");
const std::string PSV_SIGNAL = read_file(CORPUS / "psv_signal.deck");
const std::string RECORD = read_file(CORPUS / "record.txt");

// The lines of a text, each with its line end (a last line without one is kept).
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t p = 0;
  while (p < text.size()) {
    std::size_t q = text.find('\n', p);
    q = (q == std::string::npos) ? text.size() : q + 1;
    lines.push_back(text.substr(p, q - p));
    p = q;
  }
  return lines;
}

// The first n lines of a text.
std::string head(const std::string& text, std::size_t n) {
  std::string s;
  const std::vector<std::string> lines = lines_of(text);
  for (std::size_t i = 0; i < n && i < lines.size(); ++i) s += lines[i];
  return s;
}

// The text with line k (1-based) replaced by `line` (a line end is added).
std::string with_line(const std::string& text, std::size_t k, const std::string& line) {
  std::vector<std::string> lines = lines_of(text);
  lines.at(k - 1) = line + "\n";
  std::string s;
  for (const std::string& l : lines) s += l;
  return s;
}

// Every entry below a folder with what it holds: a file's bytes, "<folder>",
// or "-> target" for a link (links are not followed).
using Tree = std::map<std::string, std::string>;

Tree snapshot(const fs::path& dir) {
  Tree t;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = fs::relative(e.path(), dir).string();
    if (e.is_symlink()) {
      t[rel] = "-> " + fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      t[rel] = "<folder>";
    } else {
      t[rel] = read_file(e.path());
    }
  }
  return t;
}

// Writes the record beside the deck: the folder every case starts from.
void standard_folder(const ScratchDir& d) { write_file(d / "record.txt", RECORD); }

// A run that must be refused: status 2, nothing on standard output, exactly
// `err` on standard error.
struct Refusal {
  std::string deck;
  std::string err;
  // The output file the deck names, as a path in the folder; empty when the
  // name is itself the fault and no file may appear.
  std::string out = "out.txt";
  std::function<void(const ScratchDir&)> setup = standard_folder;
};

// Runs a refusal in both folder states and checks every file afterwards.
void check_refusal(const Refusal& c) {
  SCOPED_TRACE("deck: " + c.deck.substr(0, 200));
  {
    ScratchDir d;
    c.setup(d);
    Tree expected = snapshot(d.path());
    const bool had_output = !c.out.empty() && expected.count(c.out) > 0;
    const RunResult r = run_velmar(d.path(), c.deck);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    if (!c.out.empty() && !had_output) expected[c.out] = "";  // opened on line 1: created empty
    EXPECT_EQ(snapshot(d.path()), expected) << "files after a run with no output file before";
  }
  if (c.out.empty()) return;
  ScratchDir d;
  c.setup(d);
  if (!fs::exists(d / c.out)) write_file(d / c.out, PRECIOUS);
  const Tree before = snapshot(d.path());
  const RunResult r = run_velmar(d.path(), c.deck);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(snapshot(d.path()), before) << "an existing output file must survive a refused run";
}

std::string ends_early(const std::string& source, std::size_t line, const std::string& what) {
  return source + ":" + std::to_string(line) + ": " + (line == 1 ? "empty input" : "input ends early") +
         ", expected " + what + ": ''\n";
}

const std::string LAYER_1 = "the line of layer 1 (THICK RHO VS QS VP QP)";
const std::string HALF_SPACE = "the half-space line (THICK RHO VS QS VP QP)";

// What each line of a base deck holds, as the reader names it when the deck
// ends before that line (entry k-1 for line k).
const std::vector<std::string> SH_TRANSFER_GROUPS = {
    "the output file name", "ITYPE and ANGLE", "NLAYER, LOUT and IQF", LAYER_1, LAYER_1,
    // Layer 1 runs over two lines: the group after it says so.
    "the line of layer 2 (THICK RHO VS QS VP QP) (layer 1's values run from line 4 to line 5)", HALF_SPACE,
    "ISIG", "FMIN, FMAX and DF"};
const std::vector<std::string> PSV_SIGNAL_GROUPS = {
    "the output file name", "ITYPE and ANGLE", "NLAYER, LOUT and IQF", LAYER_1, HALF_SPACE, "ISIG",
    "the signal file name", "NSKIP", "DT, NPT, IHALF and ICONV"};

// ---------------------------------------------------------------------------
// The complete base decks, so that every refusal below is the edit's doing.

// The frequency table of the SH base deck: ten rows of three F10.4 fields,
// frequencies 0 (replaced by 1e-6, shown as 0.0000) to 4.5 in steps of 0.5.
void expect_sh_table(const std::string& t) {
  const std::vector<std::string> rows = lines_of(t);
  ASSERT_EQ(rows.size(), 10u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    char freq[16];
    std::snprintf(freq, sizeof freq, "%10.4f", 0.5 * static_cast<double>(i));
    EXPECT_EQ(rows[i].size(), 31u);
    EXPECT_EQ(rows[i].substr(0, 10), freq);
    EXPECT_EQ(rows[i].substr(20), "    0.0000\n");  // SH: no second response
    EXPECT_EQ(rows[i].find('*'), std::string::npos) << rows[i];
  }
}

// True for an E12.3 field: blanks, an optional minus, 0.ddd, E, a signed two-digit exponent.
bool is_e12_3(const std::string& f) {
  const std::size_t start = f.find_first_not_of(' ');
  if (f.size() != 12 || start == std::string::npos) return false;
  std::string shape;
  for (std::size_t i = start; i < f.size(); ++i) shape += (f[i] >= '0' && f[i] <= '9') ? 'd' : f[i];
  if (shape.size() > 9 && shape[0] == '-') shape.erase(0, 1);
  return f.compare(start + (f[start] == '-'), 2, "0.") == 0 &&
         (shape == "d.dddE+dd" || shape == "d.dddE-dd");
}

// The two histories of the P-SV base deck: 20 samples give a transform of
// 2 x 20 = 40 points; a header, then 40 values in five lines of eight, twice.
void expect_psv_histories(const std::string& t) {
  const std::vector<std::string> rows = lines_of(t);
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(rows[0], "        40     0.010\n");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 97u) << rows[i];
    for (std::size_t f = 0; f < 8; ++f) {
      EXPECT_TRUE(is_e12_3(rows[i].substr(12 * f, 12))) << "line " << i + 1 << ": " << rows[i];
    }
  }
}

TEST(CorpusBase, TheE12FieldShapeCheckItself) {
  EXPECT_TRUE(is_e12_3("   0.123E+04"));
  EXPECT_TRUE(is_e12_3("  -0.456E-01"));
  EXPECT_FALSE(is_e12_3(" 0.123E+3001"));  // an exponent read past its digits
  EXPECT_FALSE(is_e12_3("   1.234E+04"));
  EXPECT_FALSE(is_e12_3("************"));
  EXPECT_FALSE(is_e12_3("  0.123E+04 "));
}

TEST(CorpusBase, BaseDecksRunToTheEnd) {
  ScratchDir d;
  standard_folder(d);
  RunResult r = run_velmar(d.path(), SH_TRANSFER);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  expect_sh_table(read_file(d / "out.txt"));
  r = run_velmar(d.path(), PSV_SIGNAL);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  expect_psv_histories(read_file(d / "hist.txt"));
  EXPECT_EQ(read_file(d / "record.txt"), RECORD);
}

// ---------------------------------------------------------------------------
// Decks and records cut short after every line.

TEST(CutShort, TransferDeckAfterEveryLine) {
  const std::vector<std::string> lines = lines_of(SH_TRANSFER);
  ASSERT_EQ(lines.size(), SH_TRANSFER_GROUPS.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::string deck = head(SH_TRANSFER, k);
    const std::string err = ends_early("standard input", k + 1, SH_TRANSFER_GROUPS[k]);
    check_refusal({deck, err, k == 0 ? "" : "out.txt"});
    if (k > 0) {
      // The same cut with the last line left without its line end.
      check_refusal({deck.substr(0, deck.size() - 1), err});
    }
  }
  ScratchDir d;  // the whole deck without its final line end is complete
  ASSERT_EQ(run_velmar(d.path(), SH_TRANSFER.substr(0, SH_TRANSFER.size() - 1)).status, 0);
  expect_sh_table(read_file(d / "out.txt"));
}

TEST(CutShort, SignalDeckAfterEveryLine) {
  const std::vector<std::string> lines = lines_of(PSV_SIGNAL);
  ASSERT_EQ(lines.size(), PSV_SIGNAL_GROUPS.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::string deck = head(PSV_SIGNAL, k);
    check_refusal({deck, ends_early("standard input", k + 1, PSV_SIGNAL_GROUPS[k]), k == 0 ? "" : "hist.txt"});
  }
}

TEST(CutShort, RecordAfterEveryLine) {
  const std::vector<std::string> lines = lines_of(RECORD);
  ASSERT_EQ(lines.size(), 5u);
  const std::string groups[] = {"header line 1 of 2 (NSKIP)", "header line 2 of 2 (NSKIP)", "20 samples (NPT)",
                                "20 samples (NPT)", "20 samples (NPT)"};
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::string cut = head(RECORD, k);
    check_refusal({PSV_SIGNAL, ends_early("record.txt", k + 1, groups[k]), "hist.txt",
                   [&cut](const ScratchDir& d) { write_file(d / "record.txt", cut); }});
  }
}

TEST(CutShort, InsideALineOfAGroup) {
  // Line 4 holds the first three values of layer 1; cut after the first two of them.
  check_refusal({head(SH_TRANSFER, 3) + "10.0 1.8", ends_early("standard input", 5, LAYER_1)});
  // A slash ends a group early: the missing values keep their start (zero) and are refused.
  check_refusal({head(SH_TRANSFER, 3) + "10.0 1.8 200.0 / the rest never read\n",
                 "standard input:4: QS of layer 1 must be above 0: ''\n"});
}

// ---------------------------------------------------------------------------
// Malformed numbers where numbers are expected.

struct BadNumber {
  std::string text;
  std::string as_float;  // why a float target refuses it ("" = accepted)
  std::string as_int;    // why an integer target refuses it
};

const std::string NAN_ = "not a number";
const std::string NAI = "not an integer";
const std::string BIG_F = "number too large for a 32-bit float";
const std::string BIG_I = "integer out of range";

const BadNumber BAD_NUMBERS[] = {
    {"abc", NAN_, NAI},          {"NaN", NAN_, NAI},        {"nan", NAN_, NAI},
    {"Inf", NAN_, NAI},          {"-Infinity", NAN_, NAI},  {"1.e", NAN_, NAI},
    {"--3", NAN_, NAI},          {"+-3", NAN_, NAI},        {"3..4", NAN_, NAI},
    {"1.5.2", NAN_, NAI},        {"1e", NAN_, NAI},         {"1e+", NAN_, NAI},
    {"e5", NAN_, NAI},           {".", NAN_, NAI},          {"-", NAN_, NAI},
    {"0x10", NAN_, NAI},         {"1_000", NAN_, NAI},      {"1e5x", NAN_, NAI},
    {"\xd9\xa1", NAN_, NAI},     {"1e400", BIG_F, NAI},     {"-1e400", BIG_F, NAI},
    {"1D39", BIG_F, NAI},        {"99999999999", "", BIG_I}, {"2147483648", "", BIG_I},
    {"-2147483649", "", BIG_I}, {"1.5", "", NAI},          {"1e2", "", NAI},
    {"7.", "", NAI},             {"2*abc", NAN_, NAI},
};

std::string quoted(const std::string& text) {
  std::string q = "'";
  for (unsigned char c : text) {
    char buf[8];
    if (c >= 0x20 && c < 0x7f) {
      q += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      q += buf;
    }
  }
  return q + "'";
}

// An offending text as a message shows it: its first 40 bytes, then "...".
std::string shown(const std::string& text) {
  if (text.size() <= 40) return quoted(text);
  const std::string q = quoted(text.substr(0, 40));
  return q.substr(0, q.size() - 1) + "...'";
}

TEST(BadNumbers, InAFloatOfTheDeck) {
  for (const BadNumber& b : BAD_NUMBERS) {
    if (b.as_float.empty()) continue;
    check_refusal({with_line(SH_TRANSFER, 2, "0 " + b.text),
                   "standard input:2: " + b.as_float + " for ANGLE: " + quoted(b.text) + "\n"});
  }
}

TEST(BadNumbers, InAnIntegerOfTheDeck) {
  for (const BadNumber& b : BAD_NUMBERS) {
    check_refusal({with_line(SH_TRANSFER, 3, b.text + " 2 1"),
                   "standard input:3: " + b.as_int + " for NLAYER: " + quoted(b.text) + "\n"});
  }
  // A float where the signal deck wants the sample count.
  check_refusal({with_line(PSV_SIGNAL, 9, "0.01 20.0 1 1"), "standard input:9: not an integer for NPT: '20.0'\n",
                 "hist.txt"});
}

TEST(BadNumbers, InASampleOfTheRecord) {
  for (const BadNumber& b : BAD_NUMBERS) {
    if (b.as_float.empty()) continue;
    const std::string rec = with_line(RECORD, 4, "8.0, 9.0, " + b.text + ", 11.0");
    check_refusal({PSV_SIGNAL, "record.txt:4: " + b.as_float + " for sample 11: " + quoted(b.text) + "\n",
                   "hist.txt", [rec](const ScratchDir& d) { write_file(d / "record.txt", rec); }});
  }
}

TEST(BadNumbers, WellFormedOddSpellingsAreRead) {
  // ITYPE < 0 computes nothing, so the table shows just the grid read from the
  // FMIN, FMAX, DF line: every spelling of 0.5 below gives rows 0.0 and 0.5.
  const std::string deck = with_line(SH_TRANSFER, 2, "-1 0.0");
  for (const char* df : {"0.5", ".5", "+.5", "5.e-1", "5D-1", "5d-1", "0.05Q+1", "5E-0001", "1*0.5", "05e-01"}) {
    ScratchDir d;
    const RunResult r = run_velmar(d.path(), with_line(deck, 9, std::string("0 1.0 ") + df));
    ASSERT_EQ(r.status, 0) << df << ": " << r.err;
    EXPECT_EQ(read_file(d / "out.txt"),
              "    0.0000    0.0000    0.0000\n    0.5000    0.0000    0.0000\n") << df;
  }
  // A float too small for 32 bits becomes zero; as DF it is then refused.
  check_refusal({with_line(deck, 9, "0 1 1e-50"), "standard input:9: DF must be above 0: '1e-50'\n"});
}

// ---------------------------------------------------------------------------
// Repeat counts r*v, however large r is.

TEST(RepeatCounts, AnEnormousCountFillsOnlyTheGroup) {
  // 2^32 + 1 copies: a count wrapped to 32 bits would be 1 and leave two targets empty.
  ScratchDir d;
  std::string deck = with_line(SH_TRANSFER, 2, "-1 0.0");
  deck = head(deck, 2) + "4294967297*1\n1 1.8 200 10 400 20\n0 2.2 800 10 1600 20\n0\n"
                         "0.0 99999999999999999999*0.5\n";
  const RunResult r = run_velmar(d.path(), deck);
  ASSERT_EQ(r.status, 0) << r.err;  // NLAYER = LOUT = IQF = 1, then FMAX = DF = 0.5
  EXPECT_EQ(read_file(d / "out.txt"), "    0.0000    0.0000    0.0000\n");

  // 2^64 empty values: the half-space line is all empty and its density is refused.
  check_refusal({head(SH_TRANSFER, 6) + "18446744073709551616*\n",
                 "standard input:7: RHO of the half-space must be above 0: ''\n"});
  // A count of zero, however spelled, and a count that is not a number.
  check_refusal({with_line(SH_TRANSFER, 2, "00000000000000000000*1 30"),
                 "standard input:2: repeat count of zero in ITYPE: '00000000000000000000*1'\n"});
  check_refusal({with_line(SH_TRANSFER, 2, "-2*1"), "standard input:2: bad repeat count in ITYPE: '-2*1'\n"});
  check_refusal({with_line(SH_TRANSFER, 2, "2*3*4"), "standard input:2: not an integer for ITYPE: '2*3*4'\n"});
}

// ---------------------------------------------------------------------------
// Very long lines.

TEST(LongLines, AMegabyteLine) {
  const std::string mb(1 << 20, 'x');
  const std::string digits(1 << 20, '1');
  {
    // Blanks before a value and text after the last value of a group cost nothing.
    ScratchDir d;
    std::string deck = with_line(SH_TRANSFER, 2, "0" + std::string(1 << 20, ' ') + "30.0 " + mb);
    deck += mb + "\n";  // a megabyte after the last line the run needs
    const RunResult r = run_velmar(d.path(), deck);
    ASSERT_EQ(r.status, 0) << r.err.substr(0, 200);
    expect_sh_table(read_file(d / "out.txt"));
  }
  {
    // A megabyte header line of the record is skipped whole.
    ScratchDir d;
    write_file(d / "record.txt", with_line(RECORD, 1, mb));
    const RunResult r = run_velmar(d.path(), PSV_SIGNAL);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_psv_histories(read_file(d / "hist.txt"));
  }
  check_refusal({with_line(SH_TRANSFER, 2, "0 " + digits),
                 "standard input:2: number too long for ANGLE: " + shown(digits) + "\n"});
  check_refusal({with_line(SH_TRANSFER, 3, digits + " 2 1"),
                 "standard input:3: integer out of range for NLAYER: " + shown(digits) + "\n"});
  const std::string name(1 << 20, 'n');
  check_refusal({with_line(SH_TRANSFER, 1, name),
                 "standard input:1: cannot create the output file (File name too long): " + shown(name) + "\n",
                 ""});
}

TEST(LongLines, ASourceWithoutLineEndsIsRefusedAtSixteenMebibytes) {
  // A file with no line ends (a disk image, a device) must not fill memory:
  // a line of 2^24 bytes is read, one byte more is refused.
  constexpr std::size_t LIMIT = std::size_t{1} << 24;
  std::istringstream fits(std::string(LIMIT, ' ') + "\nnext");
  LineSource a(fits, "fits");
  ASSERT_TRUE(a.next_line());
  EXPECT_EQ(a.line().size(), LIMIT);
  ASSERT_TRUE(a.next_line());
  EXPECT_EQ(a.line(), "next");
  std::istringstream endless(std::string(LIMIT + 1, '\0'));
  LineSource b(endless, "image.bin");
  try {
    b.next_line();
    ADD_FAILURE() << "a line over the limit was read";
  } catch (const RunStop& e) {
    EXPECT_EQ(e.status(), 2);
    EXPECT_EQ(e.err_text(), "image.bin:1: line longer than 16777216 bytes: " + shown(std::string(LIMIT, '\0')) + "\n");
  }
}

// ---------------------------------------------------------------------------
// Binary bytes and NUL characters.

TEST(BinaryBytes, WhereValuesAreExpected) {
  check_refusal({with_line(SH_TRANSFER, 2, lit("0 \0")), "standard input:2: not a number for ANGLE: '\\x00'\n"});
  check_refusal({with_line(SH_TRANSFER, 2, lit("\0 30")), "standard input:2: not an integer for ITYPE: '\\x00'\n"});
  check_refusal({with_line(SH_TRANSFER, 2, "\x80\xff\xfe 30"),
                 "standard input:2: not an integer for ITYPE: '\\x80\\xff\\xfe'\n"});
  check_refusal({with_line(SH_TRANSFER, 9, "0.0 5.0\x1b[2J 0.5"),
                 "standard input:9: not a number for FMAX: '5.0\\x1b[2J'\n"});
  const std::string rec = with_line(RECORD, 3, lit("0.0 1.0\0 2.0"));
  check_refusal({PSV_SIGNAL, "record.txt:3: not a number for sample 2: '1.0\\x00'\n", "hist.txt",
                 [rec](const ScratchDir& d) { write_file(d / "record.txt", rec); }});
}

TEST(BinaryBytes, InFileNames) {
  // A control character in a file name is a broken deck (binary bytes, or
  // line ends the reader does not split on), never a name to create.
  check_refusal({lit("o\0ut.txt\n") + SH_TRANSFER.substr(8),
                 "standard input:1: the output file name holds a control character: 'o\\x00ut.txt'\n", ""});
  std::string cr_deck = SH_TRANSFER;
  for (char& c : cr_deck) c = (c == '\n') ? '\r' : c;  // old line ends: one long line
  check_refusal({cr_deck, "standard input:1: the output file name holds a control character: " +
                              shown(cr_deck.substr(0, cr_deck.size() - 1)) + "\n", ""});
  check_refusal({with_line(PSV_SIGNAL, 7, "record.txt\x7f"),
                 "standard input:7: the signal file name holds a control character: 'record.txt\\x7f'\n", "hist.txt"});
}

TEST(BinaryBytes, AWholeBinaryDeckOrRecord) {
  std::string bytes;
  for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 37 + 11) % 256 == 10 ? 0 : (i * 37 + 11) % 256);
  check_refusal({bytes, "standard input:1: the output file name holds a control character: " +
                            shown(bytes) + "\n", ""});
  std::string ramp;
  for (int i = 0; i < 512; ++i) ramp += static_cast<char>(i % 256);
  check_refusal({with_line(PSV_SIGNAL, 8, "0"), "record.txt:1: not a number for sample 1: '\\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08'\n",
                 "hist.txt", [ramp](const ScratchDir& d) { write_file(d / "record.txt", ramp); }});
}

// ---------------------------------------------------------------------------
// Whatever follows the last line a run needs is never read.

TEST(NeverRead, TextAfterTheLastNeededLine) {
  const std::string junk = lit("NaN 1e400 --3 \0\xff\x01 99999999999\n") + "\n/\n,,,,\n";
  {
    ScratchDir d;
    ASSERT_EQ(run_velmar(d.path(), SH_TRANSFER + junk).status, 0);
    expect_sh_table(read_file(d / "out.txt"));
  }
  {
    ScratchDir d;
    write_file(d / "record.txt", RECORD + junk);
    const RunResult r = run_velmar(d.path(), PSV_SIGNAL + junk);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_psv_histories(read_file(d / "hist.txt"));
  }
  {
    // The rest of a line after the last value of a group, binary or not.
    ScratchDir d;
    std::string deck = with_line(SH_TRANSFER, 2, lit("0 30.0 \0\xff NaN"));
    deck = with_line(deck, 9, "0.0 5.0 0.5 1e400 abc");
    ASSERT_EQ(run_velmar(d.path(), deck).status, 0);
    expect_sh_table(read_file(d / "out.txt"));
  }
}

// ---------------------------------------------------------------------------
// The signal file.

TEST(SignalFile, MissingFolderShortOrWithTooFewLines) {
  auto deck_for = [](const std::string& name) { return with_line(PSV_SIGNAL, 7, name); };
  check_refusal({deck_for("nothere.txt"), "standard input:7: the signal file does not exist: 'nothere.txt'\n",
                 "hist.txt"});
  check_refusal({deck_for("sub"), "standard input:7: the signal file name names a folder: 'sub'\n", "hist.txt",
                 [](const ScratchDir& d) {
                   standard_folder(d);
                   fs::create_directory(d / "sub");
                 }});
  check_refusal({deck_for("   "), "standard input:7: the signal file name is blank: ''\n", "hist.txt"});
  // Shorter than NPT: 30 samples asked of a record holding 22; where words
  // follow the 22nd sample they are refused as the 23rd.
  const std::string numbers_only = with_line(RECORD, 5, "12.0 13.0 14.0 15.0 16.0 17.0 18.0 19.0 20.0 21.0");
  check_refusal({with_line(PSV_SIGNAL, 9, "0.01 30 1 1"),
                 "record.txt:6: input ends early, expected 30 samples (NPT): ''\n", "hist.txt",
                 [numbers_only](const ScratchDir& d) { write_file(d / "record.txt", numbers_only); }});
  check_refusal({with_line(PSV_SIGNAL, 9, "0.01 30 1 1"),
                 "record.txt:5: not a number for sample 23: 'values'\n", "hist.txt"});
  // Fewer lines than NSKIP.
  check_refusal({with_line(PSV_SIGNAL, 8, "9"),
                 "record.txt:6: input ends early, expected header line 6 of 9 (NSKIP): ''\n", "hist.txt"});
  check_refusal({PSV_SIGNAL, "record.txt:1: empty input, expected header line 1 of 2 (NSKIP): ''\n", "hist.txt",
                 [](const ScratchDir& d) { write_file(d / "record.txt", ""); }});
}

// ---------------------------------------------------------------------------
// The output file.

TEST(OutputPath, InAMissingFolderUnderAFileOrNamingAFolder) {
  check_refusal({with_line(SH_TRANSFER, 1, "nodir/out.txt"),
                 "standard input:1: cannot create the output file (No such file or directory): 'nodir/out.txt'\n",
                 ""});
  // A path through a regular file fails for every user, root included.
  check_refusal({with_line(SH_TRANSFER, 1, "record.txt/out.txt"),
                 "standard input:1: cannot create the output file (Not a directory): 'record.txt/out.txt'\n", ""});
  for (const char* name : {".", "sub", "sub/", "./sub/../sub"}) {
    check_refusal({with_line(SH_TRANSFER, 1, name),
                   "standard input:1: the output file name names a folder: '" + std::string(name) + "'\n", "",
                   [](const ScratchDir& d) {
                     standard_folder(d);
                     fs::create_directory(d / "sub");
                   }});
  }
}

TEST(OutputPath, InAReadOnlyFolder) {
  ScratchDir probe;
  fs::permissions(probe.path(), fs::perms::owner_read | fs::perms::owner_exec);
  const bool writable = std::ofstream(probe / "probe").good();
  if (writable || geteuid() == 0) {
    GTEST_SKIP() << "permission bits do not stop this user from writing (running as root?)";
  }
  check_refusal({with_line(SH_TRANSFER, 1, "ro/out.txt"),
                 "standard input:1: cannot create the output file (Permission denied): 'ro/out.txt'\n", "",
                 [](const ScratchDir& d) {
                   fs::create_directory(d / "ro");
                   fs::permissions(d / "ro", fs::perms::owner_read | fs::perms::owner_exec);
                 }});
}

TEST(OutputPath, AFullDeviceFailsTheRunAtTheEnd) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  ScratchDir d;
  const RunResult r = run_velmar(d.path(), with_line(SH_TRANSFER, 1, "/dev/full"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "standard input:1: cannot write the output file (No space left on device): '/dev/full'\n");
}

TEST(OutputPath, AFileSizeLimitLeavesTheOldContentWhole) {
  // Under a 4 KiB file-size limit (with its signal ignored, so the write
  // fails instead of killing the run) a 200-row table of 6200 bytes cannot
  // be written; the old, shorter file must keep every byte.
  ScratchDir d;
  write_file(d / "out.txt", PRECIOUS);
  write_file(d / ".deck", with_line(SH_TRANSFER, 9, "0.0 100.0 0.5"));
  const std::string cmd = "cd '" + d.path().string() + "' && ulimit -f 4 && trap '' XFSZ && '" +
                          std::string(VELMAR_EXE) + "' < .deck > .stdout 2> .stderr";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 2);
  EXPECT_EQ(read_file(d / ".stdout"), "");
  EXPECT_EQ(read_file(d / ".stderr"), "standard input:1: cannot write the output file (File too large): 'out.txt'\n");
  EXPECT_EQ(read_file(d / "out.txt"), PRECIOUS);
}

TEST(OutputPath, TheDeckItself) {
  // The deck on standard input names its own file as the output: refused,
  // and the deck keeps every byte.
  ScratchDir d;
  const std::string deck = with_line(SH_TRANSFER, 1, "./run.deck");
  write_file(d / "run.deck", deck);
  const std::string cmd = "cd '" + d.path().string() + "' && '" + std::string(VELMAR_EXE) +
                          "' < run.deck > .stdout 2> .stderr";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 2);
  EXPECT_EQ(read_file(d / ".stdout"), "");
  EXPECT_EQ(read_file(d / ".stderr"),
            "standard input:1: the output file is the deck on standard input (the run would overwrite it): "
            "'./run.deck'\n");
  EXPECT_EQ(read_file(d / "run.deck"), deck);
}

TEST(OutputPath, TheSignalFileUnderAnyOfItsNames) {
  const std::string err = "standard input:7: the signal file is the output file (the run would overwrite the record): ";
  auto folder = [](const ScratchDir& d) {
    standard_folder(d);
    fs::create_directory(d / "sub");
    fs::create_symlink("record.txt", d / "link.txt");
    fs::create_hard_link(d / "record.txt", d / "hard.txt");
  };
  for (const char* out : {"record.txt", "./record.txt", "sub/../record.txt", "link.txt", "hard.txt"}) {
    check_refusal({with_line(PSV_SIGNAL, 1, out), err + "'record.txt'\n", "record.txt", folder});
  }
  // And the other way round: the signal file line spells the output file differently.
  for (const std::string sig : {"./record.txt", "link.txt", "hard.txt", "sub/../record.txt"}) {
    check_refusal({with_line(with_line(PSV_SIGNAL, 1, "record.txt"), 7, sig), err + quoted(sig) + "\n",
                   "record.txt", folder});
  }
  // An absolute spelling: the folder is only known once it exists.
  ScratchDir d;
  folder(d);
  const std::string abs = (d / "record.txt").string();
  const Tree before = snapshot(d.path());
  const RunResult r = run_velmar(d.path(), with_line(with_line(PSV_SIGNAL, 1, abs), 7, "hard.txt"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, err + "'hard.txt'\n");
  EXPECT_EQ(snapshot(d.path()), before);
}

// ---------------------------------------------------------------------------
// Inputs the fuzzers found, kept in tests/data/findings.

// Accepted P-SV decks whose response comes out as NaN, written as asterisks:
// a P wave through eight layers (some with very slow shear waves) over a slow
// half-space, at 7 Hz; an SV wave on a bare half-space with VP/VS = 1e20, at
// every frequency. Either deck may instead be refused (status 2).
TEST(Findings, PsvResponseIsFiniteOrTheDeckRefused) {
  for (const char* name : {"haspsv_nan_at_7hz.deck", "haspsv_nan_huge_vp_over_vs.deck"}) {
    ScratchDir d;
    const RunResult r = run_velmar(d.path(), read_file(fs::path(VELMAR_TEST_DATA) / "findings" / name));
    if (r.status == 2) continue;
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    const std::string t = read_file(d / "out.txt");
    EXPECT_EQ(t.find('*'), std::string::npos) << name << ":\n" << t;
  }
}

// ---------------------------------------------------------------------------
// Limit stops leave everything as it was, too.

TEST(LimitStops, OneLineOnStandardOutputAndFilesUntouched) {
  struct Case {
    std::string deck;
    std::string line;
    std::string err;
  };
  const Case cases[] = {
      {head(SH_TRANSFER, 2) + "50 1 1\n", " NUMERO MASSIMO STRATI =          49\n",
       "limit: at most 49 layers (NLAYER = 50)\n"},
      {head(SH_TRANSFER, 2) + "2147483647 1 1\n", " NUMERO MASSIMO STRATI =          49\n",
       "limit: at most 49 layers (NLAYER = 2147483647)\n"},
      {with_line(with_line(PSV_SIGNAL, 7, "nothere.txt"), 9, "0.01 30001 1 1"), " NUMERO PUNTI MASSIMO =       30000\n",
       "limit: at most 30000 samples (NPT = 30001)\n"},
  };
  for (const Case& c : cases) {
    for (bool existing : {false, true}) {
      ScratchDir d;
      standard_folder(d);
      const std::string out = lines_of(c.deck)[0].substr(0, lines_of(c.deck)[0].size() - 1);
      if (existing) write_file(d / out, PRECIOUS);
      Tree expected = snapshot(d.path());
      expected[out] = existing ? PRECIOUS : "";
      const RunResult r = run_velmar(d.path(), c.deck);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, c.line);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(snapshot(d.path()), expected);
    }
  }
}

}  // namespace
}  // namespace velmar::e2e

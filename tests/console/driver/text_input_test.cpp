#include "console/driver/text_input.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "console/driver/run_stop.hpp"

namespace velmar::console {
namespace {

// A group of targets of given kinds, kept as doubles for easy comparison.
class TestSink final : public GroupSink {
 public:
  explicit TestSink(std::string kinds, double init = -777.0)
      : kinds_(std::move(kinds)), v_(kinds_.size(), init) {}
  ValueKind kind(int i) const override { return kinds_[static_cast<std::size_t>(i)] == 'i' ? ValueKind::Int : ValueKind::Float; }
  std::string name(int i) const override {
    std::string n = std::to_string(i + 1);
    n.insert(n.begin(), 'V');
    return n;
  }
  void put_int(int i, std::int32_t v, const ValueAt&) override { v_[static_cast<std::size_t>(i)] = v; }
  void put_float(int i, float v, const ValueAt&) override { v_[static_cast<std::size_t>(i)] = v; }
  const std::vector<double>& values() const { return v_; }
  int count() const { return static_cast<int>(kinds_.size()); }

 private:
  std::string kinds_;
  std::vector<double> v_;
};

// One deck line holding `t`.
std::string line_of(const char* t) {
  std::string s(t);
  s.push_back('\n');
  return s;
}

struct Scan {
  std::vector<double> values;
  std::int64_t lines_used;
  std::string next_line;  // the line the next read would see
};

Scan scan(const std::string& text, const std::string& kinds) {
  std::istringstream in(text);
  LineSource src(in, "deck");
  TestSink sink(kinds);
  scan_group(src, sink.count(), sink, "the group");
  Scan r{sink.values(), src.line_number(), {}};
  if (src.next_line()) r.next_line = src.line();
  return r;
}

std::string error_of(const std::string& text, const std::string& kinds) {
  std::istringstream in(text);
  LineSource src(in, "deck");
  TestSink sink(kinds);
  try {
    scan_group(src, sink.count(), sink, "the group");
  } catch (const RunStop& e) {
    EXPECT_EQ(e.status(), EXIT_INPUT);
    EXPECT_TRUE(e.out_text().empty());
    return e.err_text();
  }
  return "no error";
}

TEST(FreeFormatGroup, SeparatorsCommasAndTrailingText) {
  EXPECT_EQ(scan("1,  30.\n", "if").values, (std::vector<double>{1, 30}));
  const Scan s = scan("1 30.0 and a trailing word\nnext\n", "if");
  EXPECT_EQ(s.values, (std::vector<double>{1, 30}));
  EXPECT_EQ(s.next_line, "next");
  EXPECT_EQ(scan("\t2\t,\t3 ,4\n", "iii").values, (std::vector<double>{2, 3, 4}));
  EXPECT_EQ(scan("1 2 3\r\n", "iii").values, (std::vector<double>{1, 2, 3}));
}

TEST(FreeFormatGroup, RepeatCountsAndEmptyValues) {
  EXPECT_EQ(scan("3*2.5\n", "fff").values, (std::vector<double>{2.5, 2.5, 2.5}));
  EXPECT_EQ(scan("5 , , 7\n", "iii").values, (std::vector<double>{5, -777, 7}));
  EXPECT_EQ(scan("2* 9\n", "iii").values, (std::vector<double>{-777, -777, 9}));
  EXPECT_EQ(scan(",4,\n5\n", "iii").values, (std::vector<double>{-777, 4, 5}));
  // A count larger than the targets left fills them and ends the group.
  const Scan big = scan("1 99999999999999999999*7 rest\nnext\n", "iii");
  EXPECT_EQ(big.values, (std::vector<double>{1, 7, 7}));
  EXPECT_EQ(big.next_line, "next");
  // One repeated text serves targets of different kinds.
  EXPECT_EQ(scan("2*3\n", "if").values, (std::vector<double>{3, 3}));
}

TEST(FreeFormatGroup, SlashEndsTheGroupAndTheLine) {
  const Scan s = scan("4 / 8 9\nnext\n", "iii");
  EXPECT_EQ(s.values, (std::vector<double>{4, -777, -777}));
  EXPECT_EQ(s.next_line, "next");
  EXPECT_EQ(scan("4/\n", "ii").values, (std::vector<double>{4, -777}));
}

TEST(FreeFormatGroup, GroupsRunOverLinesAndStopAtTheLastValue) {
  const Scan s = scan("1\n2\n3\n4\n5\n6\n7\n", "ffffff");
  EXPECT_EQ(s.values, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(s.lines_used, 6);
  EXPECT_EQ(s.next_line, "7");
  EXPECT_EQ(scan("\n\n  1 2\n", "ii").values, (std::vector<double>{1, 2}));
}

TEST(FreeFormatGroup, ExponentLettersAndForms) {
  for (const char* t : {"1.5D2", "1.5e2", "1.5E+2", "1.5d+02", "1.5q2", "1.5Q2", "150", "+150.", "15e1", ".15e3"}) {
    EXPECT_EQ(scan(line_of(t), "f").values[0], 150.0) << t;
  }
  EXPECT_EQ(scan("-.5\n", "f").values[0], -0.5);
  EXPECT_EQ(scan("1e-50\n", "f").values[0], 0.0);  // underflow becomes the nearest float
  EXPECT_EQ(scan("-2147483648 2147483647\n", "ii").values, (std::vector<double>{-2147483648.0, 2147483647.0}));
}

TEST(FreeFormatGroup, MalformedValuesNameLineAndText) {
  EXPECT_EQ(error_of("1\nabc\n", "ii"), "deck:2: not an integer for V2: 'abc'\n");
  EXPECT_EQ(error_of("2.0\n", "i"), "deck:1: not an integer for V1: '2.0'\n");
  EXPECT_EQ(error_of("99999999999\n", "i"), "deck:1: integer out of range for V1: '99999999999'\n");
  EXPECT_EQ(error_of("1e400\n", "f"), "deck:1: number too large for a 32-bit float for V1: '1e400'\n");
  for (const char* t : {"NaN", "Inf", "1.e", "--3", "3..4", ".", "+", "1e", "1.5x", "0x10", "'a'"}) {
    EXPECT_NE(error_of(line_of(t), "f").find("not a number"), std::string::npos) << t;
  }
  EXPECT_NE(error_of("0*5\n", "f").find("repeat count of zero"), std::string::npos);
  EXPECT_NE(error_of("x*5\n", "f").find("bad repeat count"), std::string::npos);
  EXPECT_EQ(error_of(std::string("1\x01\n", 3), "f"), "deck:1: not a number for V1: '1\\x01'\n");
}

std::string error_of_stream(std::istream& in) {
  LineSource src(in, "deck");
  try {
    src.next_line();
  } catch (const RunStop& e) {
    return e.err_text();
  }
  return "no error";
}

TEST(FreeFormatGroup, EndOfSourceBeforeTheLastValue) {
  EXPECT_EQ(error_of("", "i"), "deck:1: empty input, expected the group: ''\n");
  EXPECT_EQ(error_of("1 2\n", "iii"), "deck:2: input ends early, expected the group: ''\n");
}

TEST(TextLine, WholeLineLessTrailingBlanks) {
  std::istringstream in("out.txt   \r\n  with  inner blanks \n");
  LineSource src(in, "deck");
  EXPECT_EQ(read_text_line(src, "name"), "out.txt");
  EXPECT_EQ(read_text_line(src, "name"), "  with  inner blanks");
  EXPECT_THROW(read_text_line(src, "name"), RunStop);
}

TEST(LineSourceStart, AByteOrderMarkIsSkippedOnlyAtTheVeryStart) {
  EXPECT_EQ(scan("\xEF\xBB\xBF" "1 2\n", "ii").values, (std::vector<double>{1, 2}));
  EXPECT_EQ(scan("\xEF\xBB\xBF\n3 4\n", "ii").values, (std::vector<double>{3, 4}));  // a mark alone is a blank line
  EXPECT_EQ(error_of("\xEF\xBB" "1\n", "i"), "deck:1: not an integer for V1: '\\xef\\xbb1'\n");  // not a whole mark
  EXPECT_EQ(error_of("1\n\xEF\xBB\xBF" "2\n", "ii"), "deck:2: not an integer for V2: '\\xef\\xbb\\xbf2'\n");
}

// A stream buffer whose reads fail as a closed descriptor's do.
class FailingBuf final : public std::streambuf {
 protected:
  int_type underflow() override {
    throw std::ios_base::failure("underflow error", std::error_code(EBADF, std::system_category()));
  }
};

TEST(LineSourceStart, AReadErrorIsAnInputErrorOfTheLineBeingRead) {
  FailingBuf buf;
  std::istream in(&buf);
  EXPECT_EQ(error_of_stream(in), "deck:1: cannot read the input (Bad file descriptor): ''\n");
}

TEST(QuoteText, ShowsControlBytesAndCutsLongText) {
  EXPECT_EQ(quote_text(std::string("a\0b", 3)), "'a\\x00b'");
  std::string cut(1, '\'');
  cut.append(40, 'x');
  cut += "...'";
  EXPECT_EQ(quote_text(std::string(100, 'x')), cut);
}

}  // namespace
}  // namespace velmar::console

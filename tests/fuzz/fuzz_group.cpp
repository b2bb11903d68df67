// Fuzz target: the free-format group reader on arbitrary bytes.
//
// Input layout: byte 0 chooses the number of targets (1 + its low three bits),
// byte 1 their kinds (bit i set: target i is an integer, else a float); the
// rest is the text, read as two groups one after the other, as the deck reads
// its groups. Besides the sanitizers, it checks:
//   - a group passes at most its number of targets and ends on a line it read;
//   - every float filled is finite (the reader refuses what is not);
//   - every integer filled is the value the standard parser gives its text;
//   - a refusal is one line naming the source, with status 2.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "console/driver/text_input.hpp"
#include "fuzz_check.hpp"

namespace velmar::fuzz {
namespace {

class CheckingSink final : public GroupSink {
 public:
  CheckingSink(int count, unsigned kinds) : count_(count), kinds_(kinds) {}
  ValueKind kind(int i) const override { return ((kinds_ >> i) & 1u) ? ValueKind::Int : ValueKind::Float; }
  std::string name(int i) const override { return "V" + std::to_string(i + 1); }
  void put_int(int i, std::int32_t v, const ValueAt& at) override {
    in_range(i);
    // The value's own text: after the repeat count, without a leading '+'.
    std::string_view t = at.text.substr(at.text.find('*') == std::string_view::npos ? 0 : at.text.find('*') + 1);
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    std::int32_t ref = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), ref);
    if (ec != std::errc() || ptr != t.data() + t.size() || ref != v) fail("integer read differs from from_chars", at.text);
  }
  void put_float(int i, float v, const ValueAt& at) override {
    in_range(i);
    if (!std::isfinite(v)) fail("non-finite float accepted", at.text);
  }

 private:
  void in_range(int i) const {
    if (i < 0 || i >= count_) fail("target index out of range", std::to_string(i));
  }
  int count_;
  unsigned kinds_;
};

void read_group(LineSource& src, int count, unsigned kinds) {
  CheckingSink sink(count, kinds);
  const std::int64_t before = src.line_number();
  const int passed = scan_group(src, count, sink, "the group");
  if (passed < 0 || passed > count) fail("group passed a wrong number of targets", std::to_string(passed));
  if (src.line_number() <= before) fail("group ended without reading a line", "");
}

}  // namespace
}  // namespace velmar::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velmar;
  using namespace velmar::console;
  if (size < 2) return 0;
  const int count = 1 + (data[0] & 7);
  const unsigned kinds = data[1];
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

  // The single-value parsers on the raw bytes as one token.
  std::int32_t i = 0;
  float f = 0.0f;
  if (parse_float(text, f).empty() && !std::isfinite(f)) fuzz::fail("parse_float accepted a non-finite value", text);
  (void)parse_int(text, i);

  std::istringstream in(text);
  LineSource src(in, "fuzz");
  try {
    fuzz::read_group(src, count, kinds);
    fuzz::read_group(src, 8 - count + 1, ~kinds);
  } catch (const RunStop& e) {
    fuzz::check_stop(e);
    if (e.status() != EXIT_INPUT || e.err_text().rfind("fuzz:", 0) != 0) {
      fuzz::fail("a group refusal must name its source", e.err_text());
    }
  }
  return 0;
}

#include "console/driver/fields.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmar::console {

namespace {

void stars(std::string& out, int w) { out.append(static_cast<std::size_t>(w), '*'); }

void right_aligned(std::string& out, const char* s, std::size_t n, int w) {
  if (n > static_cast<std::size_t>(w)) {
    stars(out, w);
    return;
  }
  out.append(static_cast<std::size_t>(w) - n, ' ');
  out.append(s, n);
}

// Adds one to the decimal digit string s[0..n) (digits only), carrying left.
// Returns true when the carry runs out of the string (all nines).
bool increment_digits(char* s, std::size_t n) {
  for (std::size_t i = n; i-- > 0;) {
    if (s[i] == '9') {
      s[i] = '0';
    } else {
      ++s[i];
      return false;
    }
  }
  return true;
}

// Digits of a >= 0 rounded at `d` places after the point (fmt fixed) or to
// d+1 significant digits (fmt scientific), a tie going away from zero.
// std::to_chars rounds correctly but breaks ties to even, so a possible tie
// (the next digit is 5) is decided on the exact decimal expansion, which a
// float always has in at most 150 digits.
std::size_t rounded(char* buf, std::size_t cap, float a, std::chars_format fmt, int d) {
  char probe[64];
  auto r = std::to_chars(probe, probe + sizeof probe, a, fmt, d + 1);
  // Last digit of the probe (before any exponent).
  const char* end = r.ptr;
  if (fmt == std::chars_format::scientific) end = std::find(static_cast<const char*>(probe), static_cast<const char*>(r.ptr), 'e');
  if (end[-1] == '5') {
    char exact[400];
    const auto x = std::to_chars(exact, exact + sizeof exact, a, fmt, d + 160);
    const char* ex = exact;
    const char* xe = x.ptr;
    const char* e = (fmt == std::chars_format::scientific) ? std::find(ex, xe, 'e') : xe;
    // Position of digit d+1 after the point in the exact form.
    const char* point = std::find(ex, e, '.');
    const char* next = point + 1 + d;
    bool tie = next < e && *next == '5';
    for (const char* t = next + 1; tie && t < e; ++t) tie = (*t == '0');
    if (tie) {
      // Truncate after digit d, then add one unit in the last place.
      std::string s(ex, d > 0 ? next : point);
      std::string digits;
      for (char c : s) if (c != '.') digits += c;
      const bool overflow = increment_digits(digits.data(), digits.size());
      std::string mant;
      const std::size_t int_len = static_cast<std::size_t>(point - ex);
      if (overflow) digits.insert(digits.begin(), '1');
      const std::size_t il = int_len + (overflow ? 1 : 0);
      mant = digits.substr(0, il);
      if (d > 0) {
        mant += '.';
        mant.append(digits, il, std::string::npos);
      }
      std::string exp_part(e, xe);
      if (overflow && fmt == std::chars_format::scientific) {
        // 9.99|5e+k became 10.00e+k: renormalise to 1.000e+(k+1).
        const int k = std::atoi(exp_part.c_str() + 1) + 1;
        mant.assign(1, '1');
        if (d > 0) {
          mant += '.';
          mant.append(static_cast<std::size_t>(d), '0');
        }
        char eb[16];
        std::snprintf(eb, sizeof eb, "e%+03d", k);
        exp_part = eb;
      }
      std::string all = mant + exp_part;
      std::memcpy(buf, all.data(), all.size());
      return all.size();
    }
  }
  auto q = std::to_chars(buf, buf + cap, a, fmt, d);
  return static_cast<std::size_t>(q.ptr - buf);
}

}  // namespace

void field_i(std::string& out, std::int32_t v, int w) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  right_aligned(out, buf, static_cast<std::size_t>(r.ptr - buf), w);
}

void field_f(std::string& out, float v, int w, int d) {
  if (!std::isfinite(v)) {
    stars(out, w);
    return;
  }
  char buf[128];
  std::size_t n = 0;
  if (v < 0.0f) buf[n++] = '-';
  n += rounded(buf + n, sizeof buf - n, std::fabs(v), std::chars_format::fixed, d);
  // A zero integer part may be dropped when that alone makes the value fit.
  const std::size_t lead = (v < 0.0f) ? 1 : 0;
  if (n > static_cast<std::size_t>(w) && d > 0 && n == static_cast<std::size_t>(w) + 1 &&
      buf[lead] == '0' && buf[lead + 1] == '.') {
    std::memmove(buf + lead, buf + lead + 1, n - lead - 1);
    --n;
  }
  right_aligned(out, buf, n, w);
}

void field_e(std::string& out, float v, int w, int d) {
  if (!std::isfinite(v) || d < 1) {
    stars(out, w);
    return;
  }
  // d significant digits as d.ddd e±x, then shifted to 0.dddd E±(x+1).
  char sci[64];
  const std::size_t n = rounded(sci, sizeof sci, std::fabs(v), std::chars_format::scientific, d - 1);
  const char* e = std::find(sci, sci + n, 'e');
  // The digits are not NUL-terminated: the exponent is parsed within [e+1, sci+n).
  const char* exp_begin = (e + 1 < sci + n && e[1] == '+') ? e + 2 : e + 1;
  int exp10 = 0;
  std::from_chars(exp_begin, sci + n, exp10);
  exp10 += 1;
  std::string digits;
  for (const char* p = sci; p < e; ++p) if (*p != '.') digits += *p;
  if (v == 0.0f) exp10 = 0;
  char buf[64];
  std::size_t k = 0;
  if (v < 0.0f) buf[k++] = '-';
  buf[k++] = '0';
  buf[k++] = '.';
  for (char c : digits) buf[k++] = c;
  k += static_cast<std::size_t>(std::snprintf(buf + k, sizeof buf - k, "E%c%02d", exp10 < 0 ? '-' : '+',
                                              exp10 < 0 ? -exp10 : exp10));
  const std::size_t lead = (v < 0.0f) ? 1 : 0;
  if (k == static_cast<std::size_t>(w) + 1) {  // drop the leading 0 when only it is too much
    std::memmove(buf + lead, buf + lead + 1, k - lead - 1);
    --k;
  }
  right_aligned(out, buf, k, w);
}

void field_lines(std::string& out, std::span<const FieldLayout> layout, std::span<const float> values) {
  std::size_t i = 0;
  while (i < values.size()) {
    for (const FieldLayout& f : layout) {
      for (int r = 0; r < f.repeat && i < values.size(); ++r, ++i) {
        const float v = values[i];
        if (f.kind == 'I') {
          if (std::isfinite(v) && std::fabs(v) < 2.0e9f) {
            field_i(out, static_cast<std::int32_t>(v), f.w);
          } else {
            stars(out, f.w);
          }
        } else if (f.kind == 'F') {
          field_f(out, v, f.w, f.d);
        } else {
          field_e(out, v, f.w, f.d);
        }
      }
    }
    out += '\n';
  }
}

}  // namespace velmar::console

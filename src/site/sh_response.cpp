// sh_response.cpp: the SH response at any depths (see sh_response.hpp).
//
// The frequencies go through the layers a block at a time, side by side in
// arrays, so that the compiler runs each layer's step over the block in
// vector registers. Each lane carries the column (u, s) from the surface down:
// u the displacement per unit surface displacement and s the stress in units
// of M nu of the current entry, with the growth e^{Im z} moved into a
// log-scale. In those units the layer matrix is [cos z, sin z; -sin z, cos z],
// which is diagonal on the waves u -+ i s: one is multiplied by e^{iz}, the
// other by e^{-iz}; with Im z = b >= 0 and e^b taken out, the factors are
// e^{-2b} e^{i Re z} and e^{-i Re z}, never above 1. Crossing into entry n
// first turns s into entry n's units (the ratio rho_n = M nu of the entry
// above over that of entry n; omega cancels).
#include "site/sh_response.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "common/platform.hpp"
#include "layers/complex_ops.hpp"
#include "layers/poly_math.hpp"
#include "layers/sh_lane.hpp"
#include "layers/simd_level.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar::detail {
namespace {

using poly::bits_of;
using poly::EXP_FLOOR;
using poly::half_exp_poly;
using poly::SINCOS_LIMIT;
using poly::sincos_poly;

constexpr std::size_t BLOCK = 64;  // frequencies side by side

using Entry = ShEntry;
using Target = ShTarget;

// The block's columns: two slots for the layer loop, one per target.
struct Columns {
  double* ur;
  double* ui;
  double* sr;
  double* si;
};

// Carries the columns `in` of a block across a thickness whose phase is
// omega * (zr + i zi), after turning s into this entry's units by (rr, ri);
// results to `out`, growth added to lg. Returns whether a column left the
// rescaling bounds in some lane.
template <bool Clamp>
VELMAR_ALWAYS_INLINE bool step_block(double zr, double zi, double rr, double ri,
                                              const double* VELMAR_RESTRICT om, const double* VELMAR_RESTRICT ur,
                                              const double* VELMAR_RESTRICT ui, const double* VELMAR_RESTRICT sr,
                                              const double* VELMAR_RESTRICT si, double* VELMAR_RESTRICT ur2,
                                              double* VELMAR_RESTRICT ui2, double* VELMAR_RESTRICT sr2,
                                              double* VELMAR_RESTRICT si2, double* VELMAR_RESTRICT lg) {
  std::uint64_t out_of_range = 0;
  for (std::size_t i = 0; i < BLOCK; ++i) {
    const double b = om[i] * zi;
    const ShColumn n = sh_lane_step<Clamp>(om[i] * zr, b, rr, ri, ShColumn{ur[i], ui[i], sr[i], si[i]});
    ur2[i] = n.ur, ui2[i] = n.ui, sr2[i] = n.sr, si2[i] = n.si;
    lg[i] += b;
    out_of_range |= sh_out_of_range_bits(n);
  }
  return (out_of_range >> 63) != 0;
}

// The block step compiled once per instruction set, chosen through a table
// (see layers/simd_level.hpp): every copy performs the same operations, so the
// level changes the speed, never the results.
// Clamp: some lane's growth 2b may pass the exponential's floor.
using StepFn = bool (*)(bool clamp, double, double, double, double, const double*, Columns, Columns, double*);

VELMAR_ALWAYS_INLINE bool step_any(bool clamp, double zr, double zi, double rr, double ri, const double* om,
                                   Columns in, Columns out, double* lg) {
  return clamp ? step_block<true>(zr, zi, rr, ri, om, in.ur, in.ui, in.sr, in.si, out.ur, out.ui, out.sr, out.si, lg)
               : step_block<false>(zr, zi, rr, ri, om, in.ur, in.ui, in.sr, in.si, out.ur, out.ui, out.sr, out.si, lg);
}
bool step_baseline(bool clamp, double zr, double zi, double rr, double ri, const double* om, Columns in, Columns out,
                   double* lg) {
  return step_any(clamp, zr, zi, rr, ri, om, in, out, lg);
}
#if VELMAR_X86_DISPATCH
VELMAR_TARGET_AVX2 bool step_avx2(bool clamp, double zr, double zi, double rr, double ri, const double* om,
                                  Columns in, Columns out, double* lg) {
  return step_any(clamp, zr, zi, rr, ri, om, in, out, lg);
}
VELMAR_TARGET_AVX512 bool step_avx512(bool clamp, double zr, double zi, double rr, double ri, const double* om,
                                      Columns in, Columns out, double* lg) {
  return step_any(clamp, zr, zi, rr, ri, om, in, out, lg);
}
constexpr std::array<StepFn, SIMD_LEVELS> STEPS{step_baseline, step_avx2, step_avx512};
#else
constexpr std::array<StepFn, SIMD_LEVELS> STEPS{step_baseline, step_baseline, step_baseline};
#endif

// Brings lane i of `c` back near 1 when it has left the bounds.
void rescale_lane(Columns c, double* lg, std::size_t i) {
  const double big = std::max({std::abs(c.ur[i]), std::abs(c.ui[i]), std::abs(c.sr[i]), std::abs(c.si[i])});
  if ((big <= SH_RESCALE_HIGH && big >= SH_RESCALE_LOW) || big == 0.0 || !std::isfinite(big)) return;
  const int e = std::ilogb(big);
  c.ur[i] = std::ldexp(c.ur[i], -e), c.ui[i] = std::ldexp(c.ui[i], -e);
  c.sr[i] = std::ldexp(c.sr[i], -e), c.si[i] = std::ldexp(c.si[i], -e);
  lg[i] += e * std::numbers::ln2;
}

bool finite(cdouble z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

// mantissa * e^{lg}, with the exponential formed so that neither factor overflows.
cdouble scaled(cdouble m, double lg) {
  if (lg == 0.0 || m == cdouble{}) return m;
  if (std::abs(lg) < 700.0) return m * std::exp(lg);
  const double big = std::max(std::abs(m.real()), std::abs(m.imag()));
  return (m / big) * std::exp(lg + std::log(big));
}

// Writes u, strain and stress of one target from its state (u, tau) at
// angular frequency omega.
struct Outputs {
  std::span<cdouble> u, strain, stress;
  std::size_t nf;
};

void put(const Outputs& o, std::size_t out, std::size_t i, cdouble u, cdouble tau, const Entry& e,
         bool conjugate) {
  const std::size_t k = out * o.nf + i;
  o.u[k] = conjugate ? std::conj(u) : u;
  if (!o.strain.empty()) {
    const cdouble strain = tau / e.M;
    o.strain[k] = conjugate ? std::conj(strain) : strain;
  }
  if (!o.stress.empty()) o.stress[k] = conjugate ? std::conj(tau) : tau;
}

// One frequency with the library functions, the state carried as (u, tau)
// with the layer matrix written with sin(z)/z where z is small (no 0/0 at a
// zero vertical wavenumber). Serves the lanes the block cannot.
using TargetStates = ShTargetStates;

void scalar_frequency(const std::vector<Entry>& E, const std::vector<Target>& T, double omega,
                      const Outputs& o, std::size_t i, bool conjugate, TargetStates& st) {
  const std::size_t N = E.size() - 1;
  if (omega == 0.0) {
    for (const Target& t : T) put(o, t.out, i, cdouble{2.0, 0.0}, cdouble{}, E[t.entry], conjugate);
    return;
  }
  // Matrix of thickness h in entry e, divided by e^{|Im z|}; returns |Im z|.
  struct Mat {
    cdouble a11, a12, a21;
    double lg;
  };
  const auto matrix = [omega](const Entry& e, double h) {
    const cdouble nu = omega * e.c;
    const cdouble z = nu * h;
    const double b = std::abs(z.imag());
    const double em = std::expm1(-2.0 * b);
    const double ch = 1.0 + 0.5 * em;
    const double sh = std::copysign(-0.5 * em, z.imag());
    const double sa = std::sin(z.real()), ca = std::cos(z.real());
    const cdouble cos_s{ca * ch, -sa * sh};
    const cdouble sin_s{sa * ch, ca * sh};
    const cdouble mnu = e.M * nu;
    Mat m{cos_s, {}, -mnu * sin_s, b};
    if (std::abs(z) < 0.1) {
      // sin(z)/(M nu) = h sinc(z) / M, with sinc from its series.
      const cdouble z2 = z * z;
      cdouble s{1.0 / 362880.0, 0.0};
      for (double c : {-1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0, 1.0}) s = s * z2 + c;
      m.a12 = s * (h * std::exp(-b)) / e.M;
    } else {
      m.a12 = sin_s / mnu;
    }
    return m;
  };
  // Surface state per unit surface displacement, down to every target and
  // to the half-space.
  std::size_t next = 0;
  cdouble u{1.0, 0.0}, tau{};
  double lg = 0.0;
  std::vector<cdouble>& tu = st.u;
  std::vector<cdouble>& tt = st.tau;
  std::vector<double>& tl = st.lg;
  for (std::size_t n = 0; n <= N; ++n) {
    for (; next < T.size() && T[next].entry == n; ++next) {
      const Mat m = matrix(E[n], T[next].dz);
      tu[next] = m.a11 * u + m.a12 * tau;
      tt[next] = m.a21 * u + m.a11 * tau;
      tl[next] = lg + m.lg;
    }
    if (n == N) break;
    const Mat m = matrix(E[n], E[n].h);
    const cdouble u2 = m.a11 * u + m.a12 * tau;
    tau = m.a21 * u + m.a11 * tau;
    u = u2;
    lg += m.lg;
    const double big = std::max({std::abs(u.real()), std::abs(u.imag()), std::abs(tau.real()), std::abs(tau.imag())});
    if (big > SH_RESCALE_HIGH || (big < SH_RESCALE_LOW && big > 0.0)) {
      const int e = std::ilogb(big);
      u = {std::ldexp(u.real(), -e), std::ldexp(u.imag(), -e)};
      tau = {std::ldexp(tau.real(), -e), std::ldexp(tau.imag(), -e)};
      lg += e * std::numbers::ln2;
    }
  }
  // Twice the incident amplitude per unit surface displacement.
  const cdouble mnu_h = E[N].M * (omega * E[N].c);
  const cdouble u0 = 2.0 / (u + cdouble{0.0, 1.0} * tau / mnu_h);
  for (std::size_t k = 0; k < T.size(); ++k) {
    const double l = tl[k] - lg;
    put(o, T[k].out, i, scaled(u0 * tu[k], l), scaled(u0 * tt[k], l), E[T[k].entry], conjugate);
  }
}

}  // namespace

void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress) {
  sh_response(medium, angle_deg, freqs, depths, u, strain, stress, best_simd_level());
}

void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress, SimdLevel level) {
  ShResponseWork work;
  sh_response(medium, angle_deg, freqs, depths, u, strain, stress, level, work);
}

void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress, ShResponseWork& work) {
  sh_response(medium, angle_deg, freqs, depths, u, strain, stress, best_simd_level(), work);
}

void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress, SimdLevel level, ShResponseWork& work) {
  const StepFn step = for_level(STEPS, level);
  const std::size_t N = medium.thickness.size();
  const std::size_t nf = freqs.size();
  const double theta = angle_deg * std::numbers::pi / 180.0;
  const cdouble s_h = medium.slowness[N];
  const cdouble p = std::sin(theta) * s_h;

  std::vector<Entry>& E = work.entries;
  E.resize(N + 1);
  for (std::size_t n = 0; n <= N; ++n) {
    Entry& e = E[n];
    e.c = n == N ? std::cos(theta) * s_h : csqrt_decaying(medium.slowness[n] * medium.slowness[n] - p * p);
    e.M = medium.modulus[n];
    e.mc = e.M * e.c;
    e.rho = n == 0 ? cdouble{1.0, 0.0} : E[n - 1].mc / e.mc;
    e.h = n == N ? 0.0 : medium.thickness[n];
  }
  for (std::size_t n = 0; n <= N; ++n) {
    const Entry& e = E[n];
    if (!(finite(e.c) && finite(e.mc) && finite(e.rho) && std::isfinite(std::norm(e.M)) && std::norm(e.M) > 0.0)) {
      throw InvalidArgument("entry " + std::to_string(n) +
                            " of the profile lies outside the computable range (its modulus or slowness "
                            "overflows or vanishes in double precision)");
    }
  }
  // Targets sorted by depth.
  std::vector<double>& tops = work.tops;
  tops.assign(N + 1, 0.0);
  for (std::size_t n = 1; n <= N; ++n) tops[n] = tops[n - 1] + medium.thickness[n - 1];
  std::vector<Target>& T = work.targets;
  T.resize(depths.size());
  for (std::size_t d = 0; d < depths.size(); ++d) {
    const auto it = std::upper_bound(tops.begin(), tops.end(), depths[d]);
    const std::size_t n = it == tops.begin() ? 0 : static_cast<std::size_t>(it - tops.begin()) - 1;
    T[d] = {n, depths[d] - tops[n], d};
  }
  // Stable insertion sort (a library stable sort may allocate its buffer).
  const auto before = [](const Target& a, const Target& b) {
    return a.entry != b.entry ? a.entry < b.entry : a.dz < b.dz;
  };
  if (!std::is_sorted(T.begin(), T.end(), before)) {
    for (std::size_t i = 1; i < T.size(); ++i) {
      const Target t = T[i];
      std::size_t j = i;
      for (; j > 0 && before(t, T[j - 1]); --j) T[j] = T[j - 1];
      T[j] = t;
    }
  }
  const Outputs out{u, strain, stress, nf};
  // A zero vertical slowness makes the units of s singular: such a profile
  // goes through the scalar evaluation entirely.
  bool block_ok = true;
  for (const Entry& e : E) block_ok = block_ok && finite(e.rho) && e.mc != cdouble{};

  // Scratch, sized once: lane arrays for 2 slots and every target.
  const std::size_t nt = T.size();
  std::vector<double>& store = work.store;
  store.assign((4 * (2 + nt) + 2 + nt) * BLOCK, 0.0);
  const auto lane_array = [&](std::size_t k) { return store.data() + k * BLOCK; };
  const auto slot = [&](std::size_t s) {
    return Columns{lane_array(4 * s), lane_array(4 * s + 1), lane_array(4 * s + 2), lane_array(4 * s + 3)};
  };
  double* om = lane_array(4 * (2 + nt));
  double* lg = lane_array(4 * (2 + nt) + 1);
  const auto target_lg = [&](std::size_t k) { return lane_array(4 * (2 + nt) + 2 + k); };
  std::vector<char>& scalar = work.scalar;
  scalar.assign(BLOCK, 0);
  TargetStates& states = work.states;
  states.u.resize(nt), states.tau.resize(nt), states.lg.resize(nt);

  for (std::size_t start = 0; start < nf; start += BLOCK) {
    const std::size_t lanes = std::min(BLOCK, nf - start);
    double om_max = 0.0;
    for (std::size_t i = 0; i < BLOCK; ++i) {
      // Lanes past the end repeat the last frequency.
      const double f = freqs[start + std::min(i, lanes - 1)];
      om[i] = 2.0 * std::numbers::pi * std::abs(f);
      om_max = std::max(om_max, om[i]);
      Columns c = slot(0);
      c.ur[i] = 1.0, c.ui[i] = 0.0, c.sr[i] = 0.0, c.si[i] = 0.0;
      lg[i] = 0.0;
      scalar[i] = !block_ok || !std::isfinite(om[i]);
    }
    std::size_t cur = 0, next = 0;
    const auto cross = [&](const Entry& e, double h, Columns to, double* l) {
      if (!(om_max * std::abs(e.c.real()) * h <= SINCOS_LIMIT)) {
        for (std::size_t i = 0; i < BLOCK; ++i) {
          if (!(om[i] * std::abs(e.c.real()) * h <= SINCOS_LIMIT)) scalar[i] = 1;
        }
      }
      // Below this growth the exponential never reaches its floor.
      const bool clamp = !(om_max * e.c.imag() * h <= -0.5 * poly::EXP_FLOOR);
      if (step(clamp, e.c.real() * h, e.c.imag() * h, e.rho.real(), e.rho.imag(), om, slot(cur), to, l)) {
        for (std::size_t i = 0; i < BLOCK; ++i) rescale_lane(to, l, i);
      }
    };
    if (block_ok) {
      for (std::size_t n = 0; n <= N; ++n) {
        for (; next < nt && T[next].entry == n; ++next) {
          double* l = target_lg(next);
          std::copy(lg, lg + BLOCK, l);
          if (T[next].dz > 0.0) {
            cross(E[n], T[next].dz, slot(2 + next), l);
            continue;
          }
          // On the entry's top: only the stress changes units.
          const Columns from = slot(cur), to = slot(2 + next);
          const double rr = E[n].rho.real(), ri = E[n].rho.imag();
          for (std::size_t i = 0; i < BLOCK; ++i) {
            to.ur[i] = from.ur[i], to.ui[i] = from.ui[i];
            to.sr[i] = from.sr[i] * rr - from.si[i] * ri, to.si[i] = from.sr[i] * ri + from.si[i] * rr;
          }
        }
        if (n == N) break;
        cross(E[n], E[n].h, slot(1 - cur), lg);
        cur = 1 - cur;
      }
    }
    for (std::size_t i = 0; i < lanes; ++i) {
      const double f = freqs[start + i];
      const bool conjugate = f < 0.0;
      const Columns c = slot(cur);
      const cdouble cu{c.ur[i], c.ui[i]};
      const cdouble cs{c.sr[i], c.si[i]};
      // Twice the incident amplitude per unit surface displacement, with the
      // stress turned into the half-space's units: 2 / (cu + i rho_h cs).
      const cdouble rs = E[N].rho * cs;
      const double dr = cu.real() - rs.imag(), di = cu.imag() + rs.real();
      const double inv = 2.0 / (dr * dr + di * di);
      const cdouble u0{dr * inv, -di * inv};
      bool ok = !scalar[i] && finite(u0) && std::isfinite(lg[i]);
      const bool want_tau = !strain.empty() || !stress.empty();
      for (std::size_t k = 0; ok && k < nt; ++k) {
        const Columns t = slot(2 + k);
        const Entry& e = E[T[k].entry];
        const double l = target_lg(k)[i] - lg[i];
        const cdouble um = scaled(u0 * cdouble{t.ur[i], t.ui[i]}, l);
        // tau = M nu s = omega mc s
        const cdouble tau = want_tau ? scaled(u0 * cdouble{t.sr[i], t.si[i]}, l) * (om[i] * e.mc) : cdouble{};
        ok = finite(um) && finite(tau);
        if (ok) put(out, T[k].out, start + i, um, tau, e, conjugate);
      }
      if (!ok) scalar_frequency(E, T, om[i], out, start + i, conjugate, states);
      // A last guard: a result is never left non-finite.
      for (std::size_t k = 0; k < nt; ++k) {
        const std::size_t j = k * nf + start + i;
        const bool bad = !finite(u[j]) || (!strain.empty() && !finite(strain[j])) || (!stress.empty() && !finite(stress[j]));
        if (bad) {
          throw InvalidArgument("the response at frequency " + number(f) + " Hz and depth " + number(depths[k]) +
                                " m is beyond the double range");
        }
      }
    }
  }
}

}  // namespace velmar::detail

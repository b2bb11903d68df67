// psv_reference.hpp: an independent long-double reference for the plane-wave
// response of the layer stack, used only by the tests.
//
// Method: a global-matrix solve. Every layer carries four plane waves (P and S,
// each down-going and up-going), the half-space carries the incident wave and
// the two reflected (down-going) waves; the unknown amplitudes are fixed by
// continuity of displacement and traction at every interface and by zero
// traction at the free surface, all in one banded linear system solved by
// Gaussian elimination with partial pivoting.
//
// Each amplitude is referred to the boundary its wave decays away from: a
// down-going wave to the top of its layer, an up-going wave to the bottom. The
// vertical wavenumbers nu have Re nu >= 0, so every exponential in the system is
// exp(-nu * distance) with magnitude at most 1, and nothing grows with the
// thickness or the frequency. This is what makes the reference free of the
// cancellation that a product of layer propagators suffers for thick, soft,
// strongly damped layers.
//
// Conventions (those of the program under test):
//   time factor exp(-i w t); fields vary as exp(i k x) along the horizontal;
//   z is depth, positive down; w (vertical displacement) is positive down;
//   damped layer velocities beta = VS / (1 + i 0.5/QS), alpha = VP / (1 + i 0.5/QP)
//   (IQF = 2: QS*F and QP*F in place of QS and QP); the half-space is undamped;
//   horizontal wavenumber k = w sin(theta) / alpha_h (P) or / beta_h (SV, SH);
//   incident wave of unit displacement amplitude, phase zero at the top of the
//   half-space: P polarised along its direction of travel, (sin, -cos) in
//   (x, z); SV polarised (cos, sin); SH a unit transverse displacement.
//   Traction on a horizontal plane: sxz = mu (du/dz + dw/dx),
//   szz = lambda (du/dx + dw/dz) + 2 mu dw/dz; SH stress tau = mu du/dz.
//
// Results are indexed like the response arrays: element 0 is the free
// surface, element k-1 the top of table entry k, element NLAYER the top of the
// half-space.
#pragma once

#include "console/engines/layer_table.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <iterator>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <utility>
#include <vector>

namespace velmar::reference {

// The console's layer table, which the references read.
using console::cfloat;
using console::LayerTable;
using console::MAX_ENTRIES;

using real = long double;
using cplx = std::complex<real>;

constexpr cplx I_UNIT{0.0L, 1.0L};
constexpr real PI_L = std::numbers::pi_v<real>;

// Test models: one line per layer-table entry, the last being the half-space
// (its thickness and quality factors are not used).
struct LayerEntry {
  float thick;
  float rho;
  float vs;
  float qs;
  float vp;
  float qp;
};

template <typename Entries>
LayerTable make_table(const Entries& entries, int iqf = 1) {
  LayerTable t;
  t.NLAYER = static_cast<int>(std::size(entries)) - 1;
  t.IQF = iqf;
  int k = 0;
  for (const LayerEntry& e : entries) {
    t.THICK[k] = e.thick;
    t.RHO[k] = e.rho;
    t.VSC[k] = {e.vs, 0.0f};
    t.QS[k] = e.qs;
    t.VPC[k] = {e.vp, 0.0f};
    t.QP[k] = e.qp;
    ++k;
  }
  return t;
}

// The inputs one float rounding unit away from (f, angle): each of the two
// moved by a factor 1 -+ eps in turn. A float computation cannot resolve the
// response more finely than its change over these steps (every phase w h / v
// moves by its own size times eps, and near a critical angle the vertical
// wavenumbers move fast with the angle), so the tests take the largest such
// change as the measure of a value's sensitivity to rounding.
struct Inputs {
  real f;
  real angle;
};

inline std::array<Inputs, 4> float_neighbours(real f, real angle) {
  const real eps = std::numeric_limits<float>::epsilon();
  return {{{f * (1.0L - eps), angle},
           {f * (1.0L + eps), angle},
           {f, angle * (1.0L - eps)},
           {f, angle * (1.0L + eps)}}};
}

// Values smaller than this have subnormal float neighbours and no relative
// precision left in float: the tests judge them on this absolute scale
// instead of their own.
constexpr real FLOAT_NORMAL_FLOOR =
    real(std::numeric_limits<float>::min()) / real(std::numeric_limits<float>::epsilon());

namespace models {

// Bare half-space RHO 2.2, VS 800, VP 1600 (critical angle of SV: 30 degrees).
inline constexpr std::array<LayerEntry, 1> BARE = {{{0.0f, 2.2f, 800.0f, 0.0f, 1600.0f, 0.0f}}};

// One quarter-wave layer: resonant at 5 Hz for S and 10 Hz for P.
inline constexpr std::array<LayerEntry, 2> QUARTER_WAVE = {{
    {10.0f, 1.8f, 200.0f, 1.0e6f, 400.0f, 1.0e6f},
    {0.0f, 2.2f, 800.0f, 0.0f, 1600.0f, 0.0f},
}};

// 300 m of very soft, strongly damped soil under a high P velocity: the S
// wave decays by exp(-w h / (2 QS VS)), about e^-38 at 20 Hz, so a propagator
// product carries terms of e^+38 that cancel.
inline constexpr std::array<LayerEntry, 2> SOFT_BASIN = {{
    {300.0f, 1.9f, 100.0f, 5.0f, 1600.0f, 50.0f},
    {0.0f, 2.2f, 800.0f, 0.0f, 2000.0f, 0.0f},
}};

// Multi-layer soft-soil profile over stiff rock.
inline constexpr std::array<LayerEntry, 6> SOFT_PROFILE = {{
    {20.0f, 1.7f, 80.0f, 4.0f, 1500.0f, 60.0f},
    {40.0f, 1.8f, 150.0f, 8.0f, 1600.0f, 80.0f},
    {60.0f, 1.9f, 250.0f, 10.0f, 1700.0f, 100.0f},
    {100.0f, 2.0f, 400.0f, 15.0f, 1900.0f, 100.0f},
    {200.0f, 2.1f, 600.0f, 20.0f, 2200.0f, 150.0f},
    {0.0f, 2.4f, 1500.0f, 0.0f, 3000.0f, 0.0f},
}};

// A 24-layer sedimentary basin with velocity and damping growing with depth.
inline constexpr std::array<LayerEntry, 25> DEEP_BASIN = [] {
  std::array<LayerEntry, 25> m{};
  for (int j = 0; j < 24; ++j) {
    const float x = static_cast<float>(j) / 23.0f;
    m[j] = {15.0f + 25.0f * x, 1.6f + 0.5f * x, 90.0f + 610.0f * x * x, 5.0f + 15.0f * x,
            1500.0f + 1000.0f * x, 50.0f + 150.0f * x};
  }
  m[24] = {0.0f, 2.5f, 1200.0f, 0.0f, 2600.0f, 0.0f};
  return m;
}();

// The full table: 49 layers with alternating soft and stiff (velocity
// inversions), thin and thick layers, over the half-space.
inline constexpr std::array<LayerEntry, 50> FULL_TABLE = [] {
  std::array<LayerEntry, 50> m{};
  for (int j = 0; j < 49; ++j) {
    const float x = static_cast<float>(j) / 48.0f;
    const bool soft = j % 3 == 1;
    const float vs = soft ? 70.0f + 100.0f * x : 150.0f + 500.0f * x;
    m[j] = {j % 2 == 0 ? 2.0f : 12.0f + 10.0f * x, 1.6f + 0.6f * x, vs, soft ? 4.0f : 10.0f + 20.0f * x,
            soft ? 1450.0f : 3.0f * vs + 600.0f, soft ? 40.0f : 120.0f};
  }
  m[49] = {0.0f, 2.6f, 1400.0f, 0.0f, 2900.0f, 0.0f};
  return m;
}();

}  // namespace models

// Banded system with kl sub- and ku super-diagonals, solved by Gaussian
// elimination with partial pivoting (row swaps widen the upper band to
// kl + ku, which the storage allows for). Each row is first scaled to unit
// maximum: displacement rows are O(1), traction rows O(rho v w).
class BandedSystem {
 public:
  BandedSystem(int n, int kl, int ku)
      : n_(n), kl_(kl), ku_(ku), width_(2 * kl + ku + 1), a_(static_cast<std::size_t>(n) * width_), b_(n) {}

  // Element (r, c); it must lie within the band.
  cplx& at(int r, int c) {
    if (c < r - kl_ || c > r + kl_ + ku_ || c < 0 || c >= n_) throw std::out_of_range("outside the band");
    return a_[static_cast<std::size_t>(r) * width_ + (c - r + kl_)];
  }
  cplx& rhs(int r) { return b_[r]; }

  std::vector<cplx> solve() {
    for (int r = 0; r < n_; ++r) {
      real big = 0.0L;
      for (int c = first(r); c <= last(r); ++c) big = std::max(big, std::abs(at(r, c)));
      if (big == 0.0L) continue;
      for (int c = first(r); c <= last(r); ++c) at(r, c) /= big;
      b_[r] /= big;
    }
    const int reach = kl_ + ku_;
    for (int c = 0; c < n_; ++c) {
      const int rend = std::min(n_ - 1, c + kl_);
      int piv = c;
      for (int r = c + 1; r <= rend; ++r) {
        if (std::abs(at(r, c)) > std::abs(at(piv, c))) piv = r;
      }
      const int cend = std::min(n_ - 1, c + reach);
      if (piv != c) {
        for (int j = c; j <= cend; ++j) std::swap(at(piv, j), at(c, j));
        std::swap(b_[piv], b_[c]);
      }
      const cplx p = at(c, c);
      for (int r = c + 1; r <= rend; ++r) {
        if (at(r, c) == cplx(0.0L)) continue;
        const cplx m = at(r, c) / p;
        for (int j = c; j <= cend; ++j) at(r, j) -= m * at(c, j);
        b_[r] -= m * b_[c];
      }
    }
    std::vector<cplx> x(n_);
    for (int r = n_ - 1; r >= 0; --r) {
      cplx s = b_[r];
      const int cend = std::min(n_ - 1, r + reach);
      for (int j = r + 1; j <= cend; ++j) s -= at(r, j) * x[j];
      x[r] = s / at(r, r);
    }
    return x;
  }

 private:
  int first(int r) const { return std::max(0, r - kl_); }
  int last(int r) const { return std::min(n_ - 1, r + kl_ + ku_); }

  int n_;
  int kl_;
  int ku_;
  int width_;
  std::vector<cplx> a_;
  std::vector<cplx> b_;
};

// Material of one medium at one frequency, with its vertical wavenumbers for
// the common horizontal wavenumber k: nu = sqrt(k^2 - (w/v)^2).
struct Medium {
  real thick = 0.0L;
  real rho = 0.0L;
  cplx alpha;
  cplx beta;
  cplx mu;      // rho beta^2
  cplx lam2mu;  // lambda + 2 mu = rho alpha^2
  cplx ka;      // w / alpha
  cplx kb;      // w / beta
  cplx nu_a;
  cplx nu_b;
};

// Velocity divided by the damping divisor 1 + i 0.5/Q (Q*F for IQF = 2), which
// makes a wave decay as it travels under exp(-i w t). Under exp(+i w t)
// (isgnt = +1) the same decay needs the conjugate divisor 1 - i 0.5/Q, and
// every response is then the complex conjugate of the exp(-i w t) one.
inline cplx damped_velocity(cfloat v, float q, int iqf, real f, int isgnt = -1) {
  const real qeff = (iqf == 2) ? real(q) * f : real(q);
  const real d = isgnt < 0 ? 0.5L / qeff : -0.5L / qeff;
  return cplx(v.real(), v.imag()) / cplx(1.0L, d);
}

// Layers: any root with Re >= 0 gives the same fields (both directions are
// present), so the principal root is used.
inline cplx layer_nu(cplx k, cplx kv) {
  cplx nu = std::sqrt(k * k - kv * kv);
  if (nu.real() < 0.0L) nu = -nu;
  return nu;
}

// Half-space: the reflected waves must radiate or decay downward. A
// propagating wave (k^2 - kv^2 real negative) has nu = -i sqrt(kv^2 - k^2),
// so that exp(-nu z) = exp(+i kz z) travels down under exp(-i w t); under
// exp(+i w t) (isgnt = +1) the other sign travels down. An evanescent wave has
// nu real positive.
inline cplx halfspace_nu(cplx k, cplx kv, int isgnt = -1) {
  const cplx arg = k * k - kv * kv;
  if (arg.imag() == 0.0L && arg.real() < 0.0L) {
    const real root = std::sqrt(-arg.real());
    return isgnt < 0 ? cplx(0.0L, -root) : cplx(0.0L, root);
  }
  cplx nu = std::sqrt(arg);
  if (nu.real() < 0.0L) nu = -nu;
  return nu;
}

inline Medium make_medium(const LayerTable& t, int entry, cplx k, real omega, real f,
                          bool halfspace, int isgnt = -1) {
  Medium m;
  m.thick = halfspace ? 0.0L : real(t.THICK[entry]);
  m.rho = t.RHO[entry];
  if (halfspace) {
    m.alpha = cplx(t.VPC[entry].real(), t.VPC[entry].imag());
    m.beta = cplx(t.VSC[entry].real(), t.VSC[entry].imag());
  } else {
    m.alpha = damped_velocity(t.VPC[entry], t.QP[entry], t.IQF, f, isgnt);
    m.beta = damped_velocity(t.VSC[entry], t.QS[entry], t.IQF, f, isgnt);
  }
  m.mu = m.rho * m.beta * m.beta;
  m.lam2mu = m.rho * m.alpha * m.alpha;
  m.ka = omega / m.alpha;
  m.kb = omega / m.beta;
  if (halfspace) {
    m.nu_a = halfspace_nu(k, m.ka, isgnt);
    m.nu_b = halfspace_nu(k, m.kb, isgnt);
  } else {
    m.nu_a = layer_nu(k, m.ka);
    m.nu_b = layer_nu(k, m.kb);
  }
  return m;
}

// Rows of the global system for a field of ncomp components (displacements
// first, then tractions): the free surface (the traction components set to
// zero), then the interface at the bottom of each layer j (the field of layer
// j minus that of the medium below). add_layer(row0, comp0, j, bottom, sign)
// adds sign times layer j's waves at its top or bottom, for components comp0
// and up, to the rows from row0; add_halfspace(row0, comp0, sign) does the
// same for the reflected waves and moves the incident wave to the right-hand
// side.
template <typename AddLayer, typename AddHalfspace>
void assemble_rows(int nl, int ncomp, AddLayer add_layer, AddHalfspace add_halfspace) {
  const int tractions = ncomp / 2;
  if (nl == 0) {
    add_halfspace(0, tractions, 1.0L);
  } else {
    add_layer(0, tractions, 0, false, 1.0L);
  }
  for (int j = 0; j < nl; ++j) {
    const int row0 = tractions + ncomp * j;
    add_layer(row0, 0, j, true, 1.0L);
    if (j + 1 < nl) {
      add_layer(row0, 0, j + 1, false, -1.0L);
    } else {
      add_halfspace(row0, 0, -1.0L);
    }
  }
}

// P-SV field (u, w, sxz, szz) of one wave at the depth where its exponential
// is 1. s = -nu for a down-going wave, +nu for an up-going one. P: potential
// gradient (ik, s) / ka; S: (-s, ik) / kb (unit displacement for a propagating
// wave).
using PsvVector = std::array<cplx, 4>;

inline PsvVector psv_wave(const Medium& m, cplx k, bool p_wave, bool up) {
  const cplx ik = I_UNIT * k;
  cplx s;
  cplx u;
  cplx w;
  if (p_wave) {
    s = up ? m.nu_a : -m.nu_a;
    u = ik / m.ka;
    w = s / m.ka;
  } else {
    s = up ? m.nu_b : -m.nu_b;
    u = -s / m.kb;
    w = ik / m.kb;
  }
  const cplx lam = m.lam2mu - 2.0L * m.mu;
  return {u, w, m.mu * (s * u + ik * w), m.lam2mu * s * w + lam * ik * u};
}

struct PsvResponse {
  std::array<cplx, MAX_ENTRIES> u{};  // horizontal displacement; element 0 = free surface
  std::array<cplx, MAX_ENTRIES> w{};  // vertical displacement, positive down
  // Sum of the displacement magnitudes of the waves that make up u and w at
  // each depth: the scale against which a rounding error in u or w is judged
  // (near a node u and w are small differences of waves of this size).
  std::array<real, MAX_ENTRIES> size{};
  // Amplitudes of the reflected P and S waves at the top of the half-space,
  // each in a basis of unit displacement for a propagating wave.
  cplx reflected_p;
  cplx reflected_s;
};

// The solved global system of a P-SV problem: the media (layers, then the
// half-space), the amplitudes x (layer j: 4j + {P down, S down, P up, S up},
// each referred to the boundary it decays away from; half-space: 4 nl +
// {P down, S down}), and the half-space's incident and reflected basis waves.
struct PsvSolution {
  std::vector<Medium> med;
  cplx k;
  int itype = 1;
  std::vector<cplx> x;
  PsvVector inc;
  PsvVector hp;
  PsvVector hsv;
};

// Solves the global system for media whose wavenumbers are set for k.
inline PsvSolution solve_psv(std::vector<Medium> med, cplx k, int itype) {
  const int nl = static_cast<int>(med.size()) - 1;
  const Medium& hs = med[nl];

  // Interface rows touch the four waves of the layer above and below: at most
  // five columns either side of the diagonal.
  const int n = 4 * nl + 2;
  BandedSystem sys(n, 5, 5);
  // Incident wave: -i times the up-going basis wave, which makes its
  // displacement (sin, -cos) for P and (cos, sin) for SV at the top of the
  // half-space.
  PsvVector inc = psv_wave(hs, k, itype == 1, true);
  for (cplx& e : inc) e *= -I_UNIT;
  const PsvVector hp = psv_wave(hs, k, true, false);
  const PsvVector hsv = psv_wave(hs, k, false, false);

  // Layer j's four waves at its top (bottom = false) or bottom.
  auto add_layer = [&](int row0, int comp0, int j, bool bottom, real sign) {
    const Medium& m = med[j];
    const cplx ea = std::exp(-m.nu_a * m.thick);
    const cplx eb = std::exp(-m.nu_b * m.thick);
    const PsvVector waves[4] = {psv_wave(m, k, true, false), psv_wave(m, k, false, false),
                                psv_wave(m, k, true, true), psv_wave(m, k, false, true)};
    const cplx fac[4] = {bottom ? ea : 1.0L, bottom ? eb : 1.0L, bottom ? 1.0L : ea,
                         bottom ? 1.0L : eb};
    for (int r = comp0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) sys.at(row0 + r - comp0, 4 * j + c) += sign * fac[c] * waves[c][r];
    }
  };
  auto add_halfspace = [&](int row0, int comp0, real sign) {
    for (int r = comp0; r < 4; ++r) {
      sys.at(row0 + r - comp0, 4 * nl) += sign * hp[r];
      sys.at(row0 + r - comp0, 4 * nl + 1) += sign * hsv[r];
      sys.rhs(row0 + r - comp0) -= sign * inc[r];
    }
  };
  assemble_rows(nl, 4, add_layer, add_halfspace);
  std::vector<cplx> x = sys.solve();
  return {std::move(med), k, itype, std::move(x), inc, hp, hsv};
}

// Displacement (u, w) of the solved field at distance dz below the top of
// layer j (j = nl: the half-space), and the sum of the magnitudes of the
// waves that make it up there.
struct PsvPoint {
  cplx u;
  cplx w;
  real size = 0.0L;
};

inline PsvPoint psv_point(const PsvSolution& s, int j, real dz) {
  const int nl = static_cast<int>(s.med.size()) - 1;
  const Medium& m = s.med[j];
  PsvPoint out;
  auto add = [&](cplx amp, const PsvVector& wave) {
    out.u += amp * wave[0];
    out.w += amp * wave[1];
    out.size += std::abs(amp) * std::max(std::abs(wave[0]), std::abs(wave[1]));
  };
  if (j < nl) {
    const real up = m.thick - dz;  // distance to the bottom
    add(s.x[4 * j] * std::exp(-m.nu_a * dz), psv_wave(m, s.k, true, false));
    add(s.x[4 * j + 1] * std::exp(-m.nu_b * dz), psv_wave(m, s.k, false, false));
    add(s.x[4 * j + 2] * std::exp(-m.nu_a * up), psv_wave(m, s.k, true, true));
    add(s.x[4 * j + 3] * std::exp(-m.nu_b * up), psv_wave(m, s.k, false, true));
    return out;
  }
  // The incident wave (up-going: exp(nu dz), growing with depth where the
  // half-space is damped) and the two reflected ones.
  add(std::exp((s.itype == 1 ? m.nu_a : m.nu_b) * dz), s.inc);
  add(s.x[4 * nl] * std::exp(-m.nu_a * dz), s.hp);
  add(s.x[4 * nl + 1] * std::exp(-m.nu_b * dz), s.hsv);
  return out;
}

// Response to an incident P (itype 1) or SV (itype 2) wave of unit
// displacement amplitude, at the free surface and at the top of every layer
// and of the half-space.
inline PsvResponse psv_response(const LayerTable& t, int itype, real angle_deg, real f) {
  const int nl = t.NLAYER;
  const real omega = 2.0L * PI_L * f;
  const real theta = PI_L * angle_deg / 180.0L;
  const cplx vh = (itype == 1) ? cplx(t.VPC[nl].real(), t.VPC[nl].imag())
                               : cplx(t.VSC[nl].real(), t.VSC[nl].imag());
  const cplx k = omega * std::sin(theta) / vh;

  std::vector<Medium> med;
  med.reserve(nl + 1);
  for (int j = 0; j < nl; ++j) med.push_back(make_medium(t, j, k, omega, f, false));
  med.push_back(make_medium(t, nl, k, omega, f, true));
  const PsvSolution s = solve_psv(std::move(med), k, itype);

  PsvResponse out;
  for (int j = 0; j <= nl; ++j) {
    const PsvPoint p = psv_point(s, j, 0.0L);
    out.u[j] = p.u;
    out.w[j] = p.w;
    out.size[j] = p.size;
  }
  out.reflected_p = s.x[4 * nl];
  out.reflected_s = s.x[4 * nl + 1];
  return out;
}

// One entry of a medium given directly: complex (damped) velocities, the
// half-space's too (its thickness is not used).
struct GeneralEntry {
  real thick;
  real rho;
  cplx vs;
  cplx vp;
};

// Displacements at every depth (m, >= 0, anywhere) of a medium of any number
// of layers; a depth on an interface is taken from the entry below it.
struct PsvDepthResponse {
  std::vector<cplx> u;
  std::vector<cplx> w;
  std::vector<real> size;  // as PsvResponse::size
};

inline PsvDepthResponse psv_response_at(const std::vector<GeneralEntry>& entries, int itype, real angle_deg, real f,
                                        const std::vector<real>& depths) {
  const int nl = static_cast<int>(entries.size()) - 1;
  const real omega = 2.0L * PI_L * f;
  const real theta = PI_L * angle_deg / 180.0L;
  const cplx k = omega * std::sin(theta) / (itype == 1 ? entries[nl].vp : entries[nl].vs);
  std::vector<Medium> med(nl + 1);
  for (int j = 0; j <= nl; ++j) {
    const GeneralEntry& e = entries[j];
    Medium& m = med[j];
    m.thick = j < nl ? e.thick : 0.0L;
    m.rho = e.rho;
    m.alpha = e.vp;
    m.beta = e.vs;
    m.mu = m.rho * m.beta * m.beta;
    m.lam2mu = m.rho * m.alpha * m.alpha;
    m.ka = omega / m.alpha;
    m.kb = omega / m.beta;
    m.nu_a = j < nl ? layer_nu(k, m.ka) : halfspace_nu(k, m.ka);
    m.nu_b = j < nl ? layer_nu(k, m.kb) : halfspace_nu(k, m.kb);
  }
  const PsvSolution s = solve_psv(std::move(med), k, itype);
  PsvDepthResponse out;
  for (real z : depths) {
    int j = 0;
    real top = 0.0L;
    while (j < nl && z >= top + s.med[j].thick) top += s.med[j++].thick;
    const PsvPoint p = psv_point(s, j, z - top);
    out.u.push_back(p.u);
    out.w.push_back(p.w);
    out.size.push_back(p.size);
  }
  return out;
}

struct ShResponse {
  std::array<cplx, MAX_ENTRIES> u{};    // transverse displacement; element 0 = free surface
  std::array<cplx, MAX_ENTRIES> tau{};  // shear stress mu du/dz at the same depths
  // |down-going| + |up-going| wave at each depth, and the same times |mu nu|:
  // the scales of u and tau against which rounding errors are judged.
  std::array<real, MAX_ENTRIES> size{};
  std::array<real, MAX_ENTRIES> tau_size{};
};

// Response to an incident SH wave of unit amplitude. isgnt = -1 for the time
// factor exp(-i w t), +1 for exp(+i w t) (the damping divisor and the
// radiation condition in the half-space depend on it).
inline ShResponse sh_response(const LayerTable& t, real angle_deg, real f, int isgnt = -1) {
  const int nl = t.NLAYER;
  const real omega = 2.0L * PI_L * f;
  const real theta = PI_L * angle_deg / 180.0L;
  const cplx k = omega * std::sin(theta) / cplx(t.VSC[nl].real(), t.VSC[nl].imag());

  std::vector<Medium> med;
  med.reserve(nl + 1);
  for (int j = 0; j < nl; ++j) med.push_back(make_medium(t, j, k, omega, f, false, isgnt));
  med.push_back(make_medium(t, nl, k, omega, f, true, isgnt));
  const Medium& hs = med[nl];

  // Unknowns: layer j columns 2j + {down, up}; half-space column 2 nl
  // (reflected). Field of a wave with exponent slope s: (1, mu s).
  const int n = 2 * nl + 1;
  BandedSystem sys(n, 2, 2);
  auto add_layer = [&](int row0, int comp0, int j, bool bottom, real sign) {
    const Medium& m = med[j];
    const cplx e = std::exp(-m.nu_b * m.thick);
    const cplx fac[2] = {bottom ? e : 1.0L, bottom ? 1.0L : e};
    const cplx slope[2] = {-m.nu_b, m.nu_b};
    for (int c = 0; c < 2; ++c) {
      const cplx field[2] = {1.0L, m.mu * slope[c]};
      for (int r = comp0; r < 2; ++r) sys.at(row0 + r - comp0, 2 * j + c) += sign * fac[c] * field[r];
    }
  };
  auto add_halfspace = [&](int row0, int comp0, real sign) {
    const cplx refl[2] = {1.0L, -hs.mu * hs.nu_b};
    const cplx inc[2] = {1.0L, hs.mu * hs.nu_b};
    for (int r = comp0; r < 2; ++r) {
      sys.at(row0 + r - comp0, 2 * nl) += sign * refl[r];
      sys.rhs(row0 + r - comp0) -= sign * inc[r];
    }
  };
  assemble_rows(nl, 2, add_layer, add_halfspace);
  const std::vector<cplx> x = sys.solve();

  ShResponse out;
  for (int j = 0; j < nl; ++j) {
    const Medium& m = med[j];
    const cplx up = x[2 * j + 1] * std::exp(-m.nu_b * m.thick);
    out.u[j] = x[2 * j] + up;
    out.tau[j] = m.mu * m.nu_b * (up - x[2 * j]);
    out.size[j] = std::abs(x[2 * j]) + std::abs(up);
    out.tau_size[j] = std::abs(m.mu * m.nu_b) * out.size[j];
  }
  out.u[nl] = 1.0L + x[2 * nl];
  out.tau[nl] = hs.mu * hs.nu_b * (1.0L - x[2 * nl]);
  out.size[nl] = 1.0L + std::abs(x[2 * nl]);
  out.tau_size[nl] = std::abs(hs.mu * hs.nu_b) * out.size[nl];
  return out;
}

}  // namespace velmar::reference

// psv_response.cpp: the P-SV response at any depth in double precision (see
// psv_response.hpp), built on the stable-solve kernel of layers/psv_solve.hpp.
//
// Glossary (0-based):
//   tops      depth of the top of entry m (tops[n] = H, the half-space's)
//   segment   a piece of a layer between two boundaries: the layer's top and
//             bottom and every requested depth inside it
//   boundary  b = 0 the surface, b = j + 1 the bottom of segment j; the last
//             (number of segments) is the top of the half-space
//   Q[b]      the orthonormal basis of the surface solutions at boundary b
//   bu, bw    U and W at every boundary for the current frequency
#include "site/psv_response.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <numeric>
#include <string>

#include "layers/psv_solve.hpp"
#include "velmar/errors.hpp"

namespace velmar::detail {
namespace {

using namespace psv;

// Below this w T (T the slowest travel time to the deepest point of
// interest) the response differs from the static one by far less than double
// rounding: the static value is returned exactly, at every depth.
constexpr double STATIC_OMEGA_T = 1.0e-20;

// exp(709) is about the largest double; a wave grown beyond it saturates.
constexpr double MAX_EXP = 709.0;
constexpr double DMAX = std::numeric_limits<double>::max();

// Shortest round-trip text of a number, for messages.
std::string num(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

[[noreturn]] void invalid(const std::string& what, double value, const std::string& rule) {
  throw InvalidArgument(what + " " + rule + ", got " + num(value));
}

std::string at(const char* name, std::size_t i) { return std::string(name) + "[" + std::to_string(i) + "]"; }

void check_velocity(const char* name, std::size_t i, cdouble v) {
  if (!std::isfinite(v.real()) || !(v.real() > 0.0)) invalid(at(name, i) + " real part", v.real(), "must be finite and above 0");
  if (!std::isfinite(v.imag()) || v.imag() > 0.0) invalid(at(name, i) + " imaginary part", v.imag(), "must be finite and not above 0");
}

void check_medium(const PsvMedium& m) {
  const std::size_t n = m.thickness.size();
  if (m.density.size() != n + 1 || m.vs.size() != n + 1 || m.vp.size() != n + 1) {
    throw InvalidArgument("density, vs and vp must have one entry more than thickness (" + std::to_string(n + 1) +
                          "), got " + std::to_string(m.density.size()) + ", " + std::to_string(m.vs.size()) + ", " +
                          std::to_string(m.vp.size()));
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (!(m.thickness[i] > 0.0 && std::isfinite(m.thickness[i]))) invalid(at("thickness", i), m.thickness[i], "must be finite and above 0");
  }
  for (std::size_t i = 0; i <= n; ++i) {
    if (!(m.density[i] > 0.0 && std::isfinite(m.density[i]))) invalid(at("density", i), m.density[i], "must be finite and above 0");
    check_velocity("vs", i, m.vs[i]);
    check_velocity("vp", i, m.vp[i]);
  }
}

struct Segment {
  std::size_t layer = 0;
  double h = 0.0;
};

// v exp(lg), saturating at the double range (and 0 for v = 0 whatever lg).
Cx times_exp(Cx v, double lg) {
  if (lg == 0.0) return v;
  const double big = std::max(std::abs(v.re), std::abs(v.im));
  if (big == 0.0 || !std::isfinite(big)) return v;
  // v = big * (v / big), |v / big| <= sqrt(2): the exponent and big combine
  // in logs, so neither factor overflows alone.
  const double l = std::min(lg + std::log(big), MAX_EXP);
  return std::exp(l) * ((1.0 / big) * v);
}

// exp(x) for Re x <= MAX_EXP; larger growth saturates.
Cx exp_sat(Cx x) {
  const double m = std::exp(std::min(x.re, MAX_EXP));
  return {m * std::cos(x.im), m * std::sin(x.im)};
}

cdouble finite_out(Cx v, bool conjugate) {
  const double re = std::clamp(v.re, -DMAX, DMAX);
  const double im = std::clamp(v.im, -DMAX, DMAX);
  return {re, conjugate ? -im : im};
}

// The argument checks (medium, angle, frequencies, depths, output sizes), in
// this order: the first fault found is the one reported.
void check_arguments(const PsvMedium& medium, double angle_deg, std::span<const double> freqs,
                     std::span<const double> depths, std::span<const cdouble> U, std::span<const cdouble> W) {
  check_medium(medium);
  if (!(std::abs(angle_deg) < 90.0)) invalid("angle_deg", angle_deg, "must be finite and within (-90, 90)");
  const std::size_t nf = freqs.size();
  const std::size_t nd = depths.size();
  for (std::size_t i = 0; i < nf; ++i) {
    if (!std::isfinite(freqs[i])) invalid(at("freqs", i), freqs[i], "must be finite");
  }
  for (std::size_t d = 0; d < nd; ++d) {
    if (!(depths[d] >= 0.0 && std::isfinite(depths[d]))) invalid(at("depths", d), depths[d], "must be finite and not below 0");
  }
  if (U.size() != nf * nd || W.size() != nf * nd) {
    throw InvalidArgument("U and W must have freqs.size() * depths.size() = " + std::to_string(nf * nd) +
                          " entries, got " + std::to_string(U.size()) + " and " + std::to_string(W.size()));
  }
}

// The incident wave in the half-space: its velocities, the angle's sine and
// cosine, and the half-space root of the other wave type.
struct Incidence {
  Cx beta_h, alpha_h;   // the half-space's S and P velocities
  Cx v_inc, v_other;    // the incident wave type's velocity and the other's
  double sin_t = 0.0, cos_t = 1.0;
  Cx c;                 // sqrt(1 - (sin v_other / v_inc)^2), signed as below
};

// The incidence of a P (incident_sv false) or SV wave at angle_deg. The
// half-space root of the wave type not incident takes the sign that makes
// its vertical wavenumber -i w c / v_other decay (or, undamped, radiate)
// downwards; a root that is 0 or not finite is refused.
Incidence incident_halfspace(const PsvMedium& medium, bool incident_sv, double angle_deg) {
  const std::size_t n = medium.thickness.size();
  Incidence inc;
  inc.beta_h = to_cx(medium.vs[n]);
  inc.alpha_h = to_cx(medium.vp[n]);
  const double theta = angle_deg * (std::numbers::pi / 180.0);
  inc.sin_t = std::sin(theta);
  inc.cos_t = std::cos(theta);
  inc.v_inc = incident_sv ? inc.beta_h : inc.alpha_h;
  inc.v_other = incident_sv ? inc.alpha_h : inc.beta_h;
  const Cx ratio = inc.sin_t * div(inc.v_other, inc.v_inc);
  Cx c = sqrt_branch(Cx{1.0, 0.0} - ratio * ratio);
  if (div(c, inc.v_other).im < 0.0) c = -c;
  if (!(std::isfinite(c.re) && std::isfinite(c.im)) || (c.re == 0.0 && c.im == 0.0)) {
    invalid("angle_deg", angle_deg,
            incident_sv ? "must not be the critical angle of the half-space for an SV wave"
                        : "gives a zero half-space root for a P wave (sin(angle) VS / VP = 1)");
  }
  inc.c = c;
  return inc;
}

// The layers at unit angular frequency: the depth of every top (tops[n] = H)
// and every layer's waves for the squared horizontal wavenumber k2. Returns
// the largest slowness of the medium, half-space included, for the travel
// time.
double unit_layers(const PsvMedium& medium, Cx k2, std::vector<double>& tops, std::vector<LayerWaves>& waves) {
  const std::size_t n = medium.thickness.size();
  tops.assign(n + 1, 0.0);
  waves.resize(n);
  double slowness = 1.0 / std::min(std::abs(medium.vs[n]), std::abs(medium.vp[n]));
  for (std::size_t m = 0; m < n; ++m) {
    tops[m + 1] = tops[m] + medium.thickness[m];
    const Cx vs = to_cx(medium.vs[m]);
    const double rho = medium.density[m];
    const Cx sb = div(Cx{1.0, 0.0}, vs);
    const Cx sa = div(Cx{1.0, 0.0}, to_cx(medium.vp[m]));
    waves[m] = layer_waves(vs * (rho * vs), sa * sa, sb * sb, 1.0 / rho, 1.0, k2);
    slowness = std::max({slowness, 1.0 / std::abs(medium.vs[m]), 1.0 / std::abs(medium.vp[m])});
  }
  return slowness;
}

// What cut_at_depths found besides its arrays.
struct DepthCuts {
  std::size_t segments = 0;   // the number of segments; also the half-space's boundary
  double zmax = 0.0;          // the deepest depth asked for
  bool in_halfspace = false;  // whether a depth lies at or below the top of the half-space
};

// Segments: every layer cut at the requested depths inside it. Each depth
// refers to a boundary (boundary[d]), or (at or below H) to the top of the
// half-space, whose boundary is the number of segments. order is the depths'
// order, shallowest first. depths is not empty.
DepthCuts cut_at_depths(const PsvMedium& medium, const std::vector<double>& tops, std::span<const double> depths,
                        std::vector<std::size_t>& order, std::vector<std::size_t>& boundary,
                        std::vector<Segment>& segs) {
  const std::size_t n = medium.thickness.size();
  const std::size_t nd = depths.size();
  order.resize(nd);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return depths[x] < depths[y]; });
  boundary.assign(nd, 0);
  segs.clear();
  segs.reserve(n + nd);
  std::size_t p = 0;
  for (std::size_t m = 0; m < n; ++m) {
    const std::size_t top_boundary = segs.size();
    double used = 0.0;  // offset of the last boundary within the layer
    for (; p < nd && depths[order[p]] < tops[m + 1]; ++p) {
      const double off = depths[order[p]] - tops[m];
      if (off > used) {
        segs.push_back({m, off - used});
        used = off;
      }
      boundary[order[p]] = used > 0.0 ? segs.size() : top_boundary;
    }
    if (medium.thickness[m] > used) segs.push_back({m, medium.thickness[m] - used});
  }
  DepthCuts cuts;
  cuts.segments = segs.size();
  cuts.zmax = depths[order[nd - 1]];
  for (; p < nd; ++p) {
    boundary[order[p]] = cuts.segments;
    cuts.in_halfspace = true;
  }
  return cuts;
}

// Refuses a frequency whose w times the travel time to the deepest point
// overflows.
void check_frequencies(std::span<const double> freqs, double travel) {
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    if (!std::isfinite(2.0 * std::numbers::pi * std::abs(freqs[i]) * travel)) {
      invalid(at("freqs", i), freqs[i], "is too high: w times the travel time to the deepest point overflows");
    }
  }
}

// The plane waves of the half-space per unit w: the incident wave's
// displacement at its top, and the horizontal and vertical slownesses (for
// depths below its top).
struct HalfspaceWaves {
  Cx inc_u, inc_w;  // the incident wave's displacement at the top of the half-space
  Cx qa, qb;        // vertical slownesses of the P and S waves, times -i
  Cx q_inc;         // the incident wave type's (qa for P, qb for SV)
  Cx iph;           // i times the horizontal slowness
  Cx det_h;         // determinant of the down-going P (i p, -qa) and S (qb, i p) displacements
};

HalfspaceWaves halfspace_waves(const Incidence& inc, bool incident_sv) {
  HalfspaceWaves hw;
  hw.inc_u = incident_sv ? Cx{inc.cos_t, 0.0} : Cx{inc.sin_t, 0.0};
  hw.inc_w = incident_sv ? Cx{inc.sin_t, 0.0} : Cx{-inc.cos_t, 0.0};
  const Cx ph = div(Cx{inc.sin_t, 0.0}, inc.v_inc);
  const Cx q_inc = mul_minus_i(div(Cx{inc.cos_t, 0.0}, inc.v_inc));
  const Cx q_other = mul_minus_i(div(inc.c, inc.v_other));
  hw.qa = incident_sv ? q_other : q_inc;
  hw.qb = incident_sv ? q_inc : q_other;
  hw.q_inc = q_inc;
  hw.iph = mul_i(ph);
  hw.det_h = hw.qa * hw.qb - ph * ph;
  return hw;
}

// U (bu) and W (bw) at every boundary at angular frequency omega: the surface
// solutions Y0 carried down segment by segment (orthonormal bases Q, steps
// for the way back), the half-space rows fixing their combination, and
// back-substitution up to every boundary.
void boundary_response(const std::vector<LayerWaves>& waves, const std::vector<Segment>& segs,
                       const HalfspaceRows& rows, Cx k, Cx k2, double omega, const Mat42& Y0, bool incident_sv,
                       std::vector<Mat42>& Q, std::vector<Step>& steps, std::vector<Cx>& bu, std::vector<Cx>& bw) {
  const std::size_t nseg = segs.size();
  Mat42 Y = Y0;
  Q[0] = Y;
  for (std::size_t j = 0; j < nseg; ++j) {
    steps[j] = stable_step(waves[segs[j].layer], k, k2, omega * segs[j].h, rows.s, Y);
    Q[j + 1] = Y;
  }

  const std::array<Cx, 2> cN = surface_coefficients(rows.K3, rows.K4, Y, incident_sv);
  Mat42 cv{};
  cv[0] = cN[0];
  cv[2] = cN[1];
  double lc = 0.0;
  for (std::size_t b = nseg + 1; b-- > 0;) {
    if (b < nseg) back_step(steps[b], cv, lc);
    const Mat42& q = Q[b];
    bu[b] = times_exp(q[0] * cv[0] + q[1] * cv[2], lc);
    bw[b] = times_exp(mul_i(q[2] * cv[0] + q[3] * cv[2]), lc);
  }
}

// Amplitudes of the reflected P and S waves in the half-space.
struct Reflected {
  Cx rp, rs;
};

// The reflected waves from the displacement (u, w) at the top of the
// half-space less the incident wave's.
Reflected reflected_waves(const HalfspaceWaves& hw, Cx u, Cx w) {
  const Cx du = u - hw.inc_u;
  const Cx dw = w - hw.inc_w;
  return {div(hw.iph * du - hw.qb * dw, hw.det_h), div(hw.iph * dw + hw.qa * du, hw.det_h)};
}

// The displacement (u, w) at wz = w z below the top of the half-space: the
// incident wave plus the two reflected ones, each with its own exponential.
void halfspace_field(const HalfspaceWaves& hw, const Reflected& ref, double wz, Cx& u, Cx& w) {
  const Cx e_inc = exp_sat(wz * hw.q_inc);
  const Cx ea = exp_sat(-(wz * hw.qa));
  const Cx eb = exp_sat(-(wz * hw.qb));
  u = hw.inc_u * e_inc + (ref.rp * hw.iph) * ea + (ref.rs * hw.qb) * eb;
  w = hw.inc_w * e_inc - (ref.rp * hw.qa) * ea + (ref.rs * hw.iph) * eb;
}

}  // namespace

struct PsvResponseWork::Arrays {
  std::vector<double> tops;
  std::vector<LayerWaves> waves;
  std::vector<std::size_t> order, boundary;
  std::vector<Segment> segs;
  std::vector<Mat42> Q;
  std::vector<Step> steps;
  std::vector<Cx> bu, bw;
};

PsvResponseWork::PsvResponseWork() = default;
PsvResponseWork::PsvResponseWork(PsvResponseWork&&) noexcept = default;
PsvResponseWork& PsvResponseWork::operator=(PsvResponseWork&&) noexcept = default;
PsvResponseWork::~PsvResponseWork() = default;

PsvResponseWork::Arrays& PsvResponseWork::arrays() {
  if (!arrays_) arrays_ = std::make_unique<Arrays>();
  return *arrays_;
}

void psv_response(const PsvMedium& medium, bool incident_sv, double angle_deg, std::span<const double> freqs,
                  std::span<const double> depths, std::span<cdouble> U, std::span<cdouble> W) {
  PsvResponseWork work;
  psv_response(medium, incident_sv, angle_deg, freqs, depths, U, W, work);
}

void psv_response(const PsvMedium& medium, bool incident_sv, double angle_deg, std::span<const double> freqs,
                  std::span<const double> depths, std::span<cdouble> U, std::span<cdouble> W, PsvResponseWork& work) {
  check_arguments(medium, angle_deg, freqs, depths, U, W);
  const Incidence inc = incident_halfspace(medium, incident_sv, angle_deg);
  const std::size_t nf = freqs.size();
  const std::size_t nd = depths.size();
  if (nf == 0 || nd == 0) return;

  // Every wavenumber is proportional to w and every layer enters only
  // through w h: the layer waves and the half-space rows are formed once, at
  // w = 1, and each frequency scales the thicknesses instead (no power of w
  // is ever formed, so no frequency overflows them).
  const std::size_t n = medium.thickness.size();
  const HalfspaceRows rows =
      halfspace_rows(inc.beta_h, inc.alpha_h, medium.density[n], incident_sv, inc.sin_t, inc.cos_t, inc.c, 1.0);
  const Cx k = rows.k;
  const Cx k2 = k * k;
  PsvResponseWork::Arrays& a = work.arrays();
  const double slowness = unit_layers(medium, k2, a.tops, a.waves);
  const double H = a.tops[n];
  const DepthCuts cuts = cut_at_depths(medium, a.tops, depths, a.order, a.boundary, a.segs);
  const std::size_t nseg = cuts.segments;
  const double travel = std::max(H, cuts.zmax) * slowness;
  check_frequencies(freqs, travel);
  a.Q.resize(nseg + 1);
  a.steps.resize(nseg);
  a.bu.resize(nseg + 1);
  a.bw.resize(nseg + 1);

  Mat42 Y0{};  // the zero-traction surface states (1, 0, 0, 0) and (0, 1, 0, 0)
  Y0[0] = {1.0, 0.0};
  Y0[3] = {1.0, 0.0};

  // The static limit: the bare half-space's surface values.
  const std::array<Cx, 2> a0 = surface_coefficients(rows.K3, rows.K4, Y0, incident_sv);
  const Cx u0 = a0[0];
  const Cx w0 = mul_i(a0[1]);
  const HalfspaceWaves hw = halfspace_waves(inc, incident_sv);

  for (std::size_t i = 0; i < nf; ++i) {
    const bool conjugate = freqs[i] < 0.0;
    const double omega = 2.0 * std::numbers::pi * std::abs(freqs[i]);
    if (omega * travel < STATIC_OMEGA_T) {
      for (std::size_t d = 0; d < nd; ++d) {
        U[d * nf + i] = finite_out(u0, conjugate);
        W[d * nf + i] = finite_out(w0, conjugate);
      }
      continue;
    }
    boundary_response(a.waves, a.segs, rows, k, k2, omega, Y0, incident_sv, a.Q, a.steps, a.bu, a.bw);
    // The reflected waves are needed only below the top of the half-space.
    const Reflected ref = cuts.in_halfspace ? reflected_waves(hw, a.bu[nseg], a.bw[nseg]) : Reflected{};
    for (std::size_t d = 0; d < nd; ++d) {
      const std::size_t b = a.boundary[d];
      Cx u = a.bu[b];
      Cx w = a.bw[b];
      const double z = depths[d] - H;
      if (b == nseg && z > 0.0) halfspace_field(hw, ref, omega * z, u, w);
      U[d * nf + i] = finite_out(u, conjugate);
      W[d * nf + i] = finite_out(w, conjugate);
    }
  }
}

}  // namespace velmar::detail

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
#include <vector>

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

// Every argument, in the order the messages are checked in: the medium, the
// angle, the frequencies, the depths, then the output sizes.
void check_arguments(const PsvMedium& medium, double angle_deg, std::span<const double> freqs,
                     std::span<const double> depths, std::span<cdouble> U, std::span<cdouble> W) {
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

// The half-space as the incident wave meets it.
struct Halfspace {
  Cx beta, alpha;  // complex S and P velocities
  double rho = 0.0;
  double sin_t = 0.0, cos_t = 0.0;  // of the incidence angle
  Cx v_inc, v_other;  // velocity of the incident wave type, of the other
  Cx c;  // root of the other type's vertical wavenumber -i w c / v_other
};

// The half-space of the medium for the incident wave, with the root c of the
// wave type not incident taken with the sign that makes its vertical
// wavenumber decay (or, undamped, radiate) downwards. Throws where c is 0 or
// not finite.
Halfspace incident_halfspace(const PsvMedium& medium, bool incident_sv, double angle_deg) {
  const std::size_t n = medium.thickness.size();
  Halfspace hs;
  hs.beta = to_cx(medium.vs[n]);
  hs.alpha = to_cx(medium.vp[n]);
  hs.rho = medium.density[n];
  const double theta = angle_deg * (std::numbers::pi / 180.0);
  hs.sin_t = std::sin(theta);
  hs.cos_t = std::cos(theta);
  hs.v_inc = incident_sv ? hs.beta : hs.alpha;
  hs.v_other = incident_sv ? hs.alpha : hs.beta;
  const Cx ratio = hs.sin_t * div(hs.v_other, hs.v_inc);
  Cx c = sqrt_branch(Cx{1.0, 0.0} - ratio * ratio);
  if (div(c, hs.v_other).im < 0.0) c = -c;
  if (!(std::isfinite(c.re) && std::isfinite(c.im)) || (c.re == 0.0 && c.im == 0.0)) {
    invalid("angle_deg", angle_deg,
            incident_sv ? "must not be the critical angle of the half-space for an SV wave"
                        : "gives a zero half-space root for a P wave (sin(angle) VS / VP = 1)");
  }
  hs.c = c;
  return hs;
}

// The layers at unit angular frequency: their waves for the horizontal
// wavenumber k (k2 = k^2), the depth of each top, and the largest slowness of
// the medium (half-space included), which bounds the travel times.
struct UnitLayers {
  std::vector<double> tops;  // n + 1 entries: tops[n] = H
  std::vector<LayerWaves> waves;
  double slowness = 0.0;
};

UnitLayers unit_layers(const PsvMedium& medium, Cx k2) {
  const std::size_t n = medium.thickness.size();
  UnitLayers u;
  u.tops.assign(n + 1, 0.0);
  u.waves.resize(n);
  u.slowness = 1.0 / std::min(std::abs(medium.vs[n]), std::abs(medium.vp[n]));
  for (std::size_t m = 0; m < n; ++m) {
    u.tops[m + 1] = u.tops[m] + medium.thickness[m];
    const Cx vs = to_cx(medium.vs[m]);
    const double rho = medium.density[m];
    const Cx sb = div(Cx{1.0, 0.0}, vs);
    const Cx sa = div(Cx{1.0, 0.0}, to_cx(medium.vp[m]));
    u.waves[m] = layer_waves(vs * (rho * vs), sa * sa, sb * sb, 1.0 / rho, 1.0, k2);
    u.slowness = std::max({u.slowness, 1.0 / std::abs(medium.vs[m]), 1.0 / std::abs(medium.vp[m])});
  }
  return u;
}

// The layers cut at the requested depths: the segments in order from the
// surface, and for each depth its boundary (the last, segs.size(), the top
// of the half-space, for every depth at or below it).
struct Segments {
  std::vector<Segment> segs;
  std::vector<std::size_t> boundary;  // one per depth
  bool in_halfspace = false;          // whether a depth lies at or below H
  double zmax = 0.0;                  // the deepest depth
};

Segments cut_at_depths(const PsvMedium& medium, const std::vector<double>& tops, std::span<const double> depths) {
  const std::size_t n = medium.thickness.size();
  const std::size_t nd = depths.size();
  std::vector<std::size_t> order(nd);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return depths[a] < depths[b]; });
  Segments cut;
  cut.boundary.assign(nd, 0);
  cut.segs.reserve(n + nd);
  std::size_t p = 0;
  for (std::size_t m = 0; m < n; ++m) {
    const std::size_t top_boundary = cut.segs.size();
    double used = 0.0;  // offset of the last boundary within the layer
    for (; p < nd && depths[order[p]] < tops[m + 1]; ++p) {
      const double off = depths[order[p]] - tops[m];
      if (off > used) {
        cut.segs.push_back({m, off - used});
        used = off;
      }
      cut.boundary[order[p]] = used > 0.0 ? cut.segs.size() : top_boundary;
    }
    if (medium.thickness[m] > used) cut.segs.push_back({m, medium.thickness[m] - used});
  }
  cut.zmax = nd > 0 ? depths[order[nd - 1]] : 0.0;
  for (; p < nd; ++p) {
    cut.boundary[order[p]] = cut.segs.size();
    cut.in_halfspace = true;
  }
  return cut;
}

// Refuses a frequency at which w times the travel time to the deepest point
// overflows.
void check_frequencies(std::span<const double> freqs, double travel) {
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    if (!std::isfinite(2.0 * std::numbers::pi * std::abs(freqs[i]) * travel)) {
      invalid(at("freqs", i), freqs[i], "is too high: w times the travel time to the deepest point overflows");
    }
  }
}

// The three plane waves below the top of the half-space, per unit w: the
// incident wave's displacement there, the horizontal slowness and the
// vertical slownesses of the P and S waves.
struct HalfspaceWaves {
  Cx inc_u, inc_w;  // incident wave's displacement at the top of the half-space
  Cx qa, qb;        // vertical slownesses of P and S waves (down-going reflected: exp(-w z q))
  Cx iph;           // i times the horizontal slowness
  Cx det_h;         // determinant of the reflected waves' displacements (i p, -qa), (qb, i p)
};

HalfspaceWaves halfspace_waves(const Halfspace& hs, bool incident_sv) {
  HalfspaceWaves h;
  h.inc_u = incident_sv ? Cx{hs.cos_t, 0.0} : Cx{hs.sin_t, 0.0};
  h.inc_w = incident_sv ? Cx{hs.sin_t, 0.0} : Cx{-hs.cos_t, 0.0};
  const Cx ph = div(Cx{hs.sin_t, 0.0}, hs.v_inc);
  const Cx q_inc = mul_minus_i(div(Cx{hs.cos_t, 0.0}, hs.v_inc));
  const Cx q_other = mul_minus_i(div(hs.c, hs.v_other));
  h.qa = incident_sv ? q_other : q_inc;
  h.qb = incident_sv ? q_inc : q_other;
  h.iph = mul_i(ph);
  h.det_h = h.qa * h.qb - ph * ph;
  return h;
}

// Scratch of one frequency's solve, sized once per call.
struct BoundaryWork {
  std::vector<Mat42> Q;     // basis at every boundary
  std::vector<Step> steps;  // each segment's step, for the way back up
  std::vector<Cx> bu, bw;   // U and W at every boundary
  explicit BoundaryWork(std::size_t nseg) : Q(nseg + 1), steps(nseg), bu(nseg + 1), bw(nseg + 1) {}
};

// U and W at every boundary at angular frequency omega: the surface basis Y0
// carried down the segments (each thickness scaled by omega), the half-space
// rows fixing the combination, back-substitution up to every boundary.
void boundary_response(const UnitLayers& layers, const std::vector<Segment>& segs, const HalfspaceRows& rows,
                       Cx k, Cx k2, bool incident_sv, double omega, const Mat42& Y0, BoundaryWork& w) {
  const std::size_t nseg = segs.size();
  Mat42 Y = Y0;
  w.Q[0] = Y;
  for (std::size_t j = 0; j < nseg; ++j) {
    w.steps[j] = stable_step(layers.waves[segs[j].layer], k, k2, omega * segs[j].h, rows.s, Y);
    w.Q[j + 1] = Y;
  }

  const std::array<Cx, 2> cN = surface_coefficients(rows.K3, rows.K4, Y, incident_sv);
  Mat42 cv{};
  cv[0] = cN[0];
  cv[2] = cN[1];
  double lc = 0.0;
  for (std::size_t b = nseg + 1; b-- > 0;) {
    if (b < nseg) back_step(w.steps[b], cv, lc);
    const Mat42& q = w.Q[b];
    w.bu[b] = times_exp(q[0] * cv[0] + q[1] * cv[2], lc);
    w.bw[b] = times_exp(mul_i(q[2] * cv[0] + q[3] * cv[2]), lc);
  }
}

// Amplitudes of the reflected (down-going) P and S waves at the top of the
// half-space, from its displacement (u, w) less the incident wave's.
struct Reflected {
  Cx rp, rs;
};

Reflected reflected_waves(const HalfspaceWaves& h, Cx u, Cx w) {
  const Cx du = u - h.inc_u;
  const Cx dw = w - h.inc_w;
  return {div(h.iph * du - h.qb * dw, h.det_h), div(h.iph * dw + h.qa * du, h.det_h)};
}

// U and W at depth z (> 0) below the top of the half-space: the incident
// wave plus the two reflected ones, each with its own exponential.
void halfspace_field(const HalfspaceWaves& h, const Reflected& r, bool incident_sv, double omega, double z, Cx& u,
                     Cx& w) {
  const Cx e_inc = exp_sat((omega * z) * (incident_sv ? h.qb : h.qa));
  const Cx ea = exp_sat(-((omega * z) * h.qa));
  const Cx eb = exp_sat(-((omega * z) * h.qb));
  u = h.inc_u * e_inc + (r.rp * h.iph) * ea + (r.rs * h.qb) * eb;
  w = h.inc_w * e_inc - (r.rp * h.qa) * ea + (r.rs * h.iph) * eb;
}

}  // namespace

void psv_response(const PsvMedium& medium, bool incident_sv, double angle_deg, std::span<const double> freqs,
                  std::span<const double> depths, std::span<cdouble> U, std::span<cdouble> W) {
  check_arguments(medium, angle_deg, freqs, depths, U, W);
  const Halfspace hs = incident_halfspace(medium, incident_sv, angle_deg);
  const std::size_t nf = freqs.size();
  const std::size_t nd = depths.size();
  if (nf == 0 || nd == 0) return;

  // Every wavenumber is proportional to w and every layer enters only
  // through w h: the layer waves and the half-space rows are formed once, at
  // w = 1, and each frequency scales the thicknesses instead (no power of w
  // is ever formed, so no frequency overflows them).
  const HalfspaceRows rows = halfspace_rows(hs.beta, hs.alpha, hs.rho, incident_sv, hs.sin_t, hs.cos_t, hs.c, 1.0);
  const Cx k = rows.k;
  const Cx k2 = k * k;
  const UnitLayers layers = unit_layers(medium, k2);
  const double H = layers.tops.back();
  const Segments cut = cut_at_depths(medium, layers.tops, depths);
  const double travel = std::max(H, cut.zmax) * layers.slowness;
  check_frequencies(freqs, travel);

  const std::size_t nseg = cut.segs.size();
  BoundaryWork work(nseg);
  Mat42 Y0{};  // the zero-traction surface states (1, 0, 0, 0) and (0, 1, 0, 0)
  Y0[0] = {1.0, 0.0};
  Y0[3] = {1.0, 0.0};

  // The static limit: the bare half-space's surface values.
  const std::array<Cx, 2> a0 = surface_coefficients(rows.K3, rows.K4, Y0, incident_sv);
  const Cx u0 = a0[0];
  const Cx w0 = mul_i(a0[1]);
  const HalfspaceWaves below = halfspace_waves(hs, incident_sv);

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
    boundary_response(layers, cut.segs, rows, k, k2, incident_sv, omega, Y0, work);
    Reflected r;
    if (cut.in_halfspace) r = reflected_waves(below, work.bu[nseg], work.bw[nseg]);
    for (std::size_t d = 0; d < nd; ++d) {
      const std::size_t b = cut.boundary[d];
      Cx u = work.bu[b];
      Cx w = work.bw[b];
      const double z = depths[d] - H;
      if (b == nseg && z > 0.0) halfspace_field(below, r, incident_sv, omega, z, u, w);
      U[d * nf + i] = finite_out(u, conjugate);
      W[d * nf + i] = finite_out(w, conjugate);
    }
  }
}

}  // namespace velmar::detail

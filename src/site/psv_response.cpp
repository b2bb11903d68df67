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

  const std::size_t n = medium.thickness.size();
  const Cx beta_h = to_cx(medium.vs[n]);
  const Cx alpha_h = to_cx(medium.vp[n]);
  const double rho_h = medium.density[n];
  const double theta = angle_deg * (std::numbers::pi / 180.0);
  const double sin_t = std::sin(theta);
  const double cos_t = std::cos(theta);
  const Cx v_inc = incident_sv ? beta_h : alpha_h;
  const Cx v_other = incident_sv ? alpha_h : beta_h;
  // The half-space root of the wave type not incident, with the sign that
  // makes its vertical wavenumber -i w c / v_other decay (or, undamped,
  // radiate) downwards.
  const Cx ratio = sin_t * div(v_other, v_inc);
  Cx c = sqrt_branch(Cx{1.0, 0.0} - ratio * ratio);
  if (div(c, v_other).im < 0.0) c = -c;
  if (!(std::isfinite(c.re) && std::isfinite(c.im)) || (c.re == 0.0 && c.im == 0.0)) {
    invalid("angle_deg", angle_deg,
            incident_sv ? "must not be the critical angle of the half-space for an SV wave"
                        : "gives a zero half-space root for a P wave (sin(angle) VS / VP = 1)");
  }
  if (nf == 0 || nd == 0) return;

  // Every wavenumber is proportional to w and every layer enters only
  // through w h: the layer waves and the half-space rows are formed once, at
  // w = 1, and each frequency scales the thicknesses instead (no power of w
  // is ever formed, so no frequency overflows them).
  const HalfspaceRows rows = halfspace_rows(beta_h, alpha_h, rho_h, incident_sv, sin_t, cos_t, c, 1.0);
  const Cx k = rows.k;
  const Cx k2 = k * k;
  PsvResponseWork::Arrays& a = work.arrays();
  std::vector<double>& tops = a.tops;
  tops.assign(n + 1, 0.0);
  std::vector<LayerWaves>& waves = a.waves;
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
  const double H = tops[n];

  // Segments: every layer cut at the requested depths inside it. Each depth
  // refers to a boundary, or (below H) to the half-space with its distance
  // below the top.
  std::vector<std::size_t>& order = a.order;
  order.resize(nd);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return depths[x] < depths[y]; });
  std::vector<std::size_t>& boundary = a.boundary;
  boundary.assign(nd, 0);
  std::vector<Segment>& segs = a.segs;
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
  const std::size_t nseg = segs.size();
  const double zmax = nd > 0 ? depths[order[nd - 1]] : 0.0;
  bool in_halfspace = false;
  for (; p < nd; ++p) {
    boundary[order[p]] = nseg;
    in_halfspace = true;
  }
  const double travel = std::max(H, zmax) * slowness;
  for (std::size_t i = 0; i < nf; ++i) {
    if (!std::isfinite(2.0 * std::numbers::pi * std::abs(freqs[i]) * travel)) {
      invalid(at("freqs", i), freqs[i], "is too high: w times the travel time to the deepest point overflows");
    }
  }

  std::vector<Mat42>& Q = a.Q;
  Q.resize(nseg + 1);
  std::vector<Step>& steps = a.steps;
  steps.resize(nseg);
  std::vector<Cx>& bu = a.bu;
  bu.resize(nseg + 1);
  std::vector<Cx>& bw = a.bw;
  bw.resize(nseg + 1);

  Mat42 Y0{};  // the zero-traction surface states (1, 0, 0, 0) and (0, 1, 0, 0)
  Y0[0] = {1.0, 0.0};
  Y0[3] = {1.0, 0.0};

  // The static limit: the bare half-space's surface values.
  const std::array<Cx, 2> a0 = surface_coefficients(rows.K3, rows.K4, Y0, incident_sv);
  const Cx u0 = a0[0];
  const Cx w0 = mul_i(a0[1]);

  // Incident wave's displacement at the top of the half-space, and the
  // half-space's horizontal and vertical slownesses per unit w (for depths
  // below its top).
  const Cx inc_u = incident_sv ? Cx{cos_t, 0.0} : Cx{sin_t, 0.0};
  const Cx inc_w = incident_sv ? Cx{sin_t, 0.0} : Cx{-cos_t, 0.0};
  const Cx ph = div(Cx{sin_t, 0.0}, v_inc);
  const Cx q_inc = mul_minus_i(div(Cx{cos_t, 0.0}, v_inc));
  const Cx q_other = mul_minus_i(div(c, v_other));
  const Cx qa = incident_sv ? q_other : q_inc;
  const Cx qb = incident_sv ? q_inc : q_other;
  const Cx iph = mul_i(ph);
  // Displacements of the down-going P wave (i p, -qa) and S wave (qb, i p).
  const Cx det_h = qa * qb - ph * ph;

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

    // Reflected P and S amplitudes at the top of the half-space, from its
    // displacement less the incident wave's.
    Cx rp;
    Cx rs;
    if (in_halfspace) {
      const Cx du = bu[nseg] - inc_u;
      const Cx dw = bw[nseg] - inc_w;
      rp = div(iph * du - qb * dw, det_h);
      rs = div(iph * dw + qa * du, det_h);
    }
    for (std::size_t d = 0; d < nd; ++d) {
      const std::size_t b = boundary[d];
      Cx u = bu[b];
      Cx w = bw[b];
      const double z = depths[d] - H;
      if (b == nseg && z > 0.0) {
        const Cx e_inc = exp_sat((omega * z) * (incident_sv ? qb : qa));
        const Cx ea = exp_sat(-((omega * z) * qa));
        const Cx eb = exp_sat(-((omega * z) * qb));
        u = inc_u * e_inc + (rp * iph) * ea + (rs * qb) * eb;
        w = inc_w * e_inc - (rp * qa) * ea + (rs * iph) * eb;
      }
      U[d * nf + i] = finite_out(u, conjugate);
      W[d * nf + i] = finite_out(w, conjugate);
    }
  }
}

}  // namespace velmar::detail

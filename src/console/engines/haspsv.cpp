// haspsv.cpp: P-SV response of the layer stack (HASPSV) and the model's
// unit-frequency quantities the block sweep starts from, over the kernel of
// the stable solve (layers/psv_solve.hpp, whose glossary the names here
// follow).
//
// Glossary of HASPSV (0-based: table entry m+1 is element m, the half-space
// element N):
//   N        NLAYER, number of layers
//   Q_m      the orthonormal basis Y at the top of table entry m+1, kept for
//            the profile on the way back up
#include "console/engines/haspsv.hpp"

#include "layers/complex_ops.hpp"
#include "layers/psv_solve.hpp"
#include "console/engines/psv_unit_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace velmar::console {

using namespace detail;  // the shared kernels
namespace {

using namespace psv;

// Rounds to float; a value beyond the float range saturates at the largest
// float of its sign, so that an extreme but finite result stays finite.
float to_float(double v) {
  constexpr double FMAX = double(std::numeric_limits<float>::max());
  return float(std::clamp(v, -FMAX, FMAX));
}

cfloat store(Cx v, double lg, float s_az) {
  double re = v.re;
  double im = v.im;
  if (lg != 0.0) {
    const double g = std::exp(lg);
    re *= g;
    im *= g;
  }
  constexpr double DMAX = std::numeric_limits<double>::max();
  re = std::clamp(re, -DMAX, DMAX) * double(s_az);
  im = std::clamp(im, -DMAX, DMAX) * double(s_az);
  return {to_float(re), to_float(im)};
}

// The half-space root c of the vertical wavenumber of the wave type not
// incident, in single precision: its zero (SV at the critical angle) must be
// found exactly where the driver's check finds it.
cfloat halfspace_root(const LayerTable& t, int ITYPE, float theta) {
  const int N = t.NLAYER;
  const float st = std::sin(theta);
  const cfloat ratio = (ITYPE == 2) ? cdiv(st * t.VPC[N], t.VSC[N]) : cdiv(st * t.VSC[N], t.VPC[N]);
  return csqrt_branch(cfloat(1.0f) - ratio * ratio);
}

// The half-space rows of the table's (undamped) half-space, with the root of
// halfspace_root.
HalfspaceRows table_halfspace_rows(const LayerTable& table, int ITYPE, float theta, double omega) {
  const int N = table.NLAYER;
  return halfspace_rows(to_cx(table.VSC[N]), to_cx(table.VPC[N]), double(table.RHO[N]), ITYPE == 2,
                        double(std::sin(theta)), double(std::cos(theta)),
                        to_cx(halfspace_root(table, ITYPE, theta)), omega);
}

// Wave quantities of table entry m at angular frequency omega.
LayerWaves table_layer_waves(const LayerTable& t, int m, float F, double omega, Cx k2) {
  // Damping: V / (1 + i d), d = 0.5/Q, or 0.5/(Q F) for a quality factor
  // proportional to frequency.
  double dS = 0.5 / double(t.QS[m]);
  double dP = 0.5 / double(t.QP[m]);
  if (t.IQF == 2) {
    dS = 0.5 / (double(t.QS[m]) * double(F));
    dP = 0.5 / (double(t.QP[m]) * double(F));
  }
  const Cx vs = to_cx(t.VSC[m]);
  const Cx vp = to_cx(t.VPC[m]);
  const double rho = double(t.RHO[m]);
  const double w2 = omega * omega;
  // The four reciprocals below, 1/|VS|^2, 1/|VP|^2, 1/(1 + dS^2) and
  // 1/(w^2 rho), from one division of their product where that is in range.
  const double nS = norm2(vs);
  const double nP = norm2(vp);
  const double eS = 1.0 + dS * dS;
  const double wr = w2 * rho;
  double rS = 0.0;
  double rP = 0.0;
  double rE = 0.0;
  double c0 = 0.0;
  const double prod = (nS * nP) * (eS * wr);
  if (prod > 0x1p-900 && prod < 0x1p900) {
    const double inv = 1.0 / prod;
    rS = (nP * (eS * wr)) * inv;
    rP = (nS * (eS * wr)) * inv;
    rE = ((nS * nP) * wr) * inv;
    c0 = ((nS * nP) * eS) * inv;
  } else {
    rS = 1.0 / nS;
    rP = 1.0 / nP;
    rE = 1.0 / eS;
    c0 = 1.0 / wr;
  }
  // Slownesses 1/beta = (1 + i dS) / VS, 1/alpha likewise; the damped
  // velocity beta = VS (1 - i dS) / (1 + dS^2).
  const Cx sb = Cx{1.0, dS} * (rS * Cx{vs.re, -vs.im});
  const Cx sa = Cx{1.0, dP} * (rP * Cx{vp.re, -vp.im});
  const Cx beta = rE * (vs * Cx{1.0, -dS});
  return layer_waves(beta * (rho * beta), sa * sa, sb * sb, c0, w2, k2);
}

constexpr int MAX_LAYERS = MAX_ENTRIES - 1;

}  // namespace

float psv_halfspace_root(const LayerTable& table, int ITYPE, float ANGLE) {
  const float pi = 4.0f * std::atan(1.0f);
  const float theta = pi * ANGLE / 180.0f;
  return std::abs(halfspace_root(table, ITYPE, theta));
}

void HASPSV(const LayerTable& table, int ITYPE, float ANGAZ, float ANGLE, float& F, int IPROF,
            ResponseArray& UPS, ResponseArray& WPS) {
  const float pi = 4.0f * std::atan(1.0f);
  const float s_az = std::sin(pi * ANGAZ / 180.0f);
  if (std::abs(s_az) < 0.001f) return;
  if (F == 0.0f) F = 1.0e-6f;
  const float theta = pi * ANGLE / 180.0f;
  const double omega = double(F * 2.0f * pi);
  const int N = table.NLAYER;

  const HalfspaceRows rows = table_halfspace_rows(table, ITYPE, theta, omega);
  const Cx k = rows.k;
  const Cx k2 = k * k;

  // Orthonormalised surface solutions Q_m at every interface, and the step of
  // each layer kept for the way back up.
  std::array<Mat42, MAX_ENTRIES> Q;
  std::array<Step, MAX_LAYERS> steps;
  Mat42 Y{};
  Y[0] = {1.0, 0.0};
  Y[3] = {1.0, 0.0};
  Q[0] = Y;
  for (int m = 0; m < N; ++m) {
    const LayerWaves L = table_layer_waves(table, m, F, omega, k2);
    steps[m] = stable_step(L, k, k2, double(table.THICK[m]), rows.s, Y);
    Q[m + 1] = Y;
  }

  // Coefficients of the solution in the basis Q_N, then back up.
  const std::array<Cx, 2> cN = surface_coefficients(rows.K3, rows.K4, Y, ITYPE == 2);
  Mat42 cv{};  // column 0 holds the coefficients (rows 0, 1)
  cv[0] = cN[0];
  cv[2] = cN[1];
  double lc = 0.0;
  const bool profile = IPROF != 0;
  for (int m = N; m >= 0; --m) {
    if (m < N) back_step(steps[m], cv, lc);
    if (m == 0) {
      UPS[0] = store(cv[0], lc, s_az);
      WPS[0] = store(mul_i(cv[2]), lc, s_az);
    } else if (profile) {
      const Mat42& q = Q[m];
      UPS[m] = store(q[0] * cv[0] + q[1] * cv[2], lc, s_az);
      WPS[m] = store(mul_i(q[2] * cv[0] + q[3] * cv[2]), lc, s_az);
    }
  }
}

void psv_unit_model(const LayerTable& table, int ITYPE, float ANGLE, float F, PsvUnitModel& unit) {
  const float pi = 4.0f * std::atan(1.0f);
  const float theta = pi * ANGLE / 180.0f;
  const HalfspaceRows rows = table_halfspace_rows(table, ITYPE, theta, 1.0);
  unit.p = to_cdouble(rows.k);
  unit.s1 = rows.s;
  for (int j = 0; j < 4; ++j) {
    unit.K3[j] = to_cdouble(rows.K3[j]);
    unit.K4[j] = to_cdouble(rows.K4[j]);
  }
  for (int m = 0; m < table.NLAYER; ++m) unit.layers[m] = psv_unit_layer(table, m, F, unit.p);
}

PsvUnitLayer psv_unit_layer(const LayerTable& table, int m, float F, cdouble p) {
  const Cx k = to_cx(p);
  const LayerWaves L = table_layer_waves(table, m, F, 1.0, k * k);
  return {{L.mu.re, L.mu.im}, {L.nu_a.re, L.nu_a.im}, {L.nu_b.re, L.nu_b.im}, {L.gam.re, L.gam.im}};
}

namespace {

// The half-space rows of the unit model and a 4x2 basis in this file's type.
struct UnitRows {
  std::array<Cx, 4> K3;
  std::array<Cx, 4> K4;
  Mat42 Y;
};

UnitRows unit_rows(const PsvUnitModel& unit, const std::array<cdouble, 8>& Y) {
  UnitRows r;
  for (int j = 0; j < 4; ++j) {
    r.K3[j] = to_cx(unit.K3[j]);
    r.K4[j] = to_cx(unit.K4[j]);
  }
  for (int j = 0; j < 8; ++j) r.Y[j] = to_cx(Y[j]);
  return r;
}

}  // namespace

std::array<cdouble, 2> psv_surface_coefficients(const PsvUnitModel& unit, int ITYPE,
                                                const std::array<cdouble, 8>& Y) {
  const UnitRows r = unit_rows(unit, Y);
  const std::array<Cx, 2> a = surface_coefficients(r.K3, r.K4, r.Y, ITYPE == 2);
  return {cdouble(a[0].re, a[0].im), cdouble(a[1].re, a[1].im)};
}

void psv_store_surface(cdouble u, cdouble w_over_i, double lg, float s_az, cfloat& U, cfloat& W) {
  U = store(to_cx(u), lg, s_az);
  W = store(mul_i(to_cx(w_over_i)), lg, s_az);
}

}  // namespace velmar::console

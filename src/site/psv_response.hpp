// psv_response.hpp: the P-SV response of a layered medium in double
// precision, at any depth and any number of layers (the library's engine for
// incident P and SV waves).
//
// Glossary (0-based; entry 0 is the top layer, entry n the half-space):
//   n          number of layers over the half-space (any, 0 included)
//   thickness  m, one per layer
//   density    t/m3, one per layer and one for the half-space
//   vs, vp     complex velocities m/s with the damping applied (time factor
//              exp(-i w t): Re > 0, Im <= 0); the half-space's may be damped
//   U, W       horizontal and vertical (positive down) displacement per unit
//              displacement amplitude of the incident wave; depth-major:
//              element d * freqs.size() + i is depth d, frequency i
#pragma once

#include <complex>
#include <memory>
#include <span>
#include <vector>

namespace velmar::detail {

using cdouble = std::complex<double>;

// A profile with its damping applied: complex velocities (time factor
// exp(-i w t), Im <= 0, Re > 0), n layers over a half-space.
struct PsvMedium {
  std::vector<double> thickness;  // n entries, m, each > 0
  std::vector<double> density;    // n + 1 entries (last: half-space), t/m3
  std::vector<cdouble> vs, vp;    // n + 1 complex velocities, m/s (the half-space's may be damped)
};

// Horizontal (U) and vertical (W, positive down) displacement per unit
// displacement amplitude of the incident wave (P if !incident_sv, else SV)
// arriving from the half-space at angle_deg from the vertical, at every depth
// in `depths` and every frequency in `freqs`.
//
// Conventions: fields vary as exp(i (k x - w t)), k = w sin(angle) / v_inc
// (v_inc the half-space's complex velocity of the incident wave type); the
// incident wave's displacement at the top of the half-space is
// (sin, -cos) for P and (cos, sin) for SV in (horizontal, down). A bare
// elastic half-space at vertical incidence gives W = -2 at the surface for P,
// U = 2 for SV (the same as HASPSV). In a damped half-space the reflected
// waves decay downwards (Re nu >= 0), and the incident wave grows with depth.
//
// Method: the stable layer-matrix solve (layers/psv_solve.hpp): the two
// zero-traction surface solutions carried down and re-orthonormalised after
// every layer (a layer whose S and P attenuation exponents differ by more than
// PSV_SPLIT_DX is crossed with its matrix split), the half-space rows fixing
// the combination, back-substitution up to every interface. A depth inside a
// layer is made an interface of its own: the layer is crossed in two steps,
// which is exact (an interface between identical media changes nothing) and
// keeps the stable solve's accuracy there. Below the top of the half-space
// the field is the incident wave plus the two reflected ones, each with its
// own exponential. Everything is evaluated at unit angular frequency with
// every length scaled by w (the response depends on w only through w h and
// w z), so no power of w is formed and no frequency overflows one; the layer
// waves and the half-space rows are formed once per call.
//
// The static limit: where w T < 1e-20 (f = 0 included; T the slowest travel
// time from the surface to the deepest point asked for) every layer matrix
// is the identity to far below double rounding and the response is that of
// the bare half-space, the same at every depth; it is returned exactly.
// A negative frequency gives the complex conjugate of the response at |f|.
// Values beyond the double range (deep in a damped half-space, where the
// incident wave has grown past it) saturate at the largest double.
//
// @param[in]  medium       the profile; read only
// @param[in]  incident_sv  false: incident P wave, true: incident SV wave
// @param[in]  angle_deg    incidence angle in the half-space, degrees, |angle| < 90
// @param[in]  freqs        Hz, finite, any order
// @param[in]  depths       m, finite, >= 0, any order: inside a layer, on an
//                          interface, inside the half-space
// @param[out] U, W         freqs.size() * depths.size() entries each, depth-major
// Throws InvalidArgument (velmar/errors.hpp) naming the argument and value
// for: array sizes that disagree, a thickness or density not above 0 or not
// finite, a velocity that is not finite or has Re <= 0 or Im > 0, an angle
// not finite or at or beyond 90 degrees, a frequency or depth not finite, a
// negative depth, and an incident wave for which the half-space root
// sqrt(1 - (sin v_other / v_inc)^2) is 0 or cannot be computed (an SV wave at
// exactly the critical angle of an undamped half-space). VP above VS is not
// checked. Scratch is allocated once per call (O(layers + depths)); no global
// state (thread-safe).
void psv_response(const PsvMedium& medium, bool incident_sv, double angle_deg, std::span<const double> freqs,
                  std::span<const double> depths, std::span<cdouble> U, std::span<cdouble> W);

// Scratch of psv_response, sized on first use and kept by the caller: a call
// on the sizes of an earlier one allocates nothing. One thread at a time.
class PsvResponseWork {
 public:
  PsvResponseWork();
  PsvResponseWork(PsvResponseWork&&) noexcept;
  PsvResponseWork& operator=(PsvResponseWork&&) noexcept;
  ~PsvResponseWork();
  struct Arrays;
  Arrays& arrays();

 private:
  std::unique_ptr<Arrays> arrays_;
};

// The same with the caller's scratch.
void psv_response(const PsvMedium& medium, bool incident_sv, double angle_deg, std::span<const double> freqs,
                  std::span<const double> depths, std::span<cdouble> U, std::span<cdouble> W, PsvResponseWork& work);

}  // namespace velmar::detail

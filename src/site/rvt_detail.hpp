// rvt_detail.hpp: the peak-factor integrals and the Boore-Thompson
// coefficients, shared by the RVT sources and their tests.
#pragma once

#include <array>
#include <optional>

#include "velmar/rvt.hpp"

namespace velmar::detail {

// Vanmarcke's (1975) expected peak factor, int_0^inf (1 - F(x)) dx, for
// `crossings` zero crossings and the effective bandwidth delta^1.2.
double vanmarcke_peak_factor(double crossings, double bandwidth_eff);

// Cartwright and Longuet-Higgins' (1956) expected peak factor,
// sqrt(2) int_0^inf {1 - [1 - irregularity e^(-z^2)]^extrema} dz.
double cartwright_peak_factor(double extrema, double irregularity);

// Davenport's (1964) asymptote sqrt(2 ln N) + 0.5772 / sqrt(2 ln N), N > 1.
double davenport_peak_factor(double crossings);

// Throws InvalidArgument when `method` needs a magnitude and distance that
// are missing or outside its coefficient table.
void check_scenario(PeakMethod method, Region region, const std::optional<double>& magnitude,
                    const std::optional<double>& distance);

// c1..c7 of Boore and Thompson (BT12, or BT15 for BT15 and WR18), bilinear
// in magnitude and ln distance (inputs within the table: see check_scenario).
std::array<double, 7> bt_coefficients(PeakMethod method, Region region, double magnitude, double distance);

}  // namespace velmar::detail

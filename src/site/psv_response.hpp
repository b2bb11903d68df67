// placeholder until the P-SV engine lands
#pragma once
#include <complex>
#include <span>
#include <vector>
namespace velmar {
using cdouble = std::complex<double>;
struct PsvMedium {
  std::vector<double> thickness;
  std::vector<double> density;
  std::vector<cdouble> vs, vp;
};
void psv_response(const PsvMedium& medium, bool incident_sv, double angle_deg,
                  std::span<const double> freqs, std::span<const double> depths,
                  std::span<cdouble> U, std::span<cdouble> W);
}  // namespace velmar

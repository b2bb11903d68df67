// rvt_motion.cpp: RVT motions from a seismological point source, from a
// spectrum file, and compatible with a target response spectrum.
#include <cmath>

#include "site/rvt_detail.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/rvt.hpp"

namespace velmar {

std::vector<double> default_rvt_freqs() {
  constexpr std::size_t n = 512;
  std::vector<double> f(n);
  const double lo = std::log(0.05), hi = std::log(100.0);
  for (std::size_t i = 0; i < n; ++i)
    f[i] = std::exp(lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n - 1));
  return f;
}

SourceTheoryInfo source_theory_info(const SourceTheoryParams&) {
  throw InvalidArgument("source_theory_info: not built yet");
}

RvtMotion source_theory_motion(const SourceTheoryParams&, std::span<const double>) {
  throw InvalidArgument("source_theory_motion: not built yet");
}

RvtMotion read_rvt_spectrum(const std::string&, double, PeakMethod) {
  throw InvalidArgument("read_rvt_spectrum: not built yet");
}

CompatibleResult compatible_rvt_motion(std::span<const double>, std::span<const double>, double,
                                       const CompatibleOptions&) {
  throw InvalidArgument("compatible_rvt_motion: not built yet");
}

}  // namespace velmar

// Uses the installed library as an outside program would: one layer over a
// half-space, its transfer function at the surface; exits 0 when the peak
// lies at the layer's quarter-wavelength frequency VS / (4 H) = 5 Hz.
#include <velmar/velmar.hpp>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  const velmar::Profile p({10.0, 0.0}, {1.8, 2.2}, {200.0, 1000.0}, {0.05, 0.0});
  std::vector<double> f;
  for (int i = 1; i <= 1000; ++i) f.push_back(0.01 * i);
  const std::vector<velmar::cdouble> h = velmar::transfer(p, f, velmar::WaveSetup{});
  std::size_t best = 0;
  for (std::size_t i = 0; i < h.size(); ++i) {
    if (std::abs(h[i]) > std::abs(h[best])) best = i;
  }
  std::printf("velmar %s: peak |H| = %.4f at %.2f Hz\n", velmar::version(), std::abs(h[best]), f[best]);
  try {
    velmar::Profile bad({10.0, 0.0}, {1.8, 2.2}, {200.0, -1.0}, {0.05, 0.0});
    return 1;
  } catch (const velmar::InvalidArgument& e) {
    std::printf("refused: %s\n", e.what());
  }
  return std::abs(f[best] - 5.0) < 0.1 ? 0 : 1;
}

// fft_double.cpp: the interleaved-complex FFT plan over SplitFft.
#include "signal/fft_double.hpp"

namespace velmar::detail {

FftPlan::FftPlan(std::size_t n) : n_(n), forward_(n, +1), backward_(n, -1) {}

void FftPlan::transform(std::span<std::complex<double>> x, int sign) const {
  const std::size_t n = n_;
  // The split arrays, kept by each thread from one call to the next up to
  // KEPT doubles: a transform of a usual length then allocates nothing once
  // its thread has done one as long. (Allocating and freeing megabytes per
  // call can lead the allocator to hand the pages back to the system, to be
  // faulted in again next time, which costs more than the transform on a
  // virtual machine.) Longer transforms use arrays of their own, so a
  // thread does not keep hundreds of megabytes after one huge record. A
  // plan stays usable from several threads at once.
  constexpr std::size_t KEPT = std::size_t{1} << 22;  // 32 MB
  thread_local std::vector<double> kept;
  std::vector<double> own;
  std::vector<double>& work = 4 * n <= KEPT ? kept : own;
  if (work.size() < 4 * n) work.resize(4 * n);
  transform(x, sign, work);
}

void FftPlan::transform(std::span<std::complex<double>> x, int sign, std::span<double> work) const {
  const std::size_t n = n_;
  const std::span<double> re(work.data(), n), im(work.data() + n, n), scratch_re(work.data() + 2 * n, n),
      scratch_im(work.data() + 3 * n, n);
  for (std::size_t i = 0; i < n; ++i) re[i] = x[i].real(), im[i] = x[i].imag();
  const bool in_scratch = (sign >= 0 ? forward_ : backward_).transform(re, im, scratch_re, scratch_im);
  const double* r = in_scratch ? scratch_re.data() : re.data();
  const double* m = in_scratch ? scratch_im.data() : im.data();
  for (std::size_t i = 0; i < n; ++i) x[i] = {r[i], m[i]};
}

}  // namespace velmar::detail

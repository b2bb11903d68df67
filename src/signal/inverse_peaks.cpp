// inverse_peaks.cpp: peaks of real histories from their half spectra (see
// inverse_peaks.hpp).
#include "signal/inverse_peaks.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "common/platform.hpp"
#include "signal/stockham_passes.hpp"

namespace velmar::detail {
namespace {

// Lanes: columns (first step) or rows (second step) transformed side by side.
constexpr std::size_t W = 8;
// The split needs at least W columns and W rows.
constexpr std::size_t SPLIT_FROM = W * W;

// Whether L (served, even) splits into N1 x N2 with both multiples of W:
// its power-of-two part at least W^2.
bool splits(std::size_t L) { return (L & (~L + 1)) >= SPLIT_FROM; }

// A lane transform: its passes (as fft_passes gives them) and twiddles.
struct LanePlan {
  const FftPass* passes;
  std::size_t count, m;
  const double* tw;
};

// Length-m inverse transform of lane vectors held in (xr, xi), with (yr, yi)
// as the other buffer; returns whether the result ended in (yr, yi).
VELMAR_ALWAYS_INLINE bool lane_transform(const LanePlan& plan, double* xr, double* xi, double* yr, double* yi) {
  return stockham_passes(plan.passes, plan.count, plan.m, W, 1.0, plan.tw, xr, xi, yr, yi);
}

// W values of z = conj(A) + i conj(B) from the Hermitian halves A and B
// (the conjugates turn the transform's e^{+...} into the e^{-...} of the
// histories): at k = x .. x + W - 1 directly, or (mirror) at
// k = L - x .. L - x + W - 1 as z_k = A_{L-k} + i B_{L-k}, reading x, x - 1, ...
template <bool mirror>
VELMAR_ALWAYS_INLINE void load_row(const double* VELMAR_RESTRICT a_r, const double* VELMAR_RESTRICT a_i,
                                   const double* VELMAR_RESTRICT b_r, const double* VELMAR_RESTRICT b_i,
                                   std::size_t x0, double* VELMAR_RESTRICT zr, double* VELMAR_RESTRICT zi) {
  for (std::size_t l = 0; l < W; ++l) {
    const std::size_t x = mirror ? x0 - l : x0 + l;
    const double Ar = a_r[x], Ai = a_i[x], Br = b_r[x], Bi = b_i[x];
    if constexpr (mirror) {
      zr[l] = Ar - Bi, zi[l] = Ai + Br;
    } else {
      zr[l] = Ar + Bi, zi[l] = Br - Ai;
    }
  }
}

// Running peaks of the real (pa) and imaginary (pb) parts of the lane
// vectors t2 in [from, to); with `count`, lane l only while t2 < count[l].
// probe collects y * 0, NaN once a value is not finite (the comparisons
// alone would pass over a NaN).
VELMAR_ALWAYS_INLINE void lane_peaks(const double* VELMAR_RESTRICT yr, const double* VELMAR_RESTRICT yi,
                                     std::size_t from, std::size_t to, const std::size_t* count,
                                     double* VELMAR_RESTRICT pa, double* VELMAR_RESTRICT pb,
                                     double* VELMAR_RESTRICT probe) {
  for (std::size_t t2 = from; t2 < to; ++t2) {
    for (std::size_t l = 0; l < W; ++l) {
      const bool in = count == nullptr || t2 < count[l];
      const double u = in ? std::abs(yr[t2 * W + l]) : 0.0, v = in ? std::abs(yi[t2 * W + l]) : 0.0;
      pa[l] = pa[l] < u ? u : pa[l];
      pb[l] = pb[l] < v ? v : pb[l];
      probe[l] += (u + v) * 0.0;
    }
  }
}

// What the split pass needs, gathered so one dispatched call runs it all.
struct SplitJob {
  std::size_t L, n, n1, n2;
  LanePlan plan1, plan2;
  const double *mid_group, *mid_lane;
  double *mr, *mi, *ar, *ai, *br, *bi;
};

#if VELMAR_X86_DISPATCH
#define VELMAR_PEAKS_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_PEAKS_CLONES
#endif

// The two histories of the spectra A and B (Hermitian halves): their peaks
// over t < n, unscaled (times L).
VELMAR_PEAKS_CLONES void split_pair(const SplitJob& j, const double* a_r, const double* a_i, const double* b_r,
                                    const double* b_i, double& peak_a, double& peak_b) {
  const std::size_t L = j.L, n1 = j.n1, n2 = j.n2, half = n1 / 2;
  // First step, column group by column group: load z[N2 k1 + k2] for the
  // group's W columns, transform over k1, twiddle, and store transposed:
  // middle element (t1, k2) at ((t1 / W) n2 + k2) W + t1 % W, so the second
  // step finds W rows t1 side by side.
  for (std::size_t c = 0; c < n2 / W; ++c) {
    double* xr = j.ar;
    double* xi = j.ai;
    for (std::size_t k1 = 0; k1 < n1; ++k1) {
      const std::size_t k = n2 * k1 + c * W;
      if (k1 < half) {
        load_row<false>(a_r, a_i, b_r, b_i, k, xr + k1 * W, xi + k1 * W);
      } else {
        load_row<true>(a_r, a_i, b_r, b_i, L - k, xr + k1 * W, xi + k1 * W);
      }
    }
    if (c == 0) {
      // k = 0 and k = L/2 stand for themselves: real parts only.
      for (const std::size_t k1 : {std::size_t{0}, half}) {
        const std::size_t x = n2 * k1;
        xr[k1 * W] = a_r[x];
        xi[k1 * W] = b_r[x];
      }
    }
    const bool moved = lane_transform(j.plan1, xr, xi, j.br, j.bi);
    double* rr = moved ? j.br : xr;
    double* ri = moved ? j.bi : xi;
    const double* gr = j.mid_group + 2 * c * n1;
    const double* gi = gr + n1;
    for (std::size_t g = 0; g < n1 / W; ++g) {
      // Rows t1 = g W + m twiddled into a tile, then stored transposed.
      double tr[W * W], ti[W * W];
      for (std::size_t m = 0; m < W; ++m) {
        const std::size_t t1 = g * W + m;
        const double* sr = j.mid_lane + 2 * t1 * W;
        const double* si = sr + W;
        for (std::size_t l = 0; l < W; ++l) {
          const double wr = gr[t1] * sr[l] - gi[t1] * si[l], wi = gr[t1] * si[l] + gi[t1] * sr[l];
          const double vr = rr[t1 * W + l], vi = ri[t1 * W + l];
          tr[m * W + l] = vr * wr - vi * wi, ti[m * W + l] = vr * wi + vi * wr;
        }
      }
      double* dr = j.mr + (g * n2 + c * W) * W;
      double* di = j.mi + (g * n2 + c * W) * W;
      for (std::size_t l = 0; l < W; ++l) {
        for (std::size_t m = 0; m < W; ++m) dr[l * W + m] = tr[m * W + l], di[l * W + m] = ti[m * W + l];
      }
    }
  }
  // Second step, row group by row group: transform over k2, W rows t1 side
  // by side; the output at t2 is x_{t1 + N1 t2}.
  double pa[W] = {}, pb[W] = {}, probe[W] = {};
  for (std::size_t g = 0; g < n1 / W; ++g) {
    double* xr = j.mr + g * n2 * W;
    double* xi = j.mi + g * n2 * W;
    const bool moved = lane_transform(j.plan2, xr, xi, j.ar, j.ai);
    const double* yr = moved ? j.ar : xr;
    const double* yi = moved ? j.ai : xi;
    // Lane l holds t = g W + l + N1 t2: samples t < n for t2 < count[l].
    std::size_t count[W], most = 0, fewest = n2;
    for (std::size_t l = 0; l < W; ++l) {
      const std::size_t t1 = g * W + l;
      count[l] = j.n > t1 ? std::min(n2, (j.n - t1 + n1 - 1) / n1) : 0;
      most = std::max(most, count[l]), fewest = std::min(fewest, count[l]);
    }
    lane_peaks(yr, yi, 0, fewest, nullptr, pa, pb, probe);
    lane_peaks(yr, yi, fewest, most, count, pa, pb, probe);
  }
  double a = 0.0, b = 0.0, p = 0.0;
  for (std::size_t l = 0; l < W; ++l) a = std::max(a, pa[l]), b = std::max(b, pb[l]), p += probe[l];
  // The comparisons pass over a NaN; the probe does not.
  peak_a = p == 0.0 ? a : std::numeric_limits<double>::quiet_NaN();
  peak_b = p == 0.0 ? b : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

InversePeaks::InversePeaks(std::size_t L, std::size_t n)
    : L_(L), n_(n), small_(fft_length_supported(L) && L % 2 == 0 && !splits(L) ? L : 1, +1) {
  if (!fft_length_supported(L) || L % 2 != 0) {
    throw std::invalid_argument("transform length must be 2^a or 3 2^a, even");
  }
  if (n < 1 || n > L) throw std::invalid_argument("samples searched must lie in 1 .. transform length");
  if (splits(L)) {
    // N1 a power of two and N2 = L / N1 a multiple of W, the larger of the
    // two as small as can be (the lane buffers then stay in the first cache
    // level).
    n1_ = W;
    for (std::size_t a = 2 * W; (L / a) % W == 0 && a <= L / W; a *= 2) {
      if (std::max(a, L / a) < std::max(n1_, L / n1_)) n1_ = a;
    }
    n2_ = L / n1_;
    passes1_ = fft_passes(n1_), passes2_ = fft_passes(n2_);
    tw1_ = fft_twiddles(n1_, +1), tw2_ = fft_twiddles(n2_, +1);
    const UnitRoots roots(L);
    mid_group_.resize(2 * (n2_ / W) * n1_);
    for (std::size_t c = 0; c < n2_ / W; ++c) {
      for (std::size_t t1 = 0; t1 < n1_; ++t1) {
        roots.get(c * W * t1, mid_group_[2 * c * n1_ + t1], mid_group_[(2 * c + 1) * n1_ + t1]);
      }
    }
    mid_lane_.resize(2 * n1_ * W);
    for (std::size_t t1 = 0; t1 < n1_; ++t1) {
      for (std::size_t l = 0; l < W; ++l) roots.get(l * t1, mid_lane_[2 * t1 * W + l], mid_lane_[(2 * t1 + 1) * W + l]);
    }
    mr_.resize(L), mi_.resize(L);
    const std::size_t longer = std::max(n1_, n2_) * W;
    ar_.resize(longer), ai_.resize(longer), br_.resize(longer), bi_.resize(longer);
  } else {
    mr_.resize(L), mi_.resize(L), ar_.resize(L), ai_.resize(L);
  }
}

void InversePeaks::pair_split(const double* ar, const double* ai, const double* br, const double* bi, double& peak_a,
                              double& peak_b) {
  const SplitJob job{L_,
                     n_,
                     n1_,
                     n2_,
                     {passes1_.data(), passes1_.size(), n1_, tw1_.data()},
                     {passes2_.data(), passes2_.size(), n2_, tw2_.data()},
                     mid_group_.data(),
                     mid_lane_.data(),
                     mr_.data(),
                     mi_.data(),
                     ar_.data(),
                     ai_.data(),
                     br_.data(),
                     bi_.data()};
  split_pair(job, ar, ai, br, bi, peak_a, peak_b);
}

void InversePeaks::pair_small(const double* a_r, const double* a_i, const double* b_r, const double* b_i,
                              double& peak_a, double& peak_b) {
  const std::size_t L = L_, h = L / 2;
  for (std::size_t k = 0; k <= h; ++k) {
    const double Ar = a_r[k], Ai = a_i[k], Br = b_r[k], Bi = b_i[k];
    if (k == 0 || k == h) {
      mr_[k] = Ar, mi_[k] = Br;
    } else {
      mr_[k] = Ar + Bi, mi_[k] = Br - Ai;
      mr_[L - k] = Ar - Bi, mi_[L - k] = Ai + Br;
    }
  }
  const bool moved = small_.transform(mr_, mi_, ar_, ai_);
  const double* zr = moved ? ar_.data() : mr_.data();
  const double* zi = moved ? ai_.data() : mi_.data();
  double a = 0.0, b = 0.0, p = 0.0;
  for (std::size_t t = 0; t < n_; ++t) {
    a = std::max(a, std::abs(zr[t])), b = std::max(b, std::abs(zi[t]));
    p += (zr[t] + zi[t]) * 0.0;
  }
  peak_a = p == 0.0 ? a : std::numeric_limits<double>::quiet_NaN();
  peak_b = p == 0.0 ? b : std::numeric_limits<double>::quiet_NaN();
}

void InversePeaks::peaks(const double* re, const double* im, std::size_t stride, std::size_t count, double* out) {
  const double inv = 1.0 / static_cast<double>(L_);
  for (std::size_t j = 0; j < count; j += 2) {
    // An odd last history rides with itself (its second peak is not read).
    const std::size_t k = j + 1 < count ? j + 1 : j;
    double pa = 0.0, pb = 0.0;
    if (n1_ != 0) {
      pair_split(re + j * stride, im + j * stride, re + k * stride, im + k * stride, pa, pb);
    } else {
      pair_small(re + j * stride, im + j * stride, re + k * stride, im + k * stride, pa, pb);
    }
    out[j] = pa * inv;
    if (k != j) out[k] = pb * inv;
  }
}

}  // namespace velmar::detail

// fft.cpp: CFFT9X, the self-sorting mixed-radix complex FFT, and VPASS, one of its passes.
//
// Each pass reads one array and writes another (Stockham), so the results come
// out in natural order without a reordering step. The butterflies of radices
// 2, 3, 4, 5, 6 are written out below; every named intermediate is a float,
// rounded when formed. sigma = ISGN, and sigma*i*z = (-sigma Im z) + i (sigma Re z).
//
// Loop order: blocks outermost (twiddle factors read once per block), then the
// transforms, then the butterflies of a block innermost. Within a block the
// butterflies read and write consecutive elements with the same twiddles, so
// the innermost loop vectorises. Passes with fewer than SMALL_L butterflies
// per block (the first pass among them) take the blocks in chunks instead;
// see run_small_pass. No order changes the arithmetic of a butterfly, so the
// results are the same float for float.
#include "console/signal/fft.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "common/platform.hpp"
#include "console/signal/fft_error.hpp"

namespace velmar::console {

namespace {

using Index = std::ptrdiff_t;

// The rotation constants of the butterflies, formed in single precision from
// the float values of pi/3, 2 pi/5 and pi/5; S36R72 is the quotient of the two
// stored sines.
struct Rotations {
  float SIN60;
  float SIN72;
  float SIN36;
  float SQ5D4;
  float S36R72;
};

template <int P>
using Lane = std::array<float, P>;

// Butterflies: y_q = sum_r a_r exp(SGN 2 pi i q r / P), (ar, ai) -> (yr, yi).

template <int SGN>
inline void butterfly(const Lane<2>& ar, const Lane<2>& ai, Lane<2>& yr, Lane<2>& yi,
                      const Rotations&) {
  yr[0] = ar[0] + ar[1];
  yi[0] = ai[0] + ai[1];
  yr[1] = ar[0] - ar[1];
  yi[1] = ai[0] - ai[1];
}

// y0 = a0 + s; y1 = t + sigma i u; y2 = t - sigma i u, with s = a1 + a2,
// t = a0 - s/2, u = SIN60 (a1 - a2).
template <int SGN>
inline void butterfly(const Lane<3>& ar, const Lane<3>& ai, Lane<3>& yr, Lane<3>& yi,
                      const Rotations& K) {
  constexpr float sg = static_cast<float>(SGN);
  const float sr = ar[1] + ar[2];
  const float si = ai[1] + ai[2];
  const float tr = ar[0] - 0.5f * sr;
  const float ti = ai[0] - 0.5f * si;
  const float ur = K.SIN60 * (ar[1] - ar[2]);
  const float ui = K.SIN60 * (ai[1] - ai[2]);
  yr[0] = ar[0] + sr;
  yi[0] = ai[0] + si;
  yr[1] = tr - sg * ui;
  yi[1] = ti + sg * ur;
  yr[2] = tr + sg * ui;
  yi[2] = ti - sg * ur;
}

template <int SGN>
inline void butterfly(const Lane<4>& ar, const Lane<4>& ai, Lane<4>& yr, Lane<4>& yi,
                      const Rotations&) {
  constexpr float sg = static_cast<float>(SGN);
  const float t0r = ar[0] + ar[2];
  const float t0i = ai[0] + ai[2];
  const float t1r = ar[1] + ar[3];
  const float t1i = ai[1] + ai[3];
  const float t2r = ar[0] - ar[2];
  const float t2i = ai[0] - ai[2];
  const float t3r = ar[1] - ar[3];
  const float t3i = ai[1] - ai[3];
  yr[0] = t0r + t1r;
  yi[0] = t0i + t1i;
  yr[1] = t2r - sg * t3i;
  yi[1] = t2i + sg * t3r;
  yr[2] = t0r - t1r;
  yi[2] = t0i - t1i;
  yr[3] = t2r + sg * t3i;
  yi[3] = t2i - sg * t3r;
}

// cos 72 = (sqrt5 - 1)/4 and cos 144 = (-sqrt5 - 1)/4 enter as e +- d with
// e = a0 - s/4 and d = (sqrt5/4)(p1 - p2); sin 144 = sin 36 enters as the
// ratio S36R72 against the factor SIN72 already in q1, q2.
template <int SGN>
inline void butterfly(const Lane<5>& ar, const Lane<5>& ai, Lane<5>& yr, Lane<5>& yi,
                      const Rotations& K) {
  constexpr float sg = static_cast<float>(SGN);
  const float p1r = ar[1] + ar[4];
  const float p1i = ai[1] + ai[4];
  const float p2r = ar[2] + ar[3];
  const float p2i = ai[2] + ai[3];
  const float q1r = K.SIN72 * (ar[1] - ar[4]);
  const float q1i = K.SIN72 * (ai[1] - ai[4]);
  const float q2r = K.SIN72 * (ar[2] - ar[3]);
  const float q2i = K.SIN72 * (ai[2] - ai[3]);
  const float sr = p1r + p2r;
  const float si = p1i + p2i;
  const float dr = K.SQ5D4 * (p1r - p2r);
  const float di = K.SQ5D4 * (p1i - p2i);
  const float er = ar[0] - 0.25f * sr;
  const float ei = ai[0] - 0.25f * si;
  const float f1r = er + dr;
  const float f1i = ei + di;
  const float f2r = er - dr;
  const float f2i = ei - di;
  const float g1r = q1r + K.S36R72 * q2r;
  const float g1i = q1i + K.S36R72 * q2i;
  const float g2r = K.S36R72 * q1r - q2r;
  const float g2i = K.S36R72 * q1i - q2i;
  yr[0] = ar[0] + sr;
  yi[0] = ai[0] + si;
  yr[1] = f1r - sg * g1i;
  yi[1] = f1i + sg * g1r;
  yr[2] = f2r - sg * g2i;
  yi[2] = f2i + sg * g2r;
  yr[3] = f2r + sg * g2i;
  yi[3] = f2i - sg * g2r;
  yr[4] = f1r + sg * g1i;
  yi[4] = f1i - sg * g1r;
}

// A 3 x 2 split without inner twiddles: A = 3-point transform of (a0, a2, a4),
// B = that of (a3, a5, a1), and y_q = A_(q mod 3) + (-1)^q B_(q mod 3).
template <int SGN>
inline void butterfly(const Lane<6>& ar, const Lane<6>& ai, Lane<6>& yr, Lane<6>& yi,
                      const Rotations& K) {
  Lane<3> Ar, Ai, Br, Bi;
  butterfly<SGN>(Lane<3>{ar[0], ar[2], ar[4]}, Lane<3>{ai[0], ai[2], ai[4]}, Ar, Ai, K);
  butterfly<SGN>(Lane<3>{ar[3], ar[5], ar[1]}, Lane<3>{ai[3], ai[5], ai[1]}, Br, Bi, K);
  yr[0] = Ar[0] + Br[0];
  yi[0] = Ai[0] + Bi[0];
  yr[1] = Ar[1] - Br[1];
  yi[1] = Ai[1] - Bi[1];
  yr[2] = Ar[2] + Br[2];
  yi[2] = Ai[2] + Bi[2];
  yr[3] = Ar[0] - Br[0];
  yi[3] = Ai[0] - Bi[0];
  yr[4] = Ar[1] + Br[1];
  yi[4] = Ai[1] + Bi[1];
  yr[5] = Ar[2] - Br[2];
  yi[5] = Ai[2] - Bi[2];
}

// The twiddle multiplication of one result: y * (c + i s), rounded per part.
inline void rotate(float& yr, float& yi, float c, float s) {
  const float re = yr * c - yi * s;
  const float im = yi * c + yr * s;
  yr = re;
  yi = im;
}

// Where one pass reads and writes, in elements of the arrays it is given.
struct PassGeometry {
  Index lprod;    // butterflies per block (l)
  Index nblocks;  // MSUB / l
  Index incue;    // input step between butterflies
  Index incve;    // output step between butterflies
  Index istr;     // input step between operands: INCUE * MSUB
  Index jstr;     // output step between results: INCVE * l
  Index incut;    // input step between transforms
  Index incvt;    // output step between transforms
  Index ntr;
};

// The butterflies of one block of one transform. ur/ui point at operand 0 of
// butterfly 0, vr/vi at its result 0; c, s are the block's twiddles (q >= 1)
// when TWIDDLE is set. UNIT fixes both butterfly steps at 1 so that the loop
// runs over consecutive elements. The four arrays never overlap: input and
// output are different arrays, and real and imaginary parts of one array are
// disjoint ranges (hence VELMAR_RESTRICT, which lets the loop vectorise).
// The twiddles and constants come by value: as locals the compiler can keep
// them in registers, where through a reference it would have to assume that
// the stores might change them, and would not vectorise.
template <int P, int SGN, bool UNIT, bool TWIDDLE>
void run_block(const float* VELMAR_RESTRICT ur, const float* VELMAR_RESTRICT ui,
               float* VELMAR_RESTRICT vr, float* VELMAR_RESTRICT vi, const PassGeometry& g,
               const Lane<P> c, const Lane<P> s, const Rotations K) {
  const Index iu = UNIT ? 1 : g.incue;
  const Index iv = UNIT ? 1 : g.incve;
  const Index istr = g.istr;
  const Index jstr = g.jstr;
  const Index nb = g.lprod;
  // The P results of a butterfly go to places a run-time stride jstr apart,
  // which the compiler cannot tell apart from one another; they are distinct
  // (b < l and jstr = l * iv), and no store meets a later load (the output is
  // another array), so the iterations are independent.
VELMAR_IVDEP
  for (Index b = 0; b < nb; ++b) {
    Lane<P> ar, ai, yr, yi;
    for (int q = 0; q < P; ++q) {
      ar[q] = ur[b * iu + q * istr];
      ai[q] = ui[b * iu + q * istr];
    }
    butterfly<SGN>(ar, ai, yr, yi, K);
    if constexpr (TWIDDLE) {
      for (int q = 1; q < P; ++q) rotate(yr[q], yi[q], c[q], s[q]);
    }
    for (int q = 0; q < P; ++q) {
      vr[b * iv + q * jstr] = yr[q];
      vi[b * iv + q * jstr] = yi[q];
    }
  }
}

template <int P, int SGN, bool UNIT>
void run_pass(const float* ure, const float* uim, float* vre, float* vim,
              const float* trig, const PassGeometry& g, const Rotations& K) {
  Lane<P> c{}, s{};
  for (Index k = 0; k < g.nblocks; ++k) {
    const Index in0 = k * g.lprod * g.incue;
    const Index out0 = k * P * g.lprod * g.incve;
    if (k > 0) {
      // exp(SGN 2 pi i q k l / N): the table holds the positive sine.
      for (int q = 1; q < P; ++q) {
        const Index w = 2 * q * k * g.lprod;
        c[q] = trig[w];
        s[q] = SGN > 0 ? trig[w + 1] : -trig[w + 1];
      }
    }
    for (Index t = 0; t < g.ntr; ++t) {
      const float* ur = ure + in0 + t * g.incut;
      const float* ui = uim + in0 + t * g.incut;
      float* vr = vre + out0 + t * g.incvt;
      float* vi = vim + out0 + t * g.incvt;
      if (k == 0) {
        run_block<P, SGN, UNIT, false>(ur, ui, vr, vi, g, c, s, K);
      } else {
        run_block<P, SGN, UNIT, true>(ur, ui, vr, vi, g, c, s, K);
      }
    }
  }
}

// Passes with few butterflies per block (l < SMALL_L, always the first pass
// with l = 1): a loop over the butterflies of one block would be too short
// to vectorise. The blocks are taken in chunks instead: the twiddles of each
// block are read once (per transform) and spread over its butterflies in a
// local strip, the butterflies of the whole chunk (consecutive in the input)
// run in one vectorised loop into local strips, and a last loop puts each
// result in its place. The arithmetic of every butterfly is that of
// run_block. LFIX fixes l at compile time (0: l taken from g): with l = 1 the
// P results of a block are consecutive; with l = 4 and unit steps each result
// q of a block is a run of four consecutive elements, moved as one vector
// (with l known only at run time these runs became scalar stores 4 l apart).
// SMALL_L = 6 was the faster side of the measured cross-over (l = 4, 5 gain,
// l = 6 loses).
constexpr Index SMALL_L = 6;
constexpr Index CHUNK = 64;  // butterflies per chunk at most; a chunk holds whole blocks

template <int P, int SGN, bool UNIT, int LFIX>
void run_small_pass(const float* VELMAR_RESTRICT ure, const float* VELMAR_RESTRICT uim,
                    float* VELMAR_RESTRICT vre, float* VELMAR_RESTRICT vim,
                    const float* VELMAR_RESTRICT trig, const PassGeometry& g, const Rotations K) {
  using Strip = std::array<float, CHUNK>;
  const Index l = LFIX > 0 ? LFIX : g.lprod;
  const Index iu = UNIT ? 1 : g.incue;
  const Index iv = UNIT ? 1 : g.incve;
  const Index istr = g.istr;
  const Index jstr = g.jstr;
  const Index blocks_per_chunk = CHUNK / l;
  std::array<Strip, P> cw, sw, yr, yi;
  for (Index t = 0; t < g.ntr; ++t) {
    const float* ur = ure + t * g.incut;
    const float* ui = uim + t * g.incut;
    float* vr = vre + t * g.incvt;
    float* vi = vim + t * g.incvt;
    run_block<P, SGN, UNIT, false>(ur, ui, vr, vi, g, Lane<P>{}, Lane<P>{}, K);
    for (Index k0 = 1; k0 < g.nblocks; k0 += blocks_per_chunk) {
      const Index nbk = std::min(blocks_per_chunk, g.nblocks - k0);
      const Index nm = nbk * l;
      for (Index kk = 0; kk < nbk; ++kk) {
        for (int q = 1; q < P; ++q) {
          const Index w = 2 * q * (k0 + kk) * l;
          const float c = trig[w];
          const float s = SGN > 0 ? trig[w + 1] : -trig[w + 1];
          for (Index b = 0; b < l; ++b) {
            cw[q][static_cast<std::size_t>(kk * l + b)] = c;
            sw[q][static_cast<std::size_t>(kk * l + b)] = s;
          }
        }
      }
      const float* cr = ur + k0 * l * iu;
      const float* ci = ui + k0 * l * iu;
      for (Index m = 0; m < nm; ++m) {
        const std::size_t mm = static_cast<std::size_t>(m);
        Lane<P> ar, ai, zr, zi;
        for (int q = 0; q < P; ++q) {
          ar[q] = cr[m * iu + q * istr];
          ai[q] = ci[m * iu + q * istr];
        }
        butterfly<SGN>(ar, ai, zr, zi, K);
        for (int q = 1; q < P; ++q) rotate(zr[q], zi[q], cw[q][mm], sw[q][mm]);
        for (int q = 0; q < P; ++q) {
          yr[q][mm] = zr[q];
          yi[q][mm] = zi[q];
        }
      }
      float* out_r = vr + k0 * P * l * iv;
      float* out_i = vi + k0 * P * l * iv;
      const Index block_step = P * l * iv;
      if constexpr (LFIX == 1) {
        // One butterfly per block: its P results are consecutive.
        for (Index kk = 0; kk < nbk; ++kk) {
          for (int q = 0; q < P; ++q) {
            out_r[(kk * P + q) * iv] = yr[q][static_cast<std::size_t>(kk)];
            out_i[(kk * P + q) * iv] = yi[q][static_cast<std::size_t>(kk)];
          }
        }
        continue;
      } else if constexpr (LFIX > 1 && UNIT) {
        // Result q of block kk: LFIX consecutive elements at kk P l + q l.
        for (Index kk = 0; kk < nbk; ++kk) {
          for (int q = 0; q < P; ++q) {
            for (Index b = 0; b < LFIX; ++b) {
              const std::size_t m = static_cast<std::size_t>(kk * LFIX + b);
              out_r[kk * block_step + q * LFIX + b] = yr[q][m];
              out_i[kk * block_step + q * LFIX + b] = yi[q][m];
            }
          }
        }
        continue;
      }
      // Blocks innermost: a run of l consecutive results would otherwise be
      // turned into a call of memcpy for every block.
      for (int q = 0; q < P; ++q) {
        for (Index b = 0; b < l; ++b) {
          const Index o = b * iv + q * jstr;
          for (Index kk = 0; kk < nbk; ++kk) {
            out_r[o + kk * block_step] = yr[q][static_cast<std::size_t>(kk * l + b)];
            out_i[o + kk * block_step] = yi[q][static_cast<std::size_t>(kk * l + b)];
          }
        }
      }
    }
  }
}

template <int P, int SGN>
void run_small(const float* ure, const float* uim, float* vre, float* vim, const float* trig,
               const PassGeometry& g, const Rotations& K, bool unit, int lfix) {
  if (!unit) {
    run_small_pass<P, SGN, false, 0>(ure, uim, vre, vim, trig, g, K);
  } else if (lfix == 1) {
    run_small_pass<P, SGN, true, 1>(ure, uim, vre, vim, trig, g, K);
  } else if (lfix == 4) {
    run_small_pass<P, SGN, true, 4>(ure, uim, vre, vim, trig, g, K);
  } else {
    run_small_pass<P, SGN, true, 0>(ure, uim, vre, vim, trig, g, K);
  }
}

template <int P>
void dispatch(const float* ure, const float* uim, float* vre, float* vim, const float* trig,
              const PassGeometry& g, int ISGN, const Rotations& K) {
  const bool unit = g.incue == 1 && g.incve == 1;
  if (g.lprod < SMALL_L) {
    // l = 1 and l = 4 (with unit steps) have their own instances; see run_small_pass.
    const int lfix = g.lprod == 1 ? 1 : (g.lprod == 4 && unit ? 4 : 0);
    if (ISGN < 0) {
      run_small<P, -1>(ure, uim, vre, vim, trig, g, K, unit, lfix);
    } else {
      run_small<P, 1>(ure, uim, vre, vim, trig, g, K, unit, lfix);
    }
    return;
  }
  if (ISGN < 0) {
    if (unit) {
      run_pass<P, -1, true>(ure, uim, vre, vim, trig, g, K);
    } else {
      run_pass<P, -1, false>(ure, uim, vre, vim, trig, g, K);
    }
  } else {
    if (unit) {
      run_pass<P, 1, true>(ure, uim, vre, vim, trig, g, K);
    } else {
      run_pass<P, 1, false>(ure, uim, vre, vim, trig, g, K);
    }
  }
}

// The last pass of an odd pass count, in place in the data arrays. The last
// pass has one block (l = N/P), so butterfly b reads its operands from
// b + q l and writes result q to b + q l: the very places it read, and no
// other butterfly's. Doing it in place saves the pass into WORK and the copy
// back; the butterflies are those of the pass into WORK (block 0: no
// twiddles), so the results are the same floats. The real and imaginary
// arrays may not be told apart from each other by the compiler, hence ivdep:
// every butterfly loads all it needs before it stores.
template <int P, int SGN, bool UNIT>
void run_last_in_place(float* xr, float* xi, Index l, Index inc, Index jump, Index ntr,
                       const Rotations K) {
  const Index iu = UNIT ? 1 : inc;
  const Index qstr = l * iu;
  for (Index t = 0; t < ntr; ++t) {
    float* r = xr + t * jump;
    float* i = xi + t * jump;
VELMAR_IVDEP
    for (Index b = 0; b < l; ++b) {
      Lane<P> ar, ai, yr, yi;
      for (int q = 0; q < P; ++q) {
        ar[q] = r[b * iu + q * qstr];
        ai[q] = i[b * iu + q * qstr];
      }
      butterfly<SGN>(ar, ai, yr, yi, K);
      for (int q = 0; q < P; ++q) {
        r[b * iu + q * qstr] = yr[q];
        i[b * iu + q * qstr] = yi[q];
      }
    }
  }
}

template <int P>
void last_in_place(float* xr, float* xi, Index l, Index inc, Index jump, Index ntr, int ISGN,
                   const Rotations& K) {
  if (ISGN < 0) {
    if (inc == 1) {
      run_last_in_place<P, -1, true>(xr, xi, l, inc, jump, ntr, K);
    } else {
      run_last_in_place<P, -1, false>(xr, xi, l, inc, jump, ntr, K);
    }
  } else {
    if (inc == 1) {
      run_last_in_place<P, 1, true>(xr, xi, l, inc, jump, ntr, K);
    } else {
      run_last_in_place<P, 1, false>(xr, xi, l, inc, jump, ntr, K);
    }
  }
}

// The five rotation constants, formed on first use and kept for the run.
const Rotations& rotations() {
  static const Rotations K = [] {
    Rotations r{};
    r.SIN60 = std::sin(1.0471976f);
    r.SIN72 = std::sin(1.2566371f);
    r.SIN36 = std::sin(0.62831855f);
    r.SQ5D4 = std::sqrt(5.0f) * 0.25f;
    r.S36R72 = r.SIN36 / r.SIN72;
    return r;
  }();
  return K;
}

// A pass exists for radices 2 to 6 only; any other throws FftError before any arithmetic.
void check_radix(int IRAD) {
  if (IRAD < 2 || IRAD > 6) {
    throw FftError(FftError::Kind::RADIX, "radix one encountered");
  }
}

}  // namespace

void VPASS(std::span<const float> URE, std::span<const float> UIM, std::span<float> VRE,
           std::span<float> VIM, std::span<const float> TRIG, int IRAD, int LPROD, int N,
           int INCUE, int INCVE, int INCUT, int INCVT, int NTR, int ISGN) {
  const Rotations& K = rotations();
  check_radix(IRAD);
  const Index MSUB = N / IRAD;
  PassGeometry g{};
  g.lprod = LPROD;
  g.nblocks = MSUB / LPROD;
  g.incue = INCUE;
  g.incve = INCVE;
  g.istr = static_cast<Index>(INCUE) * MSUB;
  g.jstr = static_cast<Index>(INCVE) * LPROD;
  g.incut = INCUT;
  g.incvt = INCVT;
  g.ntr = NTR;
  const float* ure = URE.data();
  const float* uim = UIM.data();
  float* vre = VRE.data();
  float* vim = VIM.data();
  const float* trig = TRIG.data();
  switch (IRAD) {
    case 2: dispatch<2>(ure, uim, vre, vim, trig, g, ISGN, K); break;
    case 3: dispatch<3>(ure, uim, vre, vim, trig, g, ISGN, K); break;
    case 4: dispatch<4>(ure, uim, vre, vim, trig, g, ISGN, K); break;
    case 5: dispatch<5>(ure, uim, vre, vim, trig, g, ISGN, K); break;
    default: dispatch<6>(ure, uim, vre, vim, trig, g, ISGN, K); break;
  }
}

void CFFT9X(std::span<float> XRE, std::span<float> XIM, std::span<float> WORK,
            std::span<const float> TRIG, std::span<const int> LFAC, int INC, int JUMP,
            int N, int NTR, int ISGN) {
  const int NF = LFAC[0];
  const int N2 = 2 * N;
  std::span<float> wre = WORK;
  std::span<float> wim = WORK.subspan(static_cast<std::size_t>(N));
  // The passes alternate data -> WORK -> data, so after an even number of
  // them the result stands in the data. With an odd count NF, the NF - 1
  // passes before the last are an even number: the last pass reads the data,
  // and it has a single block (LPROD times its radix is the product of all
  // the factors, which FACTOR makes N), so it runs in place there. Either
  // way the result ends in the data and nothing is copied back.
  bool in_work = false;
  int LPROD = 1;
  for (int i = 1; i <= NF; ++i) {
    const int f = LFAC[static_cast<std::size_t>(i)];
    if (i == NF && !in_work) {
      check_radix(f);
      float* xr = XRE.data();
      float* xi = XIM.data();
      const Rotations& K = rotations();
      // N / f is LPROD for a factor list of N; formed from N, the pass stays
      // inside the N elements of each transform whatever the list.
      const Index l = N / f;
      switch (f) {
        case 2: last_in_place<2>(xr, xi, l, INC, JUMP, NTR, ISGN, K); break;
        case 3: last_in_place<3>(xr, xi, l, INC, JUMP, NTR, ISGN, K); break;
        case 4: last_in_place<4>(xr, xi, l, INC, JUMP, NTR, ISGN, K); break;
        case 5: last_in_place<5>(xr, xi, l, INC, JUMP, NTR, ISGN, K); break;
        default: last_in_place<6>(xr, xi, l, INC, JUMP, NTR, ISGN, K); break;
      }
      return;
    }
    if (!in_work) {
      VPASS(XRE, XIM, wre, wim, TRIG, f, LPROD, N, INC, 1, JUMP, N2, NTR, ISGN);
    } else {
      VPASS(wre, wim, XRE, XIM, TRIG, f, LPROD, N, 1, INC, N2, JUMP, NTR, ISGN);
    }
    in_work = !in_work;
    LPROD *= f;
  }
}

}  // namespace velmar::console

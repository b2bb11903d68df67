// eql_acceleration.hpp: the accelerated fixed-point update of the
// equivalent-linear iteration.
//
// The iteration is a fixed-point problem x = F(x) on the log peak strains x
// of the (sub)layers: F reads the properties at ratio e^x, runs a pass and
// returns the log of its peaks. Where the curves soften quickly the plain
// update x <- F(x) contracts slowly (a contraction factor near 1), needs many
// passes and, stopped on the change alone, lands far from the fixed point.
// Anderson mixing (type II, Walker and Ni 2011) takes the last few
// residuals f_i = F(x_i) - x_i, finds the combination of their differences
// that best cancels the newest one (least squares), and moves to the same
// combination of the F values.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace velmar::detail {

class AndersonMixing {
 public:
  // depth: the differences kept (at least 1).
  explicit AndersonMixing(std::size_t depth = 3) : depth_(depth) {}

  // Forgets the history (after the unknowns changed in number, or a step
  // that made the residual grow).
  void reset() { count_ = 0; }

  // Given x (the point of the last pass) and g = F(x), writes the next point
  // to `next`; weight[j] = 0 leaves unknown j out of the least squares (a
  // layer without a curve, whose strain changes no property). Each step is
  // kept within a factor e^max_step of g (an extrapolation is a guess; the
  // next pass judges it). Sized on first use; a call on the same size
  // allocates nothing.
  void step(std::span<const double> x, std::span<const double> g, std::span<const double> weight,
            std::span<double> next, double max_step = 1.0);

 private:
  std::size_t depth_;
  std::size_t size_ = 0, count_ = 0, newest_ = 0;
  // Ring of the last depth_ + 1 residuals and F values (row r * size_ + j).
  std::vector<double> f_, g_;
  double last_norm_ = 0.0;
};

}  // namespace velmar::detail

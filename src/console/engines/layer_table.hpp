// layer_table.hpp: the layered model shared by the response routines.
//
// Glossary (units are whatever consistent units the deck uses):
//   NLAYER  number of layers above the half-space, 0..49
//   IQF     damping law: 2 = quality factor proportional to frequency,
//           any other value = constant quality factor
//   THICK   layer thickness (the half-space entry has no thickness meaning)
//   RHO     mass density
//   VSC     shear-wave velocity, stored as (VS, 0)
//   QS      shear quality factor
//   VPC     compressional-wave velocity, stored as (VP, 0)
//   QP      compressional quality factor
//
// Indexing: table entry k (1 = top layer, NLAYER+1 = half-space) is array
// element k-1. The same holds for the response arrays: USH[0] is the free
// surface, USH[k-1] the top of layer k, USH[NLAYER] the top of the half-space.
#pragma once

#include <array>
#include <complex>

namespace velmar::console {

constexpr int MAX_ENTRIES = 50;  // layer-table entries, so at most 49 layers

using cfloat = std::complex<float>;
using cdouble = std::complex<double>;

struct LayerTable {
  int NLAYER = 0;
  int IQF = 0;
  std::array<float, MAX_ENTRIES> THICK{};
  std::array<float, MAX_ENTRIES> RHO{};
  std::array<cfloat, MAX_ENTRIES> VSC{};
  std::array<float, MAX_ENTRIES> QS{};
  std::array<cfloat, MAX_ENTRIES> VPC{};
  std::array<float, MAX_ENTRIES> QP{};
};

// Response at every interface: element 0 is the free surface.
using ResponseArray = std::array<cfloat, MAX_ENTRIES>;

}  // namespace velmar::console

// rvt_tables.hpp: the Boore-Thompson (2012, 2015) rms-duration coefficient
// tables, generated into rvt_tables.cpp from data/rvt/.
#pragma once

#include <span>

namespace velmar::detail {

// c1..c7 on a grid of magnitudes (rising) x distances (km, rising);
// coefs[i * dists.size() + j] belongs to mags[i], dists[j].
struct BooreThompsonTable {
  std::span<const double> mags;
  std::span<const double> dists;
  std::span<const double[7]> coefs;
};

extern const BooreThompsonTable wna_bt12_table;
extern const BooreThompsonTable wna_bt15_table;
extern const BooreThompsonTable cena_bt12_table;
extern const BooreThompsonTable cena_bt15_table;

}  // namespace velmar::detail

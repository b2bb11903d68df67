// published_curves.cpp: the catalogue of published modulus-reduction and
// damping tables, strain and damping as ratios.
//
// The values are those of the publications named in each entry, as
// reproduced in the curve catalogue of the open program pystrata. Where a
// publication gives G/Gmax and damping on different strain grids they share
// one grid here. The Seed and Idriss (1970) "upper" entry pairs the upper
// range of G/Gmax with the lower range of damping (the stiffer, less
// dissipative bound of the sands they gathered).
//
// The Idriss (1990) tables end at 1 % strain, the last strain with a
// published value: catalogues that repeat the 1 % values at 3.16 % and 10 %
// add rows the paper does not give, and would hide from the analysis that
// a layer went beyond the curve. Past 1 % the end values are still used,
// and the analysis warns. The sand entry carries the same damping values as
// the clay entry: the curve catalogues of pystrata and Strata both pair the
// Idriss (1990) sand G/Gmax with that one damping curve, and no distinct
// sand damping curve of the paper could be read to replace it.
#include <string>
#include <vector>

#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"

namespace velmar {
namespace {

constexpr const char* SRC_VUCETIC =
    "Vucetic, M. and Dobry, R. (1991). Effect of soil plasticity on cyclic response. J. Geotech. Eng. 117(1): 89-107";
constexpr const char* SRC_SEED =
    "Seed, H. B. and Idriss, I. M. (1970). Soil moduli and damping factors for dynamic response analyses. "
    "Report EERC 70-10, University of California, Berkeley";
constexpr const char* SRC_IDRISS =
    "Idriss, I. M. (1990). Response of soft soil sites during earthquakes. Proc. H. Bolton Seed Memorial "
    "Symposium, vol. 2: 273-289";
constexpr const char* SRC_EPRI =
    "EPRI (1993). Guidelines for determining design basis ground motions. Report TR-102293, Electric Power "
    "Research Institute, Palo Alto";

struct Entry {
  const char* name;
  const char* title;
  const char* source;
  CurveTable table;
};

const std::vector<Entry>& entries() {
  static const std::vector<Entry> all = {
      {"vucetic_dobry_1991_pi0", "Vucetic and Dobry (1991), PI 0 %",
       SRC_VUCETIC,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 0.96, 0.88, 0.7, 0.47, 0.26, 0.11, 0.03},
        {0.01, 0.01, 0.01, 0.03, 0.054, 0.098, 0.15, 0.203, 0.24}}},
      {"vucetic_dobry_1991_pi15", "Vucetic and Dobry (1991), PI 15 %",
       SRC_VUCETIC,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 0.99, 0.94, 0.81, 0.64, 0.41, 0.22, 0.1},
        {0.01, 0.01, 0.01, 0.026, 0.045, 0.075, 0.116, 0.16, 0.2}}},
      {"vucetic_dobry_1991_pi30", "Vucetic and Dobry (1991), PI 30 %",
       SRC_VUCETIC,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 1.0, 0.98, 0.9, 0.75, 0.53, 0.35, 0.17},
        {0.01, 0.01, 0.01, 0.021, 0.038, 0.059, 0.088, 0.125, 0.169}}},
      {"vucetic_dobry_1991_pi50", "Vucetic and Dobry (1991), PI 50 %",
       SRC_VUCETIC,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 1.0, 1.0, 0.95, 0.84, 0.67, 0.47, 0.25},
        {0.01, 0.01, 0.01, 0.018, 0.029, 0.043, 0.062, 0.095, 0.135}}},
      {"vucetic_dobry_1991_pi100", "Vucetic and Dobry (1991), PI 100 %",
       SRC_VUCETIC,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 1.0, 1.0, 0.98, 0.92, 0.81, 0.63, 0.37},
        {0.01, 0.01, 0.01, 0.015, 0.02, 0.029, 0.041, 0.065, 0.098}}},
      {"vucetic_dobry_1991_pi200", "Vucetic and Dobry (1991), PI 200 %",
       SRC_VUCETIC,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 1.0, 1.0, 1.0, 0.96, 0.89, 0.75, 0.53},
        {0.01, 0.01, 0.01, 0.013, 0.016, 0.021, 0.03, 0.048, 0.081}}},
      {"seed_idriss_1970_sand_mean", "Seed and Idriss (1970), sand, mean",
       SRC_SEED,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 0.99, 0.96, 0.88, 0.74, 0.52, 0.29, 0.15, 0.06},
        {0.0057, 0.0086, 0.017, 0.031, 0.055, 0.095, 0.155, 0.211, 0.246}}},
      {"seed_idriss_1970_sand_upper", "Seed and Idriss (1970), sand, upper G/Gmax, lower damping",
       SRC_SEED,
       {{1e-06, 3.16e-06, 1e-05, 3.16e-05, 0.0001, 0.000316, 0.001, 0.00316, 0.01},
        {1.0, 1.0, 0.99, 0.94, 0.84, 0.65, 0.36, 0.19, 0.08},
        {0.005, 0.006, 0.008, 0.014, 0.028, 0.053, 0.1, 0.158, 0.215}}},
      {"idriss_1990_clay", "Idriss (1990), clay",
       SRC_IDRISS,
       {{1e-06, 3.162e-06, 1e-05, 3.162e-05, 0.0001, 0.0003162, 0.001, 0.003162, 0.01},
        {1.0, 1.0, 1.0, 0.979, 0.941, 0.839, 0.656, 0.429, 0.238},
        {0.0024, 0.0044, 0.008, 0.0146, 0.028, 0.0531, 0.098, 0.1574, 0.21}}},
      {"idriss_1990_sand", "Idriss (1990), sand",
       SRC_IDRISS,
       {{1e-06, 3.162e-06, 1e-05, 3.162e-05, 0.0001, 0.0003162, 0.001, 0.003162, 0.01},
        {1.0, 1.0, 0.99, 0.955, 0.85, 0.628, 0.37, 0.176, 0.08},
        {0.0024, 0.0044, 0.008, 0.0146, 0.028, 0.0531, 0.098, 0.1574, 0.21}}},
      {"epri_1993_sand_0_20ft", "EPRI (1993), sand, 0-20 ft",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 0.998, 0.986, 0.96, 0.92, 0.851, 0.759, 0.642, 0.515, 0.392, 0.278, 0.189, 0.121, 0.073,
         0.043},
        {0.01429, 0.01476, 0.01536, 0.01602, 0.01879, 0.02193, 0.02819, 0.03724, 0.05066, 0.0694, 0.09346,
         0.12201, 0.15443, 0.18703, 0.21704, 0.24541, 0.27217}}},
      {"epri_1993_sand_20_50ft", "EPRI (1993), sand, 20-50 ft",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 0.999, 0.993, 0.979, 0.952, 0.903, 0.83, 0.733, 0.617, 0.488, 0.366, 0.258, 0.173,
         0.108, 0.066},
        {0.01142, 0.01196, 0.0125, 0.01304, 0.01469, 0.0167, 0.02074, 0.02658, 0.03622, 0.05066, 0.07069,
         0.09569, 0.125, 0.15688, 0.19004, 0.22022, 0.24699}}},
      {"epri_1993_sand_50_120ft", "EPRI (1993), sand, 50-120 ft",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 0.999, 0.998, 0.988, 0.97, 0.934, 0.878, 0.797, 0.691, 0.567, 0.444, 0.328, 0.225,
         0.145, 0.092},
        {0.01, 0.00982, 0.00978, 0.01122, 0.01165, 0.01371, 0.0161, 0.02046, 0.0283, 0.03901, 0.05493, 0.07662,
         0.10381, 0.13383, 0.16643, 0.19766, 0.2258}}},
      {"epri_1993_sand_120_250ft", "EPRI (1993), sand, 120-250 ft",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 0.999, 0.999, 0.994, 0.979, 0.954, 0.909, 0.84, 0.747, 0.631, 0.507, 0.384, 0.274,
         0.182, 0.118},
        {0.00857, 0.00839, 0.00821, 0.0088, 0.01006, 0.01125, 0.01341, 0.01629, 0.02198, 0.03131, 0.0446,
         0.06281, 0.08686, 0.11573, 0.1477, 0.17879, 0.20906}}},
      {"epri_1993_sand_250_500ft", "EPRI (1993), sand, 250-500 ft",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 0.999, 0.999, 0.999, 0.986, 0.968, 0.934, 0.879, 0.799, 0.696, 0.575, 0.449, 0.332,
         0.23, 0.148},
        {0.00786, 0.00792, 0.00799, 0.00811, 0.00867, 0.0095, 0.01081, 0.01344, 0.01774, 0.02515, 0.0352,
         0.05077, 0.07206, 0.09853, 0.12839, 0.15972, 0.19072}}},
      {"epri_1993_sand_500_1000ft", "EPRI (1993), sand, 500-1000 ft",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.995, 0.982, 0.96, 0.915, 0.85, 0.765, 0.66, 0.532, 0.41, 0.297, 0.2},
        {0.00492, 0.00554, 0.00607, 0.00589, 0.00643, 0.00696, 0.00772, 0.00983, 0.01234, 0.01735, 0.02562,
         0.03696, 0.05408, 0.07617, 0.10428, 0.13524, 0.16459}}},
      {"epri_1993_pi10", "EPRI (1993), cohesive soil, PI 10 %",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 0.998, 0.993, 0.977, 0.951, 0.905, 0.839, 0.746, 0.626, 0.495, 0.364, 0.244, 0.158, 0.092,
         0.052, 0.032},
        {0.01, 0.00991, 0.01054, 0.01122, 0.01337, 0.01639, 0.0204, 0.0289, 0.03981, 0.05585, 0.07733, 0.10388,
         0.13339, 0.16412, 0.19099, 0.20336, 0.19936}}},
      {"epri_1993_pi30", "EPRI (1993), cohesive soil, PI 30 %",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 1.0, 0.997, 0.99, 0.968, 0.931, 0.872, 0.784, 0.671, 0.543, 0.409, 0.288, 0.188, 0.117,
         0.074},
        {0.01428, 0.0142, 0.01423, 0.01513, 0.016, 0.01743, 0.02026, 0.0248, 0.03095, 0.04113, 0.05643, 0.07744,
         0.10295, 0.13199, 0.16085, 0.18394, 0.18956}}},
      {"epri_1993_pi50", "EPRI (1993), cohesive soil, PI 50 %",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.996, 0.981, 0.951, 0.897, 0.821, 0.714, 0.585, 0.451, 0.33, 0.224,
         0.153},
        {0.01928, 0.0192, 0.01911, 0.01973, 0.01965, 0.02037, 0.02142, 0.02348, 0.02773, 0.03346, 0.0433,
         0.05778, 0.07759, 0.10214, 0.12931, 0.15617, 0.17429}}},
      {"epri_1993_pi70", "EPRI (1993), cohesive soil, PI 70 %",
       SRC_EPRI,
       {{1e-06, 1.778e-06, 3.162e-06, 5.623e-06, 1e-05, 1.778e-05, 3.162e-05, 5.623e-05, 0.0001, 0.0001778,
        0.0003162, 0.0005623, 0.001, 0.001778, 0.003162, 0.005623, 0.01},
        {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.996, 0.976, 0.937, 0.877, 0.785, 0.671, 0.536, 0.408, 0.299},
        {0.025, 0.02491, 0.02411, 0.02402, 0.02393, 0.02411, 0.02446, 0.02545, 0.02662, 0.02937, 0.03365,
         0.04119, 0.05279, 0.06966, 0.09111, 0.11421, 0.13704}}},
  };
  return all;
}

}  // namespace

const std::vector<PublishedCurveInfo>& published_curves() {
  static const std::vector<PublishedCurveInfo> list = [] {
    std::vector<PublishedCurveInfo> out;
    for (const Entry& e : entries()) out.push_back({e.name, e.title, e.source});
    return out;
  }();
  return list;
}

const CurveTable& published_curve_table(const std::string& name) {
  for (const Entry& e : entries()) {
    if (name == e.name) return e.table;
  }
  std::string known;
  for (const Entry& e : entries()) known += (known.empty() ? "" : ", ") + std::string(e.name);
  throw InvalidArgument("published curve: no curve named '" + name + "' (the catalogue holds " + known + ")");
}

}  // namespace velmar

// equivalent_linear.hpp: strain-compatible (equivalent-linear) site response
// of an SH wave: modulus-reduction and damping curves, and the iteration.
//
// Units: strain as a plain ratio (the curve models' percent is converted at
// their edge), stresses in kPa, density in t/m3 (unit weight = 9.81 x
// density kN/m3), depths in m.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "velmar/interrupt.hpp"
#include "velmar/motion.hpp"

namespace velmar {

// Darendeli (2001): plasticity index PI (%), over-consolidation ratio, K0,
// loading frequency (Hz) and number of cycles. Accepted: PI 0 to 200 %,
// OCR 1 to 50, K0 above 0 and at most 5, frequency 0.0326 to 100 Hz, cycles
// 1 to 1000. These hold the soils and tests the model was fitted to (clean
// sands and clays of PI up to about 130 %, OCR up to about 8, a few to tens
// of cycles at laboratory frequencies) with room to spare, and stop where
// its formulas leave sense: below 0.03252 Hz its small-strain damping is
// negative, and its cycle term shrinks with ln(cycles) until the damping
// turns negative.
//
// damping_min, when given, replaces the model's small-strain damping (a
// ratio in [0, 0.5)): the curve's damping is then b (G/Gmax)^0.1 D_M +
// damping_min, as when a site's measured small-strain damping is preferred
// to the model's.
struct Darendeli {
  double pi = 0.0, ocr = 1.0, k0 = 0.5, frequency = 1.0, cycles = 10.0;
  std::optional<double> damping_min;
  // Darendeli{pi, ocr, k0, frequency, cycles} with any trailing ones left
  // at their defaults.
  Darendeli(double pi_ = 0.0, double ocr_ = 1.0, double k0_ = 0.5, double frequency_ = 1.0,
            double cycles_ = 10.0, std::optional<double> damping_min_ = std::nullopt)
      : pi(pi_), ocr(ocr_), k0(k0_), frequency(frequency_), cycles(cycles_), damping_min(damping_min_) {}
};
// Menq (2003): uniformity coefficient Cu, mean grain size D50 (mm), K0,
// cycles. Accepted: Cu 1 to 100 (Cu = D60/D10 is 1 or more by definition),
// D50 0.05 to 100 mm (fine sand to coarse gravel), K0 above 0 and at most 5,
// cycles 1 to 1000. The model was fitted to sands and sandy gravels; its
// small-strain damping grows without bound as D50 goes to 0. damping_min as
// for Darendeli.
struct Menq {
  double cu = 10.0, d50 = 5.0, k0 = 0.5, cycles = 10.0;
  std::optional<double> damping_min;
  // Menq{cu, d50, k0, cycles} with any trailing ones left at their defaults.
  Menq(double cu_ = 10.0, double d50_ = 5.0, double k0_ = 0.5, double cycles_ = 10.0,
       std::optional<double> damping_min_ = std::nullopt)
      : cu(cu_), d50(d50_), k0(k0_), cycles(cycles_), damping_min(damping_min_) {}
};
// A user table: strain (ratio, rising, > 0), G/Gmax in (0, 1] and not rising
// with strain, damping ratio in [0, 1); interpolated linearly in log-strain,
// clamped outside.
struct CurveTable {
  std::vector<double> strain, g_ratio, damping;
};
// No curve: the layer keeps its modulus and the profile's own damping.
struct LinearLayer {};

// A published table of G/Gmax and damping, by its name in the catalogue
// (published_curves() lists the names, titles and sources): interpolated in
// log-strain and clamped outside exactly as a CurveTable.
struct PublishedCurve {
  std::string name;
};

// Geologic age of Zhang, Andrus and Juang's soil groups: Quaternary,
// Tertiary and older, residual/saprolite.
enum class GeologicAge { QUATERNARY, TERTIARY, RESIDUAL };
// "quaternary", "tertiary", "residual" (InvalidArgument naming `option`
// and the accepted names otherwise), and back.
GeologicAge geologic_age_from_name(const std::string& name, const std::string& option = "age");
std::string geologic_age_name(GeologicAge age);

// Zhang, Andrus and Juang (2005): closed form by geologic age, plasticity
// index PI (%) and mean effective stress. Modified hyperbola with
// gr = gr1 (sm/pa)^k percent, curvature a; D = Dmin + 10.6 G^2 - 31.6 G
// + 21.0 percent (G = G/Gmax), Dmin = (0.008 PI + 0.82) (sm/pa)^(-k/2).
// Accepted: PI 0 to 200 %, K0 above 0 and at most 5.
struct ZhangAndrusJuang {
  GeologicAge age = GeologicAge::QUATERNARY;
  double pi = 0.0, k0 = 0.5;
};
// Kishida et al. (2009), organic soils (peat): closed form in the vertical
// effective stress (the layer's mean stress x 3 / (1 + 2 K0)) and the
// organic content OC (%), for field conditions (laboratory consolidation
// ratio 1). Accepted: OC 0 to 100 %, K0 above 0 and at most 5.
struct Kishida {
  double organic_content = 10.0, k0 = 0.5;
};
// Rollins et al. (2020), gravels: modified hyperbola with a = 0.84,
// gr = 0.0046 Cu^-0.197 sm^0.52 percent (sm in kPa), or 0.0039 sm^0.42 when
// Cu is unknown (cu = 0); Masing damping scaled by 0.53 - 0.0057 ln(cycles)
// plus a minimum damping of 1 %. Accepted: cu 0 (unknown) or 1 to 100, K0
// above 0 and at most 5, cycles 1 to 1000.
struct Rollins {
  double cu = 0.0, k0 = 0.5, cycles = 10.0;
};

using Curve =
    std::variant<LinearLayer, Darendeli, Menq, CurveTable, PublishedCurve, ZhangAndrusJuang, Kishida, Rollins>;

// The catalogue of published table curves: name (the PublishedCurve key),
// title (authors, year, soil) and source (the publication).
struct PublishedCurveInfo {
  std::string name, title, source;
};
const std::vector<PublishedCurveInfo>& published_curves();
// The table of the published curve `name`; InvalidArgument naming the
// known names for any other.
const CurveTable& published_curve_table(const std::string& name);

// G/Gmax and damping ratio of `curve` at `strain` (ratio) under mean
// effective stress `mean_stress` (kPa). For a CurveTable, `clamped` is set
// when the strain lies outside the table.
struct CurvePoint {
  double g_ratio = 1.0;
  double damping = 0.0;
  bool clamped = false;
};
CurvePoint evaluate_curve(const Curve& curve, double strain, double mean_stress);

// Unit weight of water, kN/m3; a soil's unit weight is its density (t/m3)
// times the same 9.81; the reference pressure of the models, kPa.
constexpr double WATER_UNIT_WEIGHT = 9.81;
constexpr double UNIT_WEIGHT_PER_DENSITY = 9.81;
constexpr double ATMOSPHERIC_PRESSURE = 101.325;

// Refuses a curve that cannot be used: a table with columns of different
// lengths, no row, a strain not above 0 or not rising, G/Gmax outside (0, 1]
// or rising with strain, a damping ratio outside [0, 1); a model parameter
// outside the ranges given with each model, an unknown published curve, or
// a value not finite. Throws
// InvalidArgument naming the model and the parameter ("Darendeli: pi ...").
void check_curve(const Curve& curve);
// The same for the curve of layer `layer` (0-based): the message starts
// "curves[layer] (layer layer, Darendeli): ".
void check_curve(const Curve& curve, std::size_t layer);
// The model's name: "Darendeli", "Menq", "curve table", "linear", the
// title of a published curve, "Zhang, Andrus and Juang", "Kishida" or
// "Rollins".
std::string curve_name(const Curve& curve);

// K0 of a model curve; 0.5 for a table (user or published) or a linear
// layer (their mean stress is reported only).
double curve_k0(const Curve& curve);

// Vertical effective stress at depth z (m) of `profile`: the unit weights
// (9.81 x density) of the soil above z, less the water pressure 9.81 x
// (z - water_table) below the water table (none = dry). kPa. Does not check
// its arguments; can be <= 0 for soil lighter than water.
double vertical_effective_stress(const Profile& profile, double z, std::optional<double> water_table);

// Mean effective stress sigma'_v (1 + 2 K0) / 3, kPa.
inline double mean_effective_stress(double vertical, double k0) { return vertical * (1.0 + 2.0 * k0) / 3.0; }

// The analysis stopped: strains ran away (beyond the strain limit in two
// successive passes) or became non-finite.
class AnalysisError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sublayers an analysis may hold in all, and the largest number of
// (sub)layer x frequency values of its strain spectra (each value takes 16
// bytes, 48 where the general engine serves): sublayering that asks for
// more, or a long record over many sublayers, is refused before any work.
constexpr double MAX_SUBLAYERS = 20000;

// The default strain limit (5 %, where the field stops trusting the method)
// and the effective strain above which a result warns that the layer is
// beyond what an equivalent-linear analysis represents (1 %: the soil's
// hysteresis and permanent strain dominate; a nonlinear analysis in the time
// domain is the tool there).
constexpr double DEFAULT_STRAIN_LIMIT = 0.05;
constexpr double EFFECTIVE_STRAIN_WARNING = 0.01;
constexpr double MAX_STRAIN_SPECTRUM_VALUES = 6.4e7;

// How one pass's strains lead to the next pass's properties.
//   PLAIN        the properties read at the strains of the last pass, the
//                first pass on the low-strain profile
//   ACCELERATED  the first pass on properties read at the strain estimate
//                PGV / Vs; then an Anderson-type update of the log peak
//                strains from the last three passes (see equivalent_linear)
enum class EqlIteration { PLAIN, ACCELERATED };

// The frequency-dependent variants (after a classic run, see
// equivalent_linear): the strain at frequency f of a layer's strain Fourier
// spectrum S(f) is
//   KA02  Kausel and Assimaki (2002): gamma_eff min(1, e^(-a x) / x^b),
//         x = f / fbar, fbar = int f S / int S, a and b fitted by least
//         squares to ln(S / Sbar) above fbar, Sbar = int_0^fbar S df / fbar
//   ZR15  Zalachoris and Rathje (2015): gamma_eff S(f) / max S
//   KO    Konno-Ohmachi smoothed S (bandwidth ko_bandwidth), divided by its
//         largest value, times gamma_eff, then made non-increasing with
//         frequency (the running maximum from the highest frequency down)
enum class FrequencyDependent { NONE, KA02, ZR15, KO };

// Parses "plain"/"accelerated" and "none"/"ka02"/"zr15"/"ko"
// (case-insensitive); throws InvalidArgument naming `what` and the value.
EqlIteration eql_iteration_from_name(std::string_view name, std::string_view what = "iteration");
std::string eql_iteration_name(EqlIteration it);
FrequencyDependent frequency_dependent_from_name(std::string_view name,
                                                 std::string_view what = "frequency_dependent");
std::string frequency_dependent_name(FrequencyDependent fd);

struct EquivalentLinearOptions {
  std::vector<Curve> curves;                   // one per layer (not the half-space)
  std::optional<double> water_table;           // depth, m, >= 0; none = dry
  std::optional<double> strain_ratio;          // effective / peak strain, (0, 1]; none: 0.65
  std::optional<double> magnitude;             // (1, 11]: strain ratio (M - 1) / 10; not with strain_ratio
  double tolerance = 0.01;                     // largest relative change of G and D, > 0
  int max_iterations = 40;                     // >= 1 (each stage of a frequency-dependent analysis)
  double strain_limit = DEFAULT_STRAIN_LIMIT;  // ratio, > 0: beyond it twice, the analysis stops
  // The complex-modulus law of the iteration: Dormieux's by default, as the
  // field's other equivalent-linear programs use (the linear calls keep
  // VELMAR's V/(1 + i xi), the deck's law).
  DampingLaw law = DampingLaw::DORMIEUX;
  // Small-strain damping of every layer with a curve: when given, each
  // curve's damping is shifted so that its value at zero strain is this
  // ratio ([0, 0.5)); with damping_min_from_profile, the layer's damping in
  // the profile instead (not both). Layers without a curve keep the
  // profile's damping either way.
  std::optional<double> damping_min;
  bool damping_min_from_profile = false;
  InputMotion input = InputMotion::OUTCROP;
  double input_depth = 0.0;                    // m, >= 0; other than 0 only for a WITHIN input
  double angle = 0.0;                          // SH incidence, degrees, |angle| < 90
  double scale = 1.0;
  std::optional<double> max_frequency;         // Hz, > 0; sublayering: off when empty
  double wavelength_fraction = 0.2;            // (0, 1]
  EqlIteration iteration = EqlIteration::ACCELERATED;
  FrequencyDependent frequency_dependent = FrequencyDependent::NONE;
  double ko_bandwidth = 30.0;                  // Konno-Ohmachi b, finite, [1, 1000]; KO only
  // Polled between passes (on the calling thread); see interrupt.hpp.
  InterruptCheck interrupt;
};

// The strain ratio in use: strain_ratio, (M - 1) / 10 with a magnitude, or
// 0.65.
double effective_strain_ratio(const EquivalentLinearOptions& options);

// Refuses options that are not finite or lie outside the ranges given
// above (the curves apart: equivalent_linear checks them against the
// profile), a magnitude together with a strain ratio, and an input depth
// other than 0 for an input that is not WITHIN. Throws InvalidArgument
// naming the option and its value. equivalent_linear and run_batch call it
// before any work.
void check_equivalent_linear_options(const EquivalentLinearOptions& options);

struct EquivalentLinearResult {
  bool converged = false;
  int iterations = 0;
  std::vector<double> max_strain;    // per layer of the given profile, ratio
  std::vector<double> g_ratio;       // per layer
  std::vector<double> damping;       // per layer, ratio
  std::vector<double> mean_stress;   // per layer at mid-depth, kPa
  std::vector<double> change;        // largest relative change per iteration
  std::vector<double> strain_history;  // peak strain of every pass: element k * layers + i
  std::vector<std::size_t> sublayers;  // sublayers of each given layer (1 without sublayering)
  std::vector<std::string> warnings;
  Profile profile;                   // the strain-compatible profile (VP per the water table)
  DampingLaw law = DampingLaw::VELMAR;
  // Frequency-dependent analyses only (empty otherwise). Rows are the layers
  // of `profile` (the sublayers with sublayering), columns the frequencies
  // of the analysis' transform (k / (L dt), k = 0 .. L/2, L the padded
  // length): element row * frequencies.size() + k. g_ratio_f and damping_f
  // are exactly the G/Gmax and damping the last pass used; strain_f the
  // strain spectrum they were read at (ratio); vs_low the low-strain Vs of
  // every row (so Gmax = density vs_low^2). classic_iterations: the passes
  // of the classic run that started the analysis (included in iterations).
  std::vector<double> frequencies, g_ratio_f, damping_f, strain_f, vs_low;
  int classic_iterations = 0;
};

// Runs the iteration (no allocation per frequency inside it). Each pass
// takes the shear strain history at the middle of every (sub)layer from the
// strain transfer function and the record's spectrum (padded as propagate
// pads it), its peak, the effective strain strain_ratio x peak, and new G/Gmax
// and damping from the layer's curve at its mean effective stress. It stops
// when the largest relative change of G and of D over the layers is below the
// tolerance (converged) or after max_iterations passes (converged false and a
// warning). The reported G/Gmax and damping are those read at the last pass's
// strains; they are the ones of `profile`. With sublayering, layers are cut
// into equal sublayers no thicker than wavelength_fraction x Vs / max_frequency
// with the current Vs (checked again after every pass); a given layer then
// reports its largest peak strain and its thickness-weighted G/Gmax and
// damping, and `profile` holds the sublayers.
// Iteration ACCELERATED (the default): the first pass runs on properties
// read at the effective strain PGV / Vs (the record's peak velocity times
// scale over each layer's low-strain Vs); after each pass the next point is
// the Anderson mixing of the log peak strains of the last three passes
// (each step within a factor e of the pass's strains; a residual grown
// tenfold restarts the mixing, ten passes without a smaller change hand
// over to plain passes), and the iteration stops when the change is below a
// quarter of the tolerance: on slowly contracting cases the strains then lie
// within about three tolerances of the fixed point, where PLAIN (from the
// low-strain profile, stopped at the tolerance) can stop ten tolerances
// away. The change is still the largest relative change of G and D between
// the properties a pass used and those read at its strains.
// With frequency_dependent other than NONE, the classic iteration above is
// followed by frequency-dependent passes (same strain ratio, same
// max_iterations and tolerance, the sublayers kept): G/Gmax and damping are
// read per (sub)layer and frequency at the variant's strain spectrum (see
// FrequencyDependent) through a table of the curve at 64 strains a decade
// (linear in log strain; the effective strain itself reads the curve), each
// frequency with its own complex modulus; the change is the largest over
// layers and frequencies; iterations and change count both stages. The
// result then carries frequencies, g_ratio_f, damping_f, strain_f and
// vs_low (frequency_dependent_motion gives its motions); g_ratio, damping
// and profile hold the values at the effective strains of the last pass.
// Their spectra are limited to MAX_STRAIN_SPECTRUM_VALUES / 4 values.
// Throws InvalidArgument for bad input (a curve is named by its layer and
// model; sublayering beyond MAX_SUBLAYERS or spectra beyond
// MAX_STRAIN_SPECTRUM_VALUES are refused before the first pass),
// AnalysisError when strains exceed the strain limit in two successive
// passes or are not finite (or the sublayers needed after a pass exceed
// MAX_SUBLAYERS), Interrupted when options.interrupt asks to stop.
EquivalentLinearResult equivalent_linear(const Record& record, const Profile& profile,
                                         const EquivalentLinearOptions& options);

// The history of options.quantity at options.depth of a frequency-dependent
// result (its profile's thicknesses, densities and half-space, vs_low,
// g_ratio_f and damping_f, each frequency with its own complex moduli under
// result.law) when record times options.scale is the input motion (input,
// input_depth and the SH angle from options; options.setup.wave must be SH
// and options.setup.law is ignored): the record goes through a RecordFilter
// with that column's transfer function. Record units for acceleration, SI
// otherwise (as propagate). Throws InvalidArgument for a result that is not
// frequency-dependent, a record whose padded transform has other
// frequencies than the result's, or bad options.
std::vector<double> frequency_dependent_motion(const Record& record, const EquivalentLinearResult& result,
                                               const PropagateOptions& options);

}  // namespace velmar

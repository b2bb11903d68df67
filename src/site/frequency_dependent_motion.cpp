// frequency_dependent_motion.cpp: the names of the equivalent-linear
// iteration's and frequency-dependent variants' options, and the motion at a
// depth of a frequency-dependent result (the record filtered through its
// column, each frequency with its own properties).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

#include "site/frequency_dependent.hpp"
#include "site/text.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

EqlIteration eql_iteration_from_name(std::string_view name, std::string_view what) {
  const std::string n = lowered(name);
  if (n == "plain") return EqlIteration::PLAIN;
  if (n == "accelerated") return EqlIteration::ACCELERATED;
  throw InvalidArgument(std::string(what) + " must be 'plain' or 'accelerated', got '" + std::string(name) + "'");
}

std::string eql_iteration_name(EqlIteration it) { return it == EqlIteration::PLAIN ? "plain" : "accelerated"; }

FrequencyDependent frequency_dependent_from_name(std::string_view name, std::string_view what) {
  const std::string n = lowered(name);
  if (n == "none") return FrequencyDependent::NONE;
  if (n == "ka02") return FrequencyDependent::KA02;
  if (n == "zr15") return FrequencyDependent::ZR15;
  if (n == "ko") return FrequencyDependent::KO;
  throw InvalidArgument(std::string(what) + " must be one of 'ka02', 'zr15', 'ko' (or none), got '" +
                        std::string(name) + "'");
}

std::string frequency_dependent_name(FrequencyDependent fd) {
  switch (fd) {
    case FrequencyDependent::KA02: return "ka02";
    case FrequencyDependent::ZR15: return "zr15";
    case FrequencyDependent::KO: return "ko";
    case FrequencyDependent::NONE: break;
  }
  return "none";
}

std::vector<double> frequency_dependent_motion(const Record& record, const EquivalentLinearResult& res,
                                               const PropagateOptions& o) {
  using detail::number;
  const Profile& p = res.profile;
  const std::size_t M = p.layers(), nf = res.frequencies.size();
  if (nf == 0 || res.g_ratio_f.size() != M * nf || res.damping_f.size() != M * nf || res.vs_low.size() != M) {
    throw InvalidArgument("the result holds no frequency-dependent properties (an analysis with frequency_dependent "
                          "'ka02', 'zr15' or 'ko' gives them): use propagate with its profile instead");
  }
  if (o.setup.wave != Wave::SH) throw InvalidArgument("a frequency-dependent result gives SH motions only");
  if (!(std::isfinite(o.depth) && o.depth >= 0.0)) {
    throw InvalidArgument("depth must be finite and at least 0 m, got " + number(o.depth));
  }
  if (!(std::isfinite(o.input_depth) && o.input_depth >= 0.0)) {
    throw InvalidArgument("input_depth must be finite and at least 0 m, got " + number(o.input_depth));
  }
  if (!(std::abs(o.setup.angle) < 90.0)) {
    throw InvalidArgument("angle must be strictly between -90 and 90 degrees, got " + number(o.setup.angle));
  }
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  RecordFilter filter(record);
  const std::span<const double> f = filter.frequencies();
  if (f.size() != nf || std::abs(f[1] - res.frequencies[1]) > 1e-9 * f[1]) {
    throw InvalidArgument("the record's transform has " + std::to_string(f.size()) + " frequencies at " +
                          number(f.size() > 1 ? f[1] : 0.0) + " Hz spacing where the result's has " +
                          std::to_string(nf) + " at " + number(nf > 1 ? res.frequencies[1] : 0.0) +
                          " Hz: give the record the analysis ran on");
  }
  std::vector<detail::FdRow> rows(M);
  for (std::size_t j = 0; j < M; ++j) {
    rows[j] = {p.thickness()[j], p.density()[j], res.vs_low[j], 0.0, 0.0, nullptr, j};
  }
  const double vh = p.vs()[M], xh = p.damping_s()[M];
  detail::FdColumn col(std::move(rows), complex_modulus(p.density()[M] * vh * vh, xh, res.law),
                       1.0 / complex_velocity(vh, xh, res.law), res.law, o.setup.angle, nf, f[1] - f[0],
                       FrequencyDependent::NONE, 30.0);
  col.set(res.g_ratio_f, res.damping_f);
  std::vector<cdouble> u(nf), other, h_in;
  const bool strain = o.quantity == Quantity::STRAIN, stress = o.quantity == Quantity::STRESS;
  if (strain || stress) other.resize(nf);
  col.response_at(o.depth, u, strain ? std::span<cdouble>(other) : std::span<cdouble>(),
                  stress ? std::span<cdouble>(other) : std::span<cdouble>());
  if (o.input == InputMotion::WITHIN) {
    h_in.resize(nf);
    col.response_at(o.input_depth, h_in, {}, {});
  }
  const std::vector<cdouble>& h = strain || stress ? other : u;
  const int integrations = o.quantity == Quantity::ACCELERATION ? 0 : o.quantity == Quantity::VELOCITY ? 1 : 2;
  const double factor = o.scale * (o.quantity == Quantity::ACCELERATION ? 1.0 : filter.to_si());
  std::vector<cdouble> Y(nf);
  filter.filtered_spectrum(h, o.input, h_in, integrations, factor, Y);
  std::vector<double> out(filter.samples());
  filter.history(Y, out);
  return out;
}

}  // namespace velmar

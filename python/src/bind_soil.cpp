// bind_soil.cpp: the soil models of nonlinear analysis in velmar._velmar.
//
// SoilModel (the fitted parameters, picklable as a tuple), its fit to a
// curve, and its curves and stress history over numpy arrays. The library
// checks every value; its InvalidArgument becomes ValueError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/errors.hpp"
#include "velmar/soil_model.hpp"

namespace py = pybind11;
using namespace velmar_python;

namespace {

std::string source_name(velmar::StrengthSource s) {
  switch (s) {
    case velmar::StrengthSource::GIVEN: return "given";
    case velmar::StrengthSource::MOHR_COULOMB: return "mohr_coulomb";
    case velmar::StrengthSource::UNDRAINED_RATIO: return "undrained_ratio";
    case velmar::StrengthSource::CURVE_FLOOR: return "curve_floor";
    case velmar::StrengthSource::NONE: break;
  }
  return "none";
}

velmar::StrengthSource source_of(const std::string& s) {
  if (s == "given") return velmar::StrengthSource::GIVEN;
  if (s == "mohr_coulomb") return velmar::StrengthSource::MOHR_COULOMB;
  if (s == "undrained_ratio") return velmar::StrengthSource::UNDRAINED_RATIO;
  if (s == "curve_floor") return velmar::StrengthSource::CURVE_FLOOR;
  if (s == "none") return velmar::StrengthSource::NONE;
  throw velmar::InvalidArgument("strength source \"" + s + "\" is not known");
}

// Every parameter, in a fixed order: the pickled state.
constexpr std::size_t STATE_REALS = 23;
py::tuple state_of(const velmar::SoilModel& m) {
  return py::make_tuple(
      velmar::soil_model_kind_name(m.kind), velmar::unload_rule_name(m.unload), source_name(m.strength_source),
      std::vector<double>{m.gmax, m.mean_stress, m.gamma_ref, m.pressure_exponent, m.gamma_r, m.beta, m.s,
                          m.tau_max, m.theta1, m.theta2, m.theta3, m.theta4, m.theta5, m.p1, m.p2, m.p3, m.dmin,
                          m.fit_strain_min, m.fit_strain_max, m.g_ratio_error, m.g_ratio_rms, m.damping_error,
                          m.damping_rms});
}

velmar::SoilModel model_of(const py::tuple& t) {
  if (t.size() != 4) throw velmar::InvalidArgument("a SoilModel state holds 4 entries");
  velmar::SoilModel m;
  m.kind = velmar::soil_model_kind_from_name(t[0].cast<std::string>());
  m.unload = velmar::unload_rule_from_name(t[1].cast<std::string>());
  m.strength_source = source_of(t[2].cast<std::string>());
  const auto v = t[3].cast<std::vector<double>>();
  if (v.size() != STATE_REALS) throw velmar::InvalidArgument("a SoilModel state holds 23 numbers");
  double* fields[] = {&m.gmax, &m.mean_stress, &m.gamma_ref, &m.pressure_exponent, &m.gamma_r, &m.beta, &m.s,
                      &m.tau_max, &m.theta1, &m.theta2, &m.theta3, &m.theta4, &m.theta5, &m.p1, &m.p2, &m.p3,
                      &m.dmin, &m.fit_strain_min, &m.fit_strain_max, &m.g_ratio_error, &m.g_ratio_rms,
                      &m.damping_error, &m.damping_rms};
  for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = v[i];
  velmar::check_soil_model(m);
  return m;
}

template <class F>
py::array_t<double> each(const InArray& strain, F&& f) {
  std::vector<double> out(static_cast<std::size_t>(strain.size()));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = f(strain.data()[i]);
  return to_numpy(std::move(out));
}

}  // namespace

// Adds SoilModel, fit_soil_model, estimate_strength and the soil model's
// curves to the module.
void register_soil(py::module_& m) {
  py::class_<velmar::SoilModel>(m, "SoilModel")
      .def_property_readonly("kind", [](const velmar::SoilModel& s) { return velmar::soil_model_kind_name(s.kind); })
      .def_property_readonly("unload", [](const velmar::SoilModel& s) { return velmar::unload_rule_name(s.unload); })
      .def_property_readonly("strength_source", [](const velmar::SoilModel& s) { return source_name(s.strength_source); })
      .def_readonly("gmax", &velmar::SoilModel::gmax)
      .def_readonly("mean_stress", &velmar::SoilModel::mean_stress)
      .def_readonly("gamma_ref", &velmar::SoilModel::gamma_ref)
      .def_readonly("pressure_exponent", &velmar::SoilModel::pressure_exponent)
      .def_readonly("gamma_r", &velmar::SoilModel::gamma_r)
      .def_readonly("beta", &velmar::SoilModel::beta)
      .def_readonly("s", &velmar::SoilModel::s)
      .def_readonly("tau_max", &velmar::SoilModel::tau_max)
      .def_property_readonly("theta", [](const velmar::SoilModel& s) {
        return py::make_tuple(s.theta1, s.theta2, s.theta3, s.theta4, s.theta5);
      })
      .def_readonly("p1", &velmar::SoilModel::p1)
      .def_readonly("p2", &velmar::SoilModel::p2)
      .def_readonly("p3", &velmar::SoilModel::p3)
      .def_readonly("dmin", &velmar::SoilModel::dmin)
      .def_readonly("fit_strain_min", &velmar::SoilModel::fit_strain_min)
      .def_readonly("fit_strain_max", &velmar::SoilModel::fit_strain_max)
      .def_readonly("g_ratio_error", &velmar::SoilModel::g_ratio_error)
      .def_readonly("g_ratio_rms", &velmar::SoilModel::g_ratio_rms)
      .def_readonly("damping_error", &velmar::SoilModel::damping_error)
      .def_readonly("damping_rms", &velmar::SoilModel::damping_rms)
      .def(py::pickle([](const velmar::SoilModel& s) { return state_of(s); },
                      [](const py::tuple& t) { return model_of(t); }));

  m.def(
      "fit_soil_model",
      [](const py::handle& curve, double gmax, double mean_stress, const std::string& model,
         std::optional<double> strength, const std::string& unload) {
        const velmar::Curve c = curve_option(curve, "soil");
        const auto kind = velmar::soil_model_kind_from_name(model);
        const auto rule = velmar::unload_rule_from_name(unload);
        py::gil_scoped_release unlocked;
        return velmar::fit_soil_model(c, gmax, mean_stress, kind, strength, rule);
      },
      py::arg("curve"), py::arg("gmax"), py::arg("mean_stress"), py::arg("model"), py::arg("strength"),
      py::arg("unload"));

  m.def(
      "estimate_strength",
      [](const py::handle& curve, double gmax, double mean_stress) {
        velmar::StrengthSource src = velmar::StrengthSource::NONE;
        const velmar::Curve c = curve_option(curve, "soil");
        velmar::check_curve(c);
        const double v = velmar::estimate_strength(c, gmax, mean_stress, &src);
        return py::make_tuple(v, source_name(src));
      },
      py::arg("curve"), py::arg("gmax"), py::arg("mean_stress"));

  m.def(
      "soil_stress_history",
      [](const velmar::SoilModel& s, const InArray& strain) {
        const std::span<const double> in = span_of(strain);
        std::vector<double> out;
        {
          py::gil_scoped_release unlocked;
          out = velmar::stress_history(s, in);
        }
        return to_numpy(std::move(out));
      },
      py::arg("model"), py::arg("strain"));
  m.def(
      "soil_g_ratio",
      [](const velmar::SoilModel& s, const InArray& strain) {
        return each(strain, [&](double g) { return velmar::model_g_ratio(s, g); });
      },
      py::arg("model"), py::arg("strain"));
  m.def(
      "soil_damping",
      [](const velmar::SoilModel& s, const InArray& strain) {
        return each(strain, [&](double g) { return velmar::model_damping(s, g); });
      },
      py::arg("model"), py::arg("strain"));
  m.def(
      "soil_backbone",
      [](const velmar::SoilModel& s, const InArray& strain) {
        return each(strain, [&](double g) { return velmar::backbone_stress(s, g); });
      },
      py::arg("model"), py::arg("strain"));
}

// bind_eql.cpp: the equivalent-linear analysis in velmar._velmar.
//
// Curves arrive as plain tuples from velmar/_eql.py, already checked there:
//   ("linear",), ("darendeli", pi, ocr, k0, frequency, cycles),
//   ("menq", cu, d50, k0, cycles), ("table", strain, g_ratio, damping).
// The library checks them again; its InvalidArgument becomes ValueError and
// its AnalysisError (a std::runtime_error) RuntimeError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "curve_tuple.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"

namespace py = pybind11;

namespace {

using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::vector<double> to_vector(const py::handle& h) {
  const InArray a = py::cast<InArray>(h);
  return {a.data(), a.data() + a.size()};
}

py::array_t<double> to_array(const std::vector<double>& v) {
  py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

}  // namespace

velmar::Curve curve_from_tuple(const py::tuple& t) {
  const std::string kind = py::cast<std::string>(t[0]);
  if (kind == "linear") return velmar::LinearLayer{};
  if (kind == "darendeli") {
    return velmar::Darendeli{py::cast<double>(t[1]), py::cast<double>(t[2]), py::cast<double>(t[3]),
                             py::cast<double>(t[4]), py::cast<double>(t[5])};
  }
  if (kind == "menq") {
    return velmar::Menq{py::cast<double>(t[1]), py::cast<double>(t[2]), py::cast<double>(t[3]), py::cast<double>(t[4])};
  }
  if (kind == "table") return velmar::CurveTable{to_vector(t[1]), to_vector(t[2]), to_vector(t[3])};
  throw velmar::InvalidArgument("unknown curve kind '" + kind + "'");
}

// Adds equivalent_linear and evaluate_curve to the module.
void register_eql(py::module_& m) {
  m.def(
      "equivalent_linear",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p, const py::list& curves,
         std::optional<double> water_table, double strain_ratio, std::optional<double> magnitude, double tolerance,
         int max_iterations, double strain_limit, const std::string& law, const std::string& input,
         double input_depth, double angle, double scale, std::optional<double> max_frequency,
         double wavelength_fraction) {
        velmar::Record rec;
        rec.accel.assign(accel.data(), accel.data() + accel.size());
        rec.dt = dt;
        rec.units = units;
        velmar::EquivalentLinearOptions o;
        for (const py::handle& c : curves) o.curves.push_back(curve_from_tuple(py::cast<py::tuple>(c)));
        o.water_table = water_table;
        o.strain_ratio = strain_ratio;
        o.magnitude = magnitude;
        o.tolerance = tolerance;
        o.max_iterations = max_iterations;
        o.strain_limit = strain_limit;
        o.law = velmar::damping_law_from_name(law);
        o.input = velmar::input_motion_from_name(input);
        o.input_depth = input_depth;
        o.angle = angle;
        o.scale = scale;
        o.max_frequency = max_frequency;
        o.wavelength_fraction = wavelength_fraction;
        velmar::EquivalentLinearResult r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::equivalent_linear(rec, p, o);
        }
        py::dict d;
        d["converged"] = r.converged;
        d["iterations"] = r.iterations;
        d["max_strain"] = to_array(r.max_strain);
        d["g_ratio"] = to_array(r.g_ratio);
        d["damping"] = to_array(r.damping);
        d["mean_stress"] = to_array(r.mean_stress);
        d["change"] = to_array(r.change);
        d["strain_history"] = to_array(r.strain_history);
        d["sublayers"] = r.sublayers;
        d["warnings"] = r.warnings;
        d["profile"] = py::cast(std::move(r.profile));
        d["law"] = velmar::damping_law_name(r.law);
        return d;
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("curves"),
      py::arg("water_table"), py::arg("strain_ratio"), py::arg("magnitude"), py::arg("tolerance"),
      py::arg("max_iterations"), py::arg("strain_limit"), py::arg("law"), py::arg("input"), py::arg("input_depth"),
      py::arg("angle"), py::arg("scale"), py::arg("max_frequency"), py::arg("wavelength_fraction"));

  m.def(
      "evaluate_curve",
      [](const py::tuple& curve, const InArray& strain, double mean_stress) {
        const velmar::Curve c = curve_from_tuple(curve);
        velmar::check_curve(c, 0);
        std::vector<double> g(static_cast<std::size_t>(strain.size())), d(g.size());
        for (std::size_t i = 0; i < g.size(); ++i) {
          const velmar::CurvePoint pt = velmar::evaluate_curve(c, strain.data()[i], mean_stress);
          g[i] = pt.g_ratio, d[i] = pt.damping;
        }
        return py::make_tuple(to_array(g), to_array(d));
      },
      py::arg("curve"), py::arg("strain"), py::arg("mean_stress"));
}

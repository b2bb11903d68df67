// bind_eql.cpp: the equivalent-linear analysis in velmar._velmar.
//
// Curves arrive as plain tuples from velmar/_eql.py:
//   ("linear",), ("darendeli", pi, ocr, k0, frequency, cycles),
//   ("menq", cu, d50, k0, cycles), ("table", strain, g_ratio, damping).
// The library checks them and every option; its InvalidArgument becomes
// ValueError and its AnalysisError (a std::runtime_error) RuntimeError. The
// analysis polls Python's signal handlers between passes, so Ctrl-C stops
// it with KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "curve_tuple.hpp"
#include "interrupt_check.hpp"
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

// Refuses a curve value outside G/Gmax (0, 1] and damping [0, 1): a model
// read beyond the stresses it holds for.
void check_point(const velmar::Curve& c, const velmar::CurvePoint& pt, double strain, double mean_stress) {
  if (pt.g_ratio > 0.0 && pt.g_ratio <= 1.0 && pt.damping >= 0.0 && pt.damping < 1.0) return;
  const auto text = [](double v) { return py::str(py::float_(v)).cast<std::string>(); };
  throw velmar::InvalidArgument(velmar::curve_name(c) + ": at strain " + text(strain) + " and mean_stress " +
                                text(mean_stress) + " kPa the model gives G/Gmax " + text(pt.g_ratio) + " and damping " +
                                text(pt.damping) + ", outside (0, 1] and [0, 1): it does not hold at this mean stress");
}

}  // namespace

int integer_option(const py::handle& value, const char* name) {
  const auto refuse = [&]() -> int {
    throw velmar::InvalidArgument(std::string(name) + " must be a whole number, got " +
                                  py::repr(value).cast<std::string>());
  };
  const std::string type = py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
  if (PyBool_Check(value.ptr()) || type == "bool_" || type == "bool") return refuse();
  double x = 0.0;
  if (PyIndex_Check(value.ptr())) {
    const auto big = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!big) throw py::error_already_set();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(big.ptr(), &overflow);
    x = overflow > 0 ? HUGE_VAL : overflow < 0 ? -HUGE_VAL : static_cast<double>(v);
  } else if (PyFloat_Check(value.ptr()) || type.rfind("float", 0) == 0) {
    x = value.cast<double>();
    if (!(std::isfinite(x) && x == std::floor(x))) return refuse();
  } else {
    return refuse();
  }
  if (!(x >= static_cast<double>(INT_MIN) && x <= static_cast<double>(INT_MAX))) {
    throw velmar::InvalidArgument(std::string(name) + " must lie within the range of a 32-bit integer, got " +
                                  py::repr(value).cast<std::string>());
  }
  return static_cast<int>(x);
}

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

// Adds equivalent_linear, check_curve and evaluate_curve to the module.
void register_eql(py::module_& m) {
  m.def(
      "equivalent_linear",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p, const py::list& curves,
         std::optional<double> water_table, std::optional<double> strain_ratio, std::optional<double> magnitude,
         double tolerance, const py::object& max_iterations, double strain_limit, const std::string& law,
         const std::string& input,
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
        o.max_iterations = integer_option(max_iterations, "max_iterations");
        o.strain_limit = strain_limit;
        o.law = velmar::damping_law_from_name(law);
        o.input = velmar::input_motion_from_name(input);
        o.input_depth = input_depth;
        o.angle = angle;
        o.scale = scale;
        o.max_frequency = max_frequency;
        o.wavelength_fraction = wavelength_fraction;
        o.interrupt = velmar_python::python_interrupt_check();
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
      "check_curve", [](const py::tuple& curve) { velmar::check_curve(curve_from_tuple(curve)); }, py::arg("curve"));

  m.def(
      "evaluate_curve",
      [](const py::tuple& curve, const InArray& strain, double mean_stress) {
        const velmar::Curve c = curve_from_tuple(curve);
        velmar::check_curve(c);
        std::vector<double> g(static_cast<std::size_t>(strain.size())), d(g.size());
        for (std::size_t i = 0; i < g.size(); ++i) {
          const velmar::CurvePoint pt = velmar::evaluate_curve(c, strain.data()[i], mean_stress);
          if (!std::holds_alternative<velmar::LinearLayer>(c)) check_point(c, pt, strain.data()[i], mean_stress);
          g[i] = pt.g_ratio, d[i] = pt.damping;
        }
        return py::make_tuple(to_array(g), to_array(d));
      },
      py::arg("curve"), py::arg("strain"), py::arg("mean_stress"));
}

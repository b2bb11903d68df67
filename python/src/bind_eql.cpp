// bind_eql.cpp: the equivalent-linear analysis in velmar._velmar.
//
// The analysis takes a record (samples, step, units), a profile and an
// EquivalentLinearOptions (bind_options.cpp). The library checks the record,
// every option and every curve before the first pass; its InvalidArgument
// becomes ValueError and its AnalysisError (a std::runtime_error)
// RuntimeError. The analysis polls Python's signal handlers between passes,
// so Ctrl-C stops it with KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "interrupt_check.hpp"
#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"

namespace py = pybind11;
using namespace velmar_python;

namespace {

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

// Adds equivalent_linear, check_curve and evaluate_curve to the module.
void register_eql(py::module_& m) {
  m.def(
      "equivalent_linear",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p,
         velmar::EquivalentLinearOptions o) {
        velmar::Record rec;
        rec.accel = vector_of(accel);
        rec.dt = dt;
        rec.units = units;
        o.interrupt = python_interrupt_check();
        velmar::EquivalentLinearResult r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::equivalent_linear(rec, p, o);
        }
        py::dict d;
        d["converged"] = r.converged;
        d["iterations"] = r.iterations;
        d["max_strain"] = to_numpy(std::move(r.max_strain));
        d["g_ratio"] = to_numpy(std::move(r.g_ratio));
        d["damping"] = to_numpy(std::move(r.damping));
        d["mean_stress"] = to_numpy(std::move(r.mean_stress));
        d["change"] = to_numpy(std::move(r.change));
        d["strain_history"] = to_numpy(std::move(r.strain_history));
        d["sublayers"] = r.sublayers;
        d["warnings"] = r.warnings;
        d["profile"] = py::cast(std::move(r.profile));
        d["law"] = velmar::damping_law_name(r.law);
        d["strain_ratio"] = velmar::effective_strain_ratio(o);
        d["classic_iterations"] = r.classic_iterations;
        if (!r.frequencies.empty()) {
          const std::size_t rows = r.vs_low.size(), nf = r.frequencies.size();
          const auto table = [rows, nf](std::vector<double>&& v) {
            return to_numpy(std::move(v)).attr("reshape")(rows, nf);
          };
          d["frequencies"] = to_numpy(std::move(r.frequencies));
          d["g_ratio_f"] = table(std::move(r.g_ratio_f));
          d["damping_f"] = table(std::move(r.damping_f));
          d["strain_f"] = table(std::move(r.strain_f));
          d["vs_low"] = to_numpy(std::move(r.vs_low));
        }
        return d;
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("options"));

  // The motion of a frequency-dependent result: its column (profile, vs_low,
  // frequencies, g_ratio_f, damping_f as the analysis returned them) under
  // the record, with the PropagateOptions' input, depth, quantity and scale.
  m.def(
      "frequency_dependent_motion",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p, const std::string& law,
         const InArray& vs_low, const InArray& freqs, const InArray& g_f, const InArray& d_f,
         const velmar::PropagateOptions& o) {
        velmar::Record rec;
        rec.accel = vector_of(accel);
        rec.dt = dt;
        rec.units = units;
        velmar::EquivalentLinearResult r;
        r.profile = p;
        r.law = velmar::damping_law_from_name(law, "modulus");
        r.vs_low = vector_of(vs_low);
        r.frequencies = vector_of(freqs);
        r.g_ratio_f = vector_of(g_f);
        r.damping_f = vector_of(d_f);
        std::vector<double> out;
        {
          py::gil_scoped_release unlocked;
          out = velmar::frequency_dependent_motion(rec, r, o);
        }
        return to_numpy(std::move(out));
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("law"), py::arg("vs_low"),
      py::arg("frequencies"), py::arg("g_ratio_f"), py::arg("damping_f"), py::arg("options"));

  m.def(
      "check_curve", [](const py::handle& curve) { velmar::check_curve(curve_option(curve, "curve")); },
      py::arg("curve"));

  m.def(
      "evaluate_curve",
      [](const py::handle& curve, const InArray& strain, double mean_stress) {
        const velmar::Curve c = curve_option(curve, "curve");
        velmar::check_curve(c);
        std::vector<double> g(static_cast<std::size_t>(strain.size())), d(g.size());
        for (std::size_t i = 0; i < g.size(); ++i) {
          const velmar::CurvePoint pt = velmar::evaluate_curve(c, strain.data()[i], mean_stress);
          if (!std::holds_alternative<velmar::LinearLayer>(c)) check_point(c, pt, strain.data()[i], mean_stress);
          g[i] = pt.g_ratio, d[i] = pt.damping;
        }
        return py::make_tuple(to_numpy(std::move(g)), to_numpy(std::move(d)));
      },
      py::arg("curve"), py::arg("strain"), py::arg("mean_stress"));
}

// bind_nonlinear.cpp: the nonlinear soil column in velmar._velmar.
//
// run_nonlinear takes the record (samples, step, units), a profile and the
// options as plain arguments (names of models, bases and inputs as text);
// the library checks them all before the first step. InvalidArgument
// becomes ValueError, AnalysisError RuntimeError. The time loop runs without
// the GIL and polls Python's signal handlers every 500 record steps, so
// Ctrl-C stops it with KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "interrupt_check.hpp"
#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/errors.hpp"
#include "velmar/nonlinear.hpp"

namespace py = pybind11;
using namespace velmar_python;

namespace {

template <class T>
py::array_t<T> matrix(std::vector<T>&& v, std::size_t rows, std::size_t cols) {
  py::array_t<T> a = to_numpy(std::move(v));
  return a.reshape({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
}

}  // namespace

// Adds run_nonlinear to the module.
void register_nonlinear(py::module_& m) {
  m.def(
      "run_nonlinear",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p,
         const py::handle& curves, std::optional<double> water_table, const std::string& model,
         const std::string& unload, std::vector<std::optional<double>> strength, const std::string& viscous,
         std::vector<double> rayleigh_frequencies, const std::string& base, const std::string& input,
         double input_depth, double scale, double max_frequency, double strain_limit, int max_iterations,
         bool linear) {
        velmar::Record rec;
        rec.accel = vector_of(accel);
        rec.dt = dt;
        rec.units = units;
        velmar::NonlinearOptions o;
        o.curves = curves_option(curves, "curves");
        o.water_table = water_table;
        o.model = velmar::soil_model_kind_from_name(model);
        o.unload = velmar::unload_rule_from_name(unload);
        o.strength = std::move(strength);
        o.viscous = velmar::viscous_damping_from_name(viscous);
        o.rayleigh_frequencies = std::move(rayleigh_frequencies);
        o.base = velmar::column_base_from_name(base);
        o.input = velmar::input_motion_from_name(input);
        o.input_depth = input_depth;
        o.scale = scale;
        o.max_frequency = max_frequency;
        o.strain_limit = strain_limit;
        o.max_iterations = max_iterations;
        o.linear = linear;
        o.interrupt = python_interrupt_check();
        velmar::NonlinearResult r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::nonlinear(rec, p, o);
        }
        const std::size_t n = r.samples, nodes = r.node_depth.size(), layers = r.layer_depth.size();
        // Histories come sample-major; the arrays are (rows, samples) views.
        py::dict d;
        d["samples"] = n;
        d["dt"] = r.dt;
        d["units"] = r.units;
        d["node_depth"] = to_numpy(std::move(r.node_depth));
        d["accel"] = matrix(std::move(r.accel), n, nodes).attr("T");
        d["velocity"] = matrix(std::move(r.velocity), n, nodes).attr("T");
        d["displacement"] = matrix(std::move(r.displacement), n, nodes).attr("T");
        d["layer_depth"] = to_numpy(std::move(r.layer_depth));
        d["sublayers"] = r.sublayers;
        d["strain"] = matrix(std::move(r.strain), n, layers).attr("T");
        d["stress"] = matrix(std::move(r.stress), n, layers).attr("T");
        d["max_strain"] = to_numpy(std::move(r.max_strain));
        d["max_stress"] = to_numpy(std::move(r.max_stress));
        d["max_stress_ratio"] = to_numpy(std::move(r.max_stress_ratio));
        d["vertical_stress"] = to_numpy(std::move(r.vertical_stress));
        d["mean_stress"] = to_numpy(std::move(r.mean_stress));
        d["gmax"] = to_numpy(std::move(r.gmax));
        d["small_strain_damping"] = to_numpy(std::move(r.small_strain_damping));
        // The fitted models as the bound SoilModel (bind_soil.cpp); None for
        // a layer that stayed linear.
        py::list models;
        for (std::size_t k = 0; k < layers; ++k) models.append(r.linear[k] ? py::none() : py::cast(r.models[k]));
        d["models"] = models;
        d["accel_depth"] = to_numpy(std::move(r.accel_depth));
        d["max_accel"] = to_numpy(std::move(r.max_accel));
        d["site_frequency"] = r.site_frequency;
        d["damping_frequencies"] = r.damping_frequencies;
        d["steps"] = r.steps;
        d["substeps"] = r.substeps;
        d["iterations"] = r.iterations;
        d["max_step_iterations"] = r.max_step_iterations;
        py::dict e;
        e["input"] = r.energy.input, e["kinetic"] = r.energy.kinetic, e["strain"] = r.energy.strain;
        e["viscous"] = r.energy.viscous, e["hysteretic"] = r.energy.hysteretic, e["radiation"] = r.energy.radiation;
        e["balance_error"] = r.energy.balance_error;
        d["energy"] = e;
        d["warnings"] = r.warnings;
        return d;
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("curves"),
      py::arg("water_table"), py::arg("model"), py::arg("unload"), py::arg("strength"), py::arg("viscous"),
      py::arg("rayleigh_frequencies"), py::arg("base"), py::arg("input"), py::arg("input_depth"), py::arg("scale"),
      py::arg("max_frequency"), py::arg("strain_limit"), py::arg("max_iterations"), py::arg("linear"));
}

// bind_batch.cpp: the randomisation and batch calls of velmar._velmar.
//
// Options arrive as plain Python values (velmar._batch and velmar._randomize
// convert them; the library checks their ranges, naming the arguments):
//   velocity   None or (sigma_ln, rho_0, delta, rho_200, z_0, b)
//   layering   None or (c1, c2, c3)
//   curves     list of curve tuples (curve_tuple.hpp)
// The batch runs with the GIL released; Python's signal handlers are polled
// from the calling thread, so Ctrl-C stops it with KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "curve_tuple.hpp"
#include "interrupt_check.hpp"
#include "velmar/batch.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace py = pybind11;

namespace {

using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using VelocityTuple = std::tuple<double, double, double, double, double, double>;
using LayeringTuple = std::tuple<double, double, double>;

std::vector<double> to_vector(const InArray& a) { return {a.data(), a.data() + a.size()}; }

template <class T>
py::array_t<T> shaped(const std::vector<T>& v, std::vector<py::ssize_t> shape) {
  py::array_t<T> out(shape);
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}

velmar::RandomizeOptions randomize_options(const std::optional<VelocityTuple>& velocity,
                                           const std::optional<LayeringTuple>& layering, double truncation,
                                           double halfspace_sigma_ln, const std::optional<double>& rho_gd) {
  velmar::RandomizeOptions o;
  if (velocity) {
    const auto& [s, r0, d, r200, z0, b] = *velocity;
    o.velocity = velmar::VelocityModel{s, r0, d, r200, z0, b};
  }
  if (layering) {
    const auto& [c1, c2, c3] = *layering;
    o.layering = velmar::LayeringModel{c1, c2, c3};
  }
  o.truncation = truncation;
  o.halfspace_sigma_ln = halfspace_sigma_ln;
  if (rho_gd) o.curves = velmar::CurveVariation{*rho_gd};
  return o;
}

}  // namespace

void register_batch(py::module_& m) {
  m.def("velocity_model_names", &velmar::velocity_model_names);
  m.def("velocity_model", [](const std::string& name) {
    const velmar::VelocityModel v = velmar::velocity_model(name);
    return VelocityTuple{v.sigma_ln, v.rho_0, v.delta, v.rho_200, v.z_0, v.b};
  });
  m.def("truncation_scale", &velmar::truncation_scale, py::arg("k"));
  m.def(
      "expected_boundaries",
      [](const LayeringTuple& model, double z) {
        const auto& [c1, c2, c3] = model;
        return velmar::expected_boundaries(velmar::LayeringModel{c1, c2, c3}, z);
      },
      py::arg("model"), py::arg("z"));

  m.def(
      "realise",
      [](const velmar::Profile& base, std::uint64_t seed, std::uint64_t first, std::size_t count,
         const std::optional<VelocityTuple>& velocity, const std::optional<LayeringTuple>& layering,
         double truncation, double halfspace_sigma_ln, const std::optional<double>& rho_gd) {
        const velmar::RandomizeOptions o =
            randomize_options(velocity, layering, truncation, halfspace_sigma_ln, rho_gd);
        velmar::check_randomize_options(base, o);
        std::vector<velmar::Realisation> out(count);
        {
          const velmar::InterruptCheck check = velmar_python::python_interrupt_check();
          py::gil_scoped_release unlocked;
          for (std::size_t j = 0; j < count; ++j) {
            velmar::poll_interrupt(check);
            out[j] = velmar::realise(base, o, seed, first + j);
          }
        }
        py::list result;
        for (velmar::Realisation& r : out) {
          result.append(py::make_tuple(std::move(r.profile), r.z, r.base_layer, r.eps_g, r.eps_d));
        }
        return result;
      },
      py::arg("base"), py::arg("seed"), py::arg("first"), py::arg("count"), py::arg("velocity"),
      py::arg("layering"), py::arg("truncation"), py::arg("halfspace_sigma_ln"), py::arg("rho_gd"));

  m.def(
      "run_batch",
      [](const velmar::Profile& base, const py::list& records, std::uint64_t seed, std::uint64_t first,
         std::size_t count, const std::optional<VelocityTuple>& velocity,
         const std::optional<LayeringTuple>& layering, double truncation, double halfspace_sigma_ln,
         const std::optional<double>& rho_gd, const std::string& analysis, const py::list& curves,
         const std::optional<double>& water_table, double strain_ratio, double tolerance,
         const py::object& max_iterations, double strain_limit, const std::string& law, const std::string& input,
         double input_depth, double scale, double output_depth, const std::optional<InArray>& periods,
         double spectral_damping, const InArray& strain_depths, unsigned threads) {
        velmar::BatchOptions o;
        o.randomize = randomize_options(velocity, layering, truncation, halfspace_sigma_ln, rho_gd);
        o.seed = seed;
        o.analysis = velmar::analysis_from_name(analysis);
        for (const py::handle c : curves) o.curves.push_back(curve_from_tuple(c.cast<py::tuple>()));
        o.el.water_table = water_table;
        o.el.strain_ratio = strain_ratio;
        o.el.tolerance = tolerance;
        o.el.max_iterations = integer_option(max_iterations, "max_iterations");
        o.el.strain_limit = strain_limit;
        o.el.law = velmar::damping_law_from_name(law);
        o.el.input = velmar::input_motion_from_name(input);
        o.el.input_depth = input_depth;
        o.el.scale = scale;
        o.output_depth = output_depth;
        // None: the default periods; an empty list is a mistake, not a request for them.
        if (!periods) {
          o.periods = velmar::default_periods();
        } else if (periods->size() == 0) {
          throw velmar::InvalidArgument("periods must hold at least one period (s), got none (leave it out for the "
                                        "default periods)");
        } else {
          o.periods = to_vector(*periods);
        }
        o.spectral_damping = spectral_damping;
        o.strain_depths = to_vector(strain_depths);
        o.threads = threads;
        o.interrupt = velmar_python::python_interrupt_check();
        std::vector<velmar::Record> recs;
        for (const py::handle h : records) {
          const auto t = h.cast<py::tuple>();
          velmar::Record r;
          r.accel = to_vector(t[0].cast<InArray>());
          r.dt = t[1].cast<double>();
          r.units = t[2].cast<std::string>();
          recs.push_back(std::move(r));
        }
        velmar::BatchResult b;
        {
          py::gil_scoped_release unlocked;
          b = velmar::run_batch(base, recs, o, first, count);
        }
        const auto n = static_cast<py::ssize_t>(b.count), nm = static_cast<py::ssize_t>(b.records),
                   nk = static_cast<py::ssize_t>(b.periods), nd = static_cast<py::ssize_t>(b.depths);
        py::dict d;
        d["first"] = b.first;
        d["psa"] = shaped(b.psa, {n, nm, nk});
        d["pga"] = shaped(b.pga, {n, nm});
        d["max_strain"] = shaped(b.max_strain, {n, nm, nd});
        d["input_psa"] = shaped(b.input_psa, {nm, nk});
        d["layers"] = shaped(b.layers, {n});
        d["periods"] = shaped(o.periods, {nk});
        py::list failures;
        for (const velmar::RunFailure& f : b.failures) failures.append(py::make_tuple(f.realisation, f.record, f.message));
        d["failures"] = failures;
        return d;
      },
      py::arg("base"), py::arg("records"), py::arg("seed"), py::arg("first"), py::arg("count"), py::arg("velocity"),
      py::arg("layering"), py::arg("truncation"), py::arg("halfspace_sigma_ln"), py::arg("rho_gd"),
      py::arg("analysis"), py::arg("curves"), py::arg("water_table"), py::arg("strain_ratio"), py::arg("tolerance"),
      py::arg("max_iterations"), py::arg("strain_limit"), py::arg("law"), py::arg("input"), py::arg("input_depth"),
      py::arg("scale"), py::arg("output_depth"), py::arg("periods"), py::arg("spectral_damping"),
      py::arg("strain_depths"), py::arg("threads"));

  m.def(
      "column_statistics",
      [](const InArray& values, const InArray& percentiles) {
        if (values.ndim() != 2) throw velmar::InvalidArgument("values must be two-dimensional");
        const auto rows = static_cast<std::size_t>(values.shape(0)), cols = static_cast<std::size_t>(values.shape(1));
        const std::span<const double> v(values.data(), rows * cols);
        const std::vector<double> p = to_vector(percentiles);
        velmar::ColumnStatistics s;
        {
          py::gil_scoped_release unlocked;
          s = velmar::column_statistics(v, rows, cols, p);
        }
        const auto c = static_cast<py::ssize_t>(cols);
        return py::make_tuple(shaped(s.median, {c}), shaped(s.log_std, {c}),
                              shaped(s.percentiles, {static_cast<py::ssize_t>(p.size()), c}),
                              shaped(s.count, {c}));
      },
      py::arg("values"), py::arg("percentiles"));
}

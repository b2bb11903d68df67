// bind_batch.cpp: the randomisation and batch calls of velmar._velmar.
//
// Options arrive as the bound option structs (bind_options.cpp):
// RandomizeOptions for realise, BatchOptions for run_batch; records as
// (samples, step, units) tuples. The library checks every option before
// any work. The batch runs with the GIL released; Python's signal handlers
// are polled from the calling thread, so Ctrl-C stops it with
// KeyboardInterrupt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "interrupt_check.hpp"
#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/batch.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace py = pybind11;
using namespace velmar_python;

void register_batch(py::module_& m) {
  m.def("velocity_model_names", &velmar::velocity_model_names);
  m.def("velocity_model", &velmar::velocity_model, py::arg("name"));
  m.def("truncation_scale", &velmar::truncation_scale, py::arg("k"));
  m.def(
      "expected_boundaries",
      [](const velmar::LayeringModel& model, double z) { return velmar::expected_boundaries(model, z); },
      py::arg("model"), py::arg("z"));

  m.def(
      "realise",
      [](const velmar::Profile& base, const velmar::RandomizeOptions& o, const py::handle& seed_value,
         const py::handle& first_value, const py::handle& count_value) {
        const std::uint64_t seed = seed_option(seed_value, "seed"), first = seed_option(first_value, "first");
        const auto count = static_cast<std::size_t>(whole_option(count_value, "n", 0, 1LL << 40));
        velmar::check_randomize_options(base, o);
        std::vector<velmar::Realisation> out(count);
        {
          const velmar::InterruptCheck check = python_interrupt_check();
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
      py::arg("base"), py::arg("options"), py::arg("seed"), py::arg("first"), py::arg("count"));

  m.def(
      "run_batch",
      [](const velmar::Profile& base, const py::list& records, velmar::BatchOptions o, std::uint64_t first,
         std::size_t count, const std::vector<velmar::RvtMotion>& motions) {
        o.interrupt = python_interrupt_check();
        o.motions = motions;  // random vibration theory, after the records
        std::vector<velmar::Record> recs;
        for (const py::handle h : records) {
          const auto t = h.cast<py::tuple>();
          velmar::Record r;
          r.accel = vector_of(t[0].cast<InArray>());
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
        d["periods"] = shaped(o.periods.empty() ? velmar::default_periods() : o.periods, {nk});
        py::list failures;
        for (const velmar::RunFailure& f : b.failures) failures.append(py::make_tuple(f.realisation, f.record, f.message));
        d["failures"] = failures;
        return d;
      },
      py::arg("base"), py::arg("records"), py::arg("options"), py::arg("first"), py::arg("count"),
      py::arg("motions") = std::vector<velmar::RvtMotion>{});

  m.def(
      "column_statistics",
      [](const InArray& values, const InArray& percentiles) {
        if (values.ndim() != 2) throw velmar::InvalidArgument("values must be two-dimensional");
        const auto rows = static_cast<std::size_t>(values.shape(0)), cols = static_cast<std::size_t>(values.shape(1));
        const std::span<const double> v(values.data(), rows * cols);
        const std::vector<double> p = vector_of(percentiles);
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

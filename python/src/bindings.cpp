// bindings.cpp: the module velmar._velmar, the door from Python to the library.
//
// Each function converts its arguments (numpy arrays to spans, the option
// structs bound in bind_options.cpp), releases the GIL around the library
// call and hands the result back as a numpy array that owns the library's
// vector (no copy). The library checks every argument, naming it and its
// value; its exceptions become Python ones:
//   InvalidArgument (a std::invalid_argument)  -> ValueError
//   FileError                                   -> OSError
//   RunStop of a deck, status 2 (refused input) -> ValueError
//   RunStop of a deck, another status (a limit) -> RuntimeError
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "console/driver/run_stop.hpp"
#include "console/driver/run_state.hpp"
#include "deck_model.hpp"
#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/velmar.hpp"

namespace py = pybind11;

void register_spectra(py::module_& m);  // bind_measures.cpp
void register_eql(py::module_& m);  // bind_eql.cpp
void register_batch(py::module_& m);  // bind_batch.cpp
void register_rvt_site(py::module_& m);  // bind_rvt_site.cpp
void register_options(py::module_& m);  // bind_options.cpp
void register_site(py::module_& m);  // bind_site.cpp
void register_nonlinear(py::module_& m);  // bind_nonlinear.cpp
void register_soil(py::module_& m);  // bind_soil.cpp
void register_rvt(py::module_& m);  // bind_rvt.cpp

using namespace velmar_python;

namespace {

std::vector<double> top_depths(const velmar::Profile& p) {
  std::vector<double> tops(p.layers() + 1);
  for (std::size_t i = 0; i < tops.size(); ++i) tops[i] = p.top_depth(i);
  return tops;
}

// A console stop as one Python message: the console's standard-output line
// (a limit stop's documented text), then its standard-error line, each
// without the leading blank and the line end, joined by "; ".
std::string message_of(const velmar::console::RunStop& stop) {
  std::string m;
  for (const std::string& text : {stop.out_text(), stop.err_text()}) {
    const std::size_t first = text.find_first_not_of(" \n");
    if (first == std::string::npos) continue;
    const std::size_t last = text.find_last_not_of(" \n");
    if (!m.empty()) m += "; ";
    m += text.substr(first, last - first + 1);
  }
  return m.empty() ? "the run stopped with status " + std::to_string(stop.status()) : m;
}

py::dict deck_dict(velmar::DeckModel&& m) {
  py::dict d;
  d["output"] = m.output_name;
  d["itype"] = m.ITYPE;
  d["angle"] = m.ANGLE;
  d["lout"] = m.LOUT;
  d["iqf"] = m.IQF;
  d["isig"] = m.ISIG;
  d["thick"] = to_numpy(std::move(m.THICK));
  d["rho"] = to_numpy(std::move(m.RHO));
  d["vs"] = to_numpy(std::move(m.VS));
  d["qs"] = to_numpy(std::move(m.QS));
  d["vp"] = to_numpy(std::move(m.VP));
  d["qp"] = to_numpy(std::move(m.QP));
  d["profile"] = m.profile ? py::cast(std::move(*m.profile)) : py::none();
  d["profile_problem"] = m.profile_problem;
  d["depth"] = m.depth;
  d["fmin"] = m.FMIN;
  d["fmax"] = m.FMAX;
  d["df"] = m.DF;
  d["freqs"] = to_numpy(std::move(m.freqs));
  d["signal_file"] = m.signal_name;
  d["nskip"] = m.NSKIP;
  d["npt"] = m.NPT;
  d["ihalf"] = m.IHALF;
  d["iconv"] = m.ICONV;
  if (m.record) {
    d["record"] = py::make_tuple(to_numpy(std::move(m.record->accel)), m.record->dt, m.record->units,
                                 m.record->name);
  } else {
    d["record"] = py::none();
  }
  return d;
}

}  // namespace

PYBIND11_MODULE(_velmar, m) {
  m.doc() = "VELMAR library binding; use the velmar package, not this module.";
  m.attr("__version__") = velmar::version();
  register_options(m);
  register_spectra(m);
  register_eql(m);
  register_soil(m);

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const velmar::FileError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    } catch (const velmar::console::RunStop& stop) {
      PyErr_SetString(stop.status() == velmar::console::EXIT_INPUT ? PyExc_ValueError : PyExc_RuntimeError,
                      message_of(stop).c_str());
    }
  });

  py::class_<velmar::Profile>(m, "Profile")
      // Damping ratios of S and P waves, or quality factors Q instead (0 or
      // infinity: elastic), each column given one way at most; a Q column
      // becomes damping ratios 1/(2Q) by the library's rule, once.
      .def(py::init([](const InArray& thickness, const InArray& density, const InArray& vs,
                       const std::optional<InArray>& damping_s, const std::optional<InArray>& qs,
                       const std::optional<InArray>& vp, const std::optional<InArray>& damping_p,
                       const std::optional<InArray>& qp) {
             std::vector<double> th = vector_of(thickness), rho = vector_of(density), v = vector_of(vs);
             std::vector<double> p_speed = vp ? vector_of(*vp) : std::vector<double>{};
             if (qs && !damping_p) {
               return velmar::Profile::from_quality(th, rho, v, vector_of(*qs), p_speed,
                                                    qp ? vector_of(*qp) : std::vector<double>{});
             }
             std::vector<double> xs = damping_s ? vector_of(*damping_s) : std::vector<double>(v.size(), 0.0);
             std::vector<double> xp = damping_p ? vector_of(*damping_p) : std::vector<double>{};
             if (qs) xs = velmar::Profile::from_quality(th, rho, v, vector_of(*qs)).damping_s();
             if (qp) xp = velmar::Profile::from_quality(th, rho, v, {}, p_speed, vector_of(*qp)).damping_p();
             return velmar::Profile(std::move(th), std::move(rho), std::move(v), std::move(xs), std::move(p_speed),
                                    std::move(xp));
           }),
           py::arg("thickness"), py::arg("density"), py::arg("vs"), py::kw_only(), py::arg("damping_s") = py::none(),
           py::arg("qs") = py::none(), py::arg("vp") = py::none(), py::arg("damping_p") = py::none(),
           py::arg("qp") = py::none())
      .def_property_readonly("layers", &velmar::Profile::layers)
      .def_property_readonly("has_p", &velmar::Profile::has_p)
      .def_property_readonly("thickness", [](const velmar::Profile& p) { return copy_to_numpy(p.thickness()); })
      .def_property_readonly("density", [](const velmar::Profile& p) { return copy_to_numpy(p.density()); })
      .def_property_readonly("vs", [](const velmar::Profile& p) { return copy_to_numpy(p.vs()); })
      .def_property_readonly("damping_s", [](const velmar::Profile& p) { return copy_to_numpy(p.damping_s()); })
      .def_property_readonly("vp", [](const velmar::Profile& p) { return copy_to_numpy(p.vp()); })
      .def_property_readonly("damping_p", [](const velmar::Profile& p) { return copy_to_numpy(p.damping_p()); })
      .def_property_readonly("top_depths", [](const velmar::Profile& p) { return to_numpy(top_depths(p)); })
      // Pickled as its columns (damping ratios, so no value changes) and
      // rebuilt without the density limit: a deck's table in kg/m3 too.
      .def(py::pickle(
          [](const velmar::Profile& p) {
            return py::make_tuple(copy_to_numpy(p.thickness()), copy_to_numpy(p.density()), copy_to_numpy(p.vs()),
                                  copy_to_numpy(p.damping_s()), copy_to_numpy(p.vp()), copy_to_numpy(p.damping_p()));
          },
          [](const py::tuple& t) {
            if (t.size() != 6) throw py::value_error("a pickled velmar Profile holds 6 columns, got " +
                                                     std::to_string(t.size()));
            const auto column = [&t](std::size_t i) { return vector_of(t[i].cast<InArray>()); };
            return velmar::Profile::any_density(column(0), column(1), column(2), column(3), column(4), column(5));
          }));

  m.def(
      "transfer",
      [](const velmar::Profile& p, const InArray& freqs, const velmar::WaveSetup& setup, const py::handle& depth,
         const py::handle& quantity, const py::handle& component) {
        const double z = real_option(depth, "depth");
        const velmar::Quantity q = velmar::quantity_from_name(text_option(quantity, "quantity"));
        std::optional<velmar::Component> c;
        if (!component.is_none()) c = velmar::component_from_name(text_option(component, "component"));
        std::vector<velmar::cdouble> h;
        {
          py::gil_scoped_release unlocked;
          h = velmar::transfer(p, span_of(freqs), setup, z, q, c);
        }
        return to_numpy(std::move(h));
      },
      py::arg("profile"), py::arg("freqs"), py::arg("setup"), py::arg("depth"), py::arg("quantity"),
      py::arg("component"));

  m.def(
      "response",
      [](const velmar::Profile& p, const InArray& freqs, const InArray& depths, const velmar::WaveSetup& setup) {
        velmar::ResponseGrid g;
        {
          py::gil_scoped_release unlocked;
          g = velmar::response(p, span_of(freqs), span_of(depths), setup);
        }
        return py::make_tuple(to_numpy(std::move(g.u)), to_numpy(std::move(g.w)), to_numpy(std::move(g.strain)),
                              to_numpy(std::move(g.stress)));
      },
      py::arg("profile"), py::arg("freqs"), py::arg("depths"), py::arg("setup"));

  m.def(
      "propagate",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p,
         const velmar::PropagateOptions& o) {
        velmar::Record rec;
        rec.accel = vector_of(accel);
        rec.dt = dt;
        rec.units = units;
        std::vector<double> y;
        {
          py::gil_scoped_release unlocked;
          y = velmar::propagate(rec, p, o);
        }
        return to_numpy(std::move(y));
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("options"));

  m.def(
      "read_record",
      [](const std::string& path, double dt, const std::string& units, std::size_t skip_header) {
        velmar::Record r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::read_record(path, dt, units, skip_header);
        }
        return py::make_tuple(to_numpy(std::move(r.accel)), r.dt, r.units, r.name, r.description, r.station,
                              r.component);
      },
      py::arg("path"), py::arg("dt"), py::arg("units"), py::arg("skip_header"));
  // The record's checks and unit names: one table for every door.
  m.def(
      "acceleration_unit_name", [](const std::string& units) { return std::string(velmar::acceleration_unit_name(units)); },
      py::arg("units"));
  m.def(
      "header_units", [](const std::string& text) { return velmar::header_units(text); }, py::arg("text"));
  m.def(
      "acceleration_unit",
      [](const py::handle& units) { return velmar::acceleration_unit(text_option(units, "units")); },
      py::arg("units"));
  m.def(
      "modulus_name",
      [](const py::handle& name) {
        return velmar::damping_law_name(velmar::damping_law_from_name(text_option(name, "modulus"), "modulus"));
      },
      py::arg("name"));
  m.def(
      "check_record_dt",
      [](const py::handle& dt) {
        const double x = real_option(dt, "dt");
        velmar::check_record_dt(x);
        return x;
      },
      py::arg("dt"));
  m.attr("STANDARD_GRAVITY") = velmar::STANDARD_GRAVITY;
  m.attr("MIN_RECORD_DT") = velmar::MIN_RECORD_DT;
  m.attr("MAX_RECORD_DT") = velmar::MAX_RECORD_DT;

  m.def(
      "read_deck",
      [](const std::string& path, const std::string& units) {
        velmar::DeckModel model;
        {
          py::gil_scoped_release unlocked;
          model = velmar::read_deck_file(path, units);
        }
        return deck_dict(std::move(model));
      },
      py::arg("path"), py::arg("units"));

  // What a deck computes, in double precision: (kind, [(name, unit,
  // values)], components, input or None).
  m.def(
      "deck_columns",
      [](const std::string& path, const std::string& units) {
        velmar::console::DeckColumns r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::deck_columns_file(path, units);
        }
        py::list columns;
        for (auto& c : r.columns) columns.append(py::make_tuple(c.name, c.unit, to_numpy(std::move(c.values))));
        py::object input = r.kind == "signal" ? py::object(to_numpy(std::move(r.input))) : py::object(py::none());
        return py::make_tuple(r.kind, columns, r.components, input);
      },
      py::arg("path"), py::arg("units"));

  m.def(
      "run_deck",
      [](const std::string& path) {
        auto state = std::make_unique<velmar::console::RunState>();
        py::gil_scoped_release unlocked;
        return velmar::run_deck_file(path, *state);
      },
      py::arg("path"));

  register_batch(m);
  register_rvt_site(m);
  register_site(m);
  register_rvt(m);
  register_nonlinear(m);
}

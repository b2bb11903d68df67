// bindings.cpp: the module velmar._velmar, the door from Python to the library.
//
// Each function converts its arguments (numpy arrays to spans, names to the
// library's enums), releases the GIL around the library call and hands the
// result back as a numpy array that owns the library's vector (no copy).
// Argument checks with Python's names live in the pure-Python layer; the
// library checks again and its exceptions become Python ones:
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

#include "common/run_stop.hpp"
#include "driver/run_state.hpp"
#include "deck_model.hpp"
#include "velmar/velmar.hpp"

namespace py = pybind11;

void register_spectra(py::module_& m);  // bind_measures.cpp
void register_eql(py::module_& m);  // bind_eql.cpp
void register_batch(py::module_& m);  // bind_batch.cpp
void register_site(py::module_& m);  // bind_site.cpp

namespace {

using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::span<const double> as_span(const InArray& a) {
  return {a.data(), static_cast<std::size_t>(a.size())};
}

std::vector<double> as_vector(const InArray& a) {
  const std::span<const double> s = as_span(a);
  return {s.begin(), s.end()};
}

// A numpy array that takes over `v`: the capsule frees the vector with the array.
template <class T>
py::array_t<T> to_numpy(std::vector<T>&& v) {
  auto* owner = new std::vector<T>(std::move(v));
  py::capsule free_owner(owner, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>({static_cast<py::ssize_t>(owner->size())}, {static_cast<py::ssize_t>(sizeof(T))},
                        owner->data(), free_owner);
}

template <class T>
py::array_t<T> copy_to_numpy(const std::vector<T>& v) {
  return to_numpy(std::vector<T>(v));
}

velmar::WaveSetup wave_setup(const std::string& wave, double angle, const std::string& law) {
  velmar::WaveSetup setup;
  setup.wave = velmar::wave_from_name(wave);
  setup.angle = angle;
  setup.law = velmar::damping_law_from_name(law);
  return setup;
}

std::optional<velmar::Component> component_of(const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  return velmar::component_from_name(*name);
}

std::vector<double> top_depths(const velmar::Profile& p) {
  std::vector<double> tops(p.layers() + 1);
  for (std::size_t i = 0; i < tops.size(); ++i) tops[i] = p.top_depth(i);
  return tops;
}

// A console stop as one Python message: the console's standard-output line
// (a limit stop's documented text), then its standard-error line, each
// without the leading blank and the line end, joined by "; ".
std::string message_of(const velmar::RunStop& stop) {
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
  register_spectra(m);
  register_eql(m);

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const velmar::FileError& e) {
      PyErr_SetString(PyExc_OSError, e.what());
    } catch (const velmar::RunStop& stop) {
      PyErr_SetString(stop.status() == velmar::EXIT_INPUT ? PyExc_ValueError : PyExc_RuntimeError,
                      message_of(stop).c_str());
    }
  });

  py::class_<velmar::Profile>(m, "Profile")
      .def(py::init([](const InArray& thickness, const InArray& density, const InArray& vs, const InArray& damping_s,
                       const InArray& vp, const InArray& damping_p) {
             return velmar::Profile(as_vector(thickness), as_vector(density), as_vector(vs), as_vector(damping_s),
                                    as_vector(vp), as_vector(damping_p));
           }),
           py::arg("thickness"), py::arg("density"), py::arg("vs"), py::arg("damping_s"), py::arg("vp"),
           py::arg("damping_p"))
      .def_static(
          "from_quality",
          [](const InArray& thickness, const InArray& density, const InArray& vs, const InArray& qs,
             const InArray& vp, const InArray& qp) {
            return velmar::Profile::from_quality(as_vector(thickness), as_vector(density), as_vector(vs),
                                                 as_vector(qs), as_vector(vp), as_vector(qp));
          },
          py::arg("thickness"), py::arg("density"), py::arg("vs"), py::arg("qs"), py::arg("vp"), py::arg("qp"))
      .def_property_readonly("layers", &velmar::Profile::layers)
      .def_property_readonly("has_p", &velmar::Profile::has_p)
      .def_property_readonly("thickness", [](const velmar::Profile& p) { return copy_to_numpy(p.thickness()); })
      .def_property_readonly("density", [](const velmar::Profile& p) { return copy_to_numpy(p.density()); })
      .def_property_readonly("vs", [](const velmar::Profile& p) { return copy_to_numpy(p.vs()); })
      .def_property_readonly("damping_s", [](const velmar::Profile& p) { return copy_to_numpy(p.damping_s()); })
      .def_property_readonly("vp", [](const velmar::Profile& p) { return copy_to_numpy(p.vp()); })
      .def_property_readonly("damping_p", [](const velmar::Profile& p) { return copy_to_numpy(p.damping_p()); })
      .def_property_readonly("top_depths", [](const velmar::Profile& p) { return to_numpy(top_depths(p)); });

  m.def(
      "transfer",
      [](const velmar::Profile& p, const InArray& freqs, const std::string& wave, double angle,
         const std::string& law, double depth, const std::string& quantity,
         const std::optional<std::string>& component) {
        const velmar::WaveSetup setup = wave_setup(wave, angle, law);
        const velmar::Quantity q = velmar::quantity_from_name(quantity);
        const std::optional<velmar::Component> c = component_of(component);
        std::vector<velmar::cdouble> h;
        {
          py::gil_scoped_release unlocked;
          h = velmar::transfer(p, as_span(freqs), setup, depth, q, c);
        }
        return to_numpy(std::move(h));
      },
      py::arg("profile"), py::arg("freqs"), py::arg("wave"), py::arg("angle"), py::arg("law"), py::arg("depth"),
      py::arg("quantity"), py::arg("component"));

  m.def(
      "response",
      [](const velmar::Profile& p, const InArray& freqs, const InArray& depths, const std::string& wave,
         double angle, const std::string& law) {
        const velmar::WaveSetup setup = wave_setup(wave, angle, law);
        velmar::ResponseGrid g;
        {
          py::gil_scoped_release unlocked;
          g = velmar::response(p, as_span(freqs), as_span(depths), setup);
        }
        return py::make_tuple(to_numpy(std::move(g.u)), to_numpy(std::move(g.w)), to_numpy(std::move(g.strain)),
                              to_numpy(std::move(g.stress)));
      },
      py::arg("profile"), py::arg("freqs"), py::arg("depths"), py::arg("wave"), py::arg("angle"), py::arg("law"));

  m.def(
      "propagate",
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p,
         const std::string& wave, double angle, const std::string& law, const std::string& input,
         double input_depth, double depth, const std::string& quantity, double scale,
         const std::optional<std::string>& component) {
        velmar::Record rec;
        rec.accel = as_vector(accel);
        rec.dt = dt;
        rec.units = units;
        velmar::PropagateOptions o;
        o.setup = wave_setup(wave, angle, law);
        o.input = velmar::input_motion_from_name(input);
        o.input_depth = input_depth;
        o.depth = depth;
        o.quantity = velmar::quantity_from_name(quantity);
        o.component = component_of(component);
        o.scale = scale;
        std::vector<double> y;
        {
          py::gil_scoped_release unlocked;
          y = velmar::propagate(rec, p, o);
        }
        return to_numpy(std::move(y));
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("wave"), py::arg("angle"),
      py::arg("law"), py::arg("input"), py::arg("input_depth"), py::arg("depth"), py::arg("quantity"),
      py::arg("scale"), py::arg("component"));

  m.def(
      "read_record",
      [](const std::string& path, double dt, const std::string& units, std::size_t skip_header) {
        velmar::Record r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::read_record(path, dt, units, skip_header);
        }
        return py::make_tuple(to_numpy(std::move(r.accel)), r.dt, r.units, r.name);
      },
      py::arg("path"), py::arg("dt"), py::arg("units"), py::arg("skip_header"));
  // The record's checks and unit names: one table for every door.
  m.def(
      "acceleration_unit_name", [](const std::string& units) { return std::string(velmar::acceleration_unit_name(units)); },
      py::arg("units"));
  m.def(
      "header_units", [](const std::string& text) { return velmar::header_units(text); }, py::arg("text"));
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

  m.def(
      "run_deck",
      [](const std::string& path) {
        auto state = std::make_unique<velmar::RunState>();
        py::gil_scoped_release unlocked;
        return velmar::run_deck_file(path, *state);
      },
      py::arg("path"));

  register_batch(m);
  register_site(m);
}

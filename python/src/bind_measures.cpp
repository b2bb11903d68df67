// bind_measures.cpp: the spectra and intensity measures of velmar._velmar.
//
// Conversions only: numpy arrays to spans, results back as numpy arrays;
// the GIL is released around each library call (the response spectra poll
// for Ctrl-C while they run). Argument checks with Python's names live in
// velmar/_measures.py; the library checks again.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <span>
#include <string>
#include <vector>

#include "interrupt_check.hpp"
#include "velmar/velmar.hpp"

namespace py = pybind11;

namespace {

using Samples = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::span<const double> view(const Samples& a) { return {a.data(), static_cast<std::size_t>(a.size())}; }

py::array_t<double> array_of(const std::vector<double>& v) {
  return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

velmar::Record record_of(const Samples& accel, double dt, const std::string& units) {
  velmar::Record r;
  const std::span<const double> s = view(accel);
  r.accel.assign(s.begin(), s.end());
  r.dt = dt;
  r.units = units;
  return r;
}

}  // namespace

// Adds the spectra's functions to the module `m`.
void register_spectra(py::module_& m) {
  m.def("default_periods", [] { return array_of(velmar::default_periods()); });

  m.def(
      "response_spectrum",
      [](const Samples& accel, double dt, const Samples& periods, double damping, double free_vibration) {
        velmar::ResponseSpectrum rs;
        {
          py::gil_scoped_release unlocked;
          rs = velmar::response_spectrum(view(accel), dt, view(periods), damping, free_vibration,
                                         velmar_python::python_interrupt_check());
        }
        return py::make_tuple(array_of(rs.sd), array_of(rs.psv), array_of(rs.psa));
      },
      py::arg("accel"), py::arg("dt"), py::arg("periods"), py::arg("damping"), py::arg("free_vibration"));

  m.def(
      "fourier_amplitude",
      [](const Samples& accel, double dt) {
        std::vector<double> freqs, amp;
        {
          py::gil_scoped_release unlocked;
          amp = velmar::fourier_amplitude(view(accel), dt, freqs);
        }
        return py::make_tuple(array_of(freqs), array_of(amp));
      },
      py::arg("accel"), py::arg("dt"));

  m.def(
      "konno_ohmachi",
      [](const Samples& freqs, const Samples& amplitude, const Samples& centres, double b) {
        std::vector<double> y;
        {
          py::gil_scoped_release unlocked;
          y = velmar::konno_ohmachi(view(freqs), view(amplitude), view(centres), b);
        }
        return array_of(y);
      },
      py::arg("freqs"), py::arg("amplitude"), py::arg("centres"), py::arg("b"));

  m.def(
      "arias_intensity",
      [](const Samples& accel, double dt, const std::string& units) {
        const velmar::Record r = record_of(accel, dt, units);
        std::vector<double> ia;
        {
          py::gil_scoped_release unlocked;
          ia = velmar::arias_intensity(r);
        }
        return array_of(ia);
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"));

  m.def(
      "significant_duration",
      [](const Samples& cumulative, double dt, double from, double to) {
        return velmar::significant_duration(view(cumulative), dt, from, to);
      },
      py::arg("cumulative"), py::arg("dt"), py::arg("start"), py::arg("end"));

  m.def(
      "record_significant_duration",
      [](const Samples& accel, double dt, const std::string& units, double from, double to) {
        const velmar::Record r = record_of(accel, dt, units);
        py::gil_scoped_release unlocked;
        return velmar::significant_duration(r, from, to);
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("start"), py::arg("end"));

  m.def(
      "cumulative_absolute_velocity",
      [](const Samples& accel, double dt, const std::string& units) {
        const velmar::Record r = record_of(accel, dt, units);
        py::gil_scoped_release unlocked;
        return velmar::cumulative_absolute_velocity(r);
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"));

  m.def(
      "intensity_measures",
      [](const Samples& accel, double dt, const std::string& units) {
        const velmar::Record r = record_of(accel, dt, units);
        velmar::IntensityMeasures im;
        {
          py::gil_scoped_release unlocked;
          im = velmar::intensity_measures(r);
        }
        py::dict d;
        d["pga"] = im.pga;
        d["pgv"] = im.pgv;
        d["pgd"] = im.pgd;
        d["arias"] = im.arias;
        d["d5_95"] = im.d5_95;
        d["cav"] = im.cav;
        return d;
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"));

  m.def(
      "peak_profile",
      [](const Samples& accel, double dt, const std::string& units, const velmar::Profile& p, double angle,
         const std::string& law, const std::string& input, double input_depth, double scale) {
        const velmar::Record r = record_of(accel, dt, units);
        velmar::PropagateOptions o;
        o.setup.wave = velmar::Wave::SH;
        o.setup.angle = angle;
        o.setup.law = velmar::damping_law_from_name(law);
        o.input = velmar::input_motion_from_name(input);
        o.input_depth = input_depth;
        o.scale = scale;
        velmar::PeakProfile pp;
        {
          py::gil_scoped_release unlocked;
          pp = velmar::peak_profile(r, p, o);
        }
        return py::make_tuple(array_of(pp.depth), array_of(pp.accel), array_of(pp.strain), array_of(pp.stress));
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("angle"), py::arg("law"),
      py::arg("input"), py::arg("input_depth"), py::arg("scale"));
}

// bind_measures.cpp: the spectra and intensity measures of velmar._velmar.
//
// Conversions only (numpy_convert.hpp): numpy arrays to spans, results
// back as numpy arrays; the GIL is released around each library call (the
// response spectra poll for Ctrl-C while they run).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <span>
#include <string>
#include <vector>

#include "interrupt_check.hpp"
#include "numpy_convert.hpp"
#include "velmar/velmar.hpp"

namespace py = pybind11;

using namespace velmar_python;

namespace {

velmar::Record record_of(const InArray& accel, double dt, const std::string& units) {
  velmar::Record r;
  const std::span<const double> s = span_of(accel);
  r.accel.assign(s.begin(), s.end());
  r.dt = dt;
  r.units = units;
  return r;
}

}  // namespace

// Adds the spectra's functions to the module `m`.
void register_spectra(py::module_& m) {
  m.def("default_periods", [] { return copy_to_numpy(velmar::default_periods()); });

  m.def(
      "response_spectrum",
      [](const InArray& accel, double dt, const InArray& periods, double damping, double free_vibration) {
        velmar::ResponseSpectrum rs;
        {
          py::gil_scoped_release unlocked;
          rs = velmar::response_spectrum(span_of(accel), dt, span_of(periods), damping, free_vibration,
                                         velmar_python::python_interrupt_check());
        }
        return py::make_tuple(copy_to_numpy(rs.sd), copy_to_numpy(rs.psv), copy_to_numpy(rs.psa));
      },
      py::arg("accel"), py::arg("dt"), py::arg("periods"), py::arg("damping"), py::arg("free_vibration"));

  m.def(
      "fourier_amplitude",
      [](const InArray& accel, double dt) {
        std::vector<double> freqs, amp;
        {
          py::gil_scoped_release unlocked;
          amp = velmar::fourier_amplitude(span_of(accel), dt, freqs);
        }
        return py::make_tuple(copy_to_numpy(freqs), copy_to_numpy(amp));
      },
      py::arg("accel"), py::arg("dt"));

  m.def(
      "konno_ohmachi",
      [](const InArray& freqs, const InArray& amplitude, const InArray& centres, double b) {
        std::vector<double> y;
        {
          py::gil_scoped_release unlocked;
          y = velmar::konno_ohmachi(span_of(freqs), span_of(amplitude), span_of(centres), b);
        }
        return copy_to_numpy(y);
      },
      py::arg("freqs"), py::arg("amplitude"), py::arg("centres"), py::arg("b"));

  m.def(
      "arias_intensity",
      [](const InArray& accel, double dt, const std::string& units) {
        const velmar::Record r = record_of(accel, dt, units);
        std::vector<double> ia;
        {
          py::gil_scoped_release unlocked;
          ia = velmar::arias_intensity(r);
        }
        return copy_to_numpy(ia);
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"));

  m.def(
      "significant_duration",
      [](const InArray& cumulative, double dt, double from, double to) {
        return velmar::significant_duration(span_of(cumulative), dt, from, to);
      },
      py::arg("cumulative"), py::arg("dt"), py::arg("start"), py::arg("end"));

  m.def(
      "record_significant_duration",
      [](const InArray& accel, double dt, const std::string& units, double from, double to) {
        const velmar::Record r = record_of(accel, dt, units);
        py::gil_scoped_release unlocked;
        return velmar::significant_duration(r, from, to);
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("start"), py::arg("end"));

  m.def(
      "cumulative_absolute_velocity",
      [](const InArray& accel, double dt, const std::string& units) {
        const velmar::Record r = record_of(accel, dt, units);
        py::gil_scoped_release unlocked;
        return velmar::cumulative_absolute_velocity(r);
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"));

  m.def(
      "intensity_measures",
      [](const InArray& accel, double dt, const std::string& units) {
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
      [](const InArray& accel, double dt, const std::string& units, const velmar::Profile& p,
         const velmar::PropagateOptions& o) {
        const velmar::Record r = record_of(accel, dt, units);
        velmar::PeakProfile pp;
        {
          py::gil_scoped_release unlocked;
          pp = velmar::peak_profile(r, p, o);
        }
        return py::make_tuple(copy_to_numpy(pp.depth), copy_to_numpy(pp.accel), copy_to_numpy(pp.strain), copy_to_numpy(pp.stress));
      },
      py::arg("accel"), py::arg("dt"), py::arg("units"), py::arg("profile"), py::arg("options"));
}

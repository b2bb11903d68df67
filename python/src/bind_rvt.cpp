// bind_rvt.cpp: random-vibration-theory motions in velmar._velmar.
//
// RvtCore is the library's RvtMotion (the Python classes in _rvt.py hold
// one as `_core`, so other bindings can take it as a velmar::RvtMotion);
// the functions build motions from a point source, a file or a target
// spectrum. Conversions only: the library checks every value.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "numpy_convert.hpp"
#include "velmar/velmar.hpp"

namespace py = pybind11;

using namespace velmar_python;

namespace {

std::optional<velmar::SiteResonance> site_of(const py::object& site) {
  if (site.is_none()) return std::nullopt;
  // (freqs of up to three modes, |TF(f1)|)
  const auto t = site.cast<py::tuple>();
  if (t.size() != 2) throw velmar::InvalidArgument("site must be (mode frequencies, amplitude at the first)");
  velmar::SiteResonance s;
  const auto f = t[0].cast<std::vector<double>>();
  if (f.empty() || f.size() > 3)
    throw velmar::InvalidArgument("site resonance needs 1 to 3 mode frequencies, got " + std::to_string(f.size()));
  for (std::size_t i = 0; i < f.size(); ++i) s.freqs[i] = f[i];
  s.amplitude = real_option(t[1], "site amplitude");
  return s;
}

py::object site_to_python(const std::optional<velmar::SiteResonance>& s) {
  if (!s) return py::none();
  py::list f;
  for (double v : s->freqs)
    if (v > 0.0) f.append(v);
  return py::make_tuple(py::tuple(f), s->amplitude);
}

}  // namespace

// Adds RvtCore and the RVT functions to the module `m`.
void register_rvt(py::module_& m) {
  py::class_<velmar::RvtMotion>(m, "RvtCore")
      .def(py::init([](const InArray& freqs, const InArray& fas, const py::object& duration, const std::string& peak,
                       const py::object& magnitude, const py::object& distance, const std::string& region,
                       const py::object& site) {
             velmar::RvtMotion r;
             r.freqs = vector_of(freqs);
             r.fas = vector_of(fas);
             r.duration = real_option(duration, "duration");
             r.method = velmar::peak_method_from_name(peak);
             r.magnitude = optional_real_option(magnitude, "magnitude");
             r.distance = optional_real_option(distance, "distance");
             r.region = velmar::region_from_name(region);
             r.site = site_of(site);
             velmar::check_rvt_motion(r);
             return r;
           }),
           py::arg("freqs"), py::arg("fas"), py::arg("duration"), py::arg("peak"), py::arg("magnitude"),
           py::arg("distance"), py::arg("region"), py::arg("site"))
      .def_property_readonly("freqs", [](const velmar::RvtMotion& r) { return copy_to_numpy(r.freqs); })
      .def_property_readonly("fas", [](const velmar::RvtMotion& r) { return copy_to_numpy(r.fas); })
      .def_property_readonly("duration", [](const velmar::RvtMotion& r) { return r.duration; })
      .def_property_readonly("peak_method",
                             [](const velmar::RvtMotion& r) { return std::string(velmar::peak_method_name(r.method)); })
      .def_property_readonly("magnitude", [](const velmar::RvtMotion& r) { return r.magnitude; })
      .def_property_readonly("distance", [](const velmar::RvtMotion& r) { return r.distance; })
      .def_property_readonly("region",
                             [](const velmar::RvtMotion& r) { return std::string(velmar::region_name(r.region)); })
      .def_property_readonly("site", [](const velmar::RvtMotion& r) { return site_to_python(r.site); })
      .def(
          "response_spectrum",
          [](const velmar::RvtMotion& r, const InArray& periods, double damping) {
            std::vector<double> psa;
            {
              py::gil_scoped_release unlocked;
              psa = velmar::rvt_response_spectrum(r, span_of(periods), damping);
            }
            return to_numpy(std::move(psa));
          },
          py::arg("periods"), py::arg("damping"))
      .def("peak_accel", [](const velmar::RvtMotion& r) { return velmar::rvt_peak(r); })
      .def("peak_velocity", [](const velmar::RvtMotion& r) { return velmar::rvt_peak_velocity(r); })
      .def(
          "peak_of", [](const velmar::RvtMotion& r, const InArray& amplitude) { return velmar::rvt_peak(r, span_of(amplitude)); },
          py::arg("amplitude"));

  m.def(
      "rvt_source_theory",
      [](const py::object& magnitude, const py::object& distance, const std::string& region, const py::object& depth,
         const py::object& stress_drop, const py::object& kappa, const py::object& shear_velocity,
         const py::object& density, const std::string& peak, const py::object& freqs) {
        velmar::SourceTheoryParams p;
        p.magnitude = real_option(magnitude, "magnitude");
        p.distance = real_option(distance, "distance");
        p.region = velmar::region_from_name(region);
        p.depth = real_option(depth, "depth");
        p.stress_drop = optional_real_option(stress_drop, "stress_drop");
        p.kappa = optional_real_option(kappa, "kappa");
        p.shear_velocity = optional_real_option(shear_velocity, "shear_velocity");
        p.density = optional_real_option(density, "density");
        p.method = velmar::peak_method_from_name(peak);
        std::vector<double> f;
        if (!freqs.is_none()) f = vector_of(freqs.cast<InArray>());
        velmar::RvtMotion motion = velmar::source_theory_motion(p, f);
        const velmar::SourceTheoryInfo info = velmar::source_theory_info(p);
        py::dict d;
        d["corner_freq"] = info.corner_freq;
        d["hypo_distance"] = info.hypo_distance;
        d["stress_drop"] = info.stress_drop;
        d["kappa"] = info.kappa;
        return py::make_tuple(std::move(motion), d);
      },
      py::arg("magnitude"), py::arg("distance"), py::arg("region"), py::arg("depth"), py::arg("stress_drop"),
      py::arg("kappa"), py::arg("shear_velocity"), py::arg("density"), py::arg("peak"), py::arg("freqs"));

  m.def("rvt_default_freqs", [] { return copy_to_numpy(velmar::default_rvt_freqs()); });

  m.def(
      "rvt_compatible",
      [](const InArray& periods, const InArray& psa, const py::object& duration, const py::object& damping,
         const std::string& peak, const py::object& magnitude, const py::object& distance, const std::string& region,
         const py::object& tolerance, const py::object& max_misfit, const py::object& max_iterations,
         const py::object& freqs) {
        velmar::CompatibleOptions o;
        o.damping = real_option(damping, "damping");
        o.method = velmar::peak_method_from_name(peak);
        o.magnitude = optional_real_option(magnitude, "magnitude");
        o.distance = optional_real_option(distance, "distance");
        o.region = velmar::region_from_name(region);
        o.tolerance = real_option(tolerance, "tolerance");
        o.max_misfit = real_option(max_misfit, "max_misfit");
        o.max_iterations = static_cast<int>(whole_option(max_iterations, "max_iterations", 1, 1000));
        if (!freqs.is_none()) o.freqs = vector_of(freqs.cast<InArray>());
        const double d = real_option(duration, "duration");
        velmar::CompatibleResult res;
        {
          py::gil_scoped_release unlocked;
          res = velmar::compatible_rvt_motion(span_of(periods), span_of(psa), d, o);
        }
        return py::make_tuple(std::move(res.motion), res.iterations, res.misfit);
      },
      py::arg("periods"), py::arg("psa"), py::arg("duration"), py::arg("damping"), py::arg("peak"),
      py::arg("magnitude"), py::arg("distance"), py::arg("region"), py::arg("tolerance"), py::arg("max_misfit"),
      py::arg("max_iterations"), py::arg("freqs"));

  m.def(
      "read_rvt_spectrum",
      [](const std::string& path, const py::object& duration, const std::string& peak) {
        return velmar::read_rvt_spectrum(path, real_option(duration, "duration"), velmar::peak_method_from_name(peak));
      },
      py::arg("path"), py::arg("duration"), py::arg("peak"));
}

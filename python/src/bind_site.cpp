// bind_site.cpp: site indices, kappa0, quarter-wavelength amplification and
// its inversion, for velmar._site. Arguments are checked with Python's names
// in velmar._site; the library checks again (InvalidArgument -> ValueError).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "velmar/site_indices.hpp"

namespace py = pybind11;

namespace {

using InArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::span<const double> view(const InArray& a) { return {a.data(), static_cast<std::size_t>(a.size())}; }

py::array_t<double> to_numpy(const std::vector<double>& v) {
  py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), out.mutable_data());
  return out;
}

velmar::QuarterWavelengthOptions qwl_options(double eta, bool ba23, double kappa, std::optional<double> source_vs,
                                             std::optional<double> source_density) {
  velmar::QuarterWavelengthOptions o;
  o.eta = eta;
  o.frequency_dependent_eta = ba23;
  o.kappa = kappa;
  o.source_vs = source_vs;
  o.source_density = source_density;
  return o;
}

}  // namespace

void register_site(py::module_& m) {
  m.def("time_averaged_vs", &velmar::time_averaged_vs, py::arg("profile"), py::arg("depth"));
  m.def("depth_to_vs", &velmar::depth_to_vs, py::arg("profile"), py::arg("vs"));
  m.def("kappa0", &velmar::kappa0, py::arg("profile"));
  m.def("adjust_damping", &velmar::adjust_damping, py::arg("profile"), py::arg("kappa0"));
  m.def(
      "fundamental_frequency",
      [](const velmar::Profile& p, const std::string& law) {
        velmar::FundamentalFrequency f;
        {
          py::gil_scoped_release unlocked;
          f = velmar::fundamental_frequency(p, velmar::damping_law_from_name(law));
        }
        return py::make_tuple(f.sh_peak, f.quarter_wavelength);
      },
      py::arg("profile"), py::arg("law"));
  m.def(
      "site_class",
      [](const velmar::Profile& p, const std::string& code) {
        const velmar::SiteClass c = velmar::site_class(p, code);
        return py::make_tuple(c.label, c.code, c.vs30, c.basis, c.not_checked);
      },
      py::arg("profile"), py::arg("code"));
  m.def("eta_ba23", py::vectorize(&velmar::eta_ba23), py::arg("x"));
  m.def(
      "quarter_wavelength",
      [](const velmar::Profile& p, const InArray& freqs, double eta, bool ba23, double kappa,
         std::optional<double> source_vs, std::optional<double> source_density) {
        velmar::QuarterWavelength q;
        {
          py::gil_scoped_release unlocked;
          q = velmar::quarter_wavelength(p, view(freqs), qwl_options(eta, ba23, kappa, source_vs, source_density));
        }
        return py::make_tuple(to_numpy(q.depth), to_numpy(q.velocity), to_numpy(q.density), to_numpy(q.eta),
                              to_numpy(q.amplification));
      },
      py::arg("profile"), py::arg("freqs"), py::arg("eta"), py::arg("ba23"), py::arg("kappa"), py::arg("source_vs"),
      py::arg("source_density"));
  m.def(
      "fit_quarter_wavelength",
      [](const velmar::Profile& p, const InArray& freqs, const InArray& target, double eta, bool ba23, double kappa,
         std::optional<double> source_vs, std::optional<double> source_density, bool fit_kappa) {
        std::optional<velmar::QuarterWavelengthFit> fit;
        {
          py::gil_scoped_release unlocked;
          fit = velmar::fit_quarter_wavelength(p, view(freqs), view(target),
                                               qwl_options(eta, ba23, kappa, source_vs, source_density), fit_kappa);
        }
        return py::make_tuple(fit->profile, fit->kappa, fit->rms_log_misfit, fit->iterations);
      },
      py::arg("profile"), py::arg("freqs"), py::arg("target"), py::arg("eta"), py::arg("ba23"), py::arg("kappa"),
      py::arg("source_vs"), py::arg("source_density"), py::arg("fit_kappa"));
}

// bind_rvt_site.cpp: site response by random vibration theory in
// velmar._velmar: a motion (RvtCore, bind_rvt.cpp) through a profile, its
// peak strains, and the strain-compatible iteration. Conversions only; the
// library checks every value (InvalidArgument becomes ValueError,
// AnalysisError RuntimeError). The iteration polls Python's signal handlers
// between passes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <vector>

#include "interrupt_check.hpp"
#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/rvt_site.hpp"

namespace py = pybind11;
using namespace velmar_python;

// Adds rvt_propagate, rvt_amplification, rvt_peak_strains and
// rvt_equivalent_linear to the module.
void register_rvt_site(py::module_& m) {
  m.def(
      "rvt_propagate",
      [](const velmar::RvtMotion& motion, const velmar::Profile& p, const velmar::PropagateOptions& o) {
        py::gil_scoped_release unlocked;
        return velmar::rvt_propagate(motion, p, o);
      },
      py::arg("motion"), py::arg("profile"), py::arg("options"));
  m.def(
      "rvt_amplification",
      [](const velmar::RvtMotion& motion, const velmar::Profile& p, const velmar::PropagateOptions& o) {
        std::vector<double> a;
        {
          py::gil_scoped_release unlocked;
          a = velmar::rvt_amplification(motion, p, o);
        }
        return to_numpy(std::move(a));
      },
      py::arg("motion"), py::arg("profile"), py::arg("options"));
  m.def(
      "rvt_peak_strains",
      [](const velmar::RvtMotion& motion, const velmar::Profile& p, const velmar::PropagateOptions& o,
         const InArray& depths, double to_si) {
        std::vector<double> s;
        {
          py::gil_scoped_release unlocked;
          s = velmar::rvt_peak_strains(motion, p, o, span_of(depths), to_si);
        }
        return to_numpy(std::move(s));
      },
      py::arg("motion"), py::arg("profile"), py::arg("options"), py::arg("depths"), py::arg("to_si"));
  m.def(
      "rvt_equivalent_linear",
      [](const velmar::RvtMotion& motion, const velmar::Profile& p, velmar::EquivalentLinearOptions o, double to_si) {
        o.interrupt = python_interrupt_check();
        velmar::EquivalentLinearResult r;
        {
          py::gil_scoped_release unlocked;
          r = velmar::equivalent_linear(motion, p, o, to_si);
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
        return d;
      },
      py::arg("motion"), py::arg("profile"), py::arg("options"), py::arg("to_si"));
}

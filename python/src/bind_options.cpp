// bind_options.cpp: the library's option structs as Python classes of
// velmar._velmar, one attribute per struct field, same names:
//   WaveSetup, PropagateOptions, EquivalentLinearOptions, VelocityModel,
//   LayeringModel, CurveVariation, RandomizeOptions, BatchOptions, and the
//   curves Darendeli, Menq, CurveTable, LinearLayer, PublishedCurve,
//   ZhangAndrusJuang, Kishida, Rollins (and published_curves(), the
//   catalogue's names, titles and sources).
// Each class takes its fields as keyword arguments (an unknown one is a
// TypeError), shows them in its repr and pickles them (a batch's options
// travel to Dask workers). Setting a field converts the Python value once,
// naming the field when it is of the wrong kind (a bool, text, 1.7 for a
// count); the ranges and combinations are checked by the library when the
// options are used, with the same names. Enumerations are set and read by
// the library's names ("outcrop", "SH", "velmar" ...).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "numpy_convert.hpp"
#include "options.hpp"
#include "velmar/batch.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/motion.hpp"
#include "velmar/randomize.hpp"

namespace py = pybind11;
using namespace velmar_python;

namespace {

// A Python class over the option struct T, built one field at a time.
template <class T>
class OptionClass {
 public:
  // `qualified`: messages name a field with its class ("Menq.k0"), for the
  // structs a user writes as values; the options of a call name it alone,
  // as the call's keyword ("tolerance").
  OptionClass(py::module_& m, const char* name, const char* doc, bool qualified = false)
      : cls_(m, name, doc), name_(name), qualified_(qualified) {}

  // A field read by `get` (T -> a Python value) and written by `set`
  // (T&, a Python value, the field's name for messages).
  template <class Get, class Set>
  OptionClass& field(const char* name, Get get, Set set) {
    std::string n = qualified_ ? name_ + "." + name : std::string(name);
    cls_.def_property(
        name, [get](const T& o) { return get(o); }, [set, n](T& o, const py::handle& v) { set(o, v, n); });
    names_.emplace_back(name);
    return *this;
  }

  OptionClass& real(const char* name, double T::*member) {
    return field(name, [member](const T& o) { return o.*member; },
                 [member](T& o, const py::handle& v, const std::string& n) { o.*member = real_option(v, n); });
  }

  OptionClass& text(const char* name, std::string T::*member) {
    return field(name, [member](const T& o) { return o.*member; },
                 [member](T& o, const py::handle& v, const std::string& n) { o.*member = text_option(v, n); });
  }

  OptionClass& optional_real(const char* name, std::optional<double> T::*member) {
    return field(name, [member](const T& o) { return o.*member; },
                 [member](T& o, const py::handle& v, const std::string& n) {
                   o.*member = optional_real_option(v, n);
                 });
  }

  OptionClass& reals(const char* name, std::vector<double> T::*member) {
    return field(name, [member](const T& o) { return copy_to_numpy(o.*member); },
                 [member](T& o, const py::handle& v, const std::string& n) { o.*member = real_vector_option(v, n); });
  }

  // A field holding another bound option struct S (None refused).
  template <class S>
  OptionClass& nested(const char* name, S T::*member) {
    return field(name, [member](const T& o) { return o.*member; },
                 [member](T& o, const py::handle& v, const std::string& n) { o.*member = bound_value<S>(v, n); });
  }

  // The same for an optional struct: None leaves it empty.
  template <class S>
  OptionClass& optional_nested(const char* name, std::optional<S> T::*member) {
    return field(name, [member](const T& o) { return o.*member; },
                 [member](T& o, const py::handle& v, const std::string& n) {
                   if (v.is_none()) {
                     o.*member = std::nullopt;
                   } else {
                     o.*member = bound_value<S>(v, n);
                   }
                 });
  }

  // Adds the keyword constructor, repr, equality of fields and pickling.
  void finish() {
    const std::vector<std::string> names = names_;
    const std::string cls_name = name_;
    cls_.def(py::init([names, cls_name](const py::kwargs& kw) {
      T o;
      assign(o, kw, names, cls_name);
      return o;
    }));
    cls_.def("__repr__", [names, cls_name](const py::object& self) {
      std::string text = cls_name + "(";
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) text += ", ";
        text += names[i] + "=" + py::repr(self.attr(names[i].c_str())).template cast<std::string>();
      }
      return text + ")";
    });
    cls_.def(py::pickle(
        [names](const py::object& self) {
          py::dict state;
          for (const std::string& n : names) state[n.c_str()] = self.attr(n.c_str());
          return state;
        },
        [names, cls_name](const py::dict& state) {
          T o;
          assign(o, state, names, cls_name);
          return o;
        }));
    cls_.attr("_fields") = py::tuple(py::cast(names));
  }

  py::class_<T>& cls() { return cls_; }

 private:
  // Sets the fields named in `kw` on `o` through their Python setters.
  static void assign(T& o, const py::dict& kw, const std::vector<std::string>& names, const std::string& cls_name) {
    py::object view = py::cast(&o, py::return_value_policy::reference);
    for (const auto& [key, value] : kw) {
      const std::string k = py::str(key).cast<std::string>();
      if (std::find(names.begin(), names.end(), k) == names.end()) {
        std::string known;
        for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
        throw py::type_error(cls_name + " has no field '" + k + "' (its fields are " + known + ")");
      }
      view.attr(k.c_str()) = value;
    }
  }

  py::class_<T> cls_;
  std::string name_;
  bool qualified_;
  std::vector<std::string> names_;
};

// An enumeration field set and read by name: `parse` is the library's
// parser (it names the option in its refusal), `names` the values' names.
template <class T, class E, class Parse>
void enum_field(OptionClass<T>& c, const char* name, E T::*member, Parse parse,
                std::vector<std::pair<E, const char*>> names) {
  c.field(
      name,
      [member, names](const T& o) {
        for (const auto& [e, n] : names) {
          if (e == o.*member) return std::string(n);
        }
        return std::string();
      },
      [member, parse](T& o, const py::handle& v, const std::string& n) { o.*member = parse(text_option(v, n)); });
}

const std::vector<std::pair<velmar::DampingLaw, const char*>> LAW_NAMES = {
    {velmar::DampingLaw::VELMAR, "velmar"},
    {velmar::DampingLaw::SEED, "seed"},
    {velmar::DampingLaw::KRAMER, "kramer"},
    {velmar::DampingLaw::DORMIEUX, "dormieux"}};
const std::vector<std::pair<velmar::InputMotion, const char*>> INPUT_NAMES = {
    {velmar::InputMotion::INCIDENT, "incident"},
    {velmar::InputMotion::OUTCROP, "outcrop"},
    {velmar::InputMotion::WITHIN, "within"}};

velmar::DampingLaw parse_law(const std::string& name) { return velmar::damping_law_from_name(name, "modulus"); }
velmar::EqlIteration parse_iteration(const std::string& name) { return velmar::eql_iteration_from_name(name); }
velmar::FrequencyDependent parse_frequency_dependent(const std::string& name) {
  return velmar::frequency_dependent_from_name(name);
}
const std::vector<std::pair<velmar::EqlIteration, const char*>> ITERATION_NAMES = {
    {velmar::EqlIteration::PLAIN, "plain"}, {velmar::EqlIteration::ACCELERATED, "accelerated"}};
const std::vector<std::pair<velmar::FrequencyDependent, const char*>> FREQUENCY_DEPENDENT_NAMES = {
    {velmar::FrequencyDependent::NONE, "none"},
    {velmar::FrequencyDependent::KA02, "ka02"},
    {velmar::FrequencyDependent::ZR15, "zr15"},
    {velmar::FrequencyDependent::KO, "ko"}};

}  // namespace

namespace velmar_python {

std::string text_option(const py::handle& value, const std::string& name) {
  if (!PyUnicode_Check(value.ptr())) throw velmar::InvalidArgument(name + " must be a name (text), got " + shown(value));
  return value.cast<std::string>();
}

std::vector<velmar::Curve> curves_option(const py::handle& value, const std::string& name) {
  if (value.is_none()) return {};
  if (PyUnicode_Check(value.ptr()) || !py::isinstance<py::iterable>(value)) {
    throw velmar::InvalidArgument(name + " must be a list of curves, got " + shown(value));
  }
  std::vector<velmar::Curve> out;
  std::size_t i = 0;
  for (const py::handle c : value) {
    out.push_back(curve_option(c, name + "[" + std::to_string(i) + "]"));
    ++i;
  }
  return out;
}

velmar::Curve curve_option(const py::handle& c, const std::string& name) {
  if (c.is_none() || py::isinstance<velmar::LinearLayer>(c)) return velmar::LinearLayer{};
  if (py::isinstance<velmar::Darendeli>(c)) return c.cast<velmar::Darendeli>();
  if (py::isinstance<velmar::Menq>(c)) return c.cast<velmar::Menq>();
  if (py::isinstance<velmar::CurveTable>(c)) return c.cast<velmar::CurveTable>();
  if (py::isinstance<velmar::PublishedCurve>(c)) return c.cast<velmar::PublishedCurve>();
  if (py::isinstance<velmar::ZhangAndrusJuang>(c)) return c.cast<velmar::ZhangAndrusJuang>();
  if (py::isinstance<velmar::Kishida>(c)) return c.cast<velmar::Kishida>();
  if (py::isinstance<velmar::Rollins>(c)) return c.cast<velmar::Rollins>();
  // The package's curve classes hand over their library curve.
  if (py::hasattr(c, "_core")) return curve_option(c.attr("_core")(), name);
  throw py::type_error(name + " must be velmar.Darendeli, velmar.Menq, velmar.CurveTable, a published curve set "
                       "(velmar.curves()) or None, got " +
                       py::str(py::type::handle_of(c).attr("__name__")).cast<std::string>());
}

py::object curve_object(const velmar::Curve& c) {
  return std::visit([](const auto& v) { return py::cast(v); }, c);
}

}  // namespace velmar_python

// Adds the option classes to the module.
void register_options(py::module_& m) {
  OptionClass<velmar::LinearLayer> linear(m, "LinearLayer", "No curve: the layer keeps its modulus and damping.");
  linear.finish();

  OptionClass<velmar::Darendeli> darendeli(m, "Darendeli", "Darendeli (2001) curves (see equivalent_linear.hpp).", true);
  darendeli.real("pi", &velmar::Darendeli::pi)
      .real("ocr", &velmar::Darendeli::ocr)
      .real("k0", &velmar::Darendeli::k0)
      .real("frequency", &velmar::Darendeli::frequency)
      .real("cycles", &velmar::Darendeli::cycles)
      .optional_real("damping_min", &velmar::Darendeli::damping_min)
      .finish();

  OptionClass<velmar::Menq> menq(m, "Menq", "Menq (2003) curves (see equivalent_linear.hpp).", true);
  menq.real("cu", &velmar::Menq::cu)
      .real("d50", &velmar::Menq::d50)
      .real("k0", &velmar::Menq::k0)
      .real("cycles", &velmar::Menq::cycles)
      .optional_real("damping_min", &velmar::Menq::damping_min)
      .finish();

  OptionClass<velmar::CurveTable> table(m, "CurveTable", "A table of G/Gmax and damping against strain.", true);
  table.reals("strain", &velmar::CurveTable::strain)
      .reals("g_ratio", &velmar::CurveTable::g_ratio)
      .reals("damping", &velmar::CurveTable::damping)
      .finish();

  OptionClass<velmar::PublishedCurve> published(m, "PublishedCurve",
                                                "A published table curve by its catalogue name.", true);
  published.text("name", &velmar::PublishedCurve::name).finish();

  OptionClass<velmar::ZhangAndrusJuang> zhang(m, "ZhangAndrusJuang", "Zhang, Andrus and Juang (2005) curves.", true);
  enum_field(zhang, "age", &velmar::ZhangAndrusJuang::age,
             [](const std::string& n) { return velmar::geologic_age_from_name(n, "ZhangAndrusJuang.age"); },
             {{velmar::GeologicAge::QUATERNARY, "quaternary"},
              {velmar::GeologicAge::TERTIARY, "tertiary"},
              {velmar::GeologicAge::RESIDUAL, "residual"}});
  zhang.real("pi", &velmar::ZhangAndrusJuang::pi).real("k0", &velmar::ZhangAndrusJuang::k0).finish();

  OptionClass<velmar::Kishida> kishida(m, "Kishida", "Kishida et al. (2009) curves of organic soils.", true);
  kishida.real("organic_content", &velmar::Kishida::organic_content).real("k0", &velmar::Kishida::k0).finish();

  OptionClass<velmar::Rollins> rollins(m, "Rollins", "Rollins et al. (2020) curves of gravels.", true);
  rollins.real("cu", &velmar::Rollins::cu)
      .real("k0", &velmar::Rollins::k0)
      .real("cycles", &velmar::Rollins::cycles)
      .finish();

  m.def(
      "published_curve_table", [](const std::string& name) { return velmar::published_curve_table(name); },
      py::arg("name"));
  m.def("published_curves", []() {
    py::list out;
    for (const velmar::PublishedCurveInfo& info : velmar::published_curves()) {
      out.append(py::make_tuple(info.name, info.title, info.source));
    }
    return out;
  });

  OptionClass<velmar::WaveSetup> setup(m, "WaveSetup", "The incident wave and the damping law.");
  enum_field(setup, "wave", &velmar::WaveSetup::wave, &velmar::wave_from_name,
             {{velmar::Wave::SH, "SH"}, {velmar::Wave::P, "P"}, {velmar::Wave::SV, "SV"}});
  setup.real("angle", &velmar::WaveSetup::angle);
  enum_field(setup, "law", &velmar::WaveSetup::law, &parse_law, LAW_NAMES);
  setup.finish();

  OptionClass<velmar::PropagateOptions> prop(m, "PropagateOptions", "Options of propagate (motion.hpp).");
  prop.nested("setup", &velmar::PropagateOptions::setup);
  enum_field(prop, "input", &velmar::PropagateOptions::input, &velmar::input_motion_from_name, INPUT_NAMES);
  prop.real("input_depth", &velmar::PropagateOptions::input_depth).real("depth", &velmar::PropagateOptions::depth);
  enum_field(prop, "quantity", &velmar::PropagateOptions::quantity, &velmar::quantity_from_name,
             {{velmar::Quantity::ACCELERATION, "accel"},
              {velmar::Quantity::VELOCITY, "velocity"},
              {velmar::Quantity::DISPLACEMENT, "displacement"},
              {velmar::Quantity::STRAIN, "strain"},
              {velmar::Quantity::STRESS, "stress"}});
  prop.field(
      "component",
      [](const velmar::PropagateOptions& o) -> py::object {
        if (!o.component) return py::none();
        return py::str(*o.component == velmar::Component::VERTICAL ? "vertical" : "horizontal");
      },
      [](velmar::PropagateOptions& o, const py::handle& v, const std::string& n) {
        if (v.is_none()) {
          o.component = std::nullopt;
        } else {
          o.component = velmar::component_from_name(text_option(v, n));
        }
      });
  prop.real("scale", &velmar::PropagateOptions::scale);
  prop.finish();

  using EL = velmar::EquivalentLinearOptions;
  OptionClass<EL> el(m, "EquivalentLinearOptions", "Options of equivalent_linear (equivalent_linear.hpp).");
  el.field(
      "curves", [](const EL& o) {
        py::list out;
        for (const velmar::Curve& c : o.curves) out.append(curve_object(c));
        return out;
      },
      [](EL& o, const py::handle& v, const std::string& n) { o.curves = curves_option(v, n); });
  el.optional_real("water_table", &EL::water_table)
      .optional_real("strain_ratio", &EL::strain_ratio)
      .optional_real("magnitude", &EL::magnitude)
      .real("tolerance", &EL::tolerance)
      .field("max_iterations", [](const EL& o) { return o.max_iterations; },
             [](EL& o, const py::handle& v, const std::string& n) { o.max_iterations = integer_option(v, n); })
      .real("strain_limit", &EL::strain_limit);
  enum_field(el, "law", &EL::law, &parse_law, LAW_NAMES);
  enum_field(el, "input", &EL::input, &velmar::input_motion_from_name, INPUT_NAMES);
  el.real("input_depth", &EL::input_depth)
      .real("angle", &EL::angle)
      .real("scale", &EL::scale)
      .optional_real("max_frequency", &EL::max_frequency)
      .real("wavelength_fraction", &EL::wavelength_fraction)
      .optional_real("damping_min", &EL::damping_min)
      .field("damping_min_from_profile", [](const EL& o) { return o.damping_min_from_profile; },
             [](EL& o, const py::handle& v, const std::string& n) {
               if (!PyBool_Check(v.ptr())) throw velmar::InvalidArgument(n + " must be True or False, got " + shown(v));
               o.damping_min_from_profile = v.cast<bool>();
             });
  enum_field(el, "iteration", &EL::iteration, &parse_iteration, ITERATION_NAMES);
  enum_field(el, "frequency_dependent", &EL::frequency_dependent, &parse_frequency_dependent,
             FREQUENCY_DEPENDENT_NAMES);
  el.real("ko_bandwidth", &EL::ko_bandwidth).finish();

  OptionClass<velmar::VelocityModel> vm(m, "VelocityModel", "The correlated ln Vs model (randomize.hpp).", true);
  vm.real("sigma_ln", &velmar::VelocityModel::sigma_ln)
      .real("rho_0", &velmar::VelocityModel::rho_0)
      .real("delta", &velmar::VelocityModel::delta)
      .real("rho_200", &velmar::VelocityModel::rho_200)
      .real("z_0", &velmar::VelocityModel::z_0)
      .real("b", &velmar::VelocityModel::b)
      .finish();

  OptionClass<velmar::LayeringModel> lm(m, "LayeringModel", "The rate of layer boundaries c3 (z + c1)^c2.", true);
  lm.real("c1", &velmar::LayeringModel::c1)
      .real("c2", &velmar::LayeringModel::c2)
      .real("c3", &velmar::LayeringModel::c3)
      .finish();

  OptionClass<velmar::CurveVariation> cv(m, "CurveVariation", "Variation of the curves about their means.", true);
  cv.real("rho_gd", &velmar::CurveVariation::rho_gd).finish();

  using RO = velmar::RandomizeOptions;
  OptionClass<RO> ro(m, "RandomizeOptions", "Options of realise (randomize.hpp).");
  ro.optional_nested("velocity", &RO::velocity)
      .optional_nested("layering", &RO::layering)
      .real("truncation", &RO::truncation)
      .real("halfspace_sigma_ln", &RO::halfspace_sigma_ln)
      .optional_nested("curves", &RO::curves)
      .finish();

  using BO = velmar::BatchOptions;
  OptionClass<BO> bo(m, "BatchOptions", "Options of run_batch (batch.hpp).");
  bo.nested("randomize", &BO::randomize)
      .field("seed", [](const BO& o) { return o.seed; },
             [](BO& o, const py::handle& v, const std::string& n) { o.seed = seed_option(v, n); });
  enum_field(bo, "analysis", &BO::analysis, &velmar::analysis_from_name,
             {{velmar::Analysis::LINEAR, "linear"}, {velmar::Analysis::EQUIVALENT_LINEAR, "equivalent_linear"}});
  bo.field(
        "curves", [](const BO& o) {
          py::list out;
          for (const velmar::Curve& c : o.curves) out.append(curve_object(c));
          return out;
        },
        [](BO& o, const py::handle& v, const std::string& n) { o.curves = curves_option(v, n); })
      .nested("el", &BO::el)
      .real("output_depth", &BO::output_depth)
      .field("periods",
             [](const BO& o) -> py::object {
               if (o.periods.empty()) return py::none();
               return copy_to_numpy(o.periods);
             },
             [](BO& o, const py::handle& v, const std::string& n) {
               // None: the default periods; an empty list is a mistake, not a request for them.
               if (v.is_none()) {
                 o.periods.clear();
                 return;
               }
               o.periods = real_vector_option(v, n);
               if (o.periods.empty()) {
                 throw velmar::InvalidArgument(
                     "periods must hold at least one period (s), got none (leave it out for the default periods)");
               }
             })
      .real("spectral_damping", &BO::spectral_damping)
      .reals("strain_depths", &BO::strain_depths)
      .field("threads", [](const BO& o) { return o.threads; },
             [](BO& o, const py::handle& v, const std::string& n) {
               o.threads = static_cast<unsigned>(whole_option(v, n, 0, UINT_MAX));
             })
      .finish();
}

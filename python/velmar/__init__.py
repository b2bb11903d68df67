"""VELMAR: seismic response of horizontally layered ground.

Plane SH, P and SV waves through horizontal viscoelastic layers over a
half-space. The computing is done by the VELMAR C++ library; this package
arranges arrays and checks arguments.

Conventions
-----------
- Responses are per unit displacement of the wave incident from the
  half-space: a bare half-space gives 2 at its surface (outcrop = 2 x
  incident).
- Time factor exp(-i w t); depth and vertical displacement positive down.
- Damping ratio xi and quality factor Q: Q = 1 / (2 xi).
- Units: m, t/m3, m/s, Hz, s; accelerations in g (or "m/s2", "cm/s2");
  stress in kPa, strain as a ratio.
"""

from . import _velmar
from ._deck import Deck, read_deck, run_deck
from ._eql import (CurveTable, Darendeli, EquivalentLinearResult, Menq, curve_values,
                   equivalent_linear)
from ._profile import MODULUS_LAWS, Profile
from ._randomize import VS_MODELS, LayeringModel, VelocityModel, randomize
from ._batch import ANALYSES, Simulations, simulate
from ._record import UNITS, Record, read_record
from ._response import (COMPONENTS, INPUTS, QUANTITIES, WAVES, Response, propagate, response,
                        transfer)
from ._site import (SITE_CODES, FundamentalFrequency, QuarterWavelength, SiteClass, adjust_damping,
                    fit_quarter_wavelength, quarter_wavelength)
from ._logic_tree import Leaf, LogicTree
from ._measures import (IntensityMeasures, PeakProfile, ResponseSpectrum, arias_intensity, cav,
                       default_periods, fourier_spectrum, intensity_measures, konno_ohmachi,
                       peak_profile, response_spectrum, significant_duration, spectra, spectral_ratio)

__version__ = _velmar.__version__

__all__ = [
    "Profile", "Record", "Deck", "Response",
    "transfer", "response", "propagate", "read_record", "read_deck", "run_deck",
    "WAVES", "COMPONENTS", "INPUTS", "QUANTITIES", "MODULUS_LAWS", "UNITS",
    "randomize", "simulate", "Simulations", "VelocityModel", "LayeringModel", "VS_MODELS", "ANALYSES",
]
__all__ += [
    "ResponseSpectrum", "IntensityMeasures", "PeakProfile", "spectra", "response_spectrum",
    "default_periods", "fourier_spectrum", "konno_ohmachi", "spectral_ratio", "arias_intensity",
    "significant_duration", "cav", "intensity_measures", "peak_profile",
]
__all__ += ["Darendeli", "Menq", "CurveTable", "EquivalentLinearResult", "equivalent_linear",
            "curve_values"]
__all__ += ["SiteClass", "FundamentalFrequency", "QuarterWavelength", "SITE_CODES", "adjust_damping",
            "quarter_wavelength", "fit_quarter_wavelength", "LogicTree", "Leaf"]
from ._rvt import (PEAK_METHODS, REGIONS, CompatibleRvtMotion, RvtMotion, SourceTheoryMotion,
                   read_rvt_spectrum)
__all__ += ["RvtMotion", "SourceTheoryMotion", "CompatibleRvtMotion", "read_rvt_spectrum", "PEAK_METHODS",
            "REGIONS"]

"""An equivalent-linear analysis described in a small JSON file, for the
command line (``python3 -m velmar run|plot FILE.json``).

The file holds one object::

    {
      "record":   {"file": "motion.AT2", "units": "g", "dt": null},
      "profile":  {"thickness": [...], "density": [...], "vs": [...], "damping": [...]},
      "curves":   [{"model": "darendeli", "pi": 30, "ocr": 1, "k0": 0.5},
                   {"model": "menq", "cu": 10, "d50": 5, "k0": 0.5},
                   {"model": "table", "strain": [...], "g_ratio": [...], "damping": [...]},
                   "linear", ...],
      "analysis": {"water_table": 2.0, "tolerance": 0.01, "modulus": "dormieux", ...}
    }

``record`` names the record file (relative to the JSON file's folder) and
what `read_record` takes besides; ``profile`` holds the arguments of
`Profile` (the half-space last, thickness 0); ``curves`` one entry per layer
above the half-space; ``analysis`` the keyword arguments of
`equivalent_linear` (``scale``, ``input``, ``strain_ratio`` ...). Unknown
keys are refused, so a misspelt option is never silently left out.
"""

from __future__ import annotations

import json
import os
from dataclasses import dataclass
from typing import Any, Dict, List, Optional

import numpy as np

from ._eql import CurveTable, Darendeli, EquivalentLinearResult, Menq, equivalent_linear
from ._measures import default_periods, spectra
from ._profile import Profile
from ._record import Record, read_record
from ._response import propagate

_CURVE_MODELS = {"darendeli": Darendeli, "menq": Menq, "table": CurveTable}
_SECTIONS = ("record", "profile", "curves", "analysis")


@dataclass
class Analysis:
    """An analysis read from its JSON file."""

    path: str
    record: Record
    profile: Profile
    curves: List[Any]
    options: Dict[str, Any]


def _object(path: str, name: str, value: Any) -> Dict[str, Any]:
    if not isinstance(value, dict):
        raise ValueError(f"{path}: {name} must be a JSON object, got {type(value).__name__}")
    return value


def _curve(path: str, i: int, entry: Any) -> Any:
    if entry is None or entry == "linear":
        return None
    entry = dict(_object(path, f"curves[{i}]", entry))
    model = entry.pop("model", None)
    if model not in _CURVE_MODELS:
        raise ValueError(f"{path}: curves[{i}] needs \"model\": one of {sorted(_CURVE_MODELS)} "
                         f"(or the entry \"linear\"), got {model!r}")
    try:
        return _CURVE_MODELS[model](**entry)
    except TypeError as exc:  # an unknown or missing argument
        raise ValueError(f"{path}: curves[{i}] ({model}): {exc}") from None
    except ValueError as exc:
        raise ValueError(f"{path}: curves[{i}] ({model}): {exc}") from None


def read_analysis(path: str) -> Analysis:
    """Read and check an analysis file (nothing is computed).

    Raises
    ------
    OSError
        The file (or the record it names) cannot be read.
    ValueError
        Not JSON, a missing or unknown section or key, or a bad value
        (the message names the file and the entry).
    """
    with open(path, encoding="utf-8") as f:
        try:
            doc = json.load(f)
        except json.JSONDecodeError as exc:
            raise ValueError(f"{path}: line {exc.lineno}: not JSON: {exc.msg}") from None
    doc = _object(path, "the file", doc)
    unknown = sorted(set(doc) - set(_SECTIONS))
    if unknown:
        raise ValueError(f"{path}: unknown section {unknown[0]!r} (the sections are {', '.join(_SECTIONS)})")
    for name in ("record", "profile", "curves"):
        if name not in doc:
            raise ValueError(f"{path}: the section {name!r} is missing")
    rec = dict(_object(path, "record", doc["record"]))
    if "file" not in rec:
        raise ValueError(f"{path}: record needs \"file\"")
    record_file = os.path.join(os.path.dirname(os.path.abspath(path)), str(rec.pop("file")))
    try:
        record = read_record(record_file, **rec)
    except TypeError as exc:
        raise ValueError(f"{path}: record: {exc}") from None
    try:
        profile = Profile(**_object(path, "profile", doc["profile"]))
    except TypeError as exc:
        raise ValueError(f"{path}: profile: {exc}") from None
    except ValueError as exc:
        raise ValueError(f"{path}: profile: {exc}") from None
    if not isinstance(doc["curves"], list):
        raise ValueError(f"{path}: curves must be a list, one entry per layer above the half-space")
    curves = [_curve(path, i, c) for i, c in enumerate(doc["curves"])]
    if len(curves) != profile.layers:
        raise ValueError(f"{path}: curves has {len(curves)} entries where the profile has {profile.layers} "
                         f"layers above the half-space")
    options = dict(_object(path, "analysis", doc.get("analysis", {})))
    return Analysis(path=path, record=record, profile=profile, curves=curves, options=options)


def run_analysis(a: Analysis) -> EquivalentLinearResult:
    """Run the analysis; a bad option is a ValueError naming the file."""
    try:
        return equivalent_linear(a.record, a.profile, a.curves, **a.options)
    except TypeError as exc:  # an unknown option
        raise ValueError(f"{a.path}: analysis: {exc}") from None
    except ValueError as exc:
        raise ValueError(f"{a.path}: analysis: {exc}") from None


LAYER_COLUMNS = ("top (m)", "thickness (m)", "vs low-strain (m/s)", "vs strain-compatible (m/s)",
                 "G/Gmax (ratio)", "damping (ratio)", "peak strain (ratio)", "mean effective stress (kPa)")


def layer_table(a: Analysis, res: EquivalentLinearResult) -> np.ndarray:
    """One row per layer above the half-space, the columns of LAYER_COLUMNS."""
    p = a.profile
    n = p.layers
    vs = np.asarray(p.vs[:n])
    return np.column_stack([np.asarray(res.depth[:n]), np.asarray(p.thickness[:n]), vs, vs * np.sqrt(res.g_ratio),
                            res.g_ratio, res.damping, res.max_strain, res.mean_stress])


def write_layers_csv(a: Analysis, res: EquivalentLinearResult, path: str) -> None:
    """The layer table as CSV (17 significant digits), replaced whole."""
    tmp = f"{path}.tmp{os.getpid()}"
    try:
        with open(tmp, "w", encoding="utf-8", newline="") as f:
            f.write(",".join(LAYER_COLUMNS) + "\n")
            np.savetxt(f, layer_table(a, res), fmt="%.17g", delimiter=",")
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


def plot_analysis(path: str, out: Optional[str] = None) -> List[str]:
    """Run an analysis file and write its figures as PNG files: the
    iteration's convergence, the strain-compatible G/Gmax, damping and peak
    strain with depth, and the surface response spectra (5 % damping) of
    the linear and the strain-compatible profile beside the input's.

    Returns
    -------
    list of str
        The files written, ``<stem>-convergence.png``, ``<stem>-layers.png``
        and ``<stem>-spectra.png`` in `out` (default: the file's folder).
    """
    from matplotlib.figure import Figure

    from .plot import DPI, WIDTH, spectra_figure
    from .plot_eql import plot_convergence, plot_strain_compatible

    a = read_analysis(path)
    res = run_analysis(a)
    folder = out if out is not None else os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    stem = os.path.join(folder, os.path.splitext(os.path.basename(path))[0])
    written = []

    fig = Figure(figsize=(WIDTH, 4.2), dpi=DPI, layout="constrained")
    plot_convergence(res, a.options.get("tolerance", 0.01), ax=fig.subplots())
    written.append(_save(fig, f"{stem}-convergence.png"))

    fig = Figure(figsize=(WIDTH + 2.5, 5.5), dpi=DPI, layout="constrained")
    plot_strain_compatible(res, axes=fig.subplots(1, 3, sharey=True))
    written.append(_save(fig, f"{stem}-layers.png"))

    # Surface motions of the low-strain and the strain-compatible profile,
    # under the same input convention and law as the analysis.
    kw = {k: a.options[k] for k in ("input", "scale", "angle", "input_depth") if k in a.options}
    law = a.options.get("modulus") or a.profile.modulus or res.profile.modulus
    periods = default_periods()
    scale = float(a.options.get("scale", 1.0))
    rec = a.record
    outputs = {}
    for label, prof in (("surface, low-strain profile", a.profile), ("surface, strain-compatible", res.profile)):
        acc = propagate(rec, prof, modulus=law, **kw)
        outputs[label] = spectra(acc, rec.dt, periods, units=rec.units).psa
    base = spectra(np.asarray(rec.accel) * scale, rec.dt, periods, units=rec.units).psa
    where = {"outcrop": "outcrop", "within": "within", "incident": "incident"}.get(kw.get("input", "outcrop"))
    fig = spectra_figure(periods, base, outputs, rec.units, title=f"{os.path.basename(path)}: surface spectra",
                         input_label=f"input ({where})")
    written.append(_save(fig, f"{stem}-spectra.png"))
    return written



def _save(fig: Any, name: str) -> str:
    fig.savefig(name)
    return name

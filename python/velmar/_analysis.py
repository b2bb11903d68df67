"""An equivalent-linear analysis described in a small JSON file, for the
command line (``python3 -m velmar run|plot FILE.json``).

The file holds one object::

    {
      "record":   {"file": "motion.AT2", "units": "g", "dt": null},
      "profile":  {"thickness": [...], "density": [...], "vs": [...], "damping": [...]},
      "curves":   [{"model": "darendeli", "pi": 30, "ocr": 1, "k0": 0.5},
                   {"model": "menq", "cu": 10, "d50": 5, "k0": 0.5},
                   {"model": "table", "strain": [...], "g_ratio": [...], "damping": [...]},
                   {"model": "vucetic_dobry", "pi": 30}, {"model": "epri_1993", "depth": 12.0},
                   {"model": "zhang_andrus_juang", "age": "tertiary", "pi": 15},
                   "linear", ...],
      "analysis": {"water_table": 2.0, "tolerance": 0.01, "modulus": "dormieux", ...}
    }

``record`` names the record file (relative to the JSON file's folder) and
what `read_record` takes besides; ``profile`` holds the arguments of
`Profile` (the half-space last, thickness 0); ``curves`` one entry per layer
above the half-space (``model`` is a name of `velmar.curves()` or "table", the
other keys the class's parameters); ``analysis`` the keyword arguments of
`equivalent_linear` (``scale``, ``input``, ``strain_ratio`` ...). Unknown
keys are refused, so a misspelt option is never silently left out.

``run FILE.json --csv`` writes three CSV files: the layer table
(``FILE.layers.csv``, or --out), and beside it the surface response
spectrum (``STEM.surface-spectrum.csv``) and acceleration history
(``STEM.surface-history.csv``) through the strain-compatible profile, each
beside the input's.
"""

from __future__ import annotations

import json
import math
import os
import re
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from ._curves import curves
from ._eql import CurveTable, Darendeli, EquivalentLinearResult, Menq, equivalent_linear
from ._files import Input, OutputFile
from ._measures import default_periods, spectra
from ._profile import Profile
from ._record import Record, read_record
from ._response import propagate

_CURVE_MODELS = {"darendeli": Darendeli, "menq": Menq, "table": CurveTable}
_CURVE_MODELS.update((c.name, c.cls) for c in curves())
_SECTIONS = ("record", "profile", "curves", "analysis")
#: An analysis file is a few kilobytes; anything past this is not one.
MAX_FILE_BYTES = 64 << 20
#: Deepest nesting of objects and lists read (a table curve is 4 deep).
MAX_DEPTH = 32
#: Digits of a JSON integer read at most (a double holds at most 309).
_MAX_INT_DIGITS = 310


@dataclass
class Analysis:
    """An analysis read from its JSON file."""

    path: str
    record: Record
    profile: Profile
    curves: List[Any]
    options: Dict[str, Any]
    record_file: Optional[str] = None


def analysis_inputs(a: Analysis) -> List[Input]:
    """The files an analysis reads (an output may be none of them)."""
    inputs: List[Input] = [("the analysis file", a.path)]
    if a.record_file is not None:
        inputs.append(("the analysis' record file", a.record_file))
    return inputs


class _FileError(ValueError):
    """A refusal found while parsing, before the file name is known to it."""


class _BadNumber(str):
    """The text of a JSON number no double holds (kept to name its entry)."""


def _pairs(pairs: List[Tuple[str, Any]]) -> Dict[str, Any]:
    d: Dict[str, Any] = {}
    for k, v in pairs:
        if k in d:
            raise _FileError(f"the key {k!r} appears twice in one object (the second would silently replace "
                             f"the first); keep one")
        d[k] = v
    return d


def _constant(text: str) -> Any:
    raise _FileError(f"{text} is not a number; give a finite value")


def _int(text: str) -> Any:
    return int(text) if len(text) <= _MAX_INT_DIGITS else _BadNumber(text)


def _float(text: str) -> Any:
    x = float(text)
    return x if math.isfinite(x) else _BadNumber(text)


_STRING = re.compile(r'"(?:[^"\\]|\\.)*"', re.S)


def _depth(text: str) -> int:
    """The deepest nesting of objects and lists in JSON text (strings skipped)."""
    b = np.frombuffer(_STRING.sub("", text).encode("utf-8"), dtype=np.uint8)
    step = (np.isin(b, (ord("["), ord("{"))).astype(np.int64) - np.isin(b, (ord("]"), ord("}"))))
    return int(np.cumsum(step).max(initial=0))


def _load(path: str) -> Any:
    try:
        with open(path, "rb") as f:
            raw = f.read(MAX_FILE_BYTES + 1)
    except OSError as exc:
        raise OSError(exc.errno, f"{path}: cannot read the analysis file ({exc.strerror})") from None
    if len(raw) > MAX_FILE_BYTES:
        raise ValueError(f"{path}: more than {MAX_FILE_BYTES >> 20} MiB: not an analysis file")
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        line = raw[:exc.start].count(b"\n") + 1
        raise ValueError(f"{path}: line {line}: not UTF-8 text (byte 0x{raw[exc.start]:02x}); "
                         f"save the file as UTF-8") from None
    depth = _depth(text)
    if depth > MAX_DEPTH:
        raise ValueError(f"{path}: objects and lists nested {depth} deep (at most {MAX_DEPTH} are read; an "
                         f"analysis file needs 4)")
    try:
        return json.loads(text, object_pairs_hook=_pairs, parse_constant=_constant, parse_int=_int,
                          parse_float=_float)
    except json.JSONDecodeError as exc:
        raise ValueError(f"{path}: line {exc.lineno}: not JSON: {exc.msg}") from None
    except _FileError as exc:
        raise ValueError(f"{path}: {exc}") from None
    except RecursionError:
        raise ValueError(f"{path}: objects and lists nested too deep to read") from None


def _check_values(path: str, where: str, value: Any) -> None:
    """Refuse the values no entry takes: booleans (never a number here) and
    numbers beyond a double."""
    if isinstance(value, bool):
        raise ValueError(f"{path}: {where} is {json.dumps(value)}: a boolean is not accepted here; "
                         f"give a number")
    if isinstance(value, _BadNumber):
        shown = value if len(value) <= 40 else f"{value[:20]}...({len(value)} characters)"
        raise ValueError(f"{path}: {where} = {shown} is beyond the range of a double (about 1.8e308); "
                         f"give a finite value")
    if isinstance(value, dict):
        for k, v in value.items():
            _check_values(path, f"{where}.{k}" if where else k, v)
    elif isinstance(value, list):
        for i, v in enumerate(value):
            _check_values(path, f"{where}[{i}]", v)


def _object(path: str, name: str, value: Any) -> Dict[str, Any]:
    if not isinstance(value, dict):
        raise ValueError(f"{path}: {name} must be a JSON object {{...}}, got {_kind(value)}")
    return value


def _kind(value: Any) -> str:
    return {dict: "an object", list: "a list", str: "text", int: "a number", float: "a number",
            type(None): "null"}.get(type(value), type(value).__name__)


def _curve(path: str, i: int, entry: Any) -> Any:
    if entry is None or entry == "linear":
        return None
    if isinstance(entry, str):
        raise ValueError(f"{path}: curves[{i}] is {entry!r}: give an object {{\"model\": ...}} or \"linear\"")
    entry = dict(_object(path, f"curves[{i}]", entry))
    model = entry.pop("model", None)
    if not isinstance(model, str) or model not in _CURVE_MODELS:
        raise ValueError(f"{path}: curves[{i}] needs \"model\": one of {sorted(_CURVE_MODELS)} "
                         f"(or the entry \"linear\"), got {json.dumps(model)}")
    try:
        return _CURVE_MODELS[model](**entry)
    except (TypeError, ValueError, OverflowError) as exc:  # an unknown, missing or bad argument
        raise ValueError(f"{path}: curves[{i}] ({model}): {exc}") from None


def read_analysis(path: str) -> Analysis:
    """Read and check an analysis file (nothing is computed).

    The file is UTF-8 JSON. Refused, with a message naming the file and the
    entry: a key given twice in one object, a boolean or a number beyond a
    double (or NaN, Infinity) anywhere, nesting deeper than `MAX_DEPTH`, a
    file over `MAX_FILE_BYTES`.

    Raises
    ------
    OSError
        The file (or the record it names) cannot be read.
    ValueError
        Not JSON, a missing or unknown section or key, or a bad value
        (the message names the file and the entry).
    """
    path = os.fspath(path)
    doc = _load(path)
    doc = _object(path, "the file", doc)
    _check_values(path, "", doc)
    unknown = sorted(set(doc) - set(_SECTIONS))
    if unknown:
        raise ValueError(f"{path}: unknown section {unknown[0]!r} (the sections are {', '.join(_SECTIONS)})")
    for name in ("record", "profile", "curves"):
        if name not in doc:
            raise ValueError(f"{path}: the section {name!r} is missing")
    rec = dict(_object(path, "record", doc["record"]))
    if "file" not in rec:
        raise ValueError(f"{path}: record needs \"file\"")
    name = rec.pop("file")
    if not isinstance(name, str) or not name or "\x00" in name:
        raise ValueError(f"{path}: record.file must be a file name (text, relative to the analysis file's "
                         f"folder), got {json.dumps(name)}")
    record_file = os.path.join(os.path.dirname(os.path.abspath(path)), name)
    try:
        record = read_record(record_file, **rec)
    except (TypeError, ValueError, OverflowError) as exc:
        raise ValueError(f"{path}: record: {exc}") from None
    try:
        profile = Profile(**_object(path, "profile", doc["profile"]))
    except (TypeError, ValueError, OverflowError) as exc:
        raise ValueError(f"{path}: profile: {exc}") from None
    given = doc["curves"]
    if isinstance(given, dict):
        # One curve for every layer, as equivalent_linear takes it.
        one = _curve(path, 0, given)
        curves = [one] * profile.layers
    elif isinstance(given, list):
        curves = [_curve(path, i, c) for i, c in enumerate(given)]
    else:
        raise ValueError(f"{path}: curves must be one curve (an object) for every layer or a list, one entry per "
                         f"layer above the half-space")
    if len(curves) != profile.layers:
        raise ValueError(f"{path}: curves has {len(curves)} entries where the profile has {profile.layers} "
                         f"layers above the half-space")
    options = dict(_object(path, "analysis", doc.get("analysis", {})))
    return Analysis(path=path, record=record, profile=profile, curves=curves, options=options,
                    record_file=record_file)


#: Options of `equivalent_linear` that take a whole number.
_WHOLE_OPTIONS = ("max_iterations",)
#: The largest whole number such an option takes (a C int).
_MAX_WHOLE = 2**31 - 1


def run_analysis(a: Analysis) -> EquivalentLinearResult:
    """Run the analysis; a bad option is a ValueError naming the file."""
    for key in _WHOLE_OPTIONS:
        v = a.options.get(key)
        if v is not None and not (isinstance(v, int) and not isinstance(v, bool) and abs(v) <= _MAX_WHOLE):
            raise ValueError(f"{a.path}: analysis.{key} must be a whole number (at most {_MAX_WHOLE}), got {v!r}")
    try:
        return equivalent_linear(a.record, a.profile, a.curves, **a.options)
    except (TypeError, ValueError, OverflowError) as exc:  # an unknown or bad option
        # A binding's refusal lists every signature: its first line says it.
        raise ValueError(f"{a.path}: analysis: {str(exc).splitlines()[0] if str(exc) else exc!r}") from None


LAYER_COLUMNS = ("top (m)", "thickness (m)", "vs low-strain (m/s)", "vs strain-compatible (m/s)",
                 "G/Gmax (ratio)", "damping (ratio)", "peak strain (ratio)", "mean effective stress (kPa)",
                 "converged (1 yes / 0 no)")


def layer_table(a: Analysis, res: EquivalentLinearResult) -> np.ndarray:
    """One row per layer above the half-space, the columns of LAYER_COLUMNS
    (the last, 1 or 0 on every row, tells whether the iteration converged)."""
    p = a.profile
    n = p.layers
    vs = np.asarray(p.vs[:n])
    return np.column_stack([np.asarray(res.depth[:n]), np.asarray(p.thickness[:n]), vs, vs * np.sqrt(res.g_ratio),
                            res.g_ratio, res.damping, res.max_strain, res.mean_stress,
                            np.full(n, 1.0 if res.converged else 0.0)])


def write_layers_csv(a: Analysis, res: EquivalentLinearResult, out: "OutputFile | str") -> None:
    """The layer table as CSV (17 significant digits; the flag column as
    0 or 1), replaced whole (see ``velmar._files``). A name given as text is
    checked against the analysis' inputs first."""
    if not isinstance(out, OutputFile):
        out = OutputFile(out, analysis_inputs(a), what="the CSV file")
    table = layer_table(a, res)

    def writer(path: str) -> None:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(",".join(LAYER_COLUMNS) + "\n")
            np.savetxt(f, table, fmt=["%.17g"] * (table.shape[1] - 1) + ["%d"], delimiter=",")

    out.write(writer)


#: The files written beside the layer table ``STEM.layers.csv`` (or the
#: --out name's stem): the surface response spectrum and acceleration history.
SURFACE_FILES = ("surface-spectrum", "surface-history")


def surface_paths(layers_path: str, analysis_path: str) -> Dict[str, str]:
    """The surface files' names beside the layer table: ``STEM.surface-spectrum.csv``
    and ``STEM.surface-history.csv``, STEM the layer table's name without
    ``.layers.csv`` (or ``.csv``). A layer table written to a device or
    standard output takes the analysis file's stem."""
    base = layers_path
    device = os.path.exists(base) and not os.path.isfile(base)
    if device or base.startswith(("/dev/", "/proc/")):
        base = os.path.splitext(analysis_path)[0] + ".layers.csv"
    low = base.lower()
    stem = base[:-len(".layers.csv")] if low.endswith(".layers.csv") else \
        (os.path.splitext(base)[0] if low.endswith(".csv") else base)
    return {name: f"{stem}.{name}.csv" for name in SURFACE_FILES}


def write_surface_csv(a: Analysis, res: EquivalentLinearResult, spectrum_out: "OutputFile | str",
                      history_out: "OutputFile | str") -> None:
    """The surface's response spectrum (5 % damping, the default periods)
    and acceleration history through the strain-compatible profile, each as
    CSV beside the input's: spectrum columns ``period (s)``,
    ``frequency (Hz)``, ``sd``, ``psv``, ``psa (<units>)`` and
    ``psa input (<units>)`` (the record times the scale, as observed);
    history columns ``time (s)``, ``accel surface (<units>)`` and
    ``accel input (<units>)``. Each file replaced whole."""
    from ._tables import csv_text
    from ._files import write_text

    outs = []
    for out in (spectrum_out, history_out):
        outs.append(out if isinstance(out, OutputFile) else OutputFile(out, analysis_inputs(a), what="the CSV file"))
    rec = a.record
    u = rec.units
    rs = res.response_spectrum()
    given = np.asarray(rec.accel) * res.scale
    base = spectra(given, rec.dt, rs.periods, rs.damping, units=u).psa
    write_text(outs[0], csv_text(rs._columns() + [(f"psa input ({u})", base)]))
    write_text(outs[1], csv_text([("time (s)", rec.time), (f"accel surface ({u})", res.motion(0.0, "accel")),
                                  (f"accel input ({u})", given)]))


FIGURES = ("convergence", "layers", "curves", "spectra", "fourier", "arias")


def plot_analysis(path: str, out: Optional[str] = None) -> List[str]:
    """Run an analysis file and write its figures as PNG files: the
    iteration's convergence, the strain-compatible G/Gmax, damping and peak
    strain with depth, the G/Gmax and damping curves used (each layer's
    strain-compatible point marked), the surface response spectra (5 %
    damping) of the linear and the strain-compatible profile beside the
    input's, and the Fourier amplitude spectra (raw and smoothed) and the
    build-up of Arias intensity of the input and of the strain-compatible
    surface motion.

    Each figure replaces its file whole (see ``velmar._files``); a figure
    name that is the analysis file or its record is refused before the
    analysis runs.

    Returns
    -------
    list of str
        The files written in `out` (default: the file's folder):
        ``<stem>-convergence.png``, ``<stem>-layers.png``,
        ``<stem>-curves.png`` (only when a layer has curves),
        ``<stem>-spectra.png``, ``<stem>-fourier.png`` and ``<stem>-arias.png``.
    """
    return plot_analysis_run(path, out)[0]


def plot_analysis_run(path: str, out: Optional[str] = None) -> Tuple[List[str], EquivalentLinearResult]:
    """`plot_analysis`, also returning the analysis' result."""
    from .plot import save_png, spectra_figure
    from .plot_eql import plot_convergence, plot_curves, plot_strain_compatible
    from .plot_record import arias_figure, fourier_figure

    a = read_analysis(path)
    folder = out if out is not None else os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    stem = os.path.join(folder, os.path.splitext(os.path.basename(path))[0])
    files = {name: OutputFile(f"{stem}-{name}.png", analysis_inputs(a), what="the figure") for name in FIGURES}
    res = run_analysis(a)
    written = []

    written.append(save_png(plot_convergence(res, a.options.get("tolerance", 0.01)), files["convergence"]))
    written.append(save_png(plot_strain_compatible(res), files["layers"]))
    if any(c is not None for c in a.curves):
        written.append(save_png(plot_curves(res, a.curves, strain_ratio=a.options.get("strain_ratio"),
                                            magnitude=a.options.get("magnitude")), files["curves"]))

    # Surface motions of the low-strain and the strain-compatible profile,
    # under the same input convention and law as the analysis.
    kw = {k: a.options[k] for k in ("input", "scale", "angle", "input_depth") if k in a.options}
    law = a.options.get("modulus") or a.profile.modulus or res.profile.modulus
    periods = default_periods()
    scale = float(a.options.get("scale", 1.0))
    rec = a.record
    outputs = {}
    surface = {}
    acc = propagate(rec, a.profile, modulus=law, **kw)
    surface["surface, low-strain profile"] = acc
    outputs["surface, low-strain profile"] = spectra(acc, rec.dt, periods, units=rec.units).psa
    surface["surface, strain-compatible"] = res.motion(0.0, "accel")
    outputs["surface, strain-compatible"] = res.response_spectrum(periods).psa
    base = spectra(np.asarray(rec.accel) * scale, rec.dt, periods, units=rec.units).psa
    where = {"outcrop": "outcrop", "within": "within", "incident": "incident"}.get(kw.get("input", "outcrop"))
    fig = spectra_figure(periods, base, outputs, rec.units, title=f"{os.path.basename(path)}: surface spectra",
                         input_label=f"input ({where})")
    written.append(save_png(fig, files["spectra"]))

    name = os.path.basename(path)
    motions = {f"input ({where})": Record(np.asarray(rec.accel) * scale, rec.dt, rec.units),
               "surface, strain-compatible": Record(surface["surface, strain-compatible"], rec.dt, rec.units)}
    written.append(save_png(fourier_figure(motions, title=f"{name}: Fourier amplitude spectra"), files["fourier"]))
    written.append(save_png(arias_figure(motions, title=f"{name}: build-up of Arias intensity"), files["arias"]))
    return written, res

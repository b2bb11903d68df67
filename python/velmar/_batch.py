"""Batches of site-response runs: randomised profiles x records, on this
machine's cores or on a Dask cluster."""

from __future__ import annotations

import json
import math
import os
import re
import sys
import uuid
from typing import Any, Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import _checks
from . import _velmar
from ._eql import damping_min_options
from ._profile import Profile
from ._randomize import randomize_options, realisation_count
from ._record import Record
from . import _rvt_site

#: Analyses a batch can run, for ``analysis=``.
ANALYSES = ("linear", "equivalent_linear")

# Realisations per progress step of a local batch, per thread: large enough
# that every thread stays busy between steps.
_LOCAL_STEP_PER_THREAD = 8
# Dask tasks per worker thread by default: enough that the last tasks leave
# little idle time (a worker that finishes early takes another), few enough
# that the per-task set-up (the records' transforms) stays small.
_TASKS_PER_SLOT = 8
# A progress bar is shown for batches of at least this many runs.
_PROGRESS_MIN_RUNS = 200


def _run_range(payload: Dict[str, Any], first: int, count: int) -> Dict[str, Any]:
    """Realisations first .. first+count-1 of a batch: the unit of work of a
    local step or of one Dask task (a plain function of picklable values;
    the options pickle as their fields)."""
    core = _velmar.Profile(**payload["base"])
    motions = [_velmar.RvtCore(*m) for m in payload.get("motions", ())]
    return _velmar.run_batch(core, payload["records"], payload["options"], first, count, motions)


class Simulations:
    """Results of a batch: one row per realisation.

    Attributes
    ----------
    psa : ndarray, shape (n, records, periods)
        Pseudo-spectral acceleration at the output depth (the surface by
        default), g. NaN for a failed run.
    ratio : ndarray, shape (n, records, periods)
        `psa` over the PSA of the input motion (the record times `scale`).
    pga : ndarray, shape (n, records)
        Peak acceleration at the output depth, g.
    max_strain : ndarray, shape (n, records, depths)
        Peak shear strain (ratio) at each of `depths`.
    input_psa : ndarray, shape (records, periods)
        PSA of each input motion, g.
    layers : ndarray of int, shape (n,)
        Number of layers of every realisation.
    periods, depths : ndarray
        Oscillator periods (s) and strain depths (m).
    failures : list of (realisation, record, message)
        Every run that failed (it did not converge, strains ran away, ...).
        `failure_summary()` counts them by reason; `masked()` gives the
        arrays with failed runs masked; the statistics count the runs they
        were taken over.
    inputs : dict
        Everything the batch was given (seed, models, parameters), enough to
        repeat it.
    """

    def __init__(self, psa, pga, max_strain, input_psa, layers, periods, depths, failures, inputs, record_names):
        self.psa = psa
        self.pga = pga
        self.max_strain = max_strain
        self.input_psa = input_psa
        with np.errstate(divide="ignore", invalid="ignore"):
            self.ratio = psa / input_psa[np.newaxis, :, :]
        self.layers = layers
        self.periods = periods
        self.depths = depths
        self.failures = failures
        self.inputs = inputs
        self.record_names = record_names

    @property
    def failed(self) -> np.ndarray:
        """Failed runs per record, ndarray of int."""
        counts = np.zeros(self.psa.shape[1], dtype=np.int64)
        for _, m, _ in self.failures:
            counts[m] += 1
        return counts

    @property
    def failed_runs(self) -> np.ndarray:
        """Which runs failed: bool, shape (realisations, records)."""
        mask = np.zeros(self.psa.shape[:2], dtype=bool)
        first = self.inputs.get("first", 0)
        for r, m, _ in self.failures:
            mask[r - first, m] = True
        return mask

    def failure_summary(self) -> Dict[str, int]:
        """How many runs failed, by reason, most frequent first.

        Failures of one kind are counted together: "did not converge within
        max_iterations", "strains ran away (beyond strain_limit in two
        passes)", and any other message with its numbers as "#";
        ``failures`` keeps every message whole.

        Returns
        -------
        dict of str to int
            Empty when no run failed.
        """
        counts: Dict[str, int] = {}
        for _, _, msg in self.failures:
            reason = failure_reason(msg)
            counts[reason] = counts.get(reason, 0) + 1
        return dict(sorted(counts.items(), key=lambda kv: (-kv[1], kv[0])))

    def masked(self, name: str = "psa") -> np.ma.MaskedArray:
        """One of ``psa``, ``ratio``, ``pga``, ``max_strain`` as a numpy
        masked array: the runs that failed, and any value that is not finite
        (a strain depth in the half-space), masked. Statistics of its
        unmasked entries (``np.ma.median(..., axis=0)``) are over the runs
        that succeeded."""
        arrays = {"psa": self.psa, "ratio": self.ratio, "pga": self.pga, "max_strain": self.max_strain}
        if name not in arrays:
            raise ValueError(f"name must be one of {', '.join(map(repr, arrays))}, got {name!r}")
        a = arrays[name]
        runs = self.failed_runs.reshape(self.failed_runs.shape + (1,) * (a.ndim - 2))
        return np.ma.MaskedArray(a, mask=np.broadcast_to(runs, a.shape) | ~np.isfinite(a))

    @property
    def psa_masked(self) -> np.ma.MaskedArray:
        """`psa` with failed runs masked (``masked("psa")``)."""
        return self.masked("psa")

    @property
    def pga_masked(self) -> np.ma.MaskedArray:
        """`pga` with failed runs masked (``masked("pga")``)."""
        return self.masked("pga")

    def statistics(self, percentiles: Sequence[float] = (16.0, 84.0)) -> Dict[str, Dict[str, np.ndarray]]:
        """Median, log standard deviation and percentiles over the realisations.

        Failed runs are left out. Returns ``{"psa": {...}, "ratio": {...},
        "pga": {...}}``, each with ``median`` and ``log_std`` of shape
        (records, periods) (pga: (records,)) and ``percentiles`` with a
        leading axis over `percentiles`; ``count``, the runs each value was
        taken over, and ``failed``, the runs of that record that failed
        (``count + failed`` is the number of realisations), both of that
        shape.
        """
        p = _checks.float_array("percentiles", percentiles)
        out = {}
        for name, values in (("psa", self.psa), ("ratio", self.ratio), ("pga", self.pga)):
            tail = values.shape[1:]
            flat = np.ascontiguousarray(values.reshape(values.shape[0], -1))
            med, lstd, pct, cnt = _velmar.column_statistics(flat, p)
            failed = np.broadcast_to(self.failed.reshape((-1,) + (1,) * (len(tail) - 1)), tail).copy()
            out[name] = {"median": med.reshape(tail), "log_std": lstd.reshape(tail),
                         "percentiles": pct.reshape((p.size,) + tail), "count": cnt.reshape(tail),
                         "failed": failed}
        return out

    def _table_columns(self, percentiles: Sequence[float]) -> list:
        stats = self.statistics(percentiles)
        nm, nk = self.psa.shape[1], self.psa.shape[2]
        names = np.array([str(r) or f"record {m + 1}" for m, r in enumerate(self.record_names)], dtype=object)
        cols = [("record", np.repeat(np.arange(1, nm + 1), nk)), ("record name", np.repeat(names, nk)),
                ("period (s)", np.tile(np.asarray(self.periods, dtype=np.float64), nm))]
        pct = _checks.float_array("percentiles", percentiles)
        for name, unit in (("psa", " (g)"), ("ratio", "")):
            s = stats[name]
            cols += [(f"{name} median{unit}", s["median"].reshape(-1)), (f"{name} ln std", s["log_std"].reshape(-1))]
            cols += [(f"{name} p{q:g}{unit}", s["percentiles"][i].reshape(-1)) for i, q in enumerate(pct)]
        cols += [("runs used", stats["psa"]["count"].reshape(-1)), ("runs failed", stats["psa"]["failed"].reshape(-1))]
        return cols

    def to_dataframe(self, percentiles: Sequence[float] = (16.0, 84.0)):
        """The statistics of the surface spectra as a pandas DataFrame, one
        row per record and period: ``record`` (from 1), ``record name``,
        ``period (s)``, ``psa median (g)``, ``psa ln std``, ``psa p16 (g)``,
        ``psa p84 (g)`` (one column per percentile), the same for ``ratio``
        (PSA over the input's), ``runs used`` (the realisations the
        statistics were taken over) and ``runs failed``. The realisations
        themselves are in `psa`, `to_xarray`."""
        from ._tables import dataframe
        return dataframe(self._table_columns(percentiles),
                         {"realisations": int(self.psa.shape[0]), "failures": self.failure_summary()})

    def to_csv(self, path: Any, percentiles: Sequence[float] = (16.0, 84.0)) -> str:
        """Write the table of `to_dataframe` to a CSV file, replaced whole;
        a record file of the batch is never written over. Returns the file's
        name."""
        from ._tables import record_inputs, write_csv

        inputs = [i for n in self.record_names for i in record_inputs(n)]
        return write_csv(path, self._table_columns(percentiles), inputs)

    def to_xarray(self, percentiles: Sequence[float] = (16.0, 84.0)):
        """The results as an xarray Dataset.

        Dimensions realisation, record, period, depth (and percentile for the
        summaries); the batch's inputs are attributes (dicts as JSON text),
        so a run can be repeated exactly. ``ds.to_netcdf(path)`` writes it.
        """
        import xarray as xr

        n, nm, _ = self.psa.shape
        stats = self.statistics(percentiles)
        failed = np.zeros((n, nm), dtype=np.int8)
        first = self.inputs["first"]
        for r, m, _ in self.failures:
            failed[r - first, m] = 1
        dims3 = ("realisation", "record", "period")
        data = {
            "psa": (dims3, self.psa, {"units": "g", "long_name": "pseudo-spectral acceleration"}),
            "ratio": (dims3, self.ratio, {"units": "1", "long_name": "PSA over the input motion's PSA"}),
            "pga": (("realisation", "record"), self.pga, {"units": "g"}),
            "max_strain": (("realisation", "record", "depth"), self.max_strain, {"units": "1"}),
            "input_psa": (("record", "period"), self.input_psa, {"units": "g"}),
            "layers": (("realisation",), self.layers),
            "failed": (("realisation", "record"), failed),
            "failed_count": (("record",), self.failed, {"long_name": "runs of the record that failed"}),
        }
        for name, s in stats.items():
            dims = ("record", "period") if name != "pga" else ("record",)
            data[f"{name}_median"] = (dims, s["median"])
            data[f"{name}_log_std"] = (dims, s["log_std"])
            data[f"{name}_percentiles"] = (("percentile",) + dims, s["percentiles"])
            data[f"{name}_count"] = (dims, s["count"], {"long_name": f"runs the {name} statistics were taken over"})
        coords = {"realisation": np.arange(first, first + n), "record": np.arange(nm),
                  "record_name": ("record", np.array(self.record_names, dtype=object).astype(str)),
                  "period": ("period", self.periods, {"units": "s"}),
                  "depth": ("depth", self.depths, {"units": "m"}),
                  "percentile": np.asarray(percentiles, dtype=np.float64)}
        attrs = {k: _attribute(v) for k, v in self.inputs.items()}
        attrs["failures"] = json.dumps(self.failures)
        attrs["failed_runs"] = len(self.failures)
        attrs["failure_summary"] = json.dumps(self.failure_summary())
        return xr.Dataset(data, coords=coords, attrs=attrs)

    def to_netcdf(self, path: str) -> None:
        """Write `to_xarray()` to a netCDF file, replacing it whole.

        The file is written to ``.NAME.velmar-XXXXXX`` in the same folder and
        renamed over `path` once complete, so a full disk, a file-size limit
        or a kill leaves the old file as it was (see ``velmar._files``); an
        existing device or FIFO is written once, at the end.

        Raises
        ------
        ValueError
            `path` is not a file name, or names a folder.
        OSError
            The file cannot be written (the message names it); the old file
            is then unchanged.
        """
        from ._files import OutputFile, netcdf_image, write_bytes

        out = OutputFile(path, what="the netCDF file")
        write_bytes(out, netcdf_image(self.to_xarray()))

    def __repr__(self) -> str:
        n, nm, nk = self.psa.shape
        text = (f"velmar.Simulations({n} realisations x {nm} record{'s' if nm != 1 else ''}, "
                f"{self.inputs['analysis']}, {nk} periods, {len(self.failures)} failed")
        if self.failures:
            used = n - self.failed
            text += (" (" + "; ".join(f"{c} {r}" for r, c in self.failure_summary().items()) +
                     f"); statistics over {int(used.min())}" +
                     (f" to {int(used.max())}" if used.max() != used.min() else "") + f" of {n} runs per record")
        return text + ")"


_NUMBER = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


# The library's messages of a failed run, by the reason a summary gives.
_KNOWN_REASONS = (("did not converge in", "did not converge within max_iterations"),
                  ("strains run away", "strains ran away (beyond strain_limit in two passes)"),
                  ("is not finite", "a PSA or peak acceleration that is not finite"))


def failure_reason(message: str) -> str:
    """The reason a failure shares with failures of its kind: a short name
    for the library's usual ones (no convergence, strains that ran away),
    else the message with every number as "#"."""
    text = str(message)
    for key, reason in _KNOWN_REASONS:
        if key in text:
            return reason
    return _NUMBER.sub("#", text).strip()


def _attribute(value: Any) -> Any:
    """A value netCDF can store as an attribute: numbers and text as they
    are, flags as 0/1, anything else (lists, None, a seed beyond int64) as
    JSON text."""
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, int) and -2**63 <= value < 2**63:
        return value
    if isinstance(value, (float, str)):
        return value
    return json.dumps(value)


def _progress_bar(total: int, show: Optional[bool]):
    if show is None:
        show = total >= _PROGRESS_MIN_RUNS and sys.stderr.isatty()
    if not show:
        return None
    from tqdm import tqdm
    return tqdm(total=total, unit="run", desc="velmar")


def _run_local(payload, n: int, nrec: int, threads: int, progress: Optional[bool]) -> List[Dict[str, Any]]:
    bar = _progress_bar(n * nrec, progress)
    if bar is None:
        return [_run_range(payload, 0, n)]
    step = max(1, _LOCAL_STEP_PER_THREAD * threads)
    parts = []
    try:
        for first in range(0, n, step):
            parts.append(_run_range(payload, first, min(step, n - first)))
            bar.update(parts[-1]["psa"].shape[0] * nrec)
    finally:
        bar.close()
    return parts


def _cpu_count() -> int:
    """Cores this process may run on (its affinity, not the host's count)."""
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1)


def _run_dask(client, payload, n: int, nrec: int, chunk: Optional[int], progress: Optional[bool]):
    from distributed import as_completed

    if chunk is None:
        workers = client.scheduler_info().get("workers", {})
        slots = max(1, sum(w.get("nthreads", 1) for w in workers.values()))
        chunk = max(1, math.ceil(n / (_TASKS_PER_SLOT * slots)))
    tag = uuid.uuid4().hex
    futures = [client.submit(_run_range, payload, first, min(chunk, n - first),
                             key=f"velmar-batch-{tag}-{first}", pure=False)
               for first in range(0, n, chunk)]
    bar = _progress_bar(n * nrec, progress)
    parts = []
    try:
        for fut in as_completed(futures):
            part = fut.result()
            parts.append(part)
            if bar is not None:
                bar.update(part["psa"].shape[0] * nrec)
    except BaseException:
        # A task that failed for good (or an interrupt): the rest of the
        # batch is not left running on the cluster.
        client.cancel(futures)
        raise
    finally:
        if bar is not None:
            bar.close()
    return parts


def simulate(profile: Profile, records: Any, n: int = 200, seed: int = 1, vs_model: Any = "USGS C",
             layering: Any = True, analysis: str = "linear", curves: Any = None,
             periods: Optional[Any] = None, client: Any = None, *, vary_curves: bool = False,
             rho_gd: float = -0.5, truncation: float = 2.0, halfspace_sigma_ln: float = 0.0,
             output_depth: float = 0.0, strain_depths: Optional[Any] = None, damping: float = 0.05,
             input: str = "outcrop", input_depth: float = 0.0, scale: float = 1.0, angle: float = 0.0,
             modulus: Optional[str] = None, water_table: Optional[float] = None,
             strain_ratio: Optional[float] = None, magnitude: Optional[float] = None, tolerance: float = 0.01,
             max_iterations: int = 40, strain_limit: float = 0.05, max_frequency: Optional[float] = None,
             wavelength_fraction: float = 0.2, threads: Optional[int] = None, chunk: Optional[int] = None,
             progress: Optional[bool] = None, damping_min: Any = None) -> Simulations:
    """Run `n` randomised profiles under every record.

    Realisation ``r`` is ``randomize(profile, seed=seed, ...)``'s profile
    ``r``: every number depends only on the inputs, not on the threads or
    the workers that computed it.

    Parameters
    ----------
    profile : Profile
        The base case.
    records : Record, RvtMotion or a sequence of them
        The input motions. An RvtMotion (a Fourier spectrum and a duration)
        runs by random vibration theory: PSA with its peak method's
        oscillator correction, PGA and peak strains as RVT expected peaks,
        the iteration as `equivalent_linear` runs it for an RvtMotion. In
        the results the records come first, then the RVT motions, each in
        the order given.
    n, seed, vs_model, layering, truncation, halfspace_sigma_ln
        The randomisation, as for `randomize`.
    analysis : str, optional
        ``"linear"`` or ``"equivalent_linear"`` (SH waves either way).
    curves : curve model or list, optional
        Modulus-reduction and damping curves: one model (velmar.Darendeli,
        velmar.Menq, velmar.CurveTable or a published set of
        `velmar.curves()`) for every layer, or a list with one
        per layer of the base profile (None for a linear layer). Required
        for ``"equivalent_linear"``; a random layer takes the curve of the
        base layer at its mid-depth.
    periods : array_like, optional
        Oscillator periods, s; default (None) 100 from 0.01 to 10 s. An empty
        list is refused.
    client : dask.distributed.Client, optional
        Run on its cluster in tasks of `chunk` realisations; None runs here,
        on `threads` threads.
    vary_curves : bool, optional
        Vary every layer's curves about their means (standard deviations of
        Darendeli's model, for every curve kind: each curve is tabulated at
        the layer's mean stress and moved; G/Gmax and damping deviates correlated by
        `rho_gd`, values clipped to G/Gmax in [0.001, 1], damping in [0, 0.5]).
    output_depth : float, optional
        Depth of the PSA and PGA, m (0: the surface).
    strain_depths : array_like, optional
        Depths (m) of the peak-strain profile. Default: the mid-depths of the
        base layers for an equivalent-linear batch (read off the
        iteration), none for a linear one (each depth costs a transform).
    damping : float, optional
        Oscillator damping ratio.
    input, input_depth, scale, angle, modulus
        Where the record was observed, its depth (``input="within"`` only),
        its scale, the SH wave's incidence (degrees from vertical) and the
        complex-modulus law (default: the profile's if it has one, else
        "dormieux" for an equivalent-linear batch and "velmar" for a linear
        one, as `equivalent_linear` and `propagate` do).
    water_table, strain_ratio, magnitude, tolerance, max_iterations, strain_limit, max_frequency,
    wavelength_fraction, damping_min
        The equivalent-linear iteration, as for `equivalent_linear`
        (sublayering with `max_frequency`). They are checked for a linear
        batch too.
    threads : int, optional
        Threads of a local batch; None uses every core.
    chunk : int, optional
        Realisations per Dask task; default an eighth of each worker thread's
        share of the batch.
    progress : bool, optional
        A tqdm progress bar; None shows it on a terminal for 200 runs or more.

    Returns
    -------
    Simulations

    Raises
    ------
    ValueError
        A bad argument (named in the message), found before the first
        realisation. Runs that fail do not raise: they are listed in
        ``Simulations.failures``.
    KeyboardInterrupt
        Ctrl-C stops a local batch within a fraction of a second (the
        threads finish their current pass); nothing is returned.
    """
    if not isinstance(profile, Profile):
        raise ValueError(f"profile must be a velmar.Profile, got {type(profile).__name__}")
    recs = _record_list(records)
    count = realisation_count(n)
    if vary_curves and curves is None:
        raise ValueError("vary_curves needs curves, got None")
    for name, value in (("threads", threads), ("chunk", chunk)):
        if value is not None and (isinstance(value, bool) or not isinstance(value, (int, np.integer)) or value < 1):
            raise ValueError(f"{name} must be an integer of at least 1 or None, got {value!r}")

    # 1. The options, one library struct: each value converted and named as
    # it is set; the library checks them all in the run of no realisation
    # below, before any work is done or sent out to a cluster.
    options = _velmar.BatchOptions(
        randomize=randomize_options(vs_model, layering, truncation, halfspace_sigma_ln,
                                    rho_gd if vary_curves else None),
        seed=seed, analysis=analysis, curves=_curve_list(curves), output_depth=output_depth,
        periods=None if periods is None else _checks.float_array("periods", periods),
        spectral_damping=damping,
        threads=(_cpu_count() if threads is None else threads) if client is None else 1,
        el=_velmar.EquivalentLinearOptions(
            water_table=water_table, strain_ratio=strain_ratio, magnitude=magnitude, tolerance=tolerance,
            max_iterations=max_iterations, strain_limit=strain_limit,
            law=modulus if modulus is not None else (profile.modulus or _default_law(analysis)), input=input,
            input_depth=input_depth, angle=angle, scale=scale, max_frequency=max_frequency,
            wavelength_fraction=wavelength_fraction, **damping_min_options(damping_min)))
    if strain_depths is not None:
        options.strain_depths = _checks.float_array("strain_depths", strain_depths)
    elif options.analysis == "equivalent_linear":
        options.strain_depths = profile.depth[:-1] + 0.5 * profile.thickness[:-1]
    base = profile._core
    payload = {"base": dict(thickness=base.thickness, density=base.density, vs=base.vs, damping_s=base.damping_s,
                            vp=base.vp, damping_p=base.damping_p),
               "records": [r._core_args() for r in recs if isinstance(r, Record)], "options": options,
               "motions": [_rvt_site.batch_motion_args(r) for r in recs if _rvt_site.is_motion(r)]}
    probe = _run_range(payload, 0, 0)

    # 2. The runs, here or on the cluster.
    if client is None:
        parts = _run_local(payload, count, len(recs), options.threads, progress)
    else:
        parts = _run_dask(client, payload, count, len(recs), chunk, progress)
    return _simulations(parts, probe, options, recs, profile, count, vs_model, vary_curves)


def _record_list(records: Any) -> List[Record]:
    recs = [records] if isinstance(records, Record) or _rvt_site.is_motion(records) else list(records)
    if not recs:
        raise ValueError("records must hold at least one velmar.Record, got none")
    for i, r in enumerate(recs):
        if not isinstance(r, Record) and not _rvt_site.is_motion(r):
            raise ValueError(f"records[{i}] must be a velmar.Record or velmar.RvtMotion, got {type(r).__name__}")
    # The library runs the records, then the RVT motions.
    return [r for r in recs if isinstance(r, Record)] + [r for r in recs if not isinstance(r, Record)]


def _default_law(analysis: Any) -> str:
    """The complex-modulus law of an analysis when neither the call nor the
    profile names one."""
    return "dormieux" if isinstance(analysis, str) and analysis.lower() == "equivalent_linear" else "velmar"


def _curve_list(curves: Any) -> Any:
    """None, one curve for every layer, or a list of one per layer (the
    library checks the count)."""
    if curves is None or isinstance(curves, (list, tuple)):
        return curves
    return [curves]


_CURVE_KINDS = {"LinearLayer": "linear", "Darendeli": "darendeli", "Menq": "menq", "CurveTable": "table",
                "PublishedCurve": "published", "ZhangAndrusJuang": "zhang_andrus_juang", "Kishida": "kishida",
                "Rollins": "rollins_2020"}


def _fields(value: Any) -> list:
    """The fields of a library struct, in order, as plain values."""
    return [np.asarray(getattr(value, f)).tolist() if f in ("strain", "g_ratio", "damping") else getattr(value, f)
            for f in value._fields]


def _simulations(parts, probe, options, recs, profile, count, vs_model, vary_curves) -> Simulations:
    """The batch's parts as one Simulations in g, with the inputs that repeat it."""
    psa, pga, strain, layers, failures = _assemble(parts, count, len(recs), probe)
    to_g = np.array([_velmar.acceleration_unit(r.units) / _velmar.STANDARD_GRAVITY if isinstance(r, Record)
                     else 1.0 for r in recs])  # RVT motions go to the library in g
    ro, el = options.randomize, options.el
    velocity = None if ro.velocity is None else _fields(ro.velocity)
    inputs = {"first": 0, "n": count, "seed": options.seed, "analysis": options.analysis,
              "vs_model": vs_model if isinstance(vs_model, str) or vs_model is None else velocity,
              "velocity_parameters": velocity,
              "layering": None if ro.layering is None else _fields(ro.layering),
              "truncation": ro.truncation, "halfspace_sigma_ln": ro.halfspace_sigma_ln,
              "vary_curves": bool(vary_curves), "rho_gd": None if ro.curves is None else ro.curves.rho_gd,
              "curves": [[_CURVE_KINDS[type(c).__name__]] + _fields(c) for c in options.curves],
              "modulus": el.law, "input": el.input, "input_depth": el.input_depth, "angle": el.angle,
              "scale": el.scale, "output_depth": options.output_depth,
              "spectral_damping": options.spectral_damping, "water_table": el.water_table,
              "strain_ratio": el.strain_ratio, "magnitude": el.magnitude, "tolerance": el.tolerance,
              "max_iterations": el.max_iterations, "strain_limit": el.strain_limit,
              "max_frequency": el.max_frequency, "wavelength_fraction": el.wavelength_fraction,
              "base_thickness": profile.thickness.tolist(), "base_density": profile.density.tolist(),
              "base_vs": profile.vs.tolist(), "base_damping": profile.damping.tolist(),
              "velmar_version": _velmar.__version__}
    return Simulations(psa * to_g[np.newaxis, :, np.newaxis], pga * to_g[np.newaxis, :], strain,
                       probe["input_psa"] * to_g[:, np.newaxis], layers, np.asarray(probe["periods"]),
                       options.strain_depths, failures, inputs,
                       [r.name if isinstance(r, Record) else _rvt_site.motion_name(r) for r in recs])


def _assemble(parts: List[Dict[str, Any]], n: int, nrec: int, probe: Dict[str, Any]):
    """The parts of a batch in realisation order; every realisation must come
    exactly once."""
    nk = probe["psa"].shape[2]
    nd = probe["max_strain"].shape[2]
    psa = np.full((n, nrec, nk), np.nan)
    pga = np.full((n, nrec), np.nan)
    strain = np.full((n, nrec, nd), np.nan)
    layers = np.zeros(n, dtype=np.int64)
    seen = np.zeros(n, dtype=np.int64)
    failures: List[Tuple[int, int, str]] = []
    for part in parts:
        first = int(part["first"])
        sl = slice(first, first + part["psa"].shape[0])
        seen[sl] += 1
        psa[sl] = part["psa"]
        pga[sl] = part["pga"]
        strain[sl] = part["max_strain"]
        layers[sl] = part["layers"]
        failures.extend((int(r), int(m), str(msg)) for r, m, msg in part["failures"])
    if not np.all(seen == 1):
        bad = np.flatnonzero(seen != 1)
        raise RuntimeError(f"realisation {int(bad[0])} came back {int(seen[bad[0]])} times (expected once)")
    failures.sort(key=lambda f: (f[0], f[1]))
    return psa, pga, strain, layers, failures

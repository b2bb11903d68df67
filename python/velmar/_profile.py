"""The layered profile: layers over a half-space, top down."""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np

from . import _checks
from . import _velmar

ArrayLike = Any  # a sequence of numbers or a numpy array

#: Names of the complex-modulus (damping) laws, for ``modulus=``.
MODULUS_LAWS = ("velmar", "seed", "kramer", "dormieux")
# kN/m3 of unit weight per t/m3 of density, as the equivalent-linear analysis
# forms its stresses.
UNIT_WEIGHT_PER_DENSITY = 9.81


def _readonly(a: np.ndarray) -> np.ndarray:
    a = np.array(a, dtype=np.float64)
    a.setflags(write=False)
    return a


def _entry_array(name: str, value: ArrayLike, n_entries: int, *, halfspace_default: Optional[float],
                 allow_inf: bool = False) -> np.ndarray:
    """One column of the profile, checked for length.

    An array one shorter than the table (layers only) is accepted when
    `halfspace_default` is given, and that value is appended for the
    half-space.
    """
    a = _checks.float_array(name, value, allow_inf=allow_inf)
    if halfspace_default is not None and a.size == n_entries - 1:
        return np.append(a, halfspace_default)
    if a.size != n_entries:
        more = f" or {n_entries - 1} (layers only)" if halfspace_default is not None else ""
        raise ValueError(f"{name} must have {n_entries} entries (one per layer and the half-space, "
                         f"as vs has){more}, got {a.size}")
    return a


def _check_unit_weight(gamma: np.ndarray) -> None:
    """Unit weights above 0 and within earth materials' (5 t/m3 x 9.81)."""
    top = 5.0 * UNIT_WEIGHT_PER_DENSITY
    for i, g in enumerate(gamma):
        where = "the half-space" if i == gamma.size - 1 else f"layer {i + 1}"
        if not g > 0.0:
            raise ValueError(f"unit_weight[{i}] ({where}) must be above 0 (kN/m3), got {g:g}")
        if g > top:
            raise ValueError(f"unit_weight[{i}] ({where}) is {g:g} kN/m3, heavier than any earth material "
                             f"(at most about {top:g} kN/m3): give unit weights in kN/m3 (N/m3 / 1000)")


class Profile:
    """Horizontal viscoelastic layers over a half-space.

    Every array runs top down and has one entry per layer plus a last entry
    for the half-space.

    Parameters
    ----------
    thickness : array_like
        Layer thickness, m. The half-space entry is not used (it may be
        left out: an array one shorter than `vs` is accepted).
    density : array_like
        Mass density, t/m3 (moduli and stresses then come out in kPa), at
        most 5 (no earth material is denser): a unit weight in kN/m3 is
        divided by 9.81 to give t/m3, or given as `unit_weight`. Give
        `density` or `unit_weight`, not both.
    vs : array_like
        Shear-wave velocity, m/s, above 0.
    damping : array_like, optional
        Damping ratio of shear waves (0.05 = 5 %), in [0, 1). An alternative
        to `qs`; give one or neither (neither: elastic everywhere). An array
        one shorter than `vs` leaves the half-space elastic.
    qs : array_like, optional
        Quality factor of shear waves, Q = 1 / (2 damping). 0 or infinity
        means elastic. An alternative to `damping`.
    vp : array_like, optional
        P-wave velocity, m/s, above `vs` in every entry. Needed for the P and
        SV waves only.
    qp : array_like, optional
        Quality factor of P waves (0 or infinity: elastic). Without it (and
        without `damping_p`) P waves take the shear damping.
    damping_p : array_like, optional
        Damping ratio of P waves, an alternative to `qp`.
    modulus : str, optional
        The complex-modulus law used for this profile when a call gives none:
        ``"velmar"``, ``"seed"``, ``"kramer"`` or ``"dormieux"``. None means
        the library's default law, ``"velmar"``.
    unit_weight : array_like, optional, keyword only
        Total unit weight, kN/m3, the alternative to `density`: the profile
        holds density = unit_weight / 9.81 (the factor the
        equivalent-linear analysis uses for its stresses).

    Raises
    ------
    ValueError
        Arrays of different lengths, a value that is not finite, a thickness,
        density or velocity not above 0, a density above 5 t/m3 (the message
        names the layer, counted from 1), both or neither of `density` and
        `unit_weight`, a damping ratio outside [0, 1), a
        negative Q, `vp` not above `vs`, both `damping` and `qs` (or both
        `damping_p` and `qp`) given, `qp` without `vp`, an unknown `modulus`.

    Notes
    -----
    A damped half-space is used when its damping is above 0; 0, an infinite
    Q or an absent value means an elastic half-space.

    Examples
    --------
    >>> p = Profile(thickness=[10.0, 0.0], density=[1.8, 2.2], vs=[200.0, 1000.0],
    ...             damping=[0.05, 0.0])
    >>> p.layers
    1
    """

    def __init__(self, thickness: ArrayLike, density: Optional[ArrayLike] = None, vs: Optional[ArrayLike] = None,
                 damping: Optional[ArrayLike] = None, qs: Optional[ArrayLike] = None,
                 vp: Optional[ArrayLike] = None, qp: Optional[ArrayLike] = None,
                 damping_p: Optional[ArrayLike] = None, modulus: Optional[str] = None, *,
                 unit_weight: Optional[ArrayLike] = None) -> None:
        if vs is None:
            raise TypeError("Profile() needs vs (the shear-wave velocities, m/s)")
        if (density is None) == (unit_weight is None):
            raise ValueError("give density (t/m3) or unit_weight (kN/m3), exactly one of them "
                             f"(got {'both' if density is not None else 'neither'})")
        if damping is not None and qs is not None:
            raise ValueError("give damping or qs, not both (damping = 1 / (2 qs))")
        if damping_p is not None and qp is not None:
            raise ValueError("give damping_p or qp, not both (damping_p = 1 / (2 qp))")
        if vp is None and (qp is not None or damping_p is not None):
            raise ValueError("qp and damping_p need vp, got vp=None")
        # Converted here (numpy arrays, the half-space entry an array one
        # shorter leaves out); every value is checked by the library, which
        # also turns a column of Q into damping ratios.
        vs_a = _checks.float_array("vs", vs)
        if vs_a.size < 1:
            raise ValueError("vs must have at least one entry (the half-space), got 0")
        n = vs_a.size
        if unit_weight is not None:
            # Converted once, by the same 9.81 the analysis multiplies a
            # density by to get a unit weight: its stresses then come from
            # exactly the unit weights given.
            gamma = _entry_array("unit_weight", unit_weight, n, halfspace_default=None)
            _check_unit_weight(gamma)
            rho = gamma / UNIT_WEIGHT_PER_DENSITY
        else:
            rho = _entry_array("density", density, n, halfspace_default=None)
        columns = dict(thickness=_entry_array("thickness", thickness, n, halfspace_default=0.0), density=rho, vs=vs_a)
        for name, value, default, inf in (("damping_s", damping, 0.0, False), ("qs", qs, 0.0, True),
                                          ("vp", vp, None, False), ("damping_p", damping_p, 0.0, False),
                                          ("qp", qp, 0.0, True)):
            if value is not None:
                shown = "damping" if name == "damping_s" else name
                columns[name] = _entry_array(shown, value, n, halfspace_default=default, allow_inf=inf)
        self._modulus = None if modulus is None else _velmar.modulus_name(modulus)
        self._core = _velmar.Profile(**columns)

    @classmethod
    def _from_core(cls, core: "_velmar.Profile", modulus: Optional[str] = None) -> "Profile":
        p = cls.__new__(cls)
        p._core = core
        p._modulus = modulus
        return p

    # --- the table, as read-only numpy arrays -------------------------------------------------
    @property
    def thickness(self) -> np.ndarray:
        """Layer thickness, m (the half-space entry is not used)."""
        return _readonly(self._core.thickness)

    @property
    def density(self) -> np.ndarray:
        """Mass density, t/m3."""
        return _readonly(self._core.density)

    @property
    def vs(self) -> np.ndarray:
        """Shear-wave velocity, m/s."""
        return _readonly(self._core.vs)

    @property
    def damping(self) -> np.ndarray:
        """Damping ratio of shear waves (a plain ratio; 0 = elastic)."""
        return _readonly(self._core.damping_s)

    @property
    def qs(self) -> np.ndarray:
        """Quality factor of shear waves, 1 / (2 damping); infinity where elastic."""
        return _readonly(_damping_to_quality(self._core.damping_s))

    @property
    def vp(self) -> Optional[np.ndarray]:
        """P-wave velocity, m/s, or None when the profile has none."""
        return _readonly(self._core.vp) if self._core.has_p else None

    @property
    def damping_p(self) -> Optional[np.ndarray]:
        """Damping ratio of P waves, or None without `vp`."""
        if not self._core.has_p:
            return None
        d = self._core.damping_p
        return _readonly(d if len(d) else self._core.damping_s)

    @property
    def qp(self) -> Optional[np.ndarray]:
        """Quality factor of P waves (infinity where elastic), or None without `vp`."""
        d = self.damping_p
        return None if d is None else _readonly(_damping_to_quality(d))

    @property
    def modulus(self) -> Optional[str]:
        """The profile's complex-modulus law, or None for the library's default."""
        return self._modulus

    @property
    def layers(self) -> int:
        """Number of layers above the half-space."""
        return int(self._core.layers)

    @property
    def depth(self) -> np.ndarray:
        """Depth of the top of every entry, m: 0 for the top layer, the last is the half-space's."""
        return _readonly(self._core.top_depths)

    def __repr__(self) -> str:
        return _profile_repr(self)

    # --- as a table ----------------------------------------------------------------------------
    def _table_columns(self) -> list:
        n = self.layers
        top = np.array(self.depth)
        bottom = np.append(top[1:], np.nan)
        thickness = np.append(np.array(self.thickness[:n]), np.nan)
        rho = np.array(self.density)
        # A deck's table may hold kg/m3 (no density limit there): not labelled t/m3 then.
        rho_name = "density (t/m3)" if np.all(rho <= 5.0) else "density (as given)"
        cols = [("layer", np.arange(1, n + 2)), ("half-space", np.arange(n + 1) == n), ("depth top (m)", top),
                ("depth bottom (m)", bottom), ("thickness (m)", thickness), (rho_name, rho),
                ("vs (m/s)", np.array(self.vs)), ("damping (ratio)", np.array(self.damping))]
        if self.vp is not None:
            cols += [("vp (m/s)", np.array(self.vp)), ("damping_p (ratio)", np.array(self.damping_p))]
        return cols

    def to_dataframe(self):
        """The profile as a pandas DataFrame, one row per layer and a last
        row for the half-space (``half-space`` True; its bottom depth and
        thickness empty): ``layer`` (from 1), ``depth top (m)``,
        ``depth bottom (m)``, ``thickness (m)``, ``density (t/m3)``,
        ``vs (m/s)``, ``damping (ratio)`` and, with P waves, ``vp (m/s)``
        and ``damping_p (ratio)``. The law is in ``DataFrame.attrs``."""
        from ._tables import dataframe
        return dataframe(self._table_columns(), {"modulus": self._modulus})

    def to_csv(self, path: Any) -> str:
        """Write the table of `to_dataframe` to a CSV file, replaced whole
        (see ``velmar._files``). Returns the file's name."""
        from ._tables import write_csv
        return write_csv(path, self._table_columns())

    # --- site indices (velmar._site) ----------------------------------------------------------
    def __reduce__(self):
        # Pickled (and copied) as the library's table, which pickles its
        # columns exactly and rebuilds without the density limit: a deck's
        # profile in kg/m3 comes back as it was. Profiles then travel to
        # worker processes (Dask, multiprocessing, joblib).
        return (_from_state, (self._core, self._modulus))

    @property
    def vs30(self) -> float:
        """Vs30, m/s: 30 / (vertical S travel time over the top 30 m); a
        shallower profile is continued by its half-space."""
        from . import _site
        return _site.vs30(self)

    def time_averaged_vs(self, depth: float) -> float:
        """Time-averaged Vs to `depth` m (VsZ): depth / vertical S travel time.

        A profile shallower than `depth` is continued by its half-space.
        ValueError unless depth is above 0 and finite.
        """
        from . import _site
        return _site.time_averaged_vs(self, depth)

    def site_class(self, code: str = "asce7-16") -> "Any":
        """The site class by Vs30 under a building code.

        Parameters
        ----------
        code : {"asce7-16", "asce7-22", "ec8"}
            ASCE 7-16: A > 1524, B (762, 1524], C (366, 762], D [183, 366],
            E < 183 m/s. ASCE 7-22: A > 1524, B (914, 1524], BC (640, 914],
            C (442, 640], CD (305, 442], D (213, 305], DE (152, 213], E <= 152.
            EC8 (2004): A > 800, B [360, 800], C [180, 360), D < 180, and E
            for a cover about 5 to 20 m thick with time-averaged Vs below 360
            m/s over material everywhere above 800 m/s.

        Returns
        -------
        SiteClass
            A str ("C", "BC", ...) with .code, .vs30, .basis (the rule used)
            and .not_checked: the code's criteria that a Vs profile cannot
            tell (class F, soft-clay thickness, EC8's S1 and S2): check them
            with soil data.
        """
        from . import _site
        return _site.site_class(self, code)

    def fundamental_frequency(self, modulus: Optional[str] = None) -> "Any":
        """Fundamental frequency, Hz, two ways (a FundamentalFrequency):
        ``sh_peak``, the first peak of |SH transfer function| at the surface
        (vertical incidence, this profile's damping), and
        ``quarter_wavelength``, 1 / (4 sum h / Vs) over the layers.
        ValueError for a bare half-space."""
        from . import _site
        return _site.fundamental_frequency(self, modulus)

    @property
    def kappa0(self) -> float:
        """kappa0, s: sum over the layers of 2 damping h / Vs (the half-space not counted)."""
        from . import _site
        return _site.kappa0(self)

    def depth_to(self, vs: float) -> Optional[float]:
        """Depth, m, where Vs first reaches `vs` m/s (the top of the first
        entry with Vs >= vs): ``depth_to(1000)`` is Z1.0, ``depth_to(2500)``
        Z2.5. 0 when the top layer reaches it; None when not even the
        half-space does."""
        from . import _site
        return _site.depth_to(self, vs)


def _from_state(core: "_velmar.Profile", modulus: Optional[str]) -> Profile:
    return Profile._from_core(core, modulus)


def _rebuild(thickness, density, vs, damping, vp, damping_p, modulus) -> Profile:
    # Profiles pickled by earlier versions.
    return Profile(thickness, density, vs, damping=damping, vp=vp, damping_p=damping_p, modulus=modulus)


def _damping_to_quality(d: np.ndarray) -> np.ndarray:
    d = np.asarray(d, dtype=np.float64)
    with np.errstate(divide="ignore"):
        return np.where(d > 0.0, 0.5 / np.where(d > 0.0, d, 1.0), np.inf)


def _profile_repr(p: Profile) -> str:
    """A table of the profile: every entry for short profiles, the first and
    last rows of long ones."""
    cols = [("thickness", "m", p.thickness), ("density", "t/m3", p.density), ("vs", "m/s", p.vs),
            ("damping", "", p.damping)]
    if p.vp is not None:
        cols += [("vp", "m/s", p.vp), ("damping_p", "", p.damping_p)]
    n = p.layers
    law = p.modulus if p.modulus is not None else "default"
    head = (f"velmar.Profile: {n} layer{'s' if n != 1 else ''} over a half-space at "
            f"{p.depth[-1]:g} m, modulus {law}")
    names = ["entry"] + [f"{c[0]} {c[1]}".strip() for c in cols]
    rows = list(range(n + 1))
    if n + 1 > 12:
        rows = rows[:6] + [None] + rows[-4:]
    table = [names]
    for r in rows:
        if r is None:
            table.append(["..."] + ["" for _ in cols])
            continue
        label = "half-space" if r == n else str(r)
        cells = []
        for name, _, arr in cols:
            if name == "thickness" and r == n:
                cells.append("-")
            else:
                cells.append(f"{arr[r]:.6g}")
        table.append([label] + cells)
    widths = [max(len(row[k]) for row in table) for k in range(len(names))]
    lines = [head] + ["  " + "  ".join(c.rjust(w) for c, w in zip(row, widths)) for row in table]
    return "\n".join(lines)

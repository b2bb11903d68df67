"""Logic trees: alternatives with weights, their leaves, and weighted statistics of a model over them."""

from __future__ import annotations

import itertools
import json
import math
import os
from typing import Any, Callable, Dict, List, Mapping, NamedTuple, Optional, Sequence

import numpy as np

#: Fractiles reported by LogicTree.run unless told otherwise.
DEFAULT_FRACTILES = (0.05, 0.16, 0.5, 0.84, 0.95)

_SQRT3 = math.sqrt(3.0)
_WEIGHT_TOLERANCE = 1e-6


class Leaf(NamedTuple):
    """One path through a logic tree: a value for every node and the path's weight."""

    values: Dict[str, Any]
    weight: float


def _number(name: str, x: Any) -> float:
    if isinstance(x, (bool, np.bool_)):
        raise ValueError(f"{name} must be a number, got {x!r}")
    try:
        v = float(x)
    except (TypeError, ValueError, OverflowError):
        raise ValueError(f"{name} must be a number, got {x!r}") from None
    if not math.isfinite(v):
        raise ValueError(f"{name} must be finite, got {x!r}")
    return v


def _node(name: str, spec: Any) -> tuple:
    """(values, weights) of one node, checked."""
    if not isinstance(spec, Mapping):
        raise ValueError(f"node {name!r} must be a dict with \"values\" and \"weights\" or \"miller_rice\", "
                         f"got {spec!r}")
    keys = set(spec)
    if "miller_rice" in keys:
        if keys != {"miller_rice"}:
            raise ValueError(f"node {name!r}: \"miller_rice\" takes no other keys, got {sorted(keys)}")
        mr = spec["miller_rice"]
        if not isinstance(mr, Mapping) or set(mr) != {"mean", "std"}:
            raise ValueError(f"node {name!r}: \"miller_rice\" must be {{\"mean\": ..., \"std\": ...}}, got {mr!r}")
        mean = _number(f"node {name!r} miller_rice mean", mr["mean"])
        std = _number(f"node {name!r} miller_rice std", mr["std"])
        if not std > 0.0:
            raise ValueError(f"node {name!r}: miller_rice std must be above 0, got {std!r}")
        # Miller and Rice (1983): the three-point Gaussian quadrature of a normal variable.
        return [mean - _SQRT3 * std, mean, mean + _SQRT3 * std], [1.0 / 6.0, 2.0 / 3.0, 1.0 / 6.0]
    if keys != {"values", "weights"}:
        raise ValueError(f"node {name!r} must have the keys \"values\" and \"weights\" (or \"miller_rice\"), "
                         f"got {sorted(keys)}")
    values, weights = spec["values"], spec["weights"]
    if isinstance(values, (str, bytes)) or not isinstance(values, Sequence) or len(values) == 0:
        raise ValueError(f"node {name!r}: values must be a non-empty list, got {values!r}")
    if isinstance(weights, (str, bytes)) or not isinstance(weights, Sequence) or len(weights) != len(values):
        raise ValueError(f"node {name!r}: weights must be a list of {len(values)} numbers (one per value), "
                         f"got {weights!r}")
    w = [_number(f"node {name!r} weights[{i}]", x) for i, x in enumerate(weights)]
    for i, x in enumerate(w):
        if not x > 0.0:
            raise ValueError(f"node {name!r}: weights[{i}] must be above 0 (leave a zero-weight branch out), "
                             f"got {x!r}")
    total = sum(w)
    if abs(total - 1.0) > _WEIGHT_TOLERANCE:
        raise ValueError(f"node {name!r}: weights must sum to 1, got {total!r}")
    return list(values), w


class LogicTree:
    """A logic tree: nodes in order, each a set of alternative values with weights.

    Parameters
    ----------
    nodes : dict or str or path
        ``{name: {"values": [...], "weights": [...]}}`` for a node of given
        alternatives (weights above 0, summing to 1 within 1e-6), or
        ``{name: {"miller_rice": {"mean": m, "std": s}}}`` for a normal
        variable discretised by Miller and Rice (1983): m - sqrt(3) s, m,
        m + sqrt(3) s with weights 1/6, 2/3, 1/6. Nodes keep their order.
        A path names a JSON file holding either that dict or
        ``{"nodes": {...}, "exclusions": [...]}``.
    exclusions : list of dict, optional
        Combinations that cannot occur, e.g. ``[{"vs_factor": 0.8,
        "kappa": 0.047}]``: a leaf whose values match every entry of one
        exclusion is left out, and the remaining leaves' weights are
        renormalised to sum to 1.

    Raises
    ------
    ValueError
        A node that is not of those shapes, weights that do not sum to 1 or
        are not above 0, an exclusion naming an unknown node or value, or
        exclusions that remove every leaf.
    OSError
        A JSON file that cannot be read.

    Examples
    --------
    >>> import velmar
    >>> tree = velmar.LogicTree({"vs_factor": {"values": [0.8, 1.0, 1.2], "weights": [0.3, 0.4, 0.3]},
    ...                          "kappa": {"miller_rice": {"mean": 0.03, "std": 0.01}}})
    >>> len(tree.leaves()), round(sum(leaf.weight for leaf in tree.leaves()), 12)
    (9, 1.0)
    """

    def __init__(self, nodes: Any, exclusions: Optional[Sequence[Mapping[str, Any]]] = None) -> None:
        if isinstance(nodes, (str, bytes, os.PathLike)):
            path = os.fspath(nodes)
            try:
                with open(path, encoding="utf-8") as fh:
                    data = json.load(fh)
            except json.JSONDecodeError as exc:
                raise ValueError(f"{path!r} is not valid JSON: {exc}") from None
            if not isinstance(data, dict):
                raise ValueError(f"{path!r} must hold a JSON object of nodes, got {type(data).__name__}")
            if "nodes" in data and set(data) <= {"nodes", "exclusions"} and isinstance(data["nodes"], dict):
                if exclusions is None:
                    exclusions = data.get("exclusions")
                data = data["nodes"]
            nodes = data
        if not isinstance(nodes, Mapping) or len(nodes) == 0:
            raise ValueError(f"nodes must be a non-empty dict of nodes or a JSON file's path, got {nodes!r}")
        self._nodes: Dict[str, tuple] = {}
        for name, spec in nodes.items():
            if not isinstance(name, str) or not name:
                raise ValueError(f"node names must be non-empty strings, got {name!r}")
            self._nodes[name] = _node(name, spec)
        self._exclusions: List[Dict[str, Any]] = []
        if exclusions is not None:
            if isinstance(exclusions, (str, bytes, Mapping)) or not isinstance(exclusions, Sequence):
                raise ValueError(f"exclusions must be a list of dicts, got {exclusions!r}")
            for i, ex in enumerate(exclusions):
                if not isinstance(ex, Mapping) or not ex:
                    raise ValueError(f"exclusions[{i}] must be a non-empty dict of node: value, got {ex!r}")
                for key, value in ex.items():
                    if key not in self._nodes:
                        raise ValueError(f"exclusions[{i}] names the node {key!r}, which the tree does not have "
                                         f"(nodes: {', '.join(self._nodes)})")
                    if not any(_same(value, v) for v in self._nodes[key][0]):
                        raise ValueError(f"exclusions[{i}]: {value!r} is not a value of node {key!r}")
                self._exclusions.append(dict(ex))
        self._leaves = self._build_leaves()

    @property
    def nodes(self) -> Dict[str, tuple]:
        """Every node's (values, weights), in order."""
        return {k: (list(v), list(w)) for k, (v, w) in self._nodes.items()}

    def _build_leaves(self) -> List[Leaf]:
        names = list(self._nodes)
        leaves = []
        for combo in itertools.product(*(range(len(self._nodes[n][0])) for n in names)):
            values = {n: self._nodes[n][0][i] for n, i in zip(names, combo)}
            if any(all(_same(values[k], v) for k, v in ex.items()) for ex in self._exclusions):
                continue
            weight = math.prod(self._nodes[n][1][i] for n, i in zip(names, combo))
            leaves.append(Leaf(values, weight))
        if not leaves:
            raise ValueError("exclusions remove every leaf of the tree")
        total = math.fsum(leaf.weight for leaf in leaves)
        return [Leaf(leaf.values, leaf.weight / total) for leaf in leaves]

    def leaves(self) -> List[Leaf]:
        """Every leaf: its values (a dict, node name to value) and weight (the
        product of its branches' weights, renormalised after exclusions; the
        weights sum to 1)."""
        return [Leaf(dict(leaf.values), leaf.weight) for leaf in self._leaves]

    def __len__(self) -> int:
        return len(self._leaves)

    def __repr__(self) -> str:
        parts = ", ".join(f"{k} ({len(v[0])})" for k, v in self._nodes.items())
        return f"LogicTree({parts}; {len(self._leaves)} leaves)"

    def run(self, function: Callable[[Dict[str, Any]], Any], client: Any = None,
            fractiles: Sequence[float] = DEFAULT_FRACTILES) -> Any:
        """Call `function(values)` for every leaf and gather the results.

        Parameters
        ----------
        function : callable
            Takes a leaf's values (a dict) and returns a number, an array of
            one shape for every leaf, or an xarray.DataArray (its dimensions
            and coordinates are kept).
        client : optional
            None runs the leaves here, one after the other. A Dask
            distributed ``Client`` (anything with ``map`` and ``gather``)
            runs them on its workers; `function` and what it uses must then
            pickle (velmar's Profile does). A Dask scheduler name
            (``"threads"``, ``"processes"``, ``"synchronous"``) runs them
            with dask.delayed on that scheduler.
        fractiles : sequence of float, optional
            The weighted fractiles to report, each in (0, 1).

        Returns
        -------
        xarray.Dataset
            ``value`` with a first dimension ``branch`` (one entry per leaf,
            with a coordinate per node holding the leaf's values),
            ``weight`` (branch), and over the branches: ``mean`` (weighted
            mean), ``median`` and ``fractiles`` (dimension ``fractile``). A
            weighted fractile q is the smallest leaf value whose cumulative
            weight reaches q (the leaves as a discrete distribution).
        """
        import xarray as xr

        if not callable(function):
            raise ValueError(f"function must be callable, got {function!r}")
        qs = []
        for i, q in enumerate(fractiles):
            x = _number(f"fractiles[{i}]", q)
            if not 0.0 < x < 1.0:
                raise ValueError(f"fractiles[{i}] must lie in (0, 1), got {x!r}")
            qs.append(x)
        values = [leaf.values for leaf in self._leaves]
        results = _evaluate(function, values, client)
        arrays = [_as_dataarray(r, i) for i, r in enumerate(results)]
        first = arrays[0]
        for i, a in enumerate(arrays[1:], start=1):
            if a.dims != first.dims or a.shape != first.shape:
                raise ValueError(f"function returned a result of dimensions {a.dims} and shape {a.shape} for leaf "
                                 f"{i}, but {first.dims} and {first.shape} for leaf 0")
        value = xr.concat(arrays, dim="branch", coords="minimal", compat="override")
        data = np.asarray(value.values, dtype=np.float64)
        bad = ~np.isfinite(data)
        if bad.any():
            i = int(np.argwhere(bad)[0][0])
            raise ValueError(f"function returned a value that is not finite for leaf {i} ({values[i]})")
        weights = np.array([leaf.weight for leaf in self._leaves])
        coords = {"branch": np.arange(len(values))}
        for name in self._nodes:
            col = [v[name] for v in values]
            try:
                coords[name] = ("branch", np.asarray(col))
            except (TypeError, ValueError):
                coords[name] = ("branch", np.asarray([repr(c) for c in col]))
        value = value.assign_coords(coords)
        mean = np.tensordot(weights, data, axes=(0, 0))
        frac = _weighted_fractiles(data, weights, qs)
        med = _weighted_fractiles(data, weights, [0.5])[0]
        other = value.dims[1:]
        other_coords = {d: value.coords[d] for d in other if d in value.coords}
        ds = xr.Dataset(
            {
                "value": value,
                "weight": ("branch", weights),
                "mean": (other, mean),
                "median": (other, med),
                "fractiles": (("fractile",) + other, frac),
            },
            coords={"fractile": np.array(qs), **other_coords},
        )
        ds.attrs["nodes"] = ", ".join(self._nodes)
        return ds


def _same(a: Any, b: Any) -> bool:
    if isinstance(a, (int, float, np.number)) and isinstance(b, (int, float, np.number)) \
            and not isinstance(a, bool) and not isinstance(b, bool):
        return math.isclose(float(a), float(b), rel_tol=1e-12, abs_tol=0.0)
    return a == b


def _evaluate(function: Callable, values: List[Dict[str, Any]], client: Any) -> List[Any]:
    if client is None:
        return [function(dict(v)) for v in values]
    if isinstance(client, str):
        if client not in ("threads", "processes", "synchronous"):
            raise ValueError(f"client must be a Dask client or one of \"threads\", \"processes\", "
                             f"\"synchronous\", got {client!r}")
        import dask

        tasks = [dask.delayed(function)(dict(v)) for v in values]
        return list(dask.compute(*tasks, scheduler=client))
    if hasattr(client, "map") and hasattr(client, "gather"):
        futures = client.map(function, [dict(v) for v in values], pure=False)
        return list(client.gather(futures))
    raise ValueError(f"client must be None, a Dask client (with map and gather) or a scheduler name, "
                     f"got {client!r}")


def _as_dataarray(result: Any, i: int) -> Any:
    import xarray as xr

    if isinstance(result, xr.DataArray):
        return result
    try:
        a = np.asarray(result, dtype=np.float64)
    except (TypeError, ValueError):
        raise ValueError(f"function must return numbers, an array or an xarray.DataArray; leaf {i} gave "
                         f"{type(result).__name__}") from None
    return xr.DataArray(a, dims=[f"dim_{k}" for k in range(a.ndim)])


def _weighted_fractiles(data: np.ndarray, weights: np.ndarray, qs: Sequence[float]) -> np.ndarray:
    """Weighted fractiles over the first axis: for each q the smallest value
    whose cumulative weight reaches q."""
    order = np.argsort(data, axis=0, kind="stable")
    sorted_data = np.take_along_axis(data, order, axis=0)
    w = weights.reshape((-1,) + (1,) * (data.ndim - 1))
    cum = np.cumsum(np.take_along_axis(np.broadcast_to(w, data.shape), order, axis=0), axis=0)
    out = np.empty((len(qs),) + data.shape[1:])
    for j, q in enumerate(qs):
        # The first sorted entry whose cumulative weight reaches q (a tolerance
        # keeps sums such as 0.3 + 0.2 from missing 0.5 by rounding).
        idx = np.argmax(cum >= q - 1e-12, axis=0)
        out[j] = np.take_along_axis(sorted_data, np.expand_dims(idx, 0), axis=0)[0]
    return out

"""Command line: ``python3 -m velmar run DECK [--csv]`` and ``python3 -m velmar plot DECK``;
for an equivalent-linear analysis file (``.json``, see ``_analysis``),
``run FILE.json --csv`` writes the per-layer results and ``plot FILE.json``
its figures.

Exit statuses follow the console program's: 0 a complete run, 1 a limit
stop, 2 refused or unreadable input (and a bad command line).
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional

import numpy as np

from ._deck import read_deck, run_deck
from ._record import UNITS
from ._results import DeckResults, deck_results, record_units_from_header

EXIT_LIMIT = 1
EXIT_INPUT = 2


def csv_path(output: str) -> str:
    """The CSV file beside a console output file: its name with ``.csv``
    (``.results.csv`` when that would be the output file itself)."""
    stem, ext = os.path.splitext(output)
    return stem + (".results.csv" if ext.lower() == ".csv" else ".csv")


def write_csv(results: DeckResults, path: str) -> None:
    """Write the results as CSV: one header line ``name (unit),...``, then
    one row per frequency or time, every value with 17 significant digits
    (it reads back to the same double). The file is replaced whole: written
    beside itself, then renamed."""
    cols = results.columns
    if not cols:
        raise ValueError(f"{results.deck.path}: the deck computes nothing (ITYPE < 0), no CSV written")
    data = np.column_stack([c.values for c in cols])
    tmp = f"{path}.tmp{os.getpid()}"
    try:
        with open(tmp, "w", encoding="utf-8", newline="") as f:
            f.write(",".join(c.header for c in cols) + "\n")
            np.savetxt(f, data, fmt="%.17g", delimiter=",")
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


def _units(args: argparse.Namespace) -> Optional[str]:
    if args.units is not None:
        return args.units
    deck = read_deck(args.deck)
    if deck.kind == "signal":
        return record_units_from_header(deck.signal_file, deck.nskip)
    return None


def _is_analysis(path: str) -> bool:
    return path.lower().endswith(".json")


def _run_analysis(args: argparse.Namespace) -> int:
    from ._analysis import read_analysis, run_analysis, write_layers_csv

    if not args.csv:
        raise ValueError(f"{args.deck}: an analysis file is run with --csv (it has no console output)")
    if args.units is not None:
        raise ValueError("--units is for decks; an analysis file names its record's units")
    a = read_analysis(args.deck)
    res = run_analysis(a)
    path = args.out if args.out is not None else os.path.splitext(args.deck)[0] + ".layers.csv"
    write_layers_csv(a, res, path)
    state = "converged" if res.converged else "NOT converged"
    print(f"{path} ({state} in {res.iterations} passes)")
    return 0


def _run(args: argparse.Namespace) -> int:
    if _is_analysis(args.deck):
        return _run_analysis(args)
    if not args.csv:
        if args.out is not None:
            raise ValueError("--out is used with --csv only (the deck names the console's output file)")
        run_deck(args.deck)
        return 0
    deck = read_deck(args.deck, _units(args) or "g")
    path = args.out if args.out is not None else csv_path(deck.output)
    if os.path.abspath(path) == os.path.abspath(deck.output):
        raise ValueError(f"--out {path!r} is the console's output file; choose another name")
    write_csv(deck_results(deck), path)
    print(path)
    return 0


def _plot(args: argparse.Namespace) -> int:
    if _is_analysis(args.deck):
        from ._analysis import plot_analysis

        if args.units is not None:
            raise ValueError("--units is for decks; an analysis file names its record's units")
        for p in plot_analysis(args.deck, args.out):
            print(p)
        return 0
    from .plot import plot_deck

    for p in plot_deck(args.deck, args.out, args.units, run=not args.no_run):
        print(p)
    return 0


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m velmar",
                                     description="Run a VELMAR console deck, write its results as CSV, or plot them.")
    sub = parser.add_subparsers(dest="command", required=True)
    run = sub.add_parser("run", help="run a deck as the console does; with --csv write its results as CSV instead")
    run.add_argument("deck", help="the deck file (file names in it are relative to the current folder), or an "
                                  "equivalent-linear analysis file (.json)")
    run.add_argument("--csv", action="store_true",
                     help="write the results (double precision) as CSV; the console's output file is not touched")
    run.add_argument("--out", metavar="FILE", help="the CSV file (default: the deck's output name with .csv)")
    run.add_argument("--units", choices=UNITS,
                     help="units of the signal file's samples (default: from its header lines, else g)")
    plot = sub.add_parser("plot", help="run a deck and write its figures as PNG")
    plot.add_argument("deck", help="the deck file, or an equivalent-linear analysis file (.json)")
    plot.add_argument("--out", metavar="DIR", help="folder for the figures (default: beside the output file)")
    plot.add_argument("--units", choices=UNITS,
                      help="units of the signal file's samples (default: from its header lines, else g)")
    plot.add_argument("--no-run", action="store_true", help="do not write the console's output file")
    args = parser.parse_args(argv)
    try:
        return _run(args) if args.command == "run" else _plot(args)
    except RuntimeError as exc:  # a limit stop
        print(exc, file=sys.stderr)
        return EXIT_LIMIT
    except (ValueError, OSError) as exc:
        print(exc, file=sys.stderr)
        return EXIT_INPUT


if __name__ == "__main__":
    sys.exit(main())

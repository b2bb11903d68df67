"""Command line: ``python3 -m velmar run DECK [--csv]`` and ``python3 -m velmar plot DECK``;
for an equivalent-linear analysis file (``.json``, see ``_analysis``),
``run FILE.json --csv`` writes the per-layer results (``FILE.layers.csv``)
and, beside them, the surface response spectrum (``FILE.surface-spectrum.csv``)
and acceleration history (``FILE.surface-history.csv``); ``plot FILE.json``
its figures.

Exit statuses follow the console program's, with one of their own:

- 0: a complete run;
- 1: a limit stop (also strains beyond an analysis' ``strain_limit``);
- 2: refused or unreadable input, a bad command line, an output file that
  is one of the run's inputs or cannot be written;
- 3: an equivalent-linear analysis that did not converge within
  ``max_iterations`` passes: its CSV files and figures are still written
  (from the last pass), the layer table's last column ``converged (1 yes / 0 no)`` holds
  0, and a message on standard error says by how much it missed;
- 130: interrupted by Ctrl-C (no file half-written).

Every file written (CSV, PNG) replaces the old one whole, through a
temporary file ``.NAME.velmar-XXXXXX`` beside it; an output that is an input
of the run, in any spelling, is refused before anything is computed; an
existing device or FIFO is written once, at the end (see ``velmar._files``).
"""

from __future__ import annotations

import argparse
import os
import sys
import warnings
from typing import List, Optional, Sequence

import numpy as np

from ._deck import read_deck, run_deck
from ._files import Input, OutputFile
from ._record import UNITS, units_name
from ._results import DeckResults, deck_results, record_units_from_header

EXIT_COMPLETE = 0
EXIT_LIMIT = 1
EXIT_INPUT = 2
EXIT_NOT_CONVERGED = 3
EXIT_INTERRUPTED = 128 + 2  # as the shell reports a program ended by Ctrl-C

_EPILOG = """\
exit status:
  0  a complete run
  1  a limit stop (the console's limits; strains beyond an analysis' strain_limit)
  2  refused or unreadable input, a bad command line, an output that is one of
     the run's inputs (deck, signal file, analysis file, record) or cannot be
     written; nothing is written then
  3  an analysis file's iteration did not converge: the CSV files and figures
     are written from the last pass and the layer table's column
     "converged (1 yes / 0 no)" holds 0
  130 interrupted (Ctrl-C)

Files are replaced whole: each is written to ".NAME.velmar-XXXXXX" in the same
folder, then renamed over NAME (the temporary file is removed on failure and
on Ctrl-C or kill). An existing device or FIFO is written once, at the end."""


def csv_path(output: str) -> str:
    """The CSV file beside a console output file: its name with ``.csv``
    (``.results.csv`` when that would be the output file itself)."""
    stem, ext = os.path.splitext(output)
    return stem + (".results.csv" if ext.lower() == ".csv" else ".csv")


def write_csv(results: DeckResults, out: "OutputFile | str") -> None:
    """Write the results as CSV: one header line ``name (unit),...``, then
    one row per frequency or time, every value with 17 significant digits
    (it reads back to the same double). The file is replaced whole (see
    ``velmar._files``)."""
    cols = results.columns
    if not cols:
        raise ValueError(f"{results.deck.path}: the deck computes nothing (ITYPE < 0), no CSV written")
    if not isinstance(out, OutputFile):
        out = OutputFile(out, what="the CSV file")
    data = np.column_stack([c.values for c in cols])

    def writer(path: str) -> None:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(",".join(c.header for c in cols) + "\n")
            np.savetxt(f, data, fmt="%.17g", delimiter=",")

    out.write(writer)


def _units(args: argparse.Namespace) -> Optional[str]:
    if args.units is not None:
        return args.units
    deck = read_deck(args.deck)
    if deck.kind == "signal":
        return record_units_from_header(deck.signal_file, deck.nskip)
    return None


def _is_analysis(path: str) -> bool:
    return path.lower().endswith(".json")


def _say(out: OutputFile, line: str) -> None:
    """The confirmation line, unless the output itself goes to standard output."""
    if not out.is_stdout():
        print(line)


def _computed(path: str, run):
    """Run an analysis, its warnings given as messages naming the file."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        res = run()
    for w in caught:
        if not (issubclass(w.category, RuntimeWarning) and "converge" in str(w.message)):
            print(f"{path}: warning: {w.message}", file=sys.stderr)
    return res


def _convergence_status(path: str, res) -> int:
    if res.converged:
        return EXIT_COMPLETE
    print(f"{path}: the iteration did not converge in {res.iterations} passes (largest change "
          f"{float(res.change[-1]):.3g} at the last pass); the results are those of the last pass. "
          f"Raise analysis.max_iterations or analysis.tolerance (exit status {EXIT_NOT_CONVERGED})",
          file=sys.stderr)
    return EXIT_NOT_CONVERGED


def _run_analysis(args: argparse.Namespace) -> int:
    from ._analysis import (analysis_inputs, read_analysis, run_analysis, surface_paths, write_layers_csv,
                            write_surface_csv)

    if not args.csv:
        raise ValueError(f"{args.deck}: an analysis file is run with --csv (it has no console output)")
    if args.units is not None:
        raise ValueError("--units is for decks; an analysis file names its record's units")
    a = read_analysis(args.deck)
    path = args.out if args.out is not None else os.path.splitext(args.deck)[0] + ".layers.csv"
    out = OutputFile(path, analysis_inputs(a), what="--out" if args.out is not None else "the CSV file")
    # Every output is checked (against the inputs) before the analysis runs.
    surface = {name: OutputFile(p, analysis_inputs(a), what="the CSV file")
               for name, p in surface_paths(path, args.deck).items()}
    res = _computed(args.deck, lambda: run_analysis(a))
    write_layers_csv(a, res, out)
    write_surface_csv(a, res, surface["surface-spectrum"], surface["surface-history"])
    state = "converged" if res.converged else "NOT converged"
    _say(out, f"{path} ({state} in {res.iterations} passes)")
    for o in surface.values():
        # Beside a table written to standard output, the names go to standard error.
        print(o.name, file=sys.stderr if out.is_stdout() else sys.stdout)
    return _convergence_status(args.deck, res)


def _deck_inputs(deck_path: str, deck) -> List[Input]:
    inputs: List[Input] = [("the deck", deck_path), ("the console's output file", deck.output)]
    if deck.signal_file:
        inputs.append(("the deck's signal file", deck.signal_file))
    return inputs


def _same_name(a: str, b: str) -> bool:
    return os.path.realpath(a) == os.path.realpath(b)


def _run(args: argparse.Namespace) -> int:
    if _is_analysis(args.deck):
        return _run_analysis(args)
    if not args.csv:
        if args.out is not None:
            raise ValueError("--out is used with --csv only (the deck names the console's output file)")
        run_deck(args.deck)
        return EXIT_COMPLETE
    deck = read_deck(args.deck, _units(args) or "g")
    path = args.out if args.out is not None else csv_path(deck.output)
    if _same_name(path, deck.output):
        raise ValueError(f"--out {path!r} is the console's output file; choose another name")
    out = OutputFile(path, _deck_inputs(args.deck, deck), what="--out" if args.out is not None else "the CSV file")
    write_csv(deck_results(deck), out)
    _say(out, path)
    return EXIT_COMPLETE


def _plot(args: argparse.Namespace) -> int:
    if _is_analysis(args.deck):
        from ._analysis import plot_analysis_run

        if args.units is not None:
            raise ValueError("--units is for decks; an analysis file names its record's units")
        written, res = _computed(args.deck, lambda: plot_analysis_run(args.deck, args.out))
        for p in written:
            print(p)
        return _convergence_status(args.deck, res)
    from .plot import plot_deck

    written = plot_deck(args.deck, args.out, args.units, run=not args.no_run)
    if not written:
        raise ValueError(f"{args.deck}: the deck computes nothing (ITYPE < 0): no figure to draw")
    for p in written:
        print(p)
    return EXIT_COMPLETE


def _message(exc: Exception) -> str:
    """An error's text without Python's "[Errno N]" prefix, naming its file."""
    if isinstance(exc, OSError) and exc.strerror:
        return f"{exc.filename}: {exc.strerror}" if exc.filename else exc.strerror
    return str(exc)


def _units_option(text: str) -> str:
    """--units by the library's table ("gal", "cm/s^2" ... as their canonical names)."""
    try:
        return units_name("--units", text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m velmar", epilog=_EPILOG,
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     description="Run a VELMAR console deck, write its results as CSV, or plot them.")
    sub = parser.add_subparsers(dest="command", required=True)
    run = sub.add_parser("run", epilog=_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter,
                         help="run a deck as the console does; with --csv write its results as CSV instead")
    run.add_argument("deck", help="the deck file (file names in it are relative to the current folder), or an "
                                  "equivalent-linear analysis file (.json)")
    run.add_argument("--csv", action="store_true",
                     help="write the results (double precision) as CSV; the console's output file is not touched")
    run.add_argument("--out", metavar="FILE", help="the CSV file (default: the deck's output name with .csv; "
                                                   "for an analysis file FILE.layers.csv, with the surface "
                                                   "spectrum and history in STEM.surface-spectrum.csv and "
                                                   "STEM.surface-history.csv beside it)")
    run.add_argument("--units", type=_units_option, metavar="{" + ",".join(UNITS) + "}",
                     help="units of the signal file's samples (default: from its header lines, else g)")
    plot = sub.add_parser("plot", epilog=_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter,
                          help="run a deck and write its figures as PNG")
    plot.add_argument("deck", help="the deck file, or an equivalent-linear analysis file (.json)")
    plot.add_argument("--out", metavar="DIR", help="folder for the figures (default: beside the output file)")
    plot.add_argument("--units", type=_units_option, metavar="{" + ",".join(UNITS) + "}",
                      help="units of the signal file's samples (default: from its header lines, else g)")
    plot.add_argument("--no-run", action="store_true", help="do not write the console's output file")
    args = parser.parse_args(argv)
    try:
        return _run(args) if args.command == "run" else _plot(args)
    except KeyboardInterrupt:  # Ctrl-C: any temporary file is removed by then
        print("interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except RecursionError as exc:  # input nested too deeply for any reader
        print(f"{args.deck}: input nested too deeply to read ({exc})", file=sys.stderr)
        return EXIT_INPUT
    except RuntimeError as exc:  # a limit stop
        print(exc, file=sys.stderr)
        return EXIT_LIMIT
    except (ValueError, OSError) as exc:
        print(_message(exc), file=sys.stderr)
        return EXIT_INPUT


if __name__ == "__main__":
    sys.exit(main())

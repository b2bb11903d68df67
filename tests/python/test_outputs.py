"""Output files of the command line and of batches: an input of the run is
never written over, whatever the spelling; devices and FIFOs stay what they
are; a failed, interrupted or killed write leaves the old file whole."""

import hashlib
import json
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import threading
import time

import pytest

import velmar
from velmar._files import OutputFile, PAUSE_ENV, write_text

from conftest import EXAMPLES

PACKAGE_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(velmar.__file__)))
ANALYSIS = "examples/eql_soft_clay.json"
RECORD = "examples/accelerogram.txt"
DECK = "examples/sh_signal.deck"


def env(**extra):
    e = dict(os.environ)
    e["PYTHONPATH"] = PACKAGE_ROOT + os.pathsep + e.get("PYTHONPATH", "")
    e.update(extra)
    return e


def cli(*args, timeout=120, **kw):
    """`python3 -m velmar ARGS` in a subprocess; never a traceback."""
    out = subprocess.run([sys.executable, "-m", "velmar", *args], capture_output=True, text=True, env=env(),
                         timeout=timeout, **kw)
    assert "Traceback" not in out.stderr, out.stderr
    return out


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def leftovers(folder="."):
    return [n for n in os.listdir(folder) if ".velmar-" in n]


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copytree(EXAMPLES, tmp_path / "examples", ignore=shutil.ignore_patterns("expected"))
    monkeypatch.chdir(tmp_path)
    return tmp_path


# --- inputs named as outputs ----------------------------------------------------------------


def _spellings(input_path):
    """Names of `input_path` an output could be given as, made in the current folder."""
    base = os.path.basename(input_path)
    os.link(input_path, "hard-" + base)
    os.symlink(os.path.abspath(input_path), "soft-" + base)
    os.symlink("soft-" + base, "soft2-" + base)  # a chain of links
    return [input_path, "./examples/../" + input_path, os.path.abspath(input_path),
            "hard-" + base, "soft-" + base, "soft2-" + base]


@pytest.mark.parametrize("victim", [ANALYSIS, RECORD])
def test_analysis_csv_over_its_json_or_record_is_refused_in_every_spelling(workdir, victim):
    before = {p: digest(p) for p in (ANALYSIS, RECORD)}
    names = _spellings(victim)
    fd = os.open(victim, os.O_RDONLY)
    try:
        # The descriptor the shell passed (3<FILE): /proc/self/fd/N and /dev/fd/N.
        names += [f"/proc/self/fd/{fd}", f"/dev/fd/{fd}"]
        for name in names:
            out = cli("run", ANALYSIS, "--csv", "--out", name, pass_fds=(fd,))
            assert out.returncode == 2, (name, out.stderr)
            assert name in out.stderr and "would destroy" in out.stderr
    finally:
        os.close(fd)
    assert {p: digest(p) for p in before} == before
    assert not os.path.exists("examples/eql_soft_clay.layers.csv") and not leftovers() and not leftovers("examples")


@pytest.mark.parametrize("victim, role", [(DECK, "the deck"), (RECORD, "signal file")])
def test_deck_csv_over_the_deck_or_its_signal_file_is_refused(workdir, victim, role):
    before = digest(victim)
    for name in _spellings(victim):
        out = cli("run", DECK, "--csv", "--out", name)
        assert out.returncode == 2 and role in out.stderr, (name, out.stderr)
    assert digest(victim) == before


def test_a_bind_mount_of_an_input_is_seen_as_the_input(workdir):
    open("mounted.csv", "w").close()
    if subprocess.run(["mount", "--bind", RECORD, "mounted.csv"], capture_output=True).returncode != 0:
        pytest.skip("bind mounts are not allowed here")
    try:
        out = cli("run", ANALYSIS, "--csv", "--out", "mounted.csv")
        assert out.returncode == 2 and "record file" in out.stderr
    finally:
        subprocess.run(["umount", "mounted.csv"], check=True)


def test_plot_refuses_a_figure_that_is_an_input_before_running(workdir):
    os.mkdir("figs")
    os.symlink(os.path.abspath(DECK), "figs/sh_signal_spectra.png")
    before = digest(DECK)
    out = cli("plot", DECK, "--out", "figs")
    assert out.returncode == 2 and "the deck" in out.stderr
    assert digest(DECK) == before
    assert not os.path.exists("sh_signal.out")  # refused before the deck ran
    os.symlink(os.path.abspath(RECORD), "examples/eql_soft_clay-layers.png")
    out = cli("plot", ANALYSIS)
    assert out.returncode == 2 and "record file" in out.stderr
    assert not os.path.exists("examples/eql_soft_clay-convergence.png")


def test_the_refusal_names_the_input_and_the_folder_case(tmp_path):
    src = tmp_path / "in.txt"
    src.write_text("data\n")
    (tmp_path / "x").mkdir()
    with pytest.raises(ValueError, match=r"is the deck .*in\.txt"):
        OutputFile(str(tmp_path / "x" / ".." / "in.txt"), [("the deck", str(src))])
    with pytest.raises(ValueError, match="names a folder"):
        OutputFile(str(tmp_path), [])
    with pytest.raises(ValueError, match="NUL"):
        OutputFile(str(tmp_path / "a\x00b"), [])
    with pytest.raises(OSError, match="folder"):
        OutputFile(str(tmp_path / "missing" / "out.csv"), [])


# --- devices, FIFOs, links --------------------------------------------------------------------


def _fifo_reader(path, sink):
    def read():
        with open(path, "rb") as f:
            sink.append(f.read())
    t = threading.Thread(target=read, daemon=True)
    t.start()
    return t


def test_a_fifo_is_written_once_at_the_end_and_stays_a_fifo(workdir):
    assert cli("run", DECK, "--csv", "--out", "plain.csv").returncode == 0
    os.mkfifo("pipe.csv")
    got = []
    reader = _fifo_reader("pipe.csv", got)
    out = cli("run", DECK, "--csv", "--out", "pipe.csv")
    reader.join(10)
    assert out.returncode == 0
    assert stat.S_ISFIFO(os.lstat("pipe.csv").st_mode)
    with open("plain.csv", "rb") as f:
        assert got == [f.read()]
    assert not leftovers()


def test_a_fifo_is_not_opened_when_the_run_fails(workdir):
    # Opening a FIFO for writing waits for a reader: a run that fails must
    # end without ever opening it.
    doc = json.load(open(ANALYSIS))
    doc["analysis"]["strain_limit"] = 1e-9  # strains run past it: a limit stop
    json.dump(doc, open("examples/runaway.json", "w"))
    os.mkfifo("pipe.csv")
    out = cli("run", "examples/runaway.json", "--csv", "--out", "pipe.csv", timeout=60)
    assert out.returncode == 1
    assert stat.S_ISFIFO(os.lstat("pipe.csv").st_mode)


def test_a_device_node_is_written_not_replaced(tmp_path):
    null = tmp_path / "null"
    try:
        os.mknod(null, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        with open(null, "wb") as f:
            f.write(b"probe")
    except OSError:
        pytest.skip("cannot make or use a device node here")
    write_text(OutputFile(str(null), []), "a,b\n1,2\n")
    assert stat.S_ISCHR(os.lstat(null).st_mode)
    assert not leftovers(tmp_path)


def test_standard_output_gets_the_csv_at_its_own_offset(workdir):
    with open("captured.txt", "w") as f:
        f.write("before\n")
        f.flush()
        ino = os.fstat(f.fileno()).st_ino
        out = subprocess.run([sys.executable, "-m", "velmar", "run", DECK, "--csv", "--out", "/dev/stdout"],
                             stdout=f, stderr=subprocess.PIPE, text=True, env=env(), timeout=120)
    assert out.returncode == 0 and "Traceback" not in out.stderr
    assert os.stat("captured.txt").st_ino == ino  # written in place, not renamed over
    lines = open("captured.txt").read().splitlines()
    assert lines[0] == "before" and lines[1].startswith("time (s),accel")
    assert lines[-1].count(",") == 1  # no confirmation line after the table


def test_a_symbolic_link_is_followed_and_its_target_replaced_keeping_its_mode(workdir):
    os.mkdir("data")
    with open("data/target.csv", "w") as f:
        f.write("old\n")
    os.chmod("data/target.csv", 0o640)
    os.symlink("data/target.csv", "link.csv")
    assert cli("run", DECK, "--csv", "--out", "link.csv").returncode == 0
    assert os.path.islink("link.csv") and os.readlink("link.csv") == "data/target.csv"
    assert open("data/target.csv").readline().startswith("time (s)")
    assert stat.S_IMODE(os.stat("data/target.csv").st_mode) == 0o640
    assert not leftovers() and not leftovers("data")


def test_a_new_file_gets_the_umask_mode(tmp_path):
    old = os.umask(0o027)
    try:
        write_text(OutputFile(str(tmp_path / "new.csv")), "x\n")
    finally:
        os.umask(old)
    assert stat.S_IMODE(os.stat(tmp_path / "new.csv").st_mode) == 0o640


# --- failed writes ----------------------------------------------------------------------------


def test_a_failing_writer_leaves_the_old_file_and_no_temporary(tmp_path):
    target = tmp_path / "out.csv"
    target.write_text("old content\n")

    def full_disk(path):
        with open(path, "w") as f:
            f.write("partial")
        raise OSError(28, "No space left on device")

    with pytest.raises(OSError, match=r"out\.csv: cannot write .*No space left.*left as it was"):
        OutputFile(str(target)).write(full_disk)
    with pytest.raises(OSError, match="NetCDF: HDF error"):
        OutputFile(str(target)).write(lambda p: (_ for _ in ()).throw(RuntimeError("NetCDF: HDF error")))
    assert target.read_text() == "old content\n"
    assert not leftovers(tmp_path)


def _limited(limit):
    def preexec():
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return preexec


def test_a_file_size_limit_fails_the_png_and_keeps_the_old_one(workdir):
    os.mkdir("figs")
    for name in ("profile", "transfer"):
        with open(f"figs/psv_transfer_basin_{name}.png", "wb") as f:
            f.write(b"old figure")
    out = cli("plot", "examples/psv_transfer_basin.deck", "--out", "figs", "--no-run", preexec_fn=_limited(4096))
    assert out.returncode == 2 and "psv_transfer_basin_profile.png: cannot write" in out.stderr
    assert open("figs/psv_transfer_basin_profile.png", "rb").read() == b"old figure"
    assert not leftovers("figs")


BATCH_SCRIPT = """
import sys
import numpy as np
import velmar
p = velmar.Profile(thickness=[3.0] * 4 + [0.0], density=[1.9] * 5, vs=[200.0, 250.0, 300.0, 350.0, 800.0],
                   damping=[0.02] * 5)
t = np.arange(1500) * 0.01
rec = velmar.Record(0.1 * np.sin(2 * np.pi * 2.5 * t) * np.exp(-1.5 * t), 0.01)
sims = velmar.simulate(p, [rec], n=4, seed=1, periods=[0.1, 1.0])
try:
    sims.to_netcdf(sys.argv[1])
except OSError as exc:
    print(exc, file=sys.stderr)
    sys.exit(2)
"""


def batch(path, timeout=120, **kw):
    return subprocess.Popen([sys.executable, "-c", BATCH_SCRIPT, path], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, **kw)


def test_a_file_size_limit_fails_the_netcdf_and_keeps_the_old_one(tmp_path):
    pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    nc = tmp_path / "batch.nc"
    nc.write_bytes(b"old batch")
    p = batch(str(nc), env=env(), preexec_fn=_limited(2048))
    _, err = p.communicate(timeout=120)
    assert p.returncode == 2 and "batch.nc: cannot write" in err and "Traceback" not in err
    assert nc.read_bytes() == b"old batch"
    assert not leftovers(tmp_path)


# --- kills during a write ---------------------------------------------------------------------


def _wait_for_temp(folder, proc, deadline=60.0):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        found = leftovers(folder)
        if found:
            return found
        assert proc.poll() is None, proc.communicate()
        time.sleep(0.02)
    raise AssertionError("no temporary file appeared")


@pytest.mark.parametrize("sig, status", [(signal.SIGTERM, -signal.SIGTERM), (signal.SIGHUP, -signal.SIGHUP),
                                         (signal.SIGQUIT, -signal.SIGQUIT), (signal.SIGINT, 130),
                                         (signal.SIGKILL, -signal.SIGKILL)])
def test_a_kill_during_the_csv_write_leaves_the_old_file(workdir, sig, status):
    with open("old.csv", "w") as f:
        f.write("old\n")
    p = subprocess.Popen([sys.executable, "-m", "velmar", "run", DECK, "--csv", "--out", "old.csv"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env(**{PAUSE_ENV: "8000"}))
    found = _wait_for_temp(".", p)
    assert len(found) == 1 and found[0].startswith(".old.csv.velmar-")  # named after the file it replaces
    p.send_signal(sig)
    _, err = p.communicate(timeout=30)
    assert p.returncode == status and "Traceback" not in err
    assert open("old.csv").read() == "old\n"
    if sig != signal.SIGKILL:
        assert not leftovers()


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGKILL])
def test_a_kill_during_the_png_and_netcdf_writes_leaves_the_old_files(workdir, sig):
    pytest.importorskip("netCDF4")
    os.mkdir("figs")
    png = "figs/psv_transfer_basin_profile.png"
    with open(png, "wb") as f:
        f.write(b"old figure")
    p = subprocess.Popen([sys.executable, "-m", "velmar", "plot", "examples/psv_transfer_basin.deck", "--out", "figs",
                          "--no-run"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env(**{PAUSE_ENV: "8000"}))
    _wait_for_temp("figs", p)
    p.send_signal(sig)
    p.communicate(timeout=30)
    assert p.returncode == -sig
    assert open(png, "rb").read() == b"old figure"

    with open("batch.nc", "wb") as f:
        f.write(b"old batch")
    p = batch("batch.nc", env=env(**{PAUSE_ENV: "8000"}))
    _wait_for_temp(".", p)
    p.send_signal(sig)
    p.communicate(timeout=30)
    assert p.returncode == -sig
    assert open("batch.nc", "rb").read() == b"old batch"
    if sig != signal.SIGKILL:
        assert not leftovers() and not leftovers("figs")


def test_netcdf_round_trip_through_the_writer_and_a_folder_refused(tmp_path):
    xr = pytest.importorskip("xarray")
    pytest.importorskip("netCDF4")
    p = batch(str(tmp_path / "b.nc"), env=env())
    p.communicate(timeout=120)
    assert p.returncode == 0
    with xr.open_dataset(tmp_path / "b.nc") as ds:
        assert ds["psa"].shape == (4, 1, 2)
    assert not leftovers(tmp_path)
    p = batch(str(tmp_path), env=env())
    _, err = p.communicate(timeout=120)
    assert p.returncode != 0 and "names a folder" in err

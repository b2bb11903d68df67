"""Every file the package writes (CSV tables, PNG figures, netCDF batches)
goes through `OutputFile`, so that a file is either replaced whole or left
as it was, and an input of the run is never written over.

The rules are the console program's for its own output file:

- An output that is the same file as an input of the run (the deck, its
  signal file, an analysis file, its record file, the console's output
  file) is refused before anything is computed. Files are compared by
  device and inode after following every link, so a hard link, a symbolic
  link, ``/proc/self/fd/N``, a bind mount or ``dir/../file`` is seen as the
  file it is.
- A regular file, or a name not yet taken, is written to a temporary file
  in the same folder, named ``.NAME.velmar-XXXXXX`` (a dot, the output's
  name, ``.velmar-`` and random characters; mode 0600 while written), then
  renamed over NAME. The new file gets the old one's
  permission bits (else those a new file gets under the umask). Until the
  rename the old file is untouched, so a full disk, a file-size limit, an
  error or a kill leaves it whole. The temporary file is removed when the
  write fails and on SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1 and
  SIGUSR2 (handlers installed for the write's duration when it runs on the
  main thread; the signal then takes its usual course). Only a signal that
  cannot be caught (``kill -9``) or a crash of the machine can leave one
  behind: it may be deleted.
- A symbolic link is followed and its target replaced; the link stays.
- An existing file that is not a regular file (a device such as
  ``/dev/null``, a FIFO, ``/dev/stdout``) is never replaced: it is opened
  and written once, when the whole content is ready.

``VELMAR_TEST_WRITE_PAUSE_MS`` (tests only, at most 10 000) pauses each
write for that many milliseconds once the content is complete and before
it is renamed into place or written to a device, as the console does.
"""

from __future__ import annotations

import errno
import os
import signal
import stat
import sys
import tempfile
import threading
import time
from typing import Callable, Dict, Optional, Sequence, Tuple

#: Signals whose usual course ends the process: while a temporary file
#: exists, they first remove it.
ENDING_SIGNALS = tuple(getattr(signal, s) for s in ("SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT", "SIGALRM",
                                                    "SIGUSR1", "SIGUSR2") if hasattr(signal, s))
#: Links followed at most when resolving an output name.
MAX_LINK_HOPS = 40
#: A longer output name gives the temporary file the stem "velmar" (the
#: temporary name would otherwise pass the file system's name limit).
MAX_TEMP_BASE = 200
PAUSE_ENV = "VELMAR_TEST_WRITE_PAUSE_MS"
_MAX_PAUSE_MS = 10000
_CHUNK = 1 << 16

#: (role, path) of an input file: ("the deck", "site.deck").
Input = Tuple[str, str]


def temp_prefix(base: str) -> str:
    """The start of a temporary file's name for output file `base`."""
    return f".{base if len(base) <= MAX_TEMP_BASE else 'velmar'}.velmar-"


def _pause() -> None:
    v = os.environ.get(PAUSE_ENV, "")
    if v.isdigit():
        time.sleep(min(int(v), _MAX_PAUSE_MS) / 1000.0)


def _umask() -> int:
    """The process' umask, read without changing it where the system tells it."""
    try:
        with open("/proc/self/status", encoding="ascii") as f:
            for line in f:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError, IndexError):
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _resolve(name: str) -> Tuple[str, bool, int]:
    """The file `name` stands for, every symbolic link followed.

    Returns (path, via_proc, descriptor): `via_proc` when the path leads into
    /proc (``/dev/stdout``, ``/dev/fd/N``: an open descriptor, not a file
    that can be replaced), `descriptor` N when it is this process' own
    descriptor N, else -1.
    """
    p = name
    for _ in range(MAX_LINK_HOPS):
        parent = os.path.dirname(p) or "."
        try:
            folder = os.path.realpath(parent, strict=True)
        except OSError as exc:
            raise OSError(exc.errno, f"{name}: cannot create the output file: its folder {parent!r} "
                                     f"cannot be used ({exc.strerror})") from None
        if not os.path.isdir(folder):
            raise OSError(errno.ENOTDIR, f"{name}: cannot create the output file: {parent!r} is not a folder")
        base = os.path.basename(p)
        if folder == "/proc" or folder.startswith("/proc/"):
            own = folder == f"/proc/{os.getpid()}/fd" and base.isdigit()
            return os.path.join(folder, base), True, int(base) if own else -1
        p = os.path.join(folder, base)
        if not os.path.islink(p):
            return p, False, -1
        link = os.readlink(p)
        p = link if os.path.isabs(link) else os.path.join(folder, link)
    raise OSError(errno.ELOOP, f"{name}: cannot create the output file: more than {MAX_LINK_HOPS} symbolic links")


class _TempGuard:
    """While active (on the main thread), the ending signals remove the
    armed temporary file before taking their usual course; on leaving, the
    previous handlers are back and an armed file is removed."""

    def __init__(self) -> None:
        self.path: Optional[str] = None
        self._saved: Dict[int, object] = {}

    def __enter__(self) -> "_TempGuard":
        if threading.current_thread() is threading.main_thread():
            for sig in ENDING_SIGNALS:
                old = signal.getsignal(sig)
                # Ignored (nohup) stays ignored; None is a handler installed
                # outside Python, left alone.
                if old is None or old == signal.SIG_IGN:
                    continue
                self._saved[sig] = old
                signal.signal(sig, self._on_signal)
        return self

    def __exit__(self, *exc: object) -> None:
        self._restore()
        self.remove()

    def _restore(self) -> None:
        saved, self._saved = self._saved, {}
        for sig, old in saved.items():
            signal.signal(sig, old)

    def remove(self) -> None:
        path, self.path = self.path, None
        if path is not None:
            try:
                os.unlink(path)
            except OSError:
                pass

    def _on_signal(self, sig: int, frame: object) -> None:
        old = self._saved.get(sig, signal.SIG_DFL)
        if callable(old):
            # Python's own handler (KeyboardInterrupt for SIGINT) or the
            # program's: an exception it raises unwinds through the write,
            # which removes the file; one that returns lets the write go on.
            old(sig, frame)
            return
        # The default action: end the process by this signal, file removed.
        self.remove()
        self._restore()
        signal.signal(sig, signal.SIG_DFL)
        os.kill(os.getpid(), sig)
        time.sleep(1.0)  # delivery to another thread may take a moment
        os._exit(128 + sig)


class _Blocked:
    """The ending signals blocked (main thread only), so that a temporary
    file's creation or rename and the guard's record of it change together."""

    def __enter__(self) -> None:
        self._old = None
        if threading.current_thread() is threading.main_thread():
            self._old = signal.pthread_sigmask(signal.SIG_BLOCK, ENDING_SIGNALS)

    def __exit__(self, *exc: object) -> None:
        if self._old is not None:
            signal.pthread_sigmask(signal.SIG_SETMASK, self._old)


class OutputFile:
    """An output file of a run, checked when made and written by `write`.

    Parameters
    ----------
    name : str or os.PathLike
        The output file's name, as the user gave it.
    inputs : sequence of (role, path)
        The run's input files, e.g. ``[("the deck", "site.deck")]``; an
        output that is one of them is refused. Missing inputs are skipped.
    what : str, optional
        How messages name the output ("the CSV file", "--out").

    Raises
    ------
    ValueError
        `name` is empty, holds a NUL byte, names a folder, or is an input.
    OSError
        Its folder is missing or not writable, or an existing device or FIFO
        is not writable.
    """

    def __init__(self, name: object, inputs: Sequence[Input] = (), what: str = "the output file") -> None:
        try:
            n = os.fspath(name)  # type: ignore[arg-type]
        except TypeError:
            raise ValueError(f"{what} must be a file name, got {name!r}") from None
        if not isinstance(n, str):
            raise ValueError(f"{what} must be a file name given as text, got {name!r}")
        if not n or "\x00" in n:
            raise ValueError(f"{what} {n!r} is not a usable file name (empty or holding a NUL byte)")
        self.name = n
        if os.path.isdir(n):
            raise ValueError(f"{what} {n!r} names a folder; give a file name")
        try:
            st: Optional[os.stat_result] = os.stat(n)
        except FileNotFoundError:
            st = None
        except OSError as exc:
            raise OSError(exc.errno, f"{n}: cannot use it as the output file ({exc.strerror})") from None
        if st is not None:
            for role, path in inputs:
                if path is None:
                    continue
                try:
                    ist = os.stat(path)
                except (OSError, ValueError):
                    continue
                if (ist.st_dev, ist.st_ino) == (st.st_dev, st.st_ino):
                    raise ValueError(f"{what} {n!r} is {role} {path!r} (writing it would destroy that input); "
                                     f"choose another output name")
        self.target, via_proc, self.descriptor = _resolve(n)
        #: Written directly, once, at the end: a device, a FIFO, a descriptor.
        self.direct = via_proc or (st is not None and not stat.S_ISREG(st.st_mode))
        if self.direct:
            if not os.access(n, os.W_OK):
                raise OSError(errno.EACCES, f"{n}: cannot open the output file for writing (permission denied)")
        else:
            folder = os.path.dirname(self.target)
            if not os.access(folder, os.W_OK | os.X_OK):
                raise OSError(errno.EACCES, f"{n}: the output file's folder {folder!r} is not writable "
                                            f"(the new content is renamed into it)")

    def is_stdout(self) -> bool:
        """True when the output goes to this process' standard output."""
        if not self.direct:
            return False
        try:
            a, b = os.stat(self.name), os.fstat(1)
        except OSError:
            return False
        return (a.st_dev, a.st_ino) == (b.st_dev, b.st_ino)

    def write(self, writer: Callable[[str], None]) -> None:
        """Write the file: `writer(path)` writes the whole content to `path`
        (a temporary file), which then replaces the output file, or is
        copied once into a device, FIFO or descriptor.

        Raises
        ------
        OSError
            The content could not be written (the message names the file and
            the reason); the output file is then as it was.
        """
        try:
            if self.direct:
                self._write_direct(writer)
            else:
                self._replace(writer)
        except OSError as exc:
            raise OSError(exc.errno, self._failure(exc.strerror or str(exc))) from exc
        except RuntimeError as exc:  # a writing library's own error (netCDF, HDF5)
            raise OSError(errno.EIO, self._failure(str(exc))) from exc

    def _failure(self, reason: str) -> str:
        kept = "" if self.direct else "; the file was left as it was"
        return f"{self.name}: cannot write the output file ({reason}){kept}"

    def _temp(self, guard: _TempGuard, folder: str) -> str:
        with _Blocked():
            fd, tmp = tempfile.mkstemp(prefix=temp_prefix(os.path.basename(self.target)), dir=folder)
            guard.path = tmp
        os.close(fd)
        return tmp

    def _replace(self, writer: Callable[[str], None]) -> None:
        folder = os.path.dirname(self.target)
        with _TempGuard() as guard:
            tmp = self._temp(guard, folder)
            writer(tmp)
            _pause()
            _copy_mode(tmp, self.target)
            fd = os.open(tmp, os.O_RDONLY | os.O_CLOEXEC)
            try:
                os.fsync(fd)
            finally:
                os.close(fd)
            with _Blocked():
                os.replace(tmp, self.target)
                guard.path = None
        _sync_folder(folder)

    def _write_direct(self, writer: Callable[[str], None]) -> None:
        with _TempGuard() as guard:
            # The content is made whole first (a scratch file in the system's
            # temporary folder), then written in one go.
            tmp = self._temp(guard, tempfile.gettempdir())
            writer(tmp)
            _pause()
            with open(tmp, "rb") as src:
                if self.descriptor >= 0:
                    # /dev/stdout and the like: the descriptor already open,
                    # at its own offset, after what Python has buffered.
                    for stream in (sys.stdout, sys.stderr):
                        if stream is not None:
                            stream.flush()
                    _copy_to(src, self.descriptor)
                    return
                fd = os.open(self.name, os.O_WRONLY | os.O_APPEND | os.O_CLOEXEC)
                try:
                    _copy_to(src, fd)
                finally:
                    os.close(fd)


def _copy_to(src, fd: int) -> None:
    while True:
        chunk = src.read(_CHUNK)
        if not chunk:
            return
        view = memoryview(chunk)
        while view:
            try:
                n = os.write(fd, view)
            except InterruptedError:
                continue
            view = view[n:]


def _copy_mode(tmp: str, target: str) -> None:
    """Give the new file the old file's permission bits (and, where allowed,
    its owner and group); a new name gets the bits the umask leaves."""
    try:
        st = os.stat(target)
    except FileNotFoundError:
        os.chmod(tmp, 0o666 & ~_umask())
        return
    if st.st_uid != os.geteuid() or st.st_gid != os.getegid():
        try:
            os.chown(tmp, st.st_uid, st.st_gid)
        except OSError:
            pass
    os.chmod(tmp, stat.S_IMODE(st.st_mode))


def _sync_folder(folder: str) -> None:
    """Flush the folder's entries after a rename (where the system can)."""
    try:
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def write_text(out: OutputFile, text: str) -> None:
    """Write `text` (UTF-8) as the whole content of `out`."""

    def writer(path: str) -> None:
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(text)

    out.write(writer)


def write_bytes(out: OutputFile, data: bytes) -> None:
    """Write `data` as the whole content of `out`."""

    def writer(path: str) -> None:
        with open(path, "wb") as f:
            f.write(data)

    out.write(writer)


def netcdf_image(ds) -> bytes:
    """An xarray Dataset as the bytes of a netCDF-4 file, made in memory.

    The netCDF and HDF5 libraries then never write to disk themselves: a
    write they cannot finish (a full disk, a file-size limit) leaves them in
    a state that crashes the process when it exits, whereas a failed plain
    write of these bytes is an ordinary OSError. Where this xarray lacks the
    store calls used, the dataset is written to a scratch file and read back.
    """
    try:
        import netCDF4
        from xarray.backends import NetCDF4DataStore
        from xarray.backends.api import dump_to_store
    except ImportError:
        return _netcdf_via_file(ds)
    nc = netCDF4.Dataset("velmar-batch.nc", "w", format="NETCDF4", memory=1)
    try:
        dump_to_store(ds, NetCDF4DataStore(nc))
    except BaseException:
        nc.close()
        raise
    return bytes(nc.close())


def _netcdf_via_file(ds) -> bytes:
    fd, path = tempfile.mkstemp(prefix=".velmar-batch.", suffix=".nc")
    os.close(fd)
    try:
        ds.to_netcdf(path)
        with open(path, "rb") as f:
            return f.read()
    finally:
        os.unlink(path)

"""Child processes, interruption and putting mutated sources back.

Every command runs in a process group of its own, so that a timeout or an
interruption stops it with everything it started. A source with a mutant in it
is registered in EDITS before it is written, so that whatever ends the run puts
it back (bytes and times)."""
import os
import signal
import subprocess
import threading

from . import ROOT

STOP = threading.Event()
LOCK = threading.Lock()
PROCS = set()
EDITS = {}  # path -> (bytes, atime_ns, mtime_ns): sources with a mutant in them


def restore_edits():
    with LOCK:
        items = list(EDITS.items())
    for path, (data, at, mt) in items:
        with open(path, "wb") as fh:
            fh.write(data)
        os.utime(path, ns=(at, mt))
        with LOCK:
            EDITS.pop(path, None)


def terminate(p, sig=signal.SIGTERM):
    # SIGTERM first: ninja then stops the compilers it runs (each in a process
    # group of its own) and removes their half-written outputs.
    try:
        os.killpg(p.pid, sig)
    except ProcessLookupError:
        pass


def on_signal(signum, _frame):
    if STOP.is_set():
        return  # already stopping: the sources and the build are being put back
    STOP.set()
    with LOCK:
        procs = list(PROCS)
    for p in procs:
        terminate(p)
    raise KeyboardInterrupt(signal.Signals(signum).name)


def run(cmd, cwd, timeout=None, env=None):
    """(exit code or 'timeout', output); the command's whole process group is
    killed on a timeout or an interruption."""
    if STOP.is_set():
        return "stopped", ""
    p = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, start_new_session=True)
    with LOCK:
        PROCS.add(p)
    try:
        out, _ = p.communicate(timeout=timeout)
        rc = p.returncode
    except subprocess.TimeoutExpired:
        terminate(p)
        try:
            out, _ = p.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            terminate(p, signal.SIGKILL)
            out, _ = p.communicate()
        rc = "timeout"
    finally:
        with LOCK:
            PROCS.discard(p)
    if STOP.is_set():
        return "stopped", ""
    return rc, out.decode("utf-8", "replace")


def git(*args):
    return subprocess.run(["git", "-C", ROOT] + list(args), check=True, capture_output=True,
                          text=True).stdout

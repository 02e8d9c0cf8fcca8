"""Foreign files are read in a child process, so that a reader that crashes, hangs or allocates
without end on a damaged file takes only that process down, never the caller (inside the host,
the FE pre-processor with the user's unsaved model).

The child is a fresh interpreter (never a fork of the caller: the host is no Python program, and
forking it is unsafe): the one the toolkit was built for, recorded beside this file at build and
install time ("interpreter.txt"), or the one the environment variable KELM_PYTHON names. The
caller watches the child's wall time and resident memory (not its address space: VTK and its
thread pool reserve far more than they use) and kills it past the limits.
"""
import atexit
import fcntl
import os
import pickle
import re
import select
import subprocess
import sys
import tempfile
import threading
import time

from . import handback
from .errors import SourceError
from .formats import TECPLOT, XML_READERS, openfoam_case

HERE = os.path.dirname(os.path.abspath(__file__))
INTERPRETER_VARIABLE = "KELM_PYTHON"
DEFAULT_TIMEOUT = 600.0  # seconds: a large case on a desktop reads in a minute or two
DEFAULT_MEMORY = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // 2  # the caller
# holds a copy of what the child hands back: half the machine's memory leaves room for both.
REUSE_MEMORY = 512 << 20  # a child holding more after a reading is replaced by a fresh one
# The child's allocator keeps the memory a reading freed (up to REUSE_MEMORY) for the next one,
# large arrays included: on a virtual machine faulting fresh pages in costs more than reading a
# binary file (0.4 s of 0.45 s for a 1,000,000-face surface).
WARM_HEAP = {"MALLOC_MMAP_MAX_": "0", "MALLOC_TRIM_THRESHOLD_": str(REUSE_MEMORY)}
TICK = 0.01  # seconds between looks at the child
PIPE_SIZE = 1 << 20  # F_SETPIPE_SZ: fewer wake-ups while large arrays stream through
UNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30, "T": 1 << 40}


def interpreter():
    """The Python that runs the child: $KELM_PYTHON, else the one recorded at build or install
    time, else (a source checkout, no record) this one."""
    chosen = os.environ.get(INTERPRETER_VARIABLE)
    if chosen:
        return chosen
    try:
        with open(os.path.join(HERE, "interpreter.txt")) as record:
            return record.read().strip()
    except FileNotFoundError:
        return sys.executable


def reader_name(path):
    """The format whose reader reads `path`, for messages ("the EnSight reader crashed ...")."""
    if openfoam_case(path) is not None:
        return "OpenFOAM"
    extension = os.path.splitext(path)[1].lower()
    names = {".case": "EnSight", ".cas": "Fluent", ".cgns": "CGNS", ".vtk": "VTK",
             ".pvd": "VTK XML", **{e: "VTK XML" for e in XML_READERS},
             **{e: "Tecplot" for e in TECPLOT}}
    return names.get(extension, "source")


def memory_size(value):
    """Bytes from a number of bytes or a size such as "512M", "8G", "1.5GiB"; None stays None."""
    if value is None:
        return None
    match = re.fullmatch(r"\s*([0-9.]+(?:[eE][0-9]+)?)\s*([KMGT]?)(?:i?B)?\s*", str(value),
                         re.IGNORECASE)
    try:
        size = float(match.group(1)) * UNITS[match.group(2).upper()] if match else float("nan")
    except ValueError:
        size = float("nan")
    if not size > 0 or size == float("inf"):
        raise ValueError(f"max_memory: {value!r} is not a size (a number of bytes, or e.g. "
                         "'512M', '8G')")
    return int(size)


def seconds(value):
    if value is not None and not (isinstance(value, (int, float)) and 0 < value < float("inf")):
        raise ValueError(f"timeout: {value!r} is not a number of seconds above 0")
    return value


def run(function, path, args, kwargs, timeout, max_memory):
    """Runs cfdsource's in-process `function` ("read_source" or "describe") on `path` in a child
    and returns its result; raises what it raised, or a SourceError when it crashed, ran past
    `timeout` seconds or held more than `max_memory` bytes."""
    watch = Watch(os.fspath(path), seconds(timeout), memory_size(max_memory))
    request = pickle.dumps((function, (path, *args), kwargs))
    try:
        kind, payload = ask(Child.take(), request, watch)
    except Crashed:
        # A child that had read before may have been hurt by that reading: the blame for a crash
        # is only sure in a fresh one.
        kind, payload = ask(Child.take(), request, watch, first=False)
    if kind == "error":
        raise payload
    return payload


def ask(child, request, watch, first=True):
    """(kind, payload) of `child`'s answer to `request`. Only a child that has read cleanly is
    kept for the next reading: one whose reader failed is replaced by a fresh one, since a
    damaged file can leave a reader's memory damaged without a crash."""
    kind = None
    try:
        child.ask(request)
        watch.start(child)
        kind, payload = handback.receive(watch.read_into)
    except Crashed as crash:
        if child.served and first:
            raise
        raise SourceError(str(crash)) from None
    finally:
        child.served += 1
        Child.give_back(child) if kind in ("value", "dataset") else Child.replace(child)
    return kind, payload


class Crashed(Exception):
    """A child that ended before its answer was complete (the message says how)."""


class Child:
    """A started reading process. It answers one request after another: the interpreter start
    and the imports (about half a second, far more on a busy machine) are paid once, not per
    reading. One waits between readings (the spare); it ends by itself when the caller does. A
    child that crashed or was stopped is replaced by a fresh one, and so is one that kept more
    than REUSE_MEMORY after a reading."""

    spare = None
    lock = threading.Lock()

    def __init__(self, python):
        self.python, self.served = python, 0
        self.reply, child_end = os.pipe()
        try:
            fcntl.fcntl(self.reply, getattr(fcntl, "F_SETPIPE_SZ", 1031), PIPE_SIZE)
        except OSError:
            pass  # a smaller pipe only means more reads
        self.errors = tempfile.TemporaryFile()
        try:
            self.process = subprocess.Popen(
                [python, os.path.join(HERE, "child.py"), str(child_end)], stdin=subprocess.PIPE,
                stdout=subprocess.DEVNULL, stderr=self.errors, pass_fds=(child_end,),
                env={**os.environ, **WARM_HEAP})
        except OSError as error:
            self.errors.close()
            os.close(self.reply)
            raise OSError(f"cannot start the reading process {python!r} ({error.strerror}); "
                          f"set {INTERPRETER_VARIABLE} to a Python with VTK") from None
        finally:
            os.close(child_end)

    @classmethod
    def take(cls):
        """The spare if it runs the interpreter asked for now, else a new child."""
        python = interpreter()
        with cls.lock:
            spare, cls.spare = cls.spare, None
        if spare is not None and spare.python == python and spare.process.poll() is None:
            return spare
        if spare is not None:
            spare.end()
        return cls(python)

    @classmethod
    def give_back(cls, child):
        """Keeps a child that has answered as the spare, unless it holds too much."""
        if resident_memory(child.process.pid) > REUSE_MEMORY:
            cls.replace(child)
            return
        with cls.lock:
            kept = cls.spare is None
            if kept:
                cls.spare = child
        if not kept:
            child.end()

    @classmethod
    def replace(cls, child):
        """Ends `child` and starts the spare that the next reading takes."""
        child.end()
        with cls.lock:
            if cls.spare is not None:
                return
        try:
            spare = cls(interpreter())
        except OSError:
            return  # the next reading says why
        cls.give_back(spare)

    def ask(self, request):
        try:
            self.process.stdin.write(request)
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # it died at start: the end of its reply says how

    def end(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()
        if self.process.stdin and not self.process.stdin.closed:
            self.process.stdin.close()
        os.close(self.reply)
        self.errors.close()

    def last_error_line(self):
        self.errors.seek(0)
        lines = self.errors.read().decode(errors="replace").strip().splitlines()
        return lines[-1] if lines else "it printed nothing"


@atexit.register
def _end_spare():
    if Child.spare is not None:
        Child.spare.end()


class Watch:
    """The limits of one reading, and the messages for them."""

    def __init__(self, path, timeout, max_memory):
        self.path, self.timeout, self.max_memory = path, timeout, max_memory
        self.reader = reader_name(path)

    def start(self, child):
        self.child, self.process = child, child.process
        self.deadline = time.monotonic() + self.timeout if self.timeout else None

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def read_into(self, buffer):
        view, filled = memoryview(buffer).cast("B"), 0
        while filled < len(view):
            self.check()
            if not select.select([self.child.reply], [], [], TICK)[0]:
                continue
            count = os.readv(self.child.reply, [view[filled:]])
            if count == 0:
                raise self.ended()
            filled += count

    def check(self):
        if self.deadline is not None and time.monotonic() > self.deadline:
            self.stop()
            raise SourceError(
                f"the {self.reader} reader did not finish {self.path} within {self.timeout:g} s "
                "and was stopped: the file may be damaged (readers can loop on one); if it is "
                "just large, allow more time (timeout=, kelm-map --read-timeout)")
        if self.max_memory is not None and resident_memory(self.process.pid) > self.max_memory:
            self.stop()
            raise SourceError(
                f"the {self.reader} reader held more than {self.max_memory / 2**20:.0f} MiB "
                f"reading {self.path} and was stopped: a damaged count in the file can ask for "
                "any amount; if the file is just large, allow more memory (max_memory=, "
                "kelm-map --read-memory)")

    def ended(self):
        """The error for a child that closed its reply before the end."""
        try:
            status = self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.stop()
            status = self.process.returncode
        if status < 0:
            return Crashed(f"the {self.reader} reader crashed on {self.path} (signal "
                               f"{-status}): the file is damaged or not what its name says")
        return Crashed(f"the reading process for {self.path} ended with status {status} "
                           f"before its reply: {self.child.last_error_line()}")


def resident_memory(pid):
    """The resident memory of process `pid` in bytes (0 once it is gone)."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0

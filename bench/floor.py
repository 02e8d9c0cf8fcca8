"""Shared measuring helpers: wall time, peak extra resident memory, and the physical floor
(copying the same bytes once) measured in the same run."""
import ctypes
import resource
import time

import numpy as np

_libc = ctypes.CDLL(None)


def rss_bytes():
    """Current resident set size."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


def reset_peak():
    """Resets the kernel's peak-RSS counter (VmHWM) so the next peak is this measurement's."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def peak_rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def measure(fn, repeat=3, pick=min):
    """(best seconds, or those `pick` takes of the calls' times, peak extra bytes over the resident
    size before the call, last result)."""
    times, peak, result = [], 0, None
    for _ in range(repeat):
        result = None
        base = rss_bytes()
        reset_peak()
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
        peak = max(peak, peak_rss_bytes() - base)
    return pick(times), peak, result


def copy_floor(*arrays, repeat=5):
    """Seconds to copy the given NumPy arrays' bytes once with memcpy into newly allocated memory
    (best of `repeat`): what producing a new dataset of the same bytes costs at least."""
    sources = [np.ascontiguousarray(a) for a in arrays]
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        targets = [np.empty_like(a) for a in sources]
        for s, t in zip(sources, targets):
            _libc.memcpy(ctypes.c_void_p(t.ctypes.data), ctypes.c_void_p(s.ctypes.data),
                         ctypes.c_size_t(s.nbytes))
        best = min(best, time.perf_counter() - t0)
        del targets
    return best


def mib(n):
    return n / (1 << 20)

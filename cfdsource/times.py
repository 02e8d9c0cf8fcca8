"""Choosing one time of a source that holds several: the latest unless one is asked for."""
from .errors import SourceError


def pick_time(path, times, wanted):
    """The time of `times` to read: the latest when `wanted` is None, else the one equal to it
    (to a relative 1e-6: EnSight and VTK keep times as 32-bit floats). None when the source has
    no times."""
    if wanted is None:
        return max(times) if times else None
    if not times:
        raise SourceError(f"{path}: holds no time steps, so a time ({wanted:g}) cannot be chosen")
    for t in times:
        if abs(t - wanted) <= 1e-6 * max(1.0, abs(wanted)):
            return t
    listed = ", ".join(f"{t:g}" for t in sorted(times))
    raise SourceError(f"{path}: no time {wanted:g} (the times there are: {listed})")

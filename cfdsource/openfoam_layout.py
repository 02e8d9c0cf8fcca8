"""Where an OpenFOAM case keeps the time to read: serial or decomposed, and which region.

A serial run writes its time folders in the case; a parallel run writes them only in processor0/,
processor1/, ..., each over its own piece of the mesh, until reconstructPar gathers them. A case
often holds both: the top level's 0/ (what decomposePar was given) beside the processors'
results, or reconstructed times beside later parallel ones. The latest time of either is read,
from the processors wherever they hold it (that is where a parallel run left its newest
values); a time that only some processors hold cannot be read and is not offered. A
multi-region case keeps each region's mesh in constant/<region>/polyMesh and its fields in
<time>/<region>/.

A time folder without a field file (a run stopped while writing, a folder a tool made) is
passed over when the latest time is chosen: a user asking for "the results" means the newest
values, not an empty folder.
"""
import math
import os
import re
from dataclasses import dataclass

from .errors import SourceError, names_text
from .times import pick_time

PROCESSOR = re.compile(r"processor(\d+)$")


@dataclass
class Layout:
    roots: list        # the case, or its processor folders (decomposed)
    region: str        # "" for a single-region case
    time: float        # None for a case without time folders
    folders: list      # {time: folder name} of each root
    times: list        # every time that can be read, serial or decomposed
    decomposed: bool

    def describe(self):
        return f"decomposed ({len(self.roots)} processors)" if self.decomposed else "serial"

    def time_folder(self):
        """The chosen time's folder (of the first processor; the region's folder in a
        multi-region case), or None."""
        if self.time is None:
            return None
        return os.path.join(self.roots[0], self.folders[0][self.time], self.region)

    def times_holding(self, name):
        """The times whose folder (of the first root) holds the field file `name`."""
        return [t for t in self.times if t in self.folders[0] and _holds(os.path.join(
            self.roots[0], self.folders[0][t], self.region), (name, name + ".gz"))]


def processor_folders(case):
    """processor0, processor1, ... of a case, in number order."""
    try:
        names = os.listdir(case)
    except OSError:
        return []
    numbered = [(int(m.group(1)), m.group(0)) for m in map(PROCESSOR.match, names) if m]
    return [os.path.join(case, n) for _, n in sorted(numbered)
            if os.path.isdir(os.path.join(case, n))]


def time_folders(root):
    """{time: folder name} of the time folders of one root (the case or a processor folder)."""
    found = {}
    try:
        names = os.listdir(root)
    except OSError:
        return found
    for name in names:
        try:
            value = float(name)
        except ValueError:
            continue
        if math.isfinite(value) and os.path.isdir(os.path.join(root, name)):
            found[value] = name
    return found


def has_mesh(root, region=""):
    return os.path.isdir(os.path.join(root, "constant", region, "polyMesh"))


def regions(case):
    """The regions of a multi-region case (constant/<region>/polyMesh, at the top level or in
    processor0), sorted; [] for a single-region case."""
    roots = [case] + processor_folders(case)[:1]
    found = set()
    for root in roots:
        constant = os.path.join(root, "constant")
        if os.path.isdir(constant):
            found.update(n for n in os.listdir(constant) if has_mesh(root, n))
    return sorted(found)


def _holds(folder, names=None):
    """Whether `folder` holds a field file (one of `names`, or any)."""
    try:
        entries = os.listdir(folder)
    except OSError:
        return False
    return any((names is None or n in names) and os.path.isfile(os.path.join(folder, n))
               for n in entries)


def _common(roots):
    """{time: folder name} per root, restricted to the times every root holds."""
    folders = [time_folders(r) for r in roots]
    shared = set.intersection(*(set(f) for f in folders)) if folders else set()
    return [{t: f[t] for t in shared} for f in folders]


def _latest_with_fields(times, decomposed, serial, case, region):
    """The latest time whose folders (every processor's, or the case's) hold a field file."""
    for t in reversed(times):
        roots, folders = decomposed if t in decomposed[1][0] else serial
        if all(_holds(os.path.join(r, f[t], region)) for r, f in zip(roots, folders)):
            return t
    return times[-1]


def _processors_with_mesh(path, case, region):
    """The processor folders, each with its piece of the mesh; [] when none has one."""
    processors = processor_folders(case)
    without = [os.path.basename(p) for p in processors if not has_mesh(p, region)]
    if without and len(without) < len(processors):
        mesh = os.path.join("constant", region, "polyMesh")
        raise SourceError(f"{path}: {', '.join(without)} without a mesh ({mesh}) beside "
                          "processors with one: an incomplete decomposed case")
    return [] if without else processors


def locate(path, case, region, wanted):
    """The Layout to read `case` (region `region` or "") at time `wanted` (None: the latest)."""
    processors = _processors_with_mesh(path, case, region)
    decomposed = (processors, _common(processors)) if processors else ([], [{}])
    serial = ([case], [time_folders(case)]) if has_mesh(case, region) else ([], [{}])
    if not processors and not serial[0]:
        where = f"constant/{region}/polyMesh" if region else "constant/polyMesh"
        raise SourceError(f"{path}: no mesh ({where}) in the case or in processor*/")
    times = sorted(set(decomposed[1][0]) | set(serial[1][0]))
    if wanted is None and times:
        chosen = _latest_with_fields(times, decomposed, serial, case, region)
    else:
        chosen = pick_time(path, times, wanted)
    parallel = bool(processors) and (chosen in decomposed[1][0] or not serial[0])
    use = decomposed if parallel else serial
    return Layout(use[0], region, chosen, use[1], times, parallel)


def check_region(path, case, region):
    """The region to read ("" for a single-region case), or SourceError naming the regions."""
    there = regions(case)
    if region is None:
        if there:
            raise SourceError(f"{path}: a multi-region case; choose a region (the regions "
                              f"there are: {names_text(there)})")
        return ""
    if region not in there:
        raise SourceError(f"{path}: no region '{region}' (the regions there are: "
                          f"{names_text(there)})")
    return region

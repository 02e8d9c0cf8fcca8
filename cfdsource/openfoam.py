"""An OpenFOAM case read directly with VTK's vtkOpenFOAMReader: one time, chosen patches, the
patches' face values as cell data.

The reader names patches but not their types, so the wall patches (the default) are found in
constant/polyMesh/boundary: an entry whose "type" is wall or whose "inGroups" lists wall.
"""
import os
import re

import vtk

from .errors import SourceError, names_text, run_reader
from .parts import Parts, leaves
from .times import pick_time

INTERNAL = "internalMesh"


def case_files(path):
    """(the file handed to the reader, the case directory) for a case directory or its
    system/controlDict."""
    if os.path.isdir(path):
        case = path
    else:
        case = os.path.dirname(os.path.dirname(os.path.abspath(path)))
    control = os.path.join(case, "system", "controlDict")
    if not os.path.isfile(control):
        raise SourceError(f"{path}: not an OpenFOAM case (no system/controlDict in {case})")
    return control, case


def _without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def wall_patches(case):
    """Names of the patches that constant/polyMesh/boundary marks as walls, in its order."""
    boundary = os.path.join(case, "constant", "polyMesh", "boundary")
    try:
        with open(boundary, errors="replace") as f:
            text = _without_comments(f.read())
    except OSError as error:
        raise SourceError(f"{boundary}: cannot read the patch list ({error.strerror})") from None
    text = re.sub(r"FoamFile\s*\{[^}]*\}", " ", text)
    walls = []
    for name, body in re.findall(r"([A-Za-z_][^\s{}();]*)\s*\{([^{}]*)\}", text):
        kind = re.search(r"\btype\s+(\w+)\s*;", body)
        groups = re.search(r"\binGroups\s+(?:List<word>\s*)?(?:\d+\s*)?\(([^)]*)\)", body)
        if (kind and kind.group(1) == "wall") or (groups and "wall" in groups.group(1).split()):
            walls.append(name)
    return walls


def _read_times(reader):
    values = reader.GetTimeValues()
    return [values.GetValue(i) for i in range(values.GetNumberOfTuples())] if values else []


def _reader(path):
    control, case = case_files(path)
    reader = vtk.vtkOpenFOAMReader()
    reader.SetFileName(control)
    run_reader(reader, path, reader.UpdateInformation)
    return reader, case


def _patch_names(reader):
    names = [reader.GetPatchArrayName(i) for i in range(reader.GetNumberOfPatchArrays())]
    return [n[len("patch/"):] for n in names if n.startswith("patch/")]


def available_patches(path):
    """(every patch of the case, its wall patches), in the boundary file's order."""
    reader, case = _reader(path)
    names = _patch_names(reader)
    return names, [n for n in wall_patches(case) if n in names]


def read_case(path, time=None, patches=None):
    reader, case = _reader(path)
    available = _patch_names(reader) + [INTERNAL]
    parts = Parts(path, {}, noun="patch")
    if patches is None:
        wanted = [n for n in wall_patches(case) if n in available]
        if not wanted:
            raise SourceError(f"{path}: no wall patch in constant/polyMesh/boundary; name the "
                              f"patches to read (the patches there are: {names_text(available)})")
    else:
        wanted = [patches] if isinstance(patches, str) else list(dict.fromkeys(patches))
        if not wanted:
            raise SourceError(f"{path}: an empty list of patches (the patches there are: "
                              f"{names_text(available)})")
        for name in wanted:
            if name not in available:
                parts.datasets = dict.fromkeys(available)
                raise parts.unknown(name)
    times = _read_times(reader)
    chosen = pick_time(path, times, time)
    # Face values stay face values: the patches' own values as cell data, not averaged to
    # their points.
    reader.CreateCellToPointOff()
    reader.DisableAllPatchArrays()
    for name in wanted:
        reader.SetPatchArrayStatus(INTERNAL if name == INTERNAL else f"patch/{name}", 1)
    reader.EnableAllCellArrays()
    reader.EnableAllPointArrays()
    if chosen is None:
        run_reader(reader, path)
    else:
        run_reader(reader, path, lambda: reader.UpdateTimeStep(chosen))
    found = {name.split("/")[-1]: dataset for name, dataset in leaves(reader.GetOutput())}
    empty = [n for n in wanted if n not in found]
    if empty:
        raise SourceError(f"{path}: {parts.noun} {', '.join(empty)} has no faces")
    parts.datasets = {n: found[n] for n in wanted}
    parts.default, parts.times, parts.chosen_time = list(parts.datasets), times, chosen
    return parts

"""An OpenFOAM case read directly with VTK's OpenFOAM readers: one time, chosen patches, the
patches' face values as cell data; serial or decomposed, one region (openfoam_layout.py says
which).

The reader names patches but not their types, so the wall patches (the default) are found in
the region's polyMesh/boundary: an entry whose "type" is wall or whose "inGroups" lists wall
(a processor boundary of a decomposed mesh is neither, so it is never taken for a wall).
"""
import os
import re

import vtk

from . import openfoam_layout
from .errors import SourceError, names_text, run_reader
from .parts import Parts, leaves

INTERNAL = "internalMesh"


def case_files(path):
    """(the file handed to the reader, the case directory) for a case directory, its
    system/controlDict or a file in the case (the empty .foam marker some tools leave)."""
    if os.path.isdir(path):
        case = path
    elif os.path.basename(path) == "controlDict":
        case = os.path.dirname(os.path.dirname(os.path.abspath(path)))
    else:
        case = os.path.dirname(os.path.abspath(path))
    control = os.path.join(case, "system", "controlDict")
    if not os.path.isfile(control):
        raise SourceError(f"{path}: not an OpenFOAM case (no system/controlDict in {case})")
    return control, case


def _without_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def boundary_patches(root, region=""):
    """[(patch name, is a wall)] of constant/[region/]polyMesh/boundary under `root`, in its
    order, without the processor boundaries of a decomposed mesh."""
    boundary = os.path.join(root, "constant", region, "polyMesh", "boundary")
    try:
        with open(boundary, errors="replace") as f:
            text = _without_comments(f.read())
    except OSError as error:
        raise SourceError(f"{boundary}: cannot read the patch list ({error.strerror})") from None
    text = re.sub(r"FoamFile\s*\{[^}]*\}", " ", text)
    patches = []
    for name, body in re.findall(r"([A-Za-z_][^\s{}();]*)\s*\{([^{}]*)\}", text):
        kind = re.search(r"\btype\s+(\w+)\s*;", body)
        kind = kind.group(1) if kind else ""
        groups = re.search(r"\binGroups\s+(?:List<word>\s*)?(?:\d+\s*)?\(([^)]*)\)", body)
        if not kind.startswith("processor"):
            patches.append((name, kind == "wall" or bool(groups and "wall" in
                                                         groups.group(1).split())))
    return patches


def wall_patches(root, region=""):
    """Names of the patches that the boundary file marks as walls, in its order."""
    return [name for name, wall in boundary_patches(root, region) if wall]


def _reader(control, decomposed, path):
    if decomposed:
        # The parallel reader reads every processor folder in this one process once it has a
        # controller of one process; without one, VTK 9.1's reader crashes.
        reader = vtk.vtkPOpenFOAMReader()
        reader.SetController(vtk.vtkDummyController())
        reader.SetCaseType(0)  # decomposed
    else:
        reader = vtk.vtkOpenFOAMReader()
    reader.SetFileName(control)
    run_reader(reader, path, reader.UpdateInformation)
    return reader


def _prefix(region):
    return f"/{region}/" if region else ""


def _patch_names(reader, region):
    names = [reader.GetPatchArrayName(i) for i in range(reader.GetNumberOfPatchArrays())]
    start = _prefix(region) + "patch/"
    return [n[len(start):] for n in names if n.startswith(start)]


def _opened(path, time, region):
    """(reader, Layout, the path as messages name it) of the case at `path`."""
    control, case = case_files(path)
    region = openfoam_layout.check_region(path, case, region)
    shown = f"{path}, region {region}" if region else path
    layout = openfoam_layout.locate(shown, case, region, time)
    return _reader(control, layout.decomposed, shown), layout, shown


def _wanted(parts, patches, walls, available):
    if patches is None:
        wanted = [n for n in walls if n in available]
        if not wanted:
            raise SourceError(f"{parts.path}: no wall patch in the mesh's boundary file; name the "
                              f"patches to read (the patches there are: {names_text(available)})")
        return wanted
    wanted = [patches] if isinstance(patches, str) else list(dict.fromkeys(patches))
    if not wanted:
        raise SourceError(f"{parts.path}: an empty list of patches (the patches there are: "
                          f"{names_text(available)})")
    for name in wanted:
        if name not in available:
            parts.datasets = dict.fromkeys(available)
            raise parts.unknown(name)
    return wanted


def _missing_array_note(layout):
    def note(array):
        if layout.time is None:
            return ""
        held = ", ".join(f"{t:g}" for t in layout.times_holding(array))
        return f" at time {layout.time:g} ({array} is at times {held})" if held else \
            f" at time {layout.time:g} (no time holds {array})"
    return note


def _seams_closed(dataset):
    """A decomposed patch or volume with the points its processor pieces share (written alike
    by each processor) merged, as in the reconstructed case: face values averaged to points
    must see the faces on both sides of a seam."""
    if dataset.IsA("vtkPolyData"):
        merge = vtk.vtkStaticCleanPolyData()
        merge.SetTolerance(0.0)
        merge.ConvertPolysToLinesOff()
        merge.ConvertLinesToPointsOff()
        merge.ConvertStripsToPolysOff()
    else:
        merge = vtk.vtkAppendFilter()
        merge.MergePointsOn()
        merge.SetTolerance(0.0)
    merge.SetInputData(dataset)
    merge.Update()
    return merge.GetOutput()


def _kept(dataset):
    copy = dataset.NewInstance()
    copy.ShallowCopy(dataset)
    return copy


def _interpolated_points(reader, region, layout, shown):
    """The internal mesh's cell values at its points as the reader interpolates them: the
    patches' values at boundary points (a fixed 500 K wall is 500 K there, where the cells next
    to it hold less), the cells' inverse-distance mean inside."""
    reader.CreateCellToPointOn()
    reader.DisableAllPatchArrays()
    reader.SetPatchArrayStatus(_prefix(region) + INTERNAL, 1)
    reader.Modified()
    if layout.time is None:
        run_reader(reader, shown)
    else:
        run_reader(reader, shown, lambda: reader.UpdateTimeStep(layout.time))
    (_, volume), = leaves(reader.GetOutput())
    return (_seams_closed(volume) if layout.decomposed else volume).GetPointData()


def read_case(path, time=None, patches=None, region=None):
    reader, layout, shown = _opened(path, time, region)
    available = _patch_names(reader, region) + [INTERNAL]
    parts = Parts(shown, {}, noun="patch")
    wanted = _wanted(parts, patches, wall_patches(layout.roots[0], layout.region), available)
    # Face values stay face values: the patches' own values as cell data, not averaged to
    # their points.
    reader.CreateCellToPointOff()
    reader.DisableAllPatchArrays()
    for name in wanted:
        reader.SetPatchArrayStatus(_prefix(region) + (name if name == INTERNAL else
                                                      f"patch/{name}"), 1)
    reader.EnableAllCellArrays()
    reader.EnableAllPointArrays()
    if layout.time is None:
        run_reader(reader, shown)
    else:
        run_reader(reader, shown, lambda: reader.UpdateTimeStep(layout.time))
    found = {name.split("/")[-1]: dataset for name, dataset in leaves(reader.GetOutput())}
    empty = [n for n in wanted if n not in found]
    if empty:
        raise SourceError(f"{shown}: {parts.noun} {', '.join(empty)} has no faces")
    parts.datasets = {n: _seams_closed(found[n]) if layout.decomposed else found[n]
                      for n in wanted}
    if INTERNAL in wanted:
        # The reader's next run would hand its arrays to the datasets kept above.
        parts.datasets = {n: _kept(d) for n, d in parts.datasets.items()}
        parts.point_values[INTERNAL] = _interpolated_points(reader, region, layout, shown)
    parts.default, parts.times, parts.chosen_time = list(parts.datasets), layout.times, layout.time
    parts.labels = {"source_layout": layout.describe(), **({"source_region": region}
                                                          if region else {})}
    parts.missing_array_note = _missing_array_note(layout)
    return parts


def _region_summary(case, region):
    """A region's patches, walls, layout, latest time and the fields its time folder holds."""
    layout = openfoam_layout.locate(case, case, region, None)
    folder = layout.time_folder()
    fields = sorted(n for n in os.listdir(folder) if os.path.isfile(os.path.join(folder, n))) \
        if folder and os.path.isdir(folder) else []
    return {"patches": [n for n, _ in boundary_patches(layout.roots[0], region)],
            "walls": wall_patches(layout.roots[0], region), "fields": fields,
            "layout": layout.describe(), "time": layout.time}


def describe_case(path, time=None, region=None):
    """(Parts of every patch and internalMesh, or None for a multi-region case read without a
    region, the wall patches, {"layout", "regions"}): what describe() reports of a case."""
    _, case = case_files(path)
    regions = {r: _region_summary(case, r) for r in openfoam_layout.regions(case)}
    if regions and region is None:
        return None, [], {"layout": None, "regions": regions}
    reader, layout, _ = _opened(path, time, region)
    names = _patch_names(reader, region)
    parts = read_case(path, time, names + [INTERNAL], region)
    walls = [n for n in wall_patches(layout.roots[0], layout.region) if n in names]
    return parts, walls, {"layout": layout.describe(), "regions": regions}

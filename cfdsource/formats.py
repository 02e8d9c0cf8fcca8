"""Each file format read with VTK's own reader into Parts (see parts.py).

| extension | reader | parts |
| OpenFOAM case dir or controlDict | vtkOpenFOAMReader (openfoam.py) | patches |
| .case | vtkGenericEnSightReader | EnSight parts |
| .cas (+ .dat beside it) | vtkFLUENTReader | cell zones |
| .msh (+ .dat or <stem><time>.dat) | our ASCII section parser (fluent_mesh.py) | face zones |
| .cgns | vtkCGNSReader | Base/Zone |
| .dat, .plt, .tec | vtkTecplotReader (ASCII) | zones |
| .vtk | vtkDataSetReader | one |
| .vtp, .vtu, .vti, .vts, .vtr | VTK's XML readers | one |
| .vtm | vtkXMLMultiBlockDataReader | blocks |
| .pvd | its index (xml.etree) + VTK's XML readers | datasets of one time |
| .vtm.series, .vtp.series, .vtu.series | its JSON index + VTK's XML readers | the time's blocks |
"""
import json
import math
import os
import xml.etree.ElementTree as ElementTree

import vtk

from . import openfoam
from .fluent_mesh import read_fluent_mesh
from .errors import SourceError, run_reader
from .parts import Parts, leaves
from .times import pick_time

XML_READERS = {".vtp": vtk.vtkXMLPolyDataReader, ".vtu": vtk.vtkXMLUnstructuredGridReader,
               ".vti": vtk.vtkXMLImageDataReader, ".vts": vtk.vtkXMLStructuredGridReader,
               ".vtr": vtk.vtkXMLRectilinearGridReader, ".vtm": vtk.vtkXMLMultiBlockDataReader}
TECPLOT = (".dat", ".plt", ".tec")


def _no_times(path, time):
    if time is not None:
        raise SourceError(f"{path}: a single-time source; a time ({time:g}) can be chosen in "
                          "OpenFOAM cases, EnSight .case files, time-dependent CGNS files, "
                          ".series and .pvd collections and Fluent .msh files with a .dat per "
                          "time only")


def _output_parts(reader, path, time=None):
    _no_times(path, time)
    run_reader(reader, path)
    parts = Parts(path, dict(leaves(reader.GetOutputDataObject(0))))
    if not parts.datasets:
        raise SourceError(f"{path}: {reader.GetClassName()} found no dataset with points in it")
    return parts


def _timed_parts(reader, path, time, what):
    """The parts of a reader whose information (already updated) may list time steps: the
    chosen time's (default the latest), or its one output when it lists none."""
    info = reader.GetOutputInformation(0)
    key = vtk.vtkStreamingDemandDrivenPipeline.TIME_STEPS()
    times = list(info.Get(key)) if info.Has(key) else []
    chosen = pick_time(path, times, time)
    run_reader(reader, path, (lambda: reader.UpdateTimeStep(chosen)) if chosen is not None
               else reader.Update)
    parts = Parts(path, dict(leaves(reader.GetOutputDataObject(0))), times=times,
                  chosen_time=chosen)
    if not parts.datasets:
        raise SourceError(f"{path}: the {what} reader found no part with points in it")
    return parts


def read_ensight(path, time):
    reader = vtk.vtkGenericEnSightReader()
    reader.SetCaseFileName(path)
    run_reader(reader, path, reader.UpdateInformation)
    return _timed_parts(reader, path, time, "EnSight")


def read_fluent(path, time):
    if not os.path.isfile(os.path.splitext(path)[0] + ".dat"):
        raise SourceError(f"{path}: no data file {os.path.splitext(path)[0] + '.dat'} beside the "
                          "case file (the fields are in the .dat)")
    reader = vtk.vtkFLUENTReader()
    reader.SetFileName(path)
    return _output_parts(reader, path, time)


def read_cgns(path, time):
    reader = vtk.vtkCGNSReader()
    reader.SetFileName(path)
    run_reader(reader, path, reader.UpdateInformation)
    reader.EnableAllBases()
    reader.EnableAllPointArrays()
    reader.EnableAllCellArrays()
    # A time-dependent file lists its times in its iterative data (TimeValues and each zone's
    # FlowSolutionPointers); the reader reads the first solution unless a time is asked for.
    return _timed_parts(reader, path, time, "CGNS")


def read_tecplot(path, time):
    reader = vtk.vtkTecplotReader()
    reader.SetFileName(path)
    return _output_parts(reader, path, time)


def read_legacy(path, time):
    reader = vtk.vtkDataSetReader()
    reader.SetFileName(path)
    parts = _output_parts(reader, path, time)
    return Parts(path, {os.path.splitext(os.path.basename(path))[0]:
                        next(iter(parts.datasets.values()))})


def read_xml(path, time):
    reader = XML_READERS[os.path.splitext(path)[1].lower()]()
    reader.SetFileName(path)
    parts = _output_parts(reader, path, time)
    if not path.lower().endswith(".vtm"):  # one dataset: named after its file
        parts.datasets = {os.path.splitext(os.path.basename(path))[0]:
                          next(iter(parts.datasets.values()))}
    return parts


def read_pvd(path, time):
    """The datasets of one time of a .pvd collection (a small XML index of VTK XML files):
    each <DataSet timestep="" part="" file=""/>, named by its "name" or "part" attribute."""
    try:
        root = ElementTree.parse(path).getroot()
    except (ElementTree.ParseError, OSError) as error:
        raise SourceError(f"{path}: not a readable .pvd index ({error})") from None
    entries = root.findall("./Collection/DataSet")
    if not entries:
        raise SourceError(f"{path}: no <DataSet> in its <Collection>")
    timed = any(e.get("timestep") is not None for e in entries)
    indexed, parts_at = [], {}
    for entry in entries:
        stamp = _stamp(path, entry.get("timestep", "0"))
        count = parts_at[stamp] = parts_at.get(stamp, -1) + 1
        name = entry.get("name") or f"part {entry.get('part', count)}"
        indexed.append((stamp if timed else None, entry.get("file", ""), name))
    return _indexed_parts(path, indexed, time)


def read_series(path, time):
    """The dataset of one time of a .series index (JSON: {"files": [{"name": file, "time": t}]}),
    as VTK's converters write beside .vtm, .vtp and .vtu files; a .vtm's blocks are its parts."""
    try:
        with open(path) as f:
            listed = [(entry["time"], str(entry["name"])) for entry in json.load(f)["files"]]
    except (OSError, ValueError, KeyError, TypeError) as error:
        raise SourceError(f"{path}: not a readable .series index (expected {{\"files\": "
                          f"[{{\"name\": ..., \"time\": ...}}]}}; {error!r})") from None
    if not listed:
        raise SourceError(f"{path}: no file listed in its \"files\"")
    # One file a time: named after the index (each time's file has its own name).
    stem = os.path.basename(path)[:-len(".series")].rsplit(".", 1)[0]
    return _indexed_parts(path, [(_stamp(path, stamp), name,
                                  None if name.lower().endswith(".vtm") else stem)
                                 for stamp, name in listed], time)


def _stamp(path, text):
    try:
        stamp = float(text)
    except (TypeError, ValueError):
        raise SourceError(f"{path}: a time {text!r} that is not a number") from None
    if not math.isfinite(stamp):
        raise SourceError(f"{path}: a time {text!r} that is not a finite number")
    return stamp


def _indexed_parts(path, indexed, time):
    """The Parts of the files an index lists at the chosen time (default the latest): `indexed`
    is [(time or None, file relative to the index, part name or None for the file's name)]."""
    distinct = sorted({stamp for stamp, _, _ in indexed if stamp is not None})
    chosen = pick_time(path, distinct, time)
    datasets = {}
    for stamp, relative, name in indexed:
        if chosen is not None and stamp != chosen:
            continue
        file = os.path.join(os.path.dirname(os.path.abspath(path)), str(relative))
        extension = os.path.splitext(file)[1].lower()
        if extension not in XML_READERS or not os.path.isfile(file):
            raise SourceError(f"{path}: dataset {relative!r} is not a VTK XML file beside the "
                              "index")
        for leaf, dataset in read_xml(file, None).datasets.items():
            key = (name or leaf) if extension != ".vtm" else "/".join(filter(None, (name, leaf)))
            datasets[key] = dataset
    return Parts(path, datasets, times=distinct, chosen_time=chosen)


def openfoam_case(path):
    """The OpenFOAM case `path` names (its directory, its controlDict or a .foam marker file in
    it), or None."""
    if os.path.isdir(path) or os.path.basename(path) == "controlDict":
        return path
    if path.lower().endswith(".foam"):  # the empty marker file some tools leave in a case
        return os.path.dirname(os.path.abspath(path))
    return None


def read_parts(path, time=None, patches=None, region=None):
    """The Parts of the source at `path`, by its extension (a directory: an OpenFOAM case).
    `region`: the region of a multi-region OpenFOAM case; no other source has regions."""
    case = openfoam_case(path)
    if case is not None:
        return openfoam.read_case(case, time, patches, region)
    if region is not None:
        raise SourceError(f"{path}: regions ({region}) are OpenFOAM cases' only")
    if not os.path.isfile(path):
        raise FileNotFoundError(f"{path}: no such file")
    extension = os.path.splitext(path)[1].lower()
    readers = {".case": read_ensight, ".cas": read_fluent, ".cgns": read_cgns, ".vtk": read_legacy,
               ".msh": read_fluent_mesh,
               ".pvd": read_pvd, ".series": read_series, **{e: read_xml for e in XML_READERS},
               **{e: read_tecplot for e in TECPLOT}}
    if extension not in readers:
        raise SourceError(f"{path}: unknown source format '{extension}' (known: an OpenFOAM case "
                          f"directory, {', '.join(sorted(readers))}, .csv)")
    return readers[extension](path, time)

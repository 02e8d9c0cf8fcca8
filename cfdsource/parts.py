"""What every reader hands over: the parts of a source, each a named VTK dataset, and which of
them are taken when the caller names none; and the choosing of parts by name.

A part is a "surface" (polydata, or a grid of cells of dimension 2 or less: what CFD codes write
on walls) or a "volume" (a grid with a 3-D cell). Structured and image grids become unstructured
grids here, so every later step sees polydata or vtkUnstructuredGrid only.
"""
from dataclasses import dataclass, field

import vtk

from .errors import SourceError, names_text


@dataclass
class Parts:
    path: str
    datasets: dict                 # name -> vtkDataSet, in the source's order
    noun: str = "part"             # "patch" for OpenFOAM cases: the word the user knows
    default: list = None           # names taken when none are asked for; None: the surface rule
    chosen_time: float = None      # the time read, for messages and reports
    times: list = field(default_factory=list)
    labels: dict = field(default_factory=dict)  # field-data strings saying where it was read
    # array name -> " at time T (the times that hold it)", for a missing array's message
    missing_array_note: object = None
    # part name -> vtkPointData: the solver's cell values interpolated to the part's points with
    # its boundary values, taken with the cell values (a volume's cells never reach a fixed wall)
    point_values: dict = field(default_factory=dict)

    @property
    def nouns(self):
        return "patches" if self.noun == "patch" else self.noun + "s"

    def unknown(self, name):
        return SourceError(f"{self.path}: no {self.noun} '{name}' (the {self.nouns} there are: "
                           f"{names_text(list(self.datasets))})")


def leaves(data, prefix=""):
    """(name, dataset) of every non-empty dataset leaf of a multiblock (or the dataset itself),
    depth first; a leaf's name is its block names, trimmed of blanks, joined by "/", "block N"
    where it has none."""
    if data is None:
        return []
    if not data.IsA("vtkMultiBlockDataSet"):
        return [(prefix or "block 0", data)] if data.IsA("vtkDataSet") else []
    found = []
    for i in range(data.GetNumberOfBlocks()):
        meta = data.GetMetaData(i) if data.HasMetaData(i) else None
        name = meta.Get(vtk.vtkCompositeDataSet.NAME()) if meta is not None else None
        # EnSight writers pad part descriptions with blanks to their 79 characters.
        name = name.strip() if name else name
        name = f"{prefix}/{name or f'block {i}'}" if prefix else (name or f"block {i}")
        found += leaves(data.GetBlock(i), name)
    return [(n, d) for n, d in found if d.GetNumberOfPoints() > 0]


def is_volume(dataset):
    if dataset.IsA("vtkPolyData"):
        return False
    if dataset.IsA("vtkImageData") or dataset.IsA("vtkRectilinearGrid"):
        return dataset.GetDataDimension() == 3
    types = vtk.vtkCellTypes()
    dataset.GetCellTypes(types)
    cell = vtk.vtkGenericCell()
    for i in range(types.GetNumberOfTypes()):
        cell.SetCellType(types.GetCellType(i))
        if cell.GetCellDimension() == 3:
            return True
    return False


def as_mesh(dataset):
    """The dataset as polydata (a surface or a point cloud) or as an unstructured grid (a
    volume), sharing its arrays."""
    if dataset.IsA("vtkPolyData"):
        return dataset
    if is_volume(dataset):
        if dataset.IsA("vtkUnstructuredGrid"):
            return dataset
        grid = vtk.vtkAppendFilter()
        grid.SetInputData(dataset)
        grid.Update()
        return grid.GetOutput()
    surface = vtk.vtkGeometryFilter()  # keeps 2-D cells as they are, with their cell data
    surface.SetInputData(dataset)
    surface.Update()
    return surface.GetOutput()


def choose(parts, wanted):
    """The [(name, polydata or unstructured grid)] of the parts asked for by name (`wanted`), or
    by default the source's default parts, else every surface part (the volume parts when there
    is no surface part)."""
    names = list(parts.datasets)
    if wanted is not None:
        wanted = [wanted] if isinstance(wanted, str) else list(wanted)
        if not wanted:
            raise SourceError(f"{parts.path}: an empty list of {parts.nouns} (the {parts.nouns} "
                              f"there are: {names_text(names)})")
        for name in wanted:
            if name not in parts.datasets:
                raise parts.unknown(name)
        chosen = list(dict.fromkeys(wanted))
    elif parts.default is not None:
        chosen = parts.default
    elif not names:
        raise SourceError(f"{parts.path}: no dataset with points in it")
    else:
        surfaces = [n for n in names if not is_volume(parts.datasets[n])]
        chosen = surfaces or names
    return [(n, as_mesh(parts.datasets[n])) for n in chosen]

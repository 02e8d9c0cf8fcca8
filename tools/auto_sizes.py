"""Lengths kelm-map derives from the meshes when the user gives none: the tolerance that finds
the wetted faces (`--tolerance auto`) and the "Coarse to fine" kernel radius (no `--radius`)."""
import numpy as np
import vtk
from vtk.util import numpy_support as ns


def cell_sizes(dataset):
    """The size of each cell: its length, the square root of its area or the cube root of its
    volume, whichever its dimension has (0 for vertices)."""
    measure = vtk.vtkCellSizeFilter()
    measure.SetInputData(dataset)
    measure.ComputeVertexCountOff()
    measure.ComputeSumOff()
    measure.Update()
    cells = measure.GetOutput().GetCellData()
    size = np.zeros(dataset.GetNumberOfCells())
    for name, root in (("Length", 1.0), ("Area", 2.0), ("Volume", 3.0)):
        part = cells.GetArray(name)
        if part is not None:
            size += np.abs(ns.vtk_to_numpy(part)) ** (1.0 / root)
    return size[size > 0]


def median_face_size(datasets):
    sizes = [cell_sizes(d) for d in datasets if d.GetNumberOfCells()]
    sizes = np.concatenate(sizes) if sizes else np.zeros(0)
    return float(np.median(sizes)) if sizes.size else 0.0


def surfaces(model):
    it = model.NewIterator()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        surface = vtk.vtkDataSetSurfaceFilter()
        surface.SetInputData(it.GetCurrentDataObject())
        surface.Update()
        yield surface.GetOutput()
        it.GoToNextItem()


def auto_tolerance(source, model, length_factor):
    """The tolerance of `--tolerance auto`, in model units: the larger of the median face size of
    the source and of the model's surfaces. A wall meshed finer than the CFD's faces sits up to
    about a face's size off the faceted source; a thin wall's dry side may lie within it too, but
    it turns away from the source and is left out for that. None for a source without cells."""
    if source.GetNumberOfCells() == 0:
        return None
    return max(median_face_size([source]) * length_factor, median_face_size(surfaces(model)))


def distinct_points(source):
    """The source's points with each place once, as a cloud: a source whose faces each carry their
    own points holds every corner several times. A lattice (an image, a rectilinear grid) has
    distinct points already and is itself."""
    if not source.IsA("vtkPointSet") or source.GetNumberOfPoints() == 0:
        return source
    xyz = np.asarray(ns.vtk_to_numpy(source.GetPoints().GetData()), np.float64)
    places = vtk.vtkPoints()
    places.SetData(ns.numpy_to_vtk(np.unique(xyz, axis=0), deep=1))
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(places)
    return cloud


def auto_radius(source, length_factor, samples=2000):
    """A "Coarse to fine" kernel radius in model units fitted to the source: twice the median
    distance from a source point to its nearest distinct neighbour (over up to `samples` points);
    None when the source has fewer than two distinct points."""
    cloud = distinct_points(source)
    n = cloud.GetNumberOfPoints()
    if n < 2:
        return None
    locator = vtk.vtkStaticPointLocator()
    locator.SetDataSet(cloud)
    locator.BuildLocator()
    near = vtk.vtkIdList()
    gaps = []
    for i in np.linspace(0, n - 1, min(n, samples)).astype(int):
        x = cloud.GetPoint(int(i))
        locator.FindClosestNPoints(2, x, near)
        other = near.GetId(1) if near.GetId(0) == i else near.GetId(0)
        gaps.append(np.linalg.norm(np.subtract(cloud.GetPoint(other), x)))
    return 2.0 * float(np.median(gaps)) * length_factor

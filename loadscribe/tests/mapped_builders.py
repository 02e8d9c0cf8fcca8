"""Mapped multiblocks built directly, as the field transfer hands them to the load writer:
surface polydata (or point sets) with "Node ID", "Element ID", the mapped field, optional
"Distance", and the body identity and unit texts in field data."""
import numpy as np
import vtk
from vtk.util import numpy_support as ns

import kelm
import treewalk

T = kelm.mesh.ElementTopology


def _text(dataset, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    dataset.GetFieldData().AddArray(array)


def _point_array(dataset, name, values, dtype):
    array = ns.numpy_to_vtk(np.asarray(values, dtype=dtype), deep=1)
    array.SetName(name)
    dataset.GetPointData().AddArray(array)


def leaf(path, node_ids, values, *, polygons=(), element_ids=None, mesh_type="surface",
         field="Pressure", unit_array="units_pressure", unit="Pa", distance=None, points=None,
         lines=(), mask=None, face_values=None):
    """One mapped leaf. polygons: rows of point indices (any sizes, any order); lines: rows of
    point indices put before the polygons; element_ids: one per cell (lines first); face_values:
    the field also per cell, as a face average leaves it."""
    poly = vtk.vtkPolyData()
    n = len(node_ids)
    xyz = np.zeros((n, 3)) if points is None else np.asarray(points, float)
    if points is None:
        xyz[:, 0] = np.arange(n)
    poly.SetPoints(vtk.vtkPoints())
    poly.GetPoints().SetData(ns.numpy_to_vtk(xyz, deep=1))
    for rows, setter in ((lines, poly.SetLines), (polygons, poly.SetPolys)):
        cells = vtk.vtkCellArray()
        for row in rows:
            cells.InsertNextCell(len(row), [int(i) for i in row])
        setter(cells)
    _point_array(poly, "Node ID", node_ids, np.uint32)
    _point_array(poly, field, values, np.float32)
    if distance is not None:
        _point_array(poly, "Distance", distance, np.float32)
    if mask is not None:
        _point_array(poly, "vtkValidPointMask", mask, np.uint8)
    for name, values, dtype in (("Element ID", element_ids, np.uint32),
                                (field, face_values, np.float64)):
        if values is not None:
            array = ns.numpy_to_vtk(np.asarray(values, dtype), deep=1)
            array.SetName(name)
            poly.GetCellData().AddArray(array)
    _text(poly, "Body pathName", path)
    _text(poly, "mesh_type", mesh_type)
    _text(poly, "mesh_order", "linear")
    if unit_array:
        _text(poly, unit_array, unit)
    return poly


def multiblock(*leaves):
    """Leaves filed two levels down, with an empty block in between (skipped by traversal)."""
    root = vtk.vtkMultiBlockDataSet()
    part = vtk.vtkMultiBlockDataSet()
    root.SetBlock(0, part)
    root.SetBlock(1, None)
    for i, dataset in enumerate(leaves):
        part.SetBlock(i, dataset)
    return root


def temperature_leaf(path, node_ids, temperatures, unit="K", **kwargs):
    return leaf(path, node_ids, temperatures, field="Temperature", unit_array="units_temperature",
                unit=unit, **kwargs)


def host_mesh(model, name, node_ids, elements, part="P"):
    """A host mesh body `model`/`part`/`name`; elements {topology: (ids, rows)}."""
    existing = [p for p in model.parts if p.name == part]
    target = existing[0] if existing else model.add_part(part)
    coords = np.zeros((len(node_ids), 3))
    coords[:, 0] = np.arange(len(node_ids))
    return target.add_mesh(name, node_ids, coords, elements)


def mapped_surfaces(model, field="Pressure", unit_array="units_pressure", unit="MPa",
                    kinds=("hexa", "tetra", "surface"), volume=False):
    """The model exported and every mesh body of the given mesh types reduced to its surface,
    carrying a field linear in x: what the transfer gives for a pressure. With `volume` each body
    keeps its whole grid, as a mapping onto every node gives it."""
    root = treewalk.create_vtk_dataset_from_kelm_entities([model])
    out = vtk.vtkMultiBlockDataSet()
    it = root.NewIterator()
    it.VisitOnlyLeavesOn()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        body = it.GetCurrentDataObject()
        mesh_type = body.GetFieldData().GetAbstractArray("mesh_type")
        if mesh_type is not None and mesh_type.GetValue(0) in kinds:
            if volume:
                result = body.NewInstance()
                result.DeepCopy(body)
            else:
                surface = vtk.vtkDataSetSurfaceFilter()
                surface.SetInputData(body)
                surface.SetNonlinearSubdivisionLevel(0)
                surface.Update()
                result = surface.GetOutput()
            x = ns.vtk_to_numpy(result.GetPoints().GetData())[:, 0]
            _point_array(result, field, 1000.0 * x + 7.25, np.float32)
            _text(result, unit_array, unit)
            out.SetBlock(out.GetNumberOfBlocks(), result)
        it.GoToNextItem()
    return out

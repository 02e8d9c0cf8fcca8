"""Host script: the whole main road on an embedded sample, with no download.

    PYTHONPATH=build/lib:host:tools /usr/bin/python3 examples/main_road.py [output folder]

1. The stand-in host's sample model (metres) plus a wing part: a Tetra10 spar and a Quad4 skin.
2. A CFD-like source in millimetres: a point cloud with an analytic pressure, and the model's own
   surface, finely triangulated, with an analytic wall temperature.
3. Export (treewalk), map the pressure with "Point cloud or mesh" and a tolerance, the temperature
   with "Mesh only" (fieldferry), create both loads with recording on (loadscribe), and take one
   off-screen picture per field (sceneview).
4. Everything lands in one folder (demo-out/ by default): model.vtm, mapped_*.vtm, the recorded
   host script, the pictures and the reports.
"""
import os
import sys

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import kelm
import loadscribe
import treewalk
from kelm.mesh import ElementTopology as T

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
import mainroad  # noqa: E402


def structured_points(nx, ny, nz, size, origin):
    axes = [np.linspace(o, o + s, n + 1) for o, s, n in zip(origin, size, (nx, ny, nz))]
    x, y, z = np.meshgrid(*axes, indexing="ij")
    return np.column_stack([x.ravel(), y.ravel(), z.ravel()])


def tetra10_block(nx, ny, nz, size, origin):
    """A box of hexahedral cells, each split into six tetrahedra, with mid-edge nodes added:
    (points, Tetra10 rows in VTK node order, which the host shares for tetrahedra)."""
    image = vtk.vtkImageData()
    image.SetDimensions(nx + 1, ny + 1, nz + 1)
    image.SetSpacing(*(s / n for s, n in zip(size, (nx, ny, nz))))
    image.SetOrigin(*origin)
    tets = vtk.vtkDataSetTriangleFilter()
    tets.SetInputData(image)
    tets.Update()
    grid = tets.GetOutput()
    corners = ns.vtk_to_numpy(grid.GetPoints().GetData()).astype(float)
    rows = ns.vtk_to_numpy(grid.GetCells().GetConnectivityArray()).reshape(-1, 4)
    edges = [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)]
    keys = np.sort(np.stack([rows[:, [a, b]] for a, b in edges], axis=1), axis=2).reshape(-1, 2)
    unique, index = np.unique(keys, axis=0, return_inverse=True)
    mids = (corners[unique[:, 0]] + corners[unique[:, 1]]) / 2
    points = np.vstack([corners, mids])
    quadratic = np.hstack([rows, len(corners) + index.reshape(-1, 6)])
    return points, quadratic


def demo_model():
    model = kelm.samples.sample_model(name="Demo")
    wing = model.add_part("Wing")
    points, rows = tetra10_block(8, 3, 2, (0.4, 0.12, 0.04), (0.0, 0.0, 0.25))
    wing.add_mesh("Spar", 5001 + 2 * np.arange(len(points)), points,
                  {T.Tetra10: (90001 + np.arange(len(rows)), rows)}, kind="solid",
                  color=(120, 160, 220))
    plate = structured_points(20, 10, 0, (0.4, 0.2, 0.0), (0.0, 0.15, 0.32))
    i, j = np.meshgrid(np.arange(20), np.arange(10), indexing="ij")
    base = (i * 11 + j).ravel()
    quads = np.column_stack([base, base + 11, base + 12, base + 1])
    wing.add_mesh("Skin", 20001 + np.arange(len(plate)), plate,
                  {T.Quad4: (70001 + np.arange(len(quads)), quads)}, kind="surface",
                  color=(200, 200, 120))
    return model


def labelled(poly, field_name, values, field_unit):
    array = ns.numpy_to_vtk(np.ascontiguousarray(values, dtype=np.float32), deep=True)
    array.SetName(field_name)
    poly.GetPointData().AddArray(array)
    for name, value in (("current_units_length", "mm"), (mainroad.UNIT_ARRAYS[field_name],
                                                          field_unit)):
        label = vtk.vtkStringArray()
        label.SetName(name)
        label.InsertNextValue(value)
        poly.GetFieldData().AddArray(label)
    return poly


def pressure_cloud(count=30000, seed=1):
    """Points in mm around the model with a smooth pressure in Pa."""
    rng = np.random.default_rng(seed)
    xyz = rng.uniform((-50, -50, -50), (450, 400, 400), size=(count, 3))
    x, y, z = xyz.T
    pressure = 101325 + 4000 * np.sin(2 * np.pi * x / 400) * np.cos(2 * np.pi * y / 400) - 5 * z
    cloud = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(xyz, deep=True))
    cloud.SetPoints(points)
    return labelled(cloud, "Pressure", pressure, "Pa")


def temperature_surface(model):
    """The model's own outer surfaces, triangulated and refined, in mm, with a wall temperature
    in K: what a conjugate heat-transfer run would hand over."""
    root = treewalk.create_vtk_dataset_from_kelm_entities([model])
    append = vtk.vtkAppendPolyData()
    it = root.NewIterator()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        surface = vtk.vtkDataSetSurfaceFilter()
        surface.SetInputData(it.GetCurrentDataObject())
        append.AddInputConnection(surface.GetOutputPort())
        it.GoToNextItem()
    triangles = vtk.vtkTriangleFilter()
    triangles.SetInputConnection(append.GetOutputPort())
    triangles.PassLinesOff()  # bars and the vertices of geometry bodies carry no wall values
    triangles.PassVertsOff()
    refine = vtk.vtkLinearSubdivisionFilter()
    refine.SetNumberOfSubdivisions(1)
    refine.SetInputConnection(triangles.GetOutputPort())
    to_mm = vtk.vtkTransform()
    to_mm.Scale(1000, 1000, 1000)
    scale = vtk.vtkTransformPolyDataFilter()
    scale.SetTransform(to_mm)
    scale.SetInputConnection(refine.GetOutputPort())
    scale.Update()
    surface = vtk.vtkPolyData()
    surface.CopyStructure(scale.GetOutput())
    x, y, z = ns.vtk_to_numpy(surface.GetPoints().GetData()).astype(float).T
    return labelled(surface, "Temperature", 293.15 + 0.1 * x + 15 * np.sin(y / 60.0), "K")


def main(out_dir="demo-out"):
    os.makedirs(out_dir, exist_ok=True)
    kelm.reset()
    model = demo_model()
    print("Kelm spatial load toolkit demo: sample model in metres, CFD-like sources in mm")
    loadscribe.macro = ""
    reports = [
        mainroad.map_field([model], pressure_cloud(), "Pressure", "Point cloud or mesh",
                           tolerance=0.02, boundary_only=True, out_dir=out_dir),
        mainroad.map_field([model], temperature_surface(model), "Temperature", "Mesh only",
                           tolerance=None, boundary_only=True, out_dir=out_dir),
    ]
    script = mainroad.save_recording(out_dir)
    print()
    print(mainroad.summary(reports))
    print()
    print(f"Host loads created: {len(kelm.environment.created) // 2} "
          f"(recorded host script: {script})")
    print(f"Outputs in {os.path.abspath(out_dir)}: " + ", ".join(sorted(os.listdir(out_dir))))


if __name__ == "__main__":
    main(*sys.argv[1:])

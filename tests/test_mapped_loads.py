"""Loads made from real meshes carry only what the mapping produced.

A cylindrical shell (Tria3) and a box with a hole (Tetra10), in mm, get a temperature from a finer
triangulation of the same shapes: every node of the load has a mapped value, what is left out is
counted (and the report counts the same), every surface node of the quadratic body is loaded,
and separate processes record the same script byte for byte.
"""
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import fieldferry
import kelm
import loadscribe
import treewalk
from kelm import io

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from mapping_report import mapping_report  # noqa: E402

gmsh = pytest.importorskip("gmsh")
METHODS = ["Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection",
           "Linear fit"]


def shapes(occ):
    occ.addCylinder(0, 0, 0, 0, 0, 100, 50)                      # the shell (its surface)
    box = occ.addBox(150, 0, 0, 100, 100, 40)                     # the solid
    hole = occ.addCylinder(200, 50, -10, 0, 0, 60, 25)
    occ.cut([(3, box)], [(3, hole)])


def write_mesh(path, dim, order, size, both=False):
    """The cylinder's surface (dim 2; with `both` the box's too) or the box's volume (dim 3) of
    `shapes`, meshed at `size` mm."""
    gmsh.initialize()
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        shapes(gmsh.model.occ)
        gmsh.model.occ.synchronize()
        volumes = [tag for _, tag in gmsh.model.getEntities(3)]
        if dim == 3:  # the box's volume only; the cylinder's volume is not meshed
            gmsh.model.addPhysicalGroup(3, volumes[-1:])
        else:
            surfaces = gmsh.model.getBoundary([(3, v) for v in volumes[:2 if both else 1]],
                                              oriented=False)
            gmsh.model.addPhysicalGroup(2, [tag for _, tag in surfaces])
        gmsh.option.setNumber("Mesh.MeshSizeMax", size)
        gmsh.model.mesh.generate(dim)
        gmsh.model.mesh.setOrder(order)
        gmsh.write(str(path))
    finally:
        gmsh.finalize()
    return path


@pytest.fixture(scope="module")
def meshes(tmp_path_factory):
    folder = tmp_path_factory.mktemp("meshes")
    return {"shell": write_mesh(folder / "shell.msh", 2, 1, 12.0),
            "solid": write_mesh(folder / "solid.msh", 3, 2, 15.0),
            "fine": write_mesh(folder / "fine.msh", 2, 1, 3.0, both=True)}


def temperature_source(fine_msh):
    """The fine surfaces' triangles in mm with T = 300 + 0.5 x + 0.2 z (x, z in mm)."""
    import meshio
    mesh = meshio.read(fine_msh)
    xyz = np.asarray(mesh.points, float)
    tris = np.vstack([b.data for b in mesh.cells if b.type == "triangle"])
    poly = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(xyz, deep=1))
    poly.SetPoints(points)
    cells = vtk.vtkCellArray()
    offsets = np.arange(0, 3 * len(tris) + 1, 3, dtype=np.int64)
    cells.SetData(ns.numpy_to_vtk(offsets, deep=1, array_type=vtk.VTK_ID_TYPE),
                  ns.numpy_to_vtk(tris.ravel().astype(np.int64), deep=1,
                                  array_type=vtk.VTK_ID_TYPE))
    poly.SetPolys(cells)
    values = ns.numpy_to_vtk((300 + 0.5 * xyz[:, 0] + 0.2 * xyz[:, 2]).astype(np.float32), deep=1)
    values.SetName("Temperature")
    poly.GetPointData().AddArray(values)
    for name, value in (("current_units_length", "mm"), ("units_temperature", "K")):
        label = vtk.vtkStringArray()
        label.SetName(name)
        label.InsertNextValue(value)
        poly.GetFieldData().AddArray(label)
    return poly


def export(meshes):
    kelm.reset()
    kelm.setApplicationUnitSystem("mm-kg-s-mN-K")
    model = kelm.Model("M")
    part = model.add_part("P")
    io.add_mesh_file(part, str(meshes["shell"]), "Shell", length_unit="mm")
    io.add_mesh_file(part, str(meshes["solid"]), "Bracket", length_unit="mm")
    return treewalk.create_vtk_dataset_from_kelm_entities([model])


def mapped_leaves(multiblock):
    it = multiblock.NewIterator()
    it.VisitOnlyLeavesOn()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    out = {}
    while not it.IsDoneWithTraversal():
        leaf = it.GetCurrentDataObject()
        out[leaf.GetFieldData().GetAbstractArray("Body pathName").GetValue(0)] = leaf
        it.GoToNextItem()
    return out


def array(data, name):
    return ns.vtk_to_numpy(data.GetPointData().GetArray(name))


@pytest.mark.parametrize("method", METHODS)
def test_every_loaded_node_has_the_value_the_mapping_produced(meshes, method):
    source = temperature_source(meshes["fine"])
    mapped = fieldferry.map_scalar_field_to_mesh("Temperature", method, source, export(meshes),
                                                 True, None)
    loadscribe.create_temperature_load_from_vtk_field(mapped, "Temperature", None)
    property_values = kelm.environment.created[0].kwargs["temperatureValues"]
    leaves = mapped_leaves(mapped)
    for path, leaf in leaves.items():
        ids, values, mask = array(leaf, "Node ID"), array(leaf, "Temperature"), array(
            leaf, "vtkValidPointMask")
        valued = (mask != 0) & ~np.isnan(values)
        position = {node: i for i, node in enumerate(ids)}
        loaded = property_values[path]
        at = np.array([position[n] for n in loaded["node_ids"]], dtype=int)
        assert valued[at].all(), f"{path}: a node without a mapped value was loaded"
        assert loaded["temperatures"] == values[at].astype(float).tolist()
        assert loadscribe.last_left_out_counts[path] == {"no value": int((~valued).sum()),
                                                         "beyond tolerance": 0}
    report = mapping_report(mapped, source, "Temperature", method, None)
    assert {b["body"]: b["no_value"] for b in report["bodies"]} == {
        path: count["no value"] for path, count in loadscribe.last_left_out_counts.items()}
    for body in report["bodies"]:  # the statistics leave the unmapped places out
        assert body["mapped"]["min"] is None or body["mapped"]["min"] > 270
    if method == "Mesh only":  # the shell's nodes on the true curve miss the source's facets
        assert loadscribe.last_left_out_counts["M/P/Shell"]["no value"] > 0


def test_every_surface_node_of_the_tetra10_body_is_loaded(meshes):
    model = export(meshes)
    grid = mapped_leaves(model)["M/P/Bracket"]
    assert grid.GetCellType(0) == vtk.VTK_QUADRATIC_TETRA
    # Boundary faces: those of one tetrahedron only; each with its corners and the mid-side
    # nodes of its three edges (VTK's quadratic tetrahedron numbering).
    rows = ns.vtk_to_numpy(grid.GetCells().GetConnectivityArray()).reshape(-1, 10)
    faces = {}
    for face in ((0, 1, 2, 4, 5, 6), (0, 1, 3, 4, 8, 7), (1, 2, 3, 5, 9, 8), (0, 2, 3, 6, 9, 7)):
        for row in rows[:, face]:
            faces.setdefault(tuple(sorted(row[:3])), []).append(row)
    surface_points = {p for rows_ in faces.values() if len(rows_) == 1 for p in rows_[0]}
    expected = sorted(array(grid, "Node ID")[sorted(surface_points)].tolist())
    source = temperature_source(meshes["fine"])
    mapped = fieldferry.map_scalar_field_to_mesh("Temperature", "Point cloud or mesh", source,
                                                 model, True, None)
    loadscribe.create_temperature_load_from_vtk_field(mapped, "Temperature", None)
    loaded = kelm.environment.created[0].kwargs["temperatureValues"]["M/P/Bracket"]
    assert sorted(loaded["node_ids"]) == expected
    # A pressure on the same surface still matches the host's element faces (corner nodes).
    source.GetPointData().GetArray("Temperature").SetName("Pressure")
    source.GetFieldData().GetAbstractArray("units_temperature").SetName("units_pressure")
    source.GetFieldData().GetAbstractArray("units_pressure").SetValue(0, "kPa")
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Point cloud or mesh", source,
                                                 export(meshes), True, None)
    loadscribe.create_pressure_load_from_vtk_field(mapped, "Pressure", None)
    field = kelm.environment.created[-2].kwargs["pressureValues"]["M/P/Bracket"]
    assert len(field["element_ids"]) == sum(len(r) == 1 for r in faces.values())


RUN = """
import sys
import fieldferry, kelm, loadscribe
sys.path.insert(0, {tests!r})
import test_mapped_loads as t
meshes = {meshes!r}
source = t.temperature_source(meshes["fine"])
loadscribe.macro = ""
for method in t.METHODS:
    mapped = fieldferry.map_scalar_field_to_mesh("Temperature", method, source, t.export(meshes),
                                                 True, 4.0)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Temperature", 4.0)
source.GetPointData().GetArray("Temperature").SetName("Pressure")
source.GetFieldData().GetAbstractArray("units_temperature").SetName("units_pressure")
source.GetFieldData().GetAbstractArray("units_pressure").SetValue(0, "kPa")
mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Point cloud or mesh", source,
                                             t.export(meshes), True, 4.0)
loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", 4.0)
sys.stderr.write(loadscribe.macro)
"""


def test_recorded_text_is_the_same_in_every_process(meshes):
    script = RUN.format(tests=str(Path(__file__).parent),
                        meshes={k: str(v) for k, v in meshes.items()})
    texts = set()
    for _ in range(5):
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              env=dict(os.environ), timeout=300)
        assert done.returncode == 0, done.stderr[-2000:]
        texts.add(done.stderr)
    assert len(texts) == 1
    assert texts.pop().count("createLoadTemperature(") == len(METHODS)

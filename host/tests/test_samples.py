import numpy as np
import pytest

import kelm
from kelm.io import to_vtk_order
from kelm.mesh import ElementTopology as T

vtk = pytest.importorskip("vtkmodules.all")

VTK_CELL = {T.Bar2: vtk.vtkLine, T.Tria3: vtk.vtkTriangle, T.Tria6: vtk.vtkQuadraticTriangle,
            T.Quad4: vtk.vtkQuad, T.Quad8: vtk.vtkQuadraticQuad, T.Tetra4: vtk.vtkTetra,
            T.Tetra10: vtk.vtkQuadraticTetra, T.Penta6: vtk.vtkWedge,
            T.Penta15: vtk.vtkQuadraticWedge, T.Hexa8: vtk.vtkHexahedron,
            T.Hexa20: vtk.vtkQuadraticHexahedron}


def vtk_grid(body):
    """The body as a VTK grid, converted the way the toolkit converts host meshes."""
    grid = vtk.vtkUnstructuredGrid()
    points = vtk.vtkPoints()
    for xyz in np.asarray(body.nodeCoordinates):
        points.InsertNextPoint(*xyz)
    grid.SetPoints(points)
    for topology, rows in body.elementConnectivities.items():
        cell_type = VTK_CELL[topology]().GetCellType()
        for row in to_vtk_order(topology, rows):
            grid.InsertNextCell(cell_type, len(row), [int(i) for i in row])
    return grid


def volumes(grid):
    sizes = vtk.vtkCellSizeFilter()
    sizes.SetInputData(grid)
    sizes.Update()
    array = sizes.GetOutput().GetCellData().GetArray("Volume")
    return [array.GetValue(i) for i in range(grid.GetNumberOfCells())]


def check_mid_edge_nodes(grid):
    """Every quadratic edge's middle node lies halfway between its end nodes."""
    points = np.array([grid.GetPoint(i) for i in range(grid.GetNumberOfPoints())])
    for c in range(grid.GetNumberOfCells()):
        cell = grid.GetCell(c)
        for e in range(cell.GetNumberOfEdges()):
            ids = cell.GetEdge(e).GetPointIds()
            if ids.GetNumberOfIds() == 3:
                a, b, mid = (points[ids.GetId(k)] for k in range(3))
                np.testing.assert_allclose(mid, (a + b) / 2, atol=1e-12)


class TestElementZoo:
    @pytest.mark.parametrize("topology", [t for t in T if kelm.mesh.DIMENSION[t] == 3])
    def test_solids_become_valid_vtk_cells_of_positive_volume(self, topology):
        grid = vtk_grid(kelm.samples.element_zoo()[topology])
        check_mid_edge_nodes(grid)
        expected = {"Tetr": 1 / 6, "Pent": 0.5, "Hexa": 1.0}[topology.name[:4]]
        assert volumes(grid) == [pytest.approx(expected)]

    @pytest.mark.parametrize("topology", [T.Tria6, T.Quad8])
    def test_quadratic_surfaces(self, topology):
        check_mid_edge_nodes(vtk_grid(kelm.samples.element_zoo()[topology]))

    def test_host_order_differs_from_vtk_order_where_it_should(self):
        zoo = kelm.samples.element_zoo()
        hexa20 = np.asarray(zoo[T.Hexa20].elementConnectivities[T.Hexa20])[0]
        assert hexa20.tolist() == [*range(12), *range(16, 20), *range(12, 16)]
        penta15 = np.asarray(zoo[T.Penta15].elementConnectivities[T.Penta15])[0]
        assert to_vtk_order(T.Penta15, [penta15]).tolist() == [list(range(15))]

    def test_ids_are_not_positions(self):
        zoo = kelm.samples.element_zoo()
        all_ids = np.concatenate([np.asarray(b.nodeIDs) for b in zoo.values()])
        assert len(set(all_ids.tolist())) == len(all_ids)
        assert all_ids.min() > 100 and not np.all(np.diff(all_ids) == 1)


class TestSampleModel:
    def test_all_solid_bodies_are_valid(self):
        model = kelm.samples.sample_model()
        for part in model.assemblies[0].parts:
            grid = vtk_grid(part.meshes[0])
            check_mid_edge_nodes(grid)
            assert min(volumes(grid)) > 0
        insert = model.assemblies[0].parts[1].meshes[0]
        assert sum(volumes(vtk_grid(insert))) == pytest.approx(0.1**3)

    def test_contents(self):
        model = kelm.samples.sample_model()
        topologies = {b.name: list(b.elementIDs) for b in kelm._walk_meshes(model)}
        assert topologies == {"Beams": [T.Bar2], "Masses": [], "Block mesh": [T.Hexa8, T.Hexa20],
                              "Insert mesh": [T.Tetra10], "Cover shell": [T.Quad4, T.Tria3]}
        face = model.assemblies[0].assemblies[0].parts[0].geometryBodies[0]
        tessellation = face.asSurface().tessellation
        counts = [sum(np.asarray(getattr(tessellation, p)["num_cells"]).tolist())
                  for p in ("vertices", "edges", "faces")]
        assert counts == [4, 4, 2]

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import gridforge
import kelm
from kelm.mesh import ElementTopology as T

HEXA20_VTK = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19, 12, 13, 14, 15]
PENTA15_VTK = [3, 4, 5, 0, 1, 2, 12, 13, 14, 6, 7, 8, 9, 10, 11]


def cell_points(dataset, cell):
    ids = vtk.vtkIdList()
    dataset.GetCellPoints(cell, ids)
    return [ids.GetId(i) for i in range(ids.GetNumberOfIds())]


def field_string(dataset, name):
    return dataset.GetFieldData().GetAbstractArray(name).GetValue(0)


def unit_cube(part, name="Cube", ids=range(11, 19), eid=7, **kw):
    points, row = kelm.samples.single_element(T.Hexa8)
    return part.add_mesh(name, list(ids), points, {T.Hexa8: ([eid], row)}, kind="hex", **kw)


def one_part(as_lists=False, name="P"):
    return kelm.Model("M", deliver_as_lists=as_lists).add_part(name)


class TestTopologyTables:
    def test_tables_hold_the_eleven_topologies_in_order(self):
        g = gridforge.gridforge()
        assert list(g.element_type_num_nodes) == list(T)
        assert [g.element_type_num_nodes[t] for t in T] == [2, 3, 6, 4, 8, 4, 10, 6, 15, 8, 20]
        assert [g.kelmelementtype_to_vtkcelltype[t] for t in T] == [
            vtk.VTK_LINE, vtk.VTK_TRIANGLE, vtk.VTK_QUADRATIC_TRIANGLE, vtk.VTK_QUAD,
            vtk.VTK_QUADRATIC_QUAD, vtk.VTK_TETRA, vtk.VTK_QUADRATIC_TETRA, vtk.VTK_WEDGE,
            vtk.VTK_QUADRATIC_WEDGE, vtk.VTK_HEXAHEDRON, vtk.VTK_QUADRATIC_HEXAHEDRON]

    @pytest.mark.parametrize("topology, mesh_type, order", [
        (T.Bar2, "bar", "linear"), (T.Tria6, "surface", "quadratic"),
        (T.Quad8, "surface", "quadratic"), (T.Tetra4, "tetra", "linear"),
        (T.Penta6, "hexa", "linear"), (T.Penta15, "hexa", "quadratic"),
        (T.Hexa20, "hexa", "quadratic")])
    def test_classification(self, topology, mesh_type, order):
        body = kelm.samples.element_zoo()[topology]
        grid = gridforge.gridforge().ugrid_from_mesh(body)
        assert (field_string(grid, "mesh_type"), field_string(grid, "mesh_order")) == (mesh_type, order)


class TestReorder:
    def test_hexa20_and_penta15_single_elements(self):
        g = gridforge.gridforge()
        assert g.reorder_hexa20(1, list(range(20))).tolist() == HEXA20_VTK
        assert g.reorder_penta15(1, np.arange(15)).tolist() == PENTA15_VTK

    def test_two_elements_permute_within_themselves_and_rows_equal_flat(self):
        g = gridforge.gridforge()
        block = np.arange(40, dtype=np.int32)
        flat = g.reorder_hexa20(2, block)
        assert flat.tolist() == HEXA20_VTK + [20 + i for i in HEXA20_VTK]
        assert flat.dtype == np.int32
        assert g.reorder_hexa20(2, block.reshape(2, 20)).tolist() == flat.tolist()

    def test_zero_elements_give_an_empty_array(self):
        assert gridforge.gridforge().reorder_penta15(0, []).size == 0

    def test_count_beyond_the_block_is_refused(self):
        with pytest.raises(ValueError, match="holds 20"):
            gridforge.gridforge().reorder_hexa20(2, list(range(20)))


class TestUgridFromMesh:
    def test_unit_cube_hexa8(self, as_lists):
        grid = gridforge.gridforge().ugrid_from_mesh(unit_cube(one_part(as_lists), color=(255, 128, 0)))
        assert grid.GetNumberOfCells() == 1 and grid.GetCellType(0) == vtk.VTK_HEXAHEDRON
        assert cell_points(grid, 0) == list(range(8))
        assert grid.GetPoints().GetData().GetDataType() == vtk.VTK_FLOAT
        ids = grid.GetPointData().GetArray("Node ID")
        assert ids.GetDataType() == vtk.VTK_UNSIGNED_INT
        assert ns.vtk_to_numpy(ids).tolist() == list(range(11, 19))
        eids = grid.GetCellData().GetArray("Element ID")
        assert eids.GetDataType() == vtk.VTK_UNSIGNED_INT and eids.GetValue(0) == 7
        fd = grid.GetFieldData()
        assert [fd.GetArrayName(i) for i in range(fd.GetNumberOfArrays())] == [
            "mesh_type", "mesh_order", "color", "Body pathName", "unit_system_label"]
        assert field_string(grid, "Body pathName") == "M/P/Cube"
        assert field_string(grid, "unit_system_label") == "m-kg-s-N-K"
        assert fd.GetArray("color").GetTuple3(0) == pytest.approx((1.0, 128 / 255.0, 0.0))
        assert grid.GetPointData().GetScalars() is None  # tags are added, not made active

    def test_tetra4_then_tetra10_blocks(self, as_lists):
        p4, r4 = kelm.samples.single_element(T.Tetra4)
        p10, r10 = kelm.samples.single_element(T.Tetra10)
        body = one_part(as_lists).add_mesh(
            "Tets", range(1, 15), np.vstack([p4, p10]),
            {T.Tetra4: ([5], r4), T.Tetra10: ([9], np.asarray(r10) + 4)}, kind="solid")
        grid = gridforge.gridforge().ugrid_from_mesh(body)
        assert [grid.GetCellType(i) for i in range(2)] == [10, 24]
        assert ns.vtk_to_numpy(grid.GetCellData().GetArray("Element ID")).tolist() == [5, 9]
        assert field_string(grid, "mesh_order") == "quadratic"

    def test_quadratic_hexahedra_and_wedges_are_stored_in_vtk_order(self, as_lists):
        part = one_part(as_lists)
        for topology, order in ((T.Hexa20, HEXA20_VTK), (T.Penta15, PENTA15_VTK)):
            n = len(order)
            host_row = list(range(n))
            body = part.add_mesh(topology.name, range(100, 100 + n), np.random.rand(n, 3),
                                 {topology: ([1], host_row)}, kind="hex")
            assert cell_points(gridforge.gridforge().ugrid_from_mesh(body), 0) == order

    def test_hexa20_cell_from_the_zoo_has_positive_volume(self):
        grid = gridforge.gridforge().ugrid_from_mesh(kelm.samples.element_zoo()[T.Hexa20])
        quality = vtk.vtkCellSizeFilter()
        quality.SetInputData(grid)
        quality.Update()
        assert quality.GetOutput().GetCellData().GetArray("Volume").GetValue(0) == pytest.approx(1.0)

    def test_ids_up_to_the_32_bit_limit_are_kept_exactly(self, as_lists):
        ids = [2**32 - 1 - i for i in range(8)]
        grid = gridforge.gridforge().ugrid_from_mesh(unit_cube(one_part(as_lists), ids=ids, eid=2**31))
        assert ns.vtk_to_numpy(grid.GetPointData().GetArray("Node ID")).tolist() == ids
        assert grid.GetCellData().GetArray("Element ID").GetValue(0) == 2**31

    def test_lengths_come_in_the_application_unit_system(self):
        body = unit_cube(one_part())
        kelm.setApplicationUnitSystem("mm-t-s-N-K")
        kelm.setScriptUnitSystem("m-kg-s-N-K")
        grid = gridforge.gridforge().ugrid_from_mesh(body)
        assert grid.GetPoint(6) == pytest.approx((1000.0, 1000.0, 1000.0))
        assert field_string(grid, "unit_system_label") == "mm-t-s-N-K"

    def test_flat_coordinates_and_host_rows(self):
        model = kelm.Model("Flat", flat_coordinates=True)
        grid = gridforge.gridforge().ugrid_from_mesh(unit_cube(model.add_part("P")))
        assert grid.GetPoint(6) == (1.0, 1.0, 1.0)


class TestPolyFromMesh:
    def test_bars_become_lines_and_surfaces_polygons(self, as_lists):
        zoo = kelm.samples.element_zoo(deliver_as_lists=as_lists)
        g = gridforge.gridforge()
        bars = g.poly_from_mesh(zoo[T.Bar2])
        assert (bars.GetNumberOfLines(), bars.GetNumberOfPolys()) == (1, 0)
        tria6 = g.poly_from_mesh(zoo[T.Tria6])
        assert (tria6.GetNumberOfLines(), tria6.GetNumberOfPolys()) == (0, 1)
        assert cell_points(tria6, 0) == [0, 1, 2, 3, 4, 5]
        fd = tria6.GetFieldData()
        assert [fd.GetArrayName(i) for i in range(fd.GetNumberOfArrays())] == ["color"]
        assert tria6.GetPointData().GetArray("Node ID") is not None
        assert tria6.GetCellData().GetArray("Element ID") is None

    def test_lines_are_numbered_before_polygons(self, as_lists):
        pts = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
        body = one_part(as_lists).add_mesh("Mixed", [5, 6, 7, 8], pts, {
            T.Quad4: ([1], [0, 1, 2, 3]), T.Bar2: ([2, 3], [0, 2, 1, 3])}, kind="surface")
        poly = gridforge.gridforge().poly_from_mesh(body)
        assert [poly.GetCellType(i) for i in range(3)] == [vtk.VTK_LINE, vtk.VTK_LINE, vtk.VTK_QUAD]
        assert cell_points(poly, 1) == [1, 3]

    def test_empty_connectivity_gives_points_without_cells(self):
        body = one_part().add_mesh("Bare", [1, 2], [(0, 0, 0), (1, 1, 1)], {}, kind="surface")
        poly = gridforge.gridforge().poly_from_mesh(body)
        assert (poly.GetNumberOfPoints(), poly.GetNumberOfCells()) == (2, 0)
        assert poly.GetFieldData().GetArray("color") is not None

    def test_dataset_from_mesh_picks_grid_or_polydata(self):
        zoo = kelm.samples.element_zoo()
        g = gridforge.gridforge()
        assert g.dataset_from_mesh(zoo[T.Quad4]).IsA("vtkPolyData")
        assert g.dataset_from_mesh(zoo[T.Tetra10]).IsA("vtkUnstructuredGrid")
        assert g.dataset_from_mesh(zoo[T.Hexa8]).IsA("vtkUnstructuredGrid")


class TestGeometryBodies:
    def test_point_body_prints_the_single_type_message(self, capsys, as_lists):
        body = kelm.samples.geometry_zoo(deliver_as_lists=as_lists)[kelm.EntityType.Point]
        grid = gridforge.gridforge().ugrid_from_geombody(body)
        assert grid.GetNumberOfCells() == 1 and grid.GetCellType(0) == vtk.VTK_VERTEX
        assert capsys.readouterr().out == (
            "Converted single value cell type array from numpy array to list [1]\n")

    def test_surface_cells_come_vertices_lines_triangles(self, as_lists):
        body = kelm.samples.geometry_zoo(deliver_as_lists=as_lists)[kelm.EntityType.Surface]
        grid = gridforge.gridforge().ugrid_from_geombody(body)
        assert [grid.GetCellType(i) for i in range(grid.GetNumberOfCells())] == [1] * 4 + [3] * 4 + [5] * 2
        assert cell_points(grid, 9) == [0, 2, 3]
        assert grid.GetFieldData().GetArray("color").GetTuple3(0) == pytest.approx((1, 128 / 255, 0))
        assert grid.GetFieldData().GetAbstractArray("Body pathName") is None

    def test_curve_faces_are_not_read(self):
        body = kelm.samples.geometry_zoo()[kelm.EntityType.Curve]
        body.asCurve().tessellation.override(faces=None)  # would fail if it were read
        grid = gridforge.gridforge().ugrid_from_geombody(body)
        assert [grid.GetCellType(i) for i in range(grid.GetNumberOfCells())] == [1, 1, 3, 3, 3]

    def test_poly_of_a_solid_has_point_normals(self):
        poly = gridforge.gridforge().poly_from_geombody(kelm.samples.geometry_zoo()[kelm.EntityType.Solid])
        assert poly.GetNumberOfPolys() == 12
        assert poly.GetPointData().GetNormals() is not None
        assert poly.GetNumberOfPoints() >= 8  # sharp edges may split points

    def test_intermediate_arrays(self):
        g = gridforge.gridforge()
        kind, tess = g.get_tessellation_from_kelm_geombody(kelm.samples.geometry_zoo()[kelm.EntityType.Surface])
        assert kind == "Surface"
        assert g.initialize_point_arrays(tess).shape == (4, 3)
        n, counts, cells = g.initialize_face_arrays(kind, tess)
        assert (n, counts.tolist(), cells.tolist()) == (2, [2], [3, 0, 1, 2, 3, 0, 2, 3])
        assert g.initialize_edge_arrays("Point", tess)[0] == 0
        assert g.initialize_face_arrays("Curve", tess)[0] == 0
        assert g.initialize_celltypes_array(2, 1, 1).tolist() == [1, 1, 3, 5]

    def test_unsupported_entity_type_ends_the_script(self, capsys):
        body = kelm.samples.geometry_zoo()[kelm.EntityType.Edge]
        with pytest.raises(SystemExit):
            gridforge.gridforge().ugrid_from_geombody(body)
        assert capsys.readouterr().out == "Unsupported type..... exiting\n"


class TestBadInput:
    """Malformed host data raises an exception naming the body; nothing crashes."""

    def broken_cube(self, **override):
        return unit_cube(one_part()).override(**override)

    @pytest.mark.parametrize("connectivity, error, match", [
        ([0, 1, 2, 3, 4, 5, 6, -1], ValueError, r"connectivity entry -1 at position 7 of body 'M/P/Cube'"),
        ([0, 1, 2, 3, 4, 5, 6, 8], ValueError, r"connectivity entry 8 .* outside \[0, 7\]"),
        ([0, 1, 2, 3, 4, 5, 6], ValueError, "not a multiple of 8"),
        (list(range(8)) * 2, ValueError, "holds 2 elements but elementIDs lists 1"),
        ([0, 1, 2, 3, 4, 5, 6, "7"], TypeError, "must hold integers"),
        ([0, 1, 2, 3, 4, 5, 6, 7.0], TypeError, "must hold integers"),
        ([[0, 1, 2, 3], [4, 5, 6, 7]], ValueError, "rows of 4 entries; expected 8"),
        (np.arange(8, dtype=float), TypeError, "floating-point"),
    ])
    def test_bad_connectivity(self, connectivity, error, match):
        body = self.broken_cube(elementConnectivities={T.Hexa8: connectivity})
        with pytest.raises(error, match=match):
            gridforge.gridforge().ugrid_from_mesh(body)

    @pytest.mark.parametrize("ids, error, match", [
        ([11, 12, 13, 14, 15, 16, 17, -18], ValueError, r"node ID -18 at position 7 .* outside \[0, 4294967295\]"),
        ([11, 12, 13, 14, 15, 16, 17, 2**32], ValueError, "node ID 4294967296"),
        ([11, 12, 13, 14, 15, 16, 17, 2**70], ValueError, "node ID 1180591620717411303424"),
        (list(range(9)), ValueError, r"hold 24 values; expected x, y, z for each of the 9"),
        (None, TypeError, "must be a sequence of numbers, got NoneType"),
        ("12345678", TypeError, "must be a sequence of numbers, got str"),
    ])
    def test_bad_node_ids(self, ids, error, match):
        with pytest.raises(error, match=match):
            gridforge.gridforge().ugrid_from_mesh(self.broken_cube(nodeIDs=ids))

    @pytest.mark.parametrize("coordinates, error, match", [
        (np.zeros((8, 2)), ValueError, "rows of 2 entries; expected 3"),
        (np.zeros((7, 3)), ValueError, "hold 21 values"),
        ([(0, 0, "x")] * 8, TypeError, "must hold numbers"),
        (np.zeros((2, 4, 3)), ValueError, "3 dimensions"),
    ])
    def test_bad_coordinates(self, coordinates, error, match):
        with pytest.raises(error, match=match):
            gridforge.gridforge().ugrid_from_mesh(self.broken_cube(nodeCoordinates=coordinates))

    def test_ragged_connectivity_rows(self):
        body = self.broken_cube(elementIDs={T.Hexa8: [7, 8]},
                                elementConnectivities={T.Hexa8: [list(range(8)), list(range(7)) + [[7]]]})
        with pytest.raises(TypeError, match="entry \\[7\\] at position 15 is a list"):
            gridforge.gridforge().ugrid_from_mesh(body)
        body = self.broken_cube(elementIDs={T.Hexa8: [7, 8]},
                                elementConnectivities={T.Hexa8: [list(range(8)), list(range(9))]})
        with pytest.raises(ValueError, match="ragged: row 1 has 9 entries, row 0 has 8"):
            gridforge.gridforge().ugrid_from_mesh(body)

    def test_element_ids_out_of_range(self):
        body = self.broken_cube(elementIDs={T.Hexa8: [-3]})
        with pytest.raises(ValueError, match="Hexa8 element ID -3"):
            gridforge.gridforge().ugrid_from_mesh(body)

    def test_topology_in_one_dictionary_only(self):
        g = gridforge.gridforge()
        with pytest.raises(KeyError, match="Hexa8 is in elementConnectivities but not in elementIDs"):
            g.ugrid_from_mesh(self.broken_cube(elementIDs={T.Hexa20: [7]}))
        body = self.broken_cube(elementIDs={T.Hexa8: [7], T.Tetra4: [8]})
        with pytest.raises(ValueError, match="Tetra4 is in elementIDs but not in elementConnectivities"):
            g.ugrid_from_mesh(body)

    def test_unknown_topology_is_a_key_error(self):
        body = self.broken_cube(elementIDs={"Hexa9": [7]}, elementConnectivities={"Hexa9": list(range(8))})
        with pytest.raises(KeyError, match="'Hexa9' is not an element topology"):
            gridforge.gridforge().ugrid_from_mesh(body)

    def test_empty_connectivity_dictionary_has_no_mesh_type(self):
        body = self.broken_cube(elementIDs={}, elementConnectivities={})
        with pytest.raises(ValueError, match="body 'M/P/Cube' has no elements"):
            gridforge.gridforge().ugrid_from_mesh(body)

    def test_elements_without_nodes(self):
        body = self.broken_cube(nodeIDs=[], nodeCoordinates=[])
        with pytest.raises(ValueError, match="no nodes"):
            gridforge.gridforge().ugrid_from_mesh(body)

    def test_bad_colour_and_dictionaries(self):
        g = gridforge.gridforge()
        with pytest.raises(ValueError, match="color of body 'M/P/Cube' has 2 components"):
            g.ugrid_from_mesh(self.broken_cube(color=(1, 2)))
        with pytest.raises(TypeError, match="must be a mapping"):
            g.ugrid_from_mesh(self.broken_cube(elementIDs=[7]))

    def test_missing_host_attribute_names_the_body(self):
        class Headless:
            pathName = "M/P/Ghost"
        with pytest.raises(AttributeError, match="host entity 'M/P/Ghost' has no attribute 'node"):
            gridforge.gridforge().ugrid_from_mesh(Headless())

    @pytest.mark.parametrize("part, indices, match", [
        ("faces", [0, 1, 9, 0, 2, 3], r"point index 9 of cell 8 is not below the number of points 4"),
        ("faces", [0, 1, 2, 0, 2], r"holds 5 entries but \"num_cells\" adds up to 2 cells"),
        ("edges", [0, 1, 1, 2, 2, 3, 3, -1], r"edges \"point_indices\" -1"),
    ])
    def test_bad_tessellation(self, part, indices, match):
        body = kelm.samples.geometry_zoo()[kelm.EntityType.Surface]
        tess = body.asSurface().tessellation
        tess.override(**{part: {**getattr(tess, part), "point_indices": indices}})
        with pytest.raises(ValueError, match=match):
            gridforge.gridforge().ugrid_from_geombody(body)

    def test_cells_that_disagree_with_their_types(self):
        g = gridforge.gridforge()
        points = np.zeros((3, 3))
        with pytest.raises(ValueError, match="cell 0 of type 5 has 2 points"):
            g.ugrid_from_arrays(points, [5], [2, 0, 1])
        with pytest.raises(ValueError, match="type 42"):
            g.ugrid_from_arrays(points, [42], [3, 0, 1, 2])
        with pytest.raises(ValueError, match="holds 1 cells but 2 cell types"):
            g.ugrid_from_arrays(points, [5, 5], [3, 0, 1, 2])
        with pytest.raises(ValueError, match="expected 3 to 3"):
            g.poly_from_arrays(points, [], [], [2, 0, 1])

    def test_wrong_dataset_kinds_are_type_errors(self):
        g = gridforge.gridforge()
        with pytest.raises(TypeError):
            g.elements_to_ugrid(vtk.vtkPolyData(), {}, {})
        with pytest.raises(TypeError):
            g.nodes_to_points("grid", [1], [0, 0, 0])
        with pytest.raises(TypeError):
            g.reorder_hexa20(1, ["a"] * 20)

    def test_a_failed_conversion_leaves_earlier_results_valid(self):
        g = gridforge.gridforge()
        good = g.ugrid_from_mesh(unit_cube(one_part(name="Q")))
        with pytest.raises(ValueError):
            g.ugrid_from_mesh(self.broken_cube(nodeIDs=[-1] * 8))
        assert good.GetNumberOfCells() == 1 and good.GetPoint(6) == (1.0, 1.0, 1.0)


def test_module_imported_before_vtk_hands_out_vtk_objects():
    import subprocess
    import sys
    code = ("import gridforge, kelm; g = gridforge.gridforge(); "
            "grid = g.ugrid_from_arrays([[0,0,0]], [1], [1, 0]); "
            "print(type(grid).__module__, grid.GetNumberOfCells())")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.splitlines()[-1] == "vtkmodules.vtkCommonDataModel 1"

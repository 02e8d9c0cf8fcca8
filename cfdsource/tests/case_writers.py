"""Small solver outputs written by hand (or with a writer VTK ships), for the reading layer's
tests and kelm-map's: each builder writes into a folder and returns the path to read."""
import ctypes
import itertools

import numpy as np
import vtk

HEADER = "FoamFile\n{{\n    version 2.0;\n    format ascii;\n    class {cls};\n    object {obj};\n}}\n"


def _foam(path, cls, body):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(HEADER.format(cls=cls, obj=path.name) + body)


def _two_cell_box(extent):
    """Two hexahedra side by side along x filling a box of `extent`: (points (12 x 3), faces as
    {patch or None for the inner face: [(corner point indices, owner cell)]})."""
    points = np.array([(i, j, k) for k in (0, 1) for j in (0, 1) for i in (0, 1, 2)], float)
    at = {tuple(p.astype(int)): n for n, p in enumerate(points)}

    def quad(axis, value, lo):
        other = [a for a in range(3) if a != axis]
        corners = []
        for u, v in ((0, 0), (1, 0), (1, 1), (0, 1)):
            c = [0, 0, 0]
            c[axis], c[other[0]], c[other[1]] = value, u, v
            c[0] += lo if axis != 0 else 0
            corners.append(at[tuple(c)])
        return corners
    faces = {None: [(quad(0, 1, 0), 0)], "inlet": [(quad(0, 0, 0), 0)],
             "outlet": [(quad(0, 2, 0), 1)],
             "hot": [(quad(2, 1, 0), 0), (quad(2, 1, 1), 1)],
             "walls": [(quad(a, v, c), c) for a, v in ((1, 0), (1, 1), (2, 0)) for c in (0, 1)]}
    centres = np.array([(0.5, 0.5, 0.5), (1.5, 0.5, 0.5)])
    for patch, listed in faces.items():  # outward (owner to neighbour) by the right-hand rule
        for n, (corners, owner) in enumerate(listed):
            p = points[corners]
            normal = np.cross(p[1] - p[0], p[2] - p[0])
            if np.dot(normal, p.mean(axis=0) - centres[owner]) < 0:
                listed[n] = (corners[::-1], owner)
    return points * (np.asarray(extent, float) / (2, 1, 1)), faces


PATCHES = ("inlet", "outlet", "hot", "walls")
KINDS = {"inlet": "type patch;", "outlet": "type patch;",
         "hot": "type patch;\n        inGroups List<word> 1(wall);", "walls": "type wall;"}


def _mesh_of(cells, faces):
    """{patch: [(corners, owner)]} of the two-cell box's `cells`, and its inner faces. One cell
    is a processor's piece: the inner face becomes its processor patch, facing out of the cell."""
    patches = {p: [f for f in faces[p] if f[1] in cells] for p in PATCHES}
    if len(cells) == 2:
        return patches, faces[None]
    (rank,), (corners, owner) = cells, faces[None][0]
    patches[f"procBoundary{rank}to{1 - rank}"] = [(corners if owner == rank else corners[::-1],
                                                    rank)]
    return patches, []


def _write_mesh(poly, points, patches, inner, cells):
    listed = inner + [f for p in patches.values() for f in p]
    used = sorted({i for corners, _ in listed for i in corners})
    new = {old: n for n, old in enumerate(used)}
    _foam(poly / "points", "vectorField", f"{len(used)}\n(\n" +
          "".join(f"({x:g} {y:g} {z:g})\n" for x, y, z in points[used]) + ")\n")
    _foam(poly / "faces", "faceList", f"{len(listed)}\n(\n" + "".join(
        f"4({' '.join(str(new[c]) for c in corners)})\n" for corners, _ in listed) + ")\n")
    _foam(poly / "owner", "labelList", f"{len(listed)}\n(\n" +
          "".join(f"{cells.index(o)}\n" for _, o in listed) + ")\n")
    _foam(poly / "neighbour", "labelList", f"{len(inner)}\n(\n" + "1\n" * len(inner) + ")\n")
    start, entries = len(inner), []
    for patch, listed in patches.items():
        kind = KINDS.get(patch, "type processor;\n        inGroups 1(processor);\n        "
                                f"myProcNo {cells[0]};\n        neighbProcNo {1 - cells[0]};")
        entries.append(f"    {patch}\n    {{\n        {kind}\n        nFaces {len(listed)};\n"
                       f"        startFace {start};\n    }}\n")
        start += len(listed)
    _foam(poly / "boundary", "polyBoundaryMesh", f"{len(entries)}\n(\n{''.join(entries)})\n")


def _write_fields(stamp, factor, patches, cells):
    p, t = factor * np.array([10.0, 20.0]), 300.0 + factor

    def listed(values):
        return f"nonuniform List<scalar> {len(values)}({' '.join(f'{v:g}' for v in values)})"
    values = {"inlet": "uniform 0", "outlet": "uniform 0",
              "hot": listed([p[o] for _, o in patches["hot"]]), "walls": f"uniform {5 * factor:g}",
              **{n: listed([p[1 - cells[0]]]) for n in patches if n.startswith("proc")}}
    _foam(stamp / "p", "volScalarField", "dimensions [0 2 -2 0 0 0 0];\ninternalField "
          f"{listed(p[list(cells)])};\nboundaryField\n{{\n" +
          "".join(f"    {n} {{ type fixedValue; value {v}; }}\n" for n, v in values.items())
          + "}\n")
    _foam(stamp / "T", "volScalarField", "dimensions [0 0 0 1 0 0 0];\ninternalField "
          f"uniform {t:g};\nboundaryField\n{{\n" +
          "".join(f"    {n} {{ type fixedValue; value uniform {t:g}; }}\n" for n in values)
          + "}\n")
    _foam(stamp / "U", "volVectorField", "dimensions [0 1 -1 0 0 0 0];\ninternalField "
          "uniform (1 0 0);\nboundaryField\n{\n" +
          "".join(f"    {n} {{ type fixedValue; value uniform (0 0 0); }}\n" for n in values)
          + "}\n")


def openfoam_case(folder, times=((0, 1.0), (0.5, 2.0)), extent=(2, 1, 1), region="",
                  cells=(0, 1)):
    """A two-cell case filling the box from the origin to `extent` (m): patches inlet and outlet
    (type patch), hot (the top, a wall through inGroups) and walls (type wall). At each (time,
    factor): p = factor * (10, 20) on the cells and on hot's two faces, factor * 5 on walls;
    T = 300 + factor everywhere; U a vector. `region`: the mesh and fields in that region's
    folders; `cells`: one cell is a processor folder's piece of the box."""
    points, faces = _two_cell_box(extent)
    _foam(folder / "system" / "controlDict", "dictionary",
          "application simpleFoam;\nstartFrom latestTime;\ndeltaT 0.5;\nwriteControl timeStep;\n"
          "writeInterval 1;\n")
    patches, inner = _mesh_of(cells, faces)
    _write_mesh(folder / "constant" / region / "polyMesh", points, patches, inner, list(cells))
    for time, factor in times:
        _write_fields(folder / f"{time:g}" / region, factor, patches, cells)
    return folder


def decomposed_case(folder, times=((0, 1.0), (0.5, 2.0)), **box):
    """openfoam_case's box as decomposePar and a parallel run leave it: the top level with its
    first time only, processor0 and processor1 with one cell each (the inner face their
    processor patch) and every time. `box`: openfoam_case's extent and region."""
    openfoam_case(folder, times[:1], **box)
    for rank in (0, 1):
        openfoam_case(folder / f"processor{rank}", times, cells=(rank,), **box)
    return folder


def multi_region_case(folder, regions={"fluid": ((0, 1.0), (0.5, 2.0)),
                                       "solid": ((0, 3.0), (0.5, 4.0))}, case=openfoam_case,
                      **box):
    """openfoam_case's box in each region of a conjugate heat transfer case (constant/<region>/,
    <time>/<region>/, constant/regionProperties), at each region's own (time, factor)s; each
    region written by `case` (decomposed_case: as a parallel run leaves it)."""
    for region, times in regions.items():
        case(folder, times, region=region, **box)
    _foam(folder / "constant" / "regionProperties", "dictionary",
          f"regions\n(\n    fluid ({' '.join(regions)})\n);\n")
    return folder


def ensight_case(folder, pad=False):
    """An EnSight Gold ASCII case, two times (0 and 0.5): part 1 "wall" (one quad4 at z = 0),
    part 2 "fluid" (one hexa8 above it). "p" per element (wall: 7 and 70, fluid: 8 and 80),
    "T" per node (300 + x, then 400 + x). `pad`: the part names padded with blanks to 79
    characters, as some solvers write them."""
    folder.mkdir(parents=True, exist_ok=True)
    quad = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
    hexa = quad + [(x, y, 1) for x, y, _ in quad]

    def coordinates(xyz):
        return "coordinates\n" + f"{len(xyz)}\n" + "".join(
            f"{p[axis]:12.5e}\n" for axis in range(3) for p in xyz)
    (folder / "model.geo").write_text(
        "EnSight Gold geometry\nwritten by hand\nnode id off\nelement id off\n"
        f"part\n1\n{'wall'.ljust(79 if pad else 0)}\n" + coordinates(quad) + "quad4\n1\n1 2 3 4\n"
        f"part\n2\n{'fluid'.ljust(79 if pad else 0)}\n" + coordinates(hexa) +
        "hexa8\n1\n1 2 3 4 5 6 7 8\n")
    for step, (wall, fluid, base) in enumerate(((7, 8, 300), (70, 80, 400))):
        (folder / f"p.{step:04d}").write_text(
            f"p\npart\n1\nquad4\n{wall:12.5e}\npart\n2\nhexa8\n{fluid:12.5e}\n")
        (folder / f"T.{step:04d}").write_text(
            "T\n" + "".join(f"part\n{n}\ncoordinates\n" + "".join(f"{base + p[0]:12.5e}\n"
                                                               for p in xyz)
                            for n, xyz in ((1, quad), (2, hexa))))
    case = folder / "model.case"
    case.write_text("FORMAT\ntype: ensight gold\nGEOMETRY\nmodel: model.geo\nVARIABLE\n"
                    "scalar per element: 1 p p.****\nscalar per node: 1 T T.****\n"
                    "TIME\ntime set: 1\nnumber of steps: 2\nfilename start number: 0\n"
                    "filename increment: 1\ntime values: 0.0 0.5\n")
    return case


def fluent_case(folder):
    """A Fluent ASCII case and data file of one hexahedron (the unit cube): cell values
    PRESSURE 101325.5 and TEMPERATURE 300.25."""
    folder.mkdir(parents=True, exist_ok=True)
    nodes = "".join(f"{x} {y} {z}\n" for z in (0, 1) for x, y in ((0, 0), (1, 0), (1, 1), (0, 1)))
    faces = ["1 4 3 2", "5 6 7 8", "1 2 6 5", "2 3 7 6", "3 4 8 7", "4 1 5 8"]
    (folder / "box.cas").write_text(
        '(0 "one hexahedron")\n(2 3)\n(10 (0 1 8 0 3))\n(10 (1 1 8 1 3)(\n' + nodes + "))\n"
        "(12 (0 1 1 0))\n(12 (2 1 1 1 4))\n(13 (0 1 6 0))\n(13 (3 1 6 3 4)(\n" +
        "".join(f"{f} 1 0\n" for f in faces) + "))\n(39 (2 fluid fluid)())\n"
        "(39 (3 wall wall)())\n")
    (folder / "box.dat").write_text('(0 "data")\n(300 (1 2 1 0 0 1 1)(\n101325.5\n))\n'
                                    "(300 (3 2 1 0 0 1 1)(\n300.25\n))\n")
    return folder / "box.cas"


def cgns_file(folder, times=None):
    """A CGNS file (HDF5) written through the CGNS library VTK ships: base "Base", one
    unstructured zone "Box" of one hexahedron, "Pressure" 5.5 at the cell centre and
    "Temperature" 300 + x at the vertices. With `times` (a list), one cell-centred solution per
    time, Pressure = 5.5 + the time, indexed by the base's and the zone's iterative data."""
    folder.mkdir(parents=True, exist_ok=True)
    lib = ctypes.CDLL("libvtkcgns-9.1.so.1")
    lib.vtkcgns_cg_get_error.restype = ctypes.c_char_p

    def call(name, *args):
        if getattr(lib, "vtkcgns_" + name)(*args) != 0:
            raise RuntimeError(f"{name}: {lib.vtkcgns_cg_get_error().decode()}")
    ref = ctypes.byref
    fn, base, zone, index = ctypes.c_int(), ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    xyz = np.array([(x, y, z) for z in (0, 1) for x, y in ((0, 0), (1, 0), (1, 1), (0, 1))],
                   float)
    keep = []

    def data(values, dtype=np.float64):
        keep.append(np.ascontiguousarray(values, dtype=dtype))
        return keep[-1].ctypes.data_as(ctypes.c_void_p)
    path = folder / "box.cgns"
    lib.vtkcgns_cg_set_file_type(2)  # HDF5
    call("cg_open", str(path).encode(), 1, ref(fn))
    call("cg_base_write", fn, b"Base", 3, 3, ref(base))
    call("cg_zone_write", fn, base, b"Box", data([8, 1, 0], np.int64), 3, ref(zone))  # unstructured
    for axis, name in enumerate((b"CoordinateX", b"CoordinateY", b"CoordinateZ")):
        call("cg_coord_write", fn, base, zone, 4, name, data(xyz[:, axis]), ref(index))
    call("cg_section_write", fn, base, zone, b"Hexa", 17, ctypes.c_long(1), ctypes.c_long(1), 0,
         data(np.arange(1, 9), np.int64), ref(index))
    solutions = [(b"Cells", 3, b"Pressure", [5.5]), (b"Nodes", 2, b"Temperature", 300 + xyz[:, 0])]
    if times is not None:
        solutions = [(f"Cells{n}".encode(), 3, b"Pressure", [5.5 + t]) for n, t in enumerate(times)]
    for solution, location, name, values in solutions:
        call("cg_sol_write", fn, base, zone, solution, location, ref(index))
        call("cg_field_write", fn, base, zone, index, 4, name, data(values), ref(ctypes.c_int()))
    if times is not None:  # the time index: TimeValues and each step's FlowSolutionPointers
        steps = len(times)
        call("cg_biter_write", fn, base, b"BaseIterativeData", steps)
        call("cg_gopath", fn, b"/Base/BaseIterativeData")
        call("cg_array_write", b"TimeValues", 4, 1, data([steps], np.int64), data(times))
        call("cg_ziter_write", fn, base, zone, b"ZoneIterativeData")
        call("cg_gopath", fn, b"/Base/Box/ZoneIterativeData")
        pointers = b"".join(s[0].ljust(32, b"\0") for s in solutions)
        call("cg_array_write", b"FlowSolutionPointers", 5, 2, data([32, steps], np.int64),
             ctypes.c_char_p(pointers))
        call("cg_simulation_type_write", fn, base, 3)  # TimeAccurate
    call("cg_close", fn)
    return path


def tecplot_file(folder):
    """A Tecplot ASCII file: zone "wall" (one quadrilateral, P and T per point, POINT packing),
    zone "floor" (one triangle, P and T cell-centred, BLOCK packing), zone "box" (an ordered
    2 x 2 x 2 volume)."""
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / "wall.dat"
    path.write_text(
        'TITLE = "wall"\nVARIABLES = "X", "Y", "Z", "P", "T"\n'
        'ZONE T="wall", N=4, E=1, DATAPACKING=POINT, ZONETYPE=FEQUADRILATERAL\n'
        "0 0 0 1 300\n1 0 0 2 301\n1 1 0 3 302\n0 1 0 4 303\n1 2 3 4\n"
        'ZONE T="floor", N=3, E=1, DATAPACKING=BLOCK, ZONETYPE=FETRIANGLE, '
        "VARLOCATION=([4-5]=CELLCENTERED)\n0 1 0\n0 0 1\n5 5 5\n7\n8\n1 2 3\n"
        'ZONE T="box", I=2, J=2, K=2, DATAPACKING=POINT\n' +
        "".join(f"{x} {y} {z} 9 9\n" for z, y, x in itertools.product((0, 1), repeat=3)))
    return path


def plane(origin, point1, point2, resolution):
    """A plane of quadrilaterals, normal (point1 - origin) x (point2 - origin): a CFD wall."""
    source = vtk.vtkPlaneSource()
    source.SetOrigin(*origin)
    source.SetPoint1(*point1)
    source.SetPoint2(*point2)
    source.SetResolution(*resolution)
    source.Update()
    return source.GetOutput()


# An L of area 3 listed from a corner that does not see all of it (the fan from its first corner
# strays out of it), and the square its notch leaves of the 2 x 2 square: a polyhedral patch's
# faces, for flat_polygons.
L_SHAPE = [(2, 1), (1, 1), (1, 2), (0, 2), (0, 0), (2, 0)]
NOTCH = [(1, 1), (2, 1), (2, 2), (1, 2)]
# An arrowhead quadrilateral of area 1.7 bent in at its second corner (the fan from its first
# corner strays out of it, and its bilinear map folds).
ARROWHEAD = [(3, 0), (4, 0.3), (5, 0), (4, 2)]


def flat_polygons(*corner_lists, z=0.0):
    """Polydata of one polygon per list of (x, y) corners, in the plane z, none sharing points: a
    polyhedral mesh's patch."""
    points, cells = vtk.vtkPoints(), vtk.vtkCellArray()
    points.SetDataTypeToDouble()
    for corners in corner_lists:
        first = points.GetNumberOfPoints()
        for x, y in corners:
            points.InsertNextPoint(x, y, z)
        cells.InsertNextCell(len(corners), range(first, first + len(corners)))
    poly = vtk.vtkPolyData()
    poly.SetPoints(points)
    poly.SetPolys(cells)
    return poly


def write_xml(path, dataset):
    writer = {"vtkPolyData": vtk.vtkXMLPolyDataWriter, "vtkUnstructuredGrid":
              vtk.vtkXMLUnstructuredGridWriter, "vtkMultiBlockDataSet":
              vtk.vtkXMLMultiBlockDataWriter}[dataset.GetClassName()]()
    writer.SetFileName(str(path))
    writer.SetInputData(dataset)
    writer.Write()
    return path


def legacy_vtk(folder):
    """wall.vtk: the square (below) with p = 3, 4 on its cells, as legacy VTK ASCII."""
    writer = vtk.vtkPolyDataWriter()
    writer.SetFileName(str(folder / "wall.vtk"))
    writer.SetInputData(square(values=(3.0, 4.0)))
    writer.Write()
    return folder / "wall.vtk"


def square(z=0.0, values=(1.0, 2.0), where="cell", name="p"):
    """Two triangles making the unit square at height z, with `name` on its cells or points."""
    poly = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    for x, y in ((0, 0), (1, 0), (1, 1), (0, 1)):
        points.InsertNextPoint(x, y, z)
    poly.SetPoints(points)
    cells = vtk.vtkCellArray()
    for tri in ((0, 1, 2), (0, 2, 3)):
        cells.InsertNextCell(3, tri)
    poly.SetPolys(cells)
    array = vtk.vtkFloatArray()
    array.SetName(name)
    for v in values:
        array.InsertNextValue(v)
    (poly.GetCellData() if where == "cell" else poly.GetPointData()).AddArray(array)
    return poly


def cube_grid(value=9.0, name="p"):
    """The unit cube above the square as one hexahedron with `name` on its cell."""
    cube = vtk.vtkCubeSource()
    cube.SetBounds(0, 1, 0, 1, 0, 1)
    image = vtk.vtkImageData()
    image.SetDimensions(2, 2, 2)
    grid = vtk.vtkAppendFilter()
    grid.SetInputData(image)
    grid.Update()
    out = grid.GetOutput()
    array = vtk.vtkDoubleArray()
    array.SetName(name)
    array.InsertNextValue(value)
    out.GetCellData().AddArray(array)
    return out


def multiblock(blocks):
    """A vtkMultiBlockDataSet of {name: dataset}."""
    root = vtk.vtkMultiBlockDataSet()
    for n, (name, dataset) in enumerate(blocks.items()):
        root.SetBlock(n, dataset)
        root.GetMetaData(n).Set(vtk.vtkCompositeDataSet.NAME(), name)
    return root

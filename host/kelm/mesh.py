"""Mesh bodies of the stand-in host, their element topologies and the node / element entities."""
import enum
import operator

import numpy as np

from ._core import Entity, call_log, check_color, delivered, script_length_scale, state


class ElementTopology(enum.Enum):
    Bar2 = "Bar2"
    Tria3 = "Tria3"
    Tria6 = "Tria6"
    Quad4 = "Quad4"
    Quad8 = "Quad8"
    Tetra4 = "Tetra4"
    Tetra10 = "Tetra10"
    Penta6 = "Penta6"
    Penta15 = "Penta15"
    Hexa8 = "Hexa8"
    Hexa20 = "Hexa20"


_T = ElementTopology
NODES_PER_ELEMENT = {_T.Bar2: 2, _T.Tria3: 3, _T.Tria6: 6, _T.Quad4: 4, _T.Quad8: 8, _T.Tetra4: 4,
                     _T.Tetra10: 10, _T.Penta6: 6, _T.Penta15: 15, _T.Hexa8: 8, _T.Hexa20: 20}
DIMENSION = {t: 1 if t is _T.Bar2 else 2 if t.name[:4] in ("Tria", "Quad") else 3 for t in _T}
FACES_PER_ELEMENT = {_T.Tetra4: 4, _T.Tetra10: 4, _T.Penta6: 5, _T.Penta15: 5, _T.Hexa8: 6,
                     _T.Hexa20: 6}
MAX_ID = 2**32 - 1


class MeshEntity:
    """Base of the lightweight entities a mesh hands out for load targets."""
    __slots__ = ("mesh",)


class Node(MeshEntity):
    __slots__ = ("id", "position")

    def __init__(self, mesh, id, position):
        self.mesh, self.id, self.position = mesh, id, position

    def __repr__(self):
        return f"<kelm.mesh.Node {self.id} of '{self.mesh.pathName}'>"


class Element(MeshEntity):
    __slots__ = ("id", "position", "topology")

    def __init__(self, mesh, id, position, topology):
        self.mesh, self.id, self.position, self.topology = mesh, id, position, topology

    def __repr__(self):
        return f"<kelm.mesh.Element {self.id} ({self.topology.name}) of '{self.mesh.pathName}'>"


class ElementFace(MeshEntity):
    __slots__ = ("element", "face")

    def __init__(self, element, face):
        self.mesh, self.element, self.face = element.mesh, element, face

    def __repr__(self):
        return f"<kelm.mesh.ElementFace {self.face} of element {self.element.id}>"


def frozen(array):
    """A read-only view: delivered arrays share the model's storage and must not be written."""
    view = array.view()
    view.flags.writeable = False
    return view


def int_array(values, what):
    array = np.asarray(values)
    if array.size == 0:
        return np.zeros(array.shape, np.int64)
    if array.dtype.kind not in "iu":
        raise ValueError(f"{what} must be integers, got {array.dtype}")
    return array.astype(np.int64)


def check_ids(ids, what):
    """IDs are 1-D, unique and fit in 32 bits unsigned, as in the host."""
    if ids.ndim != 1:
        raise ValueError(f"{what} must be one-dimensional, got shape {ids.shape}")
    bad = ids[(ids < 0) | (ids > MAX_ID)]
    if bad.size:
        raise ValueError(f"{what}: ID {bad[0]} is outside 0..{MAX_ID}")
    unique, counts = np.unique(ids, return_counts=True)
    if (counts > 1).any():
        raise ValueError(f"{what}: ID {unique[counts > 1][0]} occurs more than once")


def points_out(points_m, delivery):
    """Points read in the script's length unit, in the model's delivery form."""
    scale = script_length_scale()
    points = points_m if scale == 1.0 else points_m * scale
    if delivery.flat_coordinates:
        points = points.reshape(-1)
    if not delivery.deliver_as_lists:
        return frozen(points)
    return points.tolist() if delivery.flat_coordinates else list(map(tuple, points.tolist()))


def ints_out(array, delivery):
    return array.reshape(-1).tolist() if delivery.deliver_as_lists else frozen(array)


def parse_ids(text, where):
    if not isinstance(text, str):
        raise TypeError(f"{where}: ids must be text of decimal IDs joined by ',', "
                        f"not {type(text).__name__}")
    if not text.strip():
        return np.zeros(0, np.int64)
    tokens = text.split(",")
    try:
        return np.array([int(t) for t in tokens], dtype=np.int64)
    except (ValueError, OverflowError):
        bad = next(t for t in tokens if not t.strip().isdigit() or int(t) > MAX_ID)
        raise ValueError(f"{where}: '{bad}' is not a decimal ID") from None


class MeshBody(Entity):
    """A mesh body. Stored in SI; nodeCoordinates are returned in the script unit system."""

    def __init__(self, name, parent, node_ids, coordinates, elements, color):
        super().__init__(name, parent)
        ids = int_array(node_ids, f"node IDs of '{name}'").reshape(-1)
        check_ids(ids, f"node IDs of '{name}'")
        coords = np.asarray(coordinates, dtype=np.float64)
        if coords.size != 3 * ids.size:
            raise ValueError(f"'{name}': {ids.size} node IDs need {3 * ids.size} coordinates, "
                             f"got {coords.size}")
        self._node_ids, self._coords = ids, coords.reshape(-1, 3)
        self._element_ids, self._connectivity = {}, {}
        for topology, (element_ids, connectivity) in (elements or {}).items():
            self._add_block(topology, element_ids, connectivity)
        all_ids = np.concatenate([np.zeros(0, np.int64), *self._element_ids.values()])
        check_ids(all_ids, f"element IDs of '{name}'")
        self._color = check_color(color)
        self._index_cache = {}
        self._cache = {}

    def _add_block(self, topology, element_ids, connectivity):
        if not isinstance(topology, ElementTopology):
            raise TypeError(f"'{self.name}': element blocks are keyed by "
                            f"kelm.mesh.ElementTopology, not {topology!r}")
        width = NODES_PER_ELEMENT[topology]
        eids = int_array(element_ids, f"{topology.name} element IDs of '{self.name}'").reshape(-1)
        conn = int_array(connectivity, f"{topology.name} connectivity of '{self.name}'")
        if conn.size != width * eids.size:
            raise ValueError(f"'{self.name}': {eids.size} {topology.name} elements need "
                             f"{width * eids.size} connectivity entries, got {conn.size}")
        conn = conn.reshape(-1, width)
        bad = conn[(conn < 0) | (conn >= self._node_ids.size)]
        if bad.size:
            raise ValueError(f"'{self.name}': {topology.name} connectivity entry {bad[0]} is not "
                             f"a node position 0..{self._node_ids.size - 1}")
        self._element_ids[topology], self._connectivity[topology] = eids, conn

    def _serve(self, key, build):
        """Delivered values are built once per delivery form and unit, then handed out again."""
        delivery = self._delivery()
        key = (key, delivery.deliver_as_lists, delivery.flat_coordinates)
        if key not in self._cache:
            self._cache[key] = build(delivery)
        return self._cache[key]

    @delivered
    def nodeIDs(self):
        return self._serve("ids", lambda d: ints_out(self._node_ids, d))

    @delivered
    def nodeCoordinates(self):
        call_log.append(("read", (self.pathName, "nodeCoordinates", state.script)))
        return self._serve(("coords", script_length_scale()),
                           lambda d: points_out(self._coords, d))

    @delivered
    def elementIDs(self):
        return {t: self._serve(("eids", t), lambda d: ints_out(ids, d))
                for t, ids in self._element_ids.items()}

    @delivered
    def elementConnectivities(self):
        return {t: self._serve(("conn", t), lambda d: ints_out(conn, d))
                for t, conn in self._connectivity.items()}

    @delivered
    def color(self):
        return self._color

    def _positions(self, kind, all_ids, text, where):
        """Positions of the IDs in `text` among `all_ids`; an unknown ID raises ValueError."""
        wanted = parse_ids(text, where)
        if kind not in self._index_cache:
            order = np.argsort(all_ids, kind="stable")
            self._index_cache[kind] = (order, all_ids[order])
        order, sorted_ids = self._index_cache[kind]
        slot = np.minimum(np.searchsorted(sorted_ids, wanted), max(sorted_ids.size - 1, 0))
        found = sorted_ids[slot] == wanted if sorted_ids.size else np.zeros(wanted.size, bool)
        if not found.all():
            raise ValueError(f"{where}: {kind} ID {wanted[~found][0]} is not in mesh "
                             f"'{self.pathName}'")
        return wanted, order[slot]

    def _all_elements(self):
        """Element IDs over all topologies in elementIDs order, and the topology of each."""
        if "all" not in self._index_cache:
            ids = np.concatenate([np.zeros(0, np.int64), *self._element_ids.values()])
            topologies = [t for t, e in self._element_ids.items() for _ in range(e.size)]
            self._index_cache["all"] = (ids, topologies)
        return self._index_cache["all"]

    def getNodes(self, ids):
        """Node entities for the IDs in `ids` (decimal IDs joined by ',')."""
        call_log.append(("getNodes", (self.pathName, ids)))
        wanted, positions = self._positions("node", self._node_ids, ids, "getNodes")
        return [Node(self, i, p) for i, p in zip(wanted.tolist(), positions.tolist())]

    def getElements(self, ids):
        """Element entities for the IDs in `ids` (decimal IDs joined by ',')."""
        call_log.append(("getElements", (self.pathName, ids)))
        all_ids, topologies = self._all_elements()
        wanted, positions = self._positions("element", all_ids, ids, "getElements")
        return [Element(self, i, p, topologies[p])
                for i, p in zip(wanted.tolist(), positions.tolist())]

    def getElementFaces(self, target):
        """Element faces from a mapping of element position (in elementIDs order over all
        topologies) to face numbers. Returns a list of ElementFace, in the mapping's order."""
        call_log.append(("getElementFaces", (self.pathName, target)))
        if not hasattr(target, "items"):
            raise TypeError(f"getElementFaces: target is a mapping, not {type(target).__name__}")
        all_ids, topologies = self._all_elements()
        faces = []
        for position, numbers in target.items():
            position = operator.index(position)
            if not 0 <= position < all_ids.size:
                raise ValueError(f"getElementFaces: element position {position} is outside "
                                 f"0..{all_ids.size - 1} of mesh '{self.pathName}'")
            element = Element(self, int(all_ids[position]), position, topologies[position])
            count = FACES_PER_ELEMENT.get(element.topology)
            if count is None:
                raise ValueError(f"getElementFaces: element {element.id} is a "
                                 f"{element.topology.name}, which has no solid faces")
            for face in numbers:
                face = operator.index(face)
                if not 0 <= face < count:
                    raise ValueError(f"getElementFaces: face {face} of element {element.id} is "
                                     f"outside 0..{count - 1}")
                faces.append(ElementFace(element, face))
        return faces


class SolidMesh(MeshBody):
    pass


class HexMesh(MeshBody):
    pass


class SurfaceMesh(MeshBody):
    pass


class BarMesh(MeshBody):
    pass


class PointMesh(MeshBody):
    pass


KINDS = {"solid": SolidMesh, "hex": HexMesh, "surface": SurfaceMesh, "bar": BarMesh,
         "point": PointMesh}


def infer_kind(topologies):
    """point without elements; hex when all 3-D elements are hexahedra or wedges, solid for other
    3-D meshes; surface with 2-D elements; bar with only bars."""
    solids = [t for t in topologies if DIMENSION[t] == 3]
    if solids:
        return "hex" if all(t.name[:4] in ("Hexa", "Pent") for t in solids) else "solid"
    if any(DIMENSION[t] == 2 for t in topologies):
        return "surface"
    return "bar" if topologies else "point"


def make_mesh(name, parent, node_ids, coordinates, elements=None, kind=None, color=(160, 160, 164)):
    """Build a mesh body.

    node_ids: N integer IDs; coordinates: N x 3 (or 3N flat) in metres; elements: a mapping
    {ElementTopology: (element_ids, connectivity)} with connectivity as 0-based node positions,
    one row per element or flat; kind: "solid", "hex", "surface", "bar", "point" or None to infer.
    """
    kind = kind or infer_kind(list((elements or {}).keys()))
    if kind not in KINDS:
        raise ValueError(f"unknown mesh kind '{kind}'; one of {', '.join(KINDS)}")
    if kind == "point" and elements:
        raise ValueError(f"point mesh '{name}' takes no elements")
    return KINDS[kind](name, parent, node_ids, coordinates, elements, color)

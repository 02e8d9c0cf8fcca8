"""Geometry bodies of the stand-in host and their display tessellations."""
import numpy as np

from ._core import (Entity, EntityType, Overridable, _Delivery, call_log, check_color, delivered,
                    script_length_scale, state)
from .mesh import int_array, ints_out, points_out

_WIDTH = {"vertices": 1, "edges": 2, "faces": 3}


class Tessellation(Overridable):
    """Display tessellation: points (metres) and, per topological vertex, edge and face, the cells
    that draw it. Each part is given as (num_cells, point_indices): num_cells has one count per
    topological entity, point_indices 1, 2 or 3 indices per cell (point, segment, triangle).

    Read through a geometry body, `points` come in the script's length unit and the model's
    delivery form; `vertices`, `edges`, `faces` are dicts with "num_cells" and "point_indices".
    """

    def __init__(self, points, vertices=None, edges=None, faces=None):
        self._points = np.asarray(points, dtype=np.float64).reshape(-1, 3)
        self._parts = {}
        for part, given in (("vertices", vertices), ("edges", edges), ("faces", faces)):
            counts, indices = given if given is not None else ((), ())
            counts = int_array(counts, f"tessellation {part} num_cells").reshape(-1)
            indices = int_array(indices, f"tessellation {part} point_indices").reshape(-1)
            if (counts < 0).any() or indices.size != _WIDTH[part] * counts.sum():
                raise ValueError(f"tessellation {part}: {counts.sum()} cells need "
                                 f"{_WIDTH[part] * counts.sum()} point indices, got {indices.size}")
            if ((indices < 0) | (indices >= len(self._points))).any():
                raise ValueError(f"tessellation {part}: a point index is outside "
                                 f"0..{len(self._points) - 1}")
            self._parts[part] = (counts, indices)
        self._owner = None
        self._cache = {}

    def _serve(self, key, build):
        delivery = self._owner._delivery() if self._owner else _Delivery
        key = (key, delivery.deliver_as_lists, delivery.flat_coordinates)
        if key not in self._cache:
            self._cache[key] = build(delivery)
        return self._cache[key]

    def _cells(self, part):
        return {name: self._serve((part, name), lambda d: ints_out(array, d))
                for name, array in zip(("num_cells", "point_indices"), self._parts[part])}

    @delivered
    def points(self):
        owner = self._owner.pathName if self._owner else None
        call_log.append(("read", (owner, "tessellation.points", state.script)))
        return self._serve(("points", script_length_scale()),
                           lambda d: points_out(self._points, d))

    @delivered
    def vertices(self):
        return self._cells("vertices")

    @delivered
    def edges(self):
        return self._cells("edges")

    @delivered
    def faces(self):
        return self._cells("faces")


class _View:
    """What asSolid() and friends return: the body seen as one geometry kind."""

    def __init__(self, body):
        self.body = body

    def __repr__(self):
        return f"<kelm.geometry.{type(self).__name__} '{self.body.pathName}'>"


class Solid(_View):
    @property
    def tessellationExterior(self):
        return self.body._tessellation


class Surface(_View):
    @property
    def tessellation(self):
        return self.body._tessellation


class Curve(Surface):
    pass


class Point(Surface):
    pass


class GeometryBody(Entity):
    """A geometry body (not yet meshed), shown through its display tessellation."""

    def __init__(self, name, parent, entity_type, tessellation, color):
        super().__init__(name, parent)
        if not isinstance(entity_type, EntityType):
            raise TypeError(f"'{name}': entity_type is a kelm.EntityType, not {entity_type!r}")
        if not isinstance(tessellation, Tessellation) or tessellation._owner is not None:
            raise ValueError(f"'{name}' needs a Tessellation of its own")
        tessellation._owner = self
        self._entity_type, self._tessellation = entity_type, tessellation
        self._color = check_color(color)

    @delivered
    def entityType(self):
        return self._entity_type

    @delivered
    def color(self):
        return self._color

    def _as(self, entity_type, view):
        if self._entity_type is not entity_type:
            raise TypeError(f"geometry body '{self.pathName}' is a {self._entity_type.name}, "
                            f"not a {entity_type.name}")
        return view(self)

    def asSolid(self):
        return self._as(EntityType.Solid, Solid)

    def asSurface(self):
        return self._as(EntityType.Surface, Surface)

    def asCurve(self):
        return self._as(EntityType.Curve, Curve)

    def asPoint(self):
        return self._as(EntityType.Point, Point)

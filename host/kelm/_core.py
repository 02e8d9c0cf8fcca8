"""Core of the stand-in host: unit systems, the model registry, the call log and the model tree.

The model is stored in SI (metres). Lengths are converted into the script unit system each time
they are read, as the real host does; everything else is unit-free here.
"""
import enum
import operator
from fractions import Fraction

DEFAULT_UNIT_SYSTEM = "m-kg-s-N-K"
DEFAULT_COLOR = (160, 160, 164)

# Metres per length unit, exact, so that e.g. 1 in reads back as exactly 25.4 mm.
METRES_PER_UNIT = {
    unit: Fraction(metres)
    for unit, metres in (
        ("m", "1"), ("dm", "0.1"), ("cm", "0.01"), ("mm", "0.001"), ("um", "0.000001"),
        ("km", "1000"), ("in", "0.0254"), ("ft", "0.3048"), ("yd", "0.9144"), ("mi", "1609.344"),
    )
}

# Every host function call and every read of a length attribute, in order: (name, args).
# Reads are ("read", (pathName, attribute, script unit system label in force)).
call_log = []


class _State:
    def __init__(self):
        self.application = DEFAULT_UNIT_SYSTEM
        self.script = DEFAULT_UNIT_SYSTEM
        self.models = []
        self.current = None


state = _State()


def length_unit(label):
    """The length unit of a unit-system label: its text before the first '-'."""
    if not isinstance(label, str):
        raise TypeError(f"a unit system label is text, not {type(label).__name__}")
    unit = label.split("-", 1)[0]
    if unit not in METRES_PER_UNIT:
        raise ValueError(f"unknown length unit '{unit}' in unit system label '{label}'")
    return unit


def script_length_scale():
    """Factor that turns stored metres into the script unit system's length unit."""
    return float(1 / METRES_PER_UNIT[length_unit(state.script)])


class EntityType(enum.Enum):
    """Kinds of geometry body. Vertex and Edge exist in the host but have no whole-body tessellation."""
    Solid = "Solid"
    Surface = "Surface"
    Curve = "Curve"
    Point = "Point"
    Vertex = "Vertex"
    Edge = "Edge"


def delivered(getter):
    """A read-only attribute whose value an override() can replace verbatim."""
    name = getter.__name__

    def get(self):
        if name in self._overrides:
            return self._overrides[name]
        return getter(self)

    return property(get, doc=getter.__doc__)


class Overridable:
    _overrides = {}

    def override(self, **attributes):
        """Deliver these attribute values verbatim from now on, bypassing units and checks.

        Meant for bad-input tests: malformed data that the construction API would refuse.
        """
        for name in attributes:
            if not isinstance(getattr(type(self), name, None), property):
                raise AttributeError(f"{type(self).__name__} has no host attribute '{name}'")
        self._overrides = {**self._overrides, **attributes}
        return self


class _Delivery:
    """How a model hands out its data; bodies outside any model use these defaults."""
    deliver_as_lists = False
    flat_coordinates = False


class Entity(Overridable):
    """Base of every named host entity. pathName is the parent's pathName + '/' + name."""

    def __init__(self, name, parent=None):
        if not isinstance(name, str) or not name or "/" in name:
            raise ValueError(f"an entity name is non-empty text without '/', not {name!r}")
        self.name = name
        self._parent = parent

    @delivered
    def pathName(self):
        """Full path of the entity; a model's path is its name."""
        return self.name if self._parent is None else f"{self._parent.pathName}/{self.name}"

    @property
    def model(self):
        """The model the entity belongs to, or None."""
        entity = self
        while entity._parent is not None:
            entity = entity._parent
        return entity if isinstance(entity, Model) else None

    def _delivery(self):
        return self.model or _Delivery

    def _check_new_child(self, name, siblings):
        if any(s.name == name for s in siblings):
            raise ValueError(f"'{self.pathName}' already holds an entity named '{name}'")

    def __repr__(self):
        return f"<{type(self).__module__}.{type(self).__name__} '{self.pathName}'>"


class _Container(Entity):
    """Model and assembly: hold parts and sub-assemblies in host order."""

    def __init__(self, name, parent=None):
        super().__init__(name, parent)
        self._parts = []
        self._assemblies = []

    @delivered
    def parts(self):
        return list(self._parts)

    @delivered
    def assemblies(self):
        return list(self._assemblies)

    def add_part(self, name):
        self._check_new_child(name, self._parts + self._assemblies)
        part = Part(name, self)
        self._parts.append(part)
        return part

    def add_assembly(self, name):
        self._check_new_child(name, self._parts + self._assemblies)
        assembly = Assembly(name, self)
        self._assemblies.append(assembly)
        return assembly


class Model(_Container):
    """A host model. Constructing one registers it and makes it the current model.

    deliver_as_lists: mesh and tessellation data come as Python lists and tuples instead of
    NumPy arrays. flat_coordinates: coordinates come as one flat x, y, z, x, y, z... sequence.
    """

    def __init__(self, name="Model", *, deliver_as_lists=False, flat_coordinates=False,
                 make_current=True):
        super().__init__(name)
        self.deliver_as_lists = deliver_as_lists
        self.flat_coordinates = flat_coordinates
        state.models.append(self)
        if make_current:
            state.current = self


class Assembly(_Container):
    pass


class Part(Entity):
    """A part: holds mesh bodies (point meshes included) and geometry bodies in host order."""

    def __init__(self, name, parent=None):
        super().__init__(name, parent)
        self._meshes = []
        self._geometry = []

    @delivered
    def meshes(self):
        return list(self._meshes)

    @delivered
    def geometryBodies(self):
        return list(self._geometry)

    def add_mesh(self, name, node_ids, coordinates, elements=None, *, kind=None,
                 color=DEFAULT_COLOR):
        """Add a mesh body; see kelm.mesh.make_mesh for the arguments."""
        from .mesh import make_mesh
        self._check_new_child(name, self._meshes + self._geometry)
        body = make_mesh(name, self, node_ids, coordinates, elements, kind, color)
        self._meshes.append(body)
        return body

    def add_geometry(self, name, entity_type, tessellation, *, color=DEFAULT_COLOR):
        """Add a geometry body of the given kelm.EntityType drawn by a kelm.geometry.Tessellation."""
        from .geometry import GeometryBody
        self._check_new_child(name, self._meshes + self._geometry)
        body = GeometryBody(name, self, entity_type, tessellation, color)
        self._geometry.append(body)
        return body


def walk_meshes(container):
    """Every mesh body below a model or assembly, depth first."""
    for part in container._parts:
        yield from part._meshes
    for assembly in container._assemblies:
        yield from walk_meshes(assembly)


def check_color(color):
    try:
        rgb = tuple(operator.index(c) for c in color)
    except TypeError:
        rgb = ()
    if len(rgb) != 3 or not all(0 <= c <= 255 for c in rgb):
        raise ValueError(f"a colour is three integers 0-255, not {color!r}")
    return rgb

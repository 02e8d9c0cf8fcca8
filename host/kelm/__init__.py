"""Stand-in for the host application's scripting module `kelm`.

It offers what the toolkit calls (unit systems, the model tree, mesh and geometry bodies, load
creation) plus a small construction API for tests and examples; see host/README.md.
"""
from ._core import (DEFAULT_COLOR, DEFAULT_UNIT_SYSTEM, Assembly, Entity, EntityType, Model, Part,
                    call_log, length_unit, state as _state, walk_meshes as _walk_meshes)
from . import mesh, geometry, environment  # noqa: E402  (submodules reach back into _core)
from . import samples, io  # noqa: E402

__all__ = [
    "DEFAULT_COLOR", "DEFAULT_UNIT_SYSTEM", "Assembly", "Entity", "EntityCollection", "EntityType",
    "Model", "Part", "call_log", "currentModel", "environment", "geometry", "getMesh",
    "getApplicationUnitSystemLabel", "getScriptUnitSystemLabel", "io", "mesh", "reset", "samples",
    "setApplicationUnitSystem", "setCurrentModel", "setScriptUnitSystem",
]


def getApplicationUnitSystemLabel():
    """The application's unit-system label, such as "m-kg-s-N-K"."""
    call_log.append(("getApplicationUnitSystemLabel", ()))
    return _state.application


def setScriptUnitSystem(label):
    """Later length values (coordinates, tessellation points) are returned in this unit system."""
    length_unit(label)
    call_log.append(("setScriptUnitSystem", (label,)))
    _state.script = label


def getScriptUnitSystemLabel():
    """The unit system that values are currently returned in."""
    call_log.append(("getScriptUnitSystemLabel", ()))
    return _state.script


def setApplicationUnitSystem(label):
    """Stand-in only: change the application's unit system (the script's is left as it is)."""
    length_unit(label)
    call_log.append(("setApplicationUnitSystem", (label,)))
    _state.application = label


def currentModel():
    """The current model: the last one constructed, or the one given to setCurrentModel."""
    call_log.append(("currentModel", ()))
    if _state.current is None:
        raise RuntimeError("there is no current model")
    return _state.current


def setCurrentModel(model):
    if not isinstance(model, Model):
        raise TypeError(f"setCurrentModel takes a kelm.Model, not {type(model).__name__}")
    call_log.append(("setCurrentModel", (model,)))
    _state.current = model


def getMesh(path):
    """The mesh body whose pathName is `path`, searched in the current model first, then in the
    other models made since the last reset(). An unknown path raises KeyError naming it."""
    call_log.append(("getMesh", (path,)))
    return _find_mesh(path)


def _find_mesh(path):
    models = sorted(_state.models, key=lambda m: m is not _state.current)
    for model in models:
        for body in _walk_meshes(model):
            if body.pathName == path:
                return body
    raise KeyError(f"no mesh body with pathName '{path}'")


class EntityCollection:
    """An ordered collection of host entities (bodies, nodes, elements, element faces)."""

    def __init__(self):
        self._items = []

    def extend(self, entities):
        items = list(entities)
        for item in items:
            if not isinstance(item, (Entity, mesh.MeshEntity)):
                raise TypeError(f"EntityCollection holds host entities, not {type(item).__name__}")
        self._items.extend(items)

    def __iter__(self):
        return iter(self._items)

    def __len__(self):
        return len(self._items)

    def __getitem__(self, index):
        return self._items[index]

    def __repr__(self):
        return f"<kelm.EntityCollection of {len(self._items)}>"


def reset():
    """Stand-in only: forget all models, the call log and created loads; default unit systems."""
    _state.__init__()
    call_log.clear()
    environment.reset()

"""Load creation of the stand-in host. Every call is recorded in `created`, in call order."""
import numbers
from collections.abc import Mapping
from typing import NamedTuple

from ._core import call_log, state


class Creation(NamedTuple):
    function: str       # e.g. "createLoadPressure"
    kwargs: dict        # the keyword arguments, in the order the caller gave them
    unit_system: str    # the script unit system in force at the call
    result: object      # what the call returned


created = []


class VariableTemperature:
    """A static variable temperature property: a field per body path name."""

    def __init__(self, temperatureValues):
        self.temperatureValues = temperatureValues


class VariablePressure:
    """A static variable pressure property: a field per body path name."""

    def __init__(self, id, pressureValues):
        self.id, self.pressureValues = id, pressureValues


class LoadTemperature:
    def __init__(self, name, description, target, temperatureProperty):
        self.name, self.description = name, description
        self.target, self.temperatureProperty = target, temperatureProperty


class LoadPressure:
    def __init__(self, name, description, target, loadPressureProperty):
        self.name, self.description = name, description
        self.target, self.loadPressureProperty = target, loadPressureProperty


def _accept(function, args, kwargs, expected):
    """The host's load functions take exactly these keywords, all required, nothing positional."""
    if args:
        raise TypeError(f"{function}() takes keyword arguments only")
    for name in kwargs:
        if name not in expected:
            raise TypeError(f"{function}() got an unexpected keyword argument '{name}'")
    missing = [name for name in expected if name not in kwargs]
    if missing:
        raise TypeError(f"{function}() missing keyword argument(s): {', '.join(missing)}")


def _check_values(function, values, value_key):
    """A property mapping: body path name -> field whose ID list and value list agree."""
    from . import _find_mesh
    if not isinstance(values, Mapping):
        raise TypeError(f"{function}(): values are a mapping, not {type(values).__name__}")
    for path, field in values.items():
        _find_mesh(path)
        ids = field["node_ids"] if "node_ids" in field else field["element_ids"]
        if len(ids) != len(field[value_key]):
            raise ValueError(f"{function}(): '{path}' has {len(ids)} IDs and "
                             f"{len(field[value_key])} {value_key}")
        for i, (face, vals) in enumerate(zip(field.get("face_identifiers", ()), field[value_key])):
            if len(face) != len(vals):
                raise ValueError(f"{function}(): '{path}' face {i} has {len(face)} nodes and "
                                 f"{len(vals)} {value_key}")


def _check_load(function, kwargs, property_name, property_class):
    from . import EntityCollection
    for key in ("name", "description"):
        if not isinstance(kwargs[key], str):
            raise TypeError(f"{function}(): {key} is text, not {type(kwargs[key]).__name__}")
    if not isinstance(kwargs["target"], EntityCollection):
        raise TypeError(f"{function}(): target is a kelm.EntityCollection, "
                        f"not {type(kwargs['target']).__name__}")
    if not isinstance(kwargs[property_name], property_class):
        raise TypeError(f"{function}(): {property_name} is a {property_class.__name__}, "
                        f"not {type(kwargs[property_name]).__name__}")


def _record(function, kwargs, result):
    call_log.append((function, dict(kwargs)))
    created.append(Creation(function, dict(kwargs), state.script, result))
    return result


def createTemperaturePropertyStaticVariable(*args, **kwargs):
    f = "createTemperaturePropertyStaticVariable"
    _accept(f, args, kwargs, ("temperatureValues",))
    _check_values(f, kwargs["temperatureValues"], "temperatures")
    return _record(f, kwargs, VariableTemperature(**kwargs))


def createLoadTemperature(*args, **kwargs):
    f = "createLoadTemperature"
    _accept(f, args, kwargs, ("name", "description", "target", "temperatureProperty"))
    _check_load(f, kwargs, "temperatureProperty", VariableTemperature)
    return _record(f, kwargs, LoadTemperature(**kwargs))


def createPressurePropertyStaticVariable(*args, **kwargs):
    f = "createPressurePropertyStaticVariable"
    _accept(f, args, kwargs, ("id", "pressureValues"))
    if not isinstance(kwargs["id"], numbers.Integral):
        raise TypeError(f"{f}(): id is an integer, not {type(kwargs['id']).__name__}")
    _check_values(f, kwargs["pressureValues"], "pressures")
    return _record(f, kwargs, VariablePressure(**kwargs))


def createLoadPressure(*args, **kwargs):
    f = "createLoadPressure"
    _accept(f, args, kwargs, ("name", "description", "target", "loadPressureProperty"))
    _check_load(f, kwargs, "loadPressureProperty", VariablePressure)
    return _record(f, kwargs, LoadPressure(**kwargs))


def reset():
    created.clear()

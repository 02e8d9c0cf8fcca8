"""The reading process: `INTERPRETER child.py FD` imports cfdsource, then answers requests
until its standard input ends: each a pickle of (the function's name, its positional and keyword
arguments), run by cfdsource's in-process reading function, the reply written to the file
descriptor FD (handback.py).

A crash, a hang or a runaway allocation in a reader ends this process only; isolation.py in the
caller watches it and turns that into a SourceError.
"""
import importlib
import os
import pickle
import sys
import types

# The functions a caller may ask for, by the name it sends.
FUNCTIONS = {"read_source": "_read_source_here", "describe": "_describe_here"}

# `import vtk` loads every VTK module (about two seconds, most of it rendering and views); the
# readers need a dozen. The child's `vtk` looks each name up in these modules first, in this
# order, and falls back to the whole of VTK for a name none of them has.
LIKELY_MODULES = ("vtkCommonCore", "vtkCommonDataModel", "vtkCommonExecutionModel",
                  "vtkIOLegacy", "vtkIOXML", "vtkFiltersCore", "vtkFiltersGeometry",
                  "vtkIOEnSight", "vtkIOGeometry", "vtkIOCGNSReader", "util.misc")


def _lazy_vtk():
    import vtkmodules
    module = types.ModuleType("vtk", "VTK's classes, each module imported when first used")
    module.__path__ = vtkmodules.__path__  # `from vtk.util import numpy_support` still works

    def find(name):
        if name.startswith("__"):
            raise AttributeError(name)
        for candidate in LIKELY_MODULES:
            found = getattr(importlib.import_module("vtkmodules." + candidate), name, None)
            if found is not None:
                break
        else:
            found = getattr(importlib.import_module("vtkmodules.all"), name)
        setattr(module, name, found)
        return found
    module.__getattr__ = find
    return module


def answer(cfdsource, request):
    """(kind, result) of one request: ("value", a dict), ("dataset", ...) or ("error", ...)."""
    try:
        name, args, kwargs = request
        result = getattr(cfdsource, FUNCTIONS[name])(*args, **kwargs)
        return ("value" if isinstance(result, dict) else "dataset"), result
    except Exception as error:  # every error goes back to the caller, as it was raised
        try:
            pickle.dumps(error)
        except Exception:
            error = RuntimeError(f"{type(error).__name__}: {error}")
        return "error", error


def main():
    reply = open(int(sys.argv[1]), "wb")
    # Run as a script, this folder heads sys.path; the package's parent must, so that the same
    # cfdsource is imported.
    sys.path[0] = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    sys.modules["vtk"] = _lazy_vtk()
    # Started before its first request comes (isolation.Child): the imports first.
    import cfdsource
    from cfdsource import handback
    for name in LIKELY_MODULES:
        importlib.import_module("vtkmodules." + name)
    while True:
        try:
            request = pickle.load(sys.stdin.buffer)
        except EOFError:  # the caller has ended, or let this process go
            os._exit(0)  # skip the interpreter's and VTK's teardown
        handback.send(reply, *answer(cfdsource, request))


if __name__ == "__main__":
    main()

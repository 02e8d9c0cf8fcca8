"""Counting and judging generated cases (shared by the robustness suite)."""
import collections

import vtk
from hypothesis import strategies as st

CASES = collections.Counter()
RAISED = collections.Counter()
# Readings of damaged files that ended in their child process ("EnSight: crashed on", ...).
STOPPED = collections.Counter()


def record(module, raised):
    CASES[module] += 1
    RAISED[module] += bool(raised)


# The exceptions the operations document for bad input: a missing key, ID or array (KeyError), a
# value out of range or lengths that disagree (ValueError, and fieldgraft's FaceNumberError, an
# IndexError too), a value of the wrong kind (TypeError), a file that cannot be written (OSError),
# a host entity without an attribute (AttributeError). A RuntimeError or SystemError from a bad
# argument means an error took a road nobody documented (a failed cast, a C++ exception nobody
# translated) and fails the case.
DOCUMENTED = (KeyError, ValueError, IndexError, TypeError, OSError, AttributeError)


def expect_success_or_error(module, operation, *args, **kwargs):
    """Runs the operation; returns its result, or None when it raised a documented exception."""
    try:
        result = operation(*args, **kwargs)
    except (SystemExit, KeyboardInterrupt):
        raise
    except DOCUMENTED:
        record(module, True)
        return None
    record(module, False)
    return result


def id_array(values):
    array = vtk.vtkIdTypeArray()
    for value in values:
        array.InsertNextValue(int(value))
    return array


def bad_offsets(draw, cells, points):
    """Offsets and connectivity for `cells` cells of 3 or 4 points over `points` points, then
    broken one way: past the connectivity's end, falling, not starting at 0, or negative. VTK's
    own InsertNextCell cannot make these; a script's SetData can."""
    sizes = [draw(st.sampled_from([3, 4])) for _ in range(max(1, cells))]
    offsets = [0]
    for size in sizes:
        offsets.append(offsets[-1] + size)
    connectivity = [draw(st.integers(0, max(0, points - 1))) for _ in range(offsets[-1])]
    how = draw(st.sampled_from(["past_end", "falling", "shifted", "negative"]))
    k = draw(st.integers(1, len(offsets) - 1))
    if how == "past_end":
        offsets[k] = len(connectivity) + draw(st.sampled_from([1, 7, 100000, 2**40]))
    elif how == "falling":
        offsets[k] = offsets[k - 1] - draw(st.integers(1, 3))
    elif how == "shifted":
        offsets[0] = draw(st.sampled_from([1, 2, -1]))
    else:
        offsets[k] = -draw(st.integers(1, 2**31))
    return offsets, connectivity


def with_bad_offsets(draw, dataset):
    """`dataset` (a polydata or unstructured grid with points) with its cells replaced by a cell
    array of bad offsets (see bad_offsets); returns the dataset."""
    cells = max(1, dataset.GetNumberOfCells())
    offsets, connectivity = bad_offsets(draw, cells, dataset.GetNumberOfPoints())
    array = vtk.vtkCellArray()
    array.SetData(id_array(offsets), id_array(connectivity))
    if dataset.IsA("vtkUnstructuredGrid"):
        types = vtk.vtkUnsignedCharArray()
        for i in range(len(offsets) - 1):
            types.InsertNextValue(vtk.VTK_POLYGON)
        dataset.SetCells(types, array)
    else:
        dataset.SetPolys(array)
    return dataset


# Text UTF-8 cannot carry: Python strings may hold lone surrogates, which no encoder writes.
SURROGATE_TEXT = st.builds(lambda a, s, b: a + s + b, st.text(max_size=3),
                           st.sampled_from(["\ud800", "\udfff", "\udc80", "\udbff\ud7ff"]),
                           st.text(max_size=3))

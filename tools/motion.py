"""Moving a source onto the model: kelm-map's --transform, --rotate and --translate as one 4x4
matrix, which acts on the source in model units (after its length unit is converted)."""
import math

import numpy as np
import vtk


def translation(offset):
    matrix = np.eye(4)
    matrix[:3, 3] = offset
    return matrix


def _numbers_about(option, usage, words, leading):
    """The numbers of `words`: `leading` of them, then optionally 'about CX CY CZ' (the centre,
    default the origin); ValueError naming `option` and its `usage` otherwise."""
    if len(words) not in (leading, leading + 4) or (len(words) > leading
                                                    and words[leading] != "about"):
        raise ValueError(f"{option}: expected {usage}, not {' '.join(words)}")
    try:
        numbers = [float(w) for w in words[:leading] + words[leading + 1:]]
    except ValueError:
        raise ValueError(f"{option}: expected {usage}, not {' '.join(words)}") from None
    return numbers[:leading], numbers[leading:] or [0.0, 0.0, 0.0]


def rotation(words):
    """The matrix of --rotate AXIS_X AXIS_Y AXIS_Z ANGLE_DEG [about CX CY CZ]: a right-handed
    turn about the axis through the centre (default the origin)."""
    (*axis, angle), centre = _numbers_about(
        "--rotate", "AXIS_X AXIS_Y AXIS_Z ANGLE_DEG [about CX CY CZ]", words, 4)
    axis, centre = np.array(axis), np.array(centre)
    if not np.isfinite([*axis, angle, *centre]).all() or not np.linalg.norm(axis) > 0:
        raise ValueError(f"--rotate: the axis ({' '.join(words[:3])}) must be a finite "
                         "non-zero vector and the angle and centre finite numbers")
    x, y, z = axis / np.linalg.norm(axis)
    c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    turn = np.eye(4)
    turn[:3, :3] = [[c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s],
                    [y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s],
                    [z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)]]
    return translation(centre) @ turn @ translation(-centre)


def copies(mirror=None, sector=None):
    """The keyword arguments of fieldferry's copies from --mirror NX NY NZ [about CX CY CZ] and
    --sector N AXIS_X AXIS_Y AXIS_Z [about CX CY CZ] (the words of each, or None): {"mirror":
    (nx, ny, nz, cx, cy, cz), "sector": (n, ax, ay, az, cx, cy, cz)}, only those given. Both are
    in the source's own coordinates (its symmetry plane and axis), before --transform."""
    out = {}
    if mirror is not None:
        normal, centre = _numbers_about("--mirror", "NX NY NZ [about CX CY CZ]", mirror, 3)
        out["mirror"] = (*normal, *centre)
    if sector is not None:
        numbers, centre = _numbers_about("--sector", "N AXIS_X AXIS_Y AXIS_Z [about CX CY CZ]",
                                         sector, 4)
        out["sector"] = (*numbers, *centre)
    return out


def read_matrix(path):
    """A 4x4 matrix from a text file of 4 rows of 4 numbers (blanks or commas between them;
    lines starting with # are comments). The last row must be 0 0 0 1: a rigid motion or an
    affine map, nothing projective."""
    try:
        with open(path) as f:
            lines = [line.split("#")[0].replace(",", " ").split() for line in f]
    except OSError as error:
        raise ValueError(f"--transform {path}: {error.strerror}") from None
    rows = [line for line in lines if line]
    try:
        matrix = np.array([[float(v) for v in row] for row in rows], dtype=np.float64)
    except ValueError:
        raise ValueError(f"--transform {path}: not 4 rows of 4 numbers") from None
    if matrix.shape != (4, 4) or not np.isfinite(matrix).all():
        raise ValueError(f"--transform {path}: not 4 rows of 4 finite numbers")
    if not np.allclose(matrix[3], [0, 0, 0, 1], atol=1e-12):
        raise ValueError(f"--transform {path}: the last row must be 0 0 0 1, not "
                         f"{' '.join(f'{v:g}' for v in matrix[3])}")
    return matrix


def combined(transform_file=None, rotate=None, translate=None):
    """The one matrix of the three options, None when none is given: the file's matrix first,
    then the rotation, then the translation."""
    if transform_file is None and rotate is None and translate is None:
        return None
    matrix = read_matrix(transform_file) if transform_file is not None else np.eye(4)
    if rotate is not None:
        matrix = rotation(rotate) @ matrix
    if translate is not None:
        if not np.isfinite(translate).all():
            raise ValueError(f"--translate: {' '.join(map(str, translate))} is not three "
                             "finite numbers")
        matrix = translation(translate) @ matrix
    return matrix


def moved(source, length_factor, matrix, model_unit):
    """A copy of the source placed as the mapping places it (fieldferry.place_source: scaled into
    model units, moved by `matrix`, a mirror's windings turned), labelled as lengths in the model
    unit; its fields and labels otherwise as they were."""
    import fieldferry
    result = fieldferry.place_source(source, length_factor, np.asarray(matrix).tolist())
    result.GetFieldData().RemoveArray("current_units_length")
    unit = vtk.vtkStringArray()
    unit.SetName("current_units_length")
    unit.InsertNextValue(model_unit)
    result.GetFieldData().AddArray(unit)
    return result

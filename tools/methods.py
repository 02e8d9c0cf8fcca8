"""The mapping methods the tools offer and the rule that picks one for a source when the user
asks for "auto" (kelm-map's default): the most accurate method for what the source holds."""
METHODS = ("Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection", "Linear fit",
           "Face average")
AUTO = "auto"


def is_point_cloud(source):
    """A source without cells that span space (none, or vertices only)."""
    return source.GetNumberOfCells() == 0 or source.GetMaxCellSize() <= 1


def auto_method(source, field_name):
    """(method, reason) for mapping `field_name` from `source`. A pressure (it always maps onto
    the bodies' surfaces) from a surface with faces takes "Face average", which keeps the force;
    a point cloud, "Linear fit"; anything else from a source with cells (a field onto nodes from
    a surface, any field from a volume), "Surface projection", which also gives a node just
    outside the source's cells the value at its closest point, where "Mesh only" gives none."""
    from force_balance import is_surface  # needs vtk: not imported before the options are read
    if is_point_cloud(source):
        return "Linear fit", ("the source is a point cloud: a local linear fit of its nearest "
                              "points, exact for a linear field")
    if field_name == "Pressure" and is_surface(source):
        return "Face average", ("a pressure from a surface with faces: each loaded face takes "
                                "the source's mean over it, which keeps the force")
    held = "surface" if is_surface(source) else "volume"
    return "Surface projection", (f"a field from a {held} with cells: each point takes the "
                                  "value at its closest point on the source's cells, also just "
                                  "outside them")

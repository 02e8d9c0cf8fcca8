"""The element groups of a mesh file as meshio reads them, so that the loader can make each part
of the user's model a body of its own: gmsh physical groups, Abaqus element sets and Nastran
property IDs."""
import numpy as np


def element_groups(mesh, path):
    """[(name, {meshio block index: cell indices})] in the file's order: gmsh's named physical
    groups and Abaqus' element sets (meshio's cell_sets), gmsh physical tags meshio gives by
    number only ("physical N", where no name covers them), Nastran property IDs ("PID N")."""
    sets = {n: m for n, m in mesh.cell_sets.items() if not n.startswith("gmsh:")}
    groups = [(name, _set_blocks(name, members, mesh, path)) for name, members in sets.items()]
    groups += _tagged(mesh, "gmsh:physical", _physical_names(mesh, set(sets)))
    groups += _tagged(mesh, "nastran:ref", lambda tag, dimension: f"PID {tag}")
    return groups


def group_owners(groups, blocks, path):
    """(names, owner): the groups that hold some of the kept `blocks` ([(block index, topology,
    rows)] in element order) and, per kept element, the index of its group in `names` or -1. An
    element in several groups goes to the most specific one, the one with the fewest kept
    elements (the first listed of equals): a part's set rather than an "ALL" beside it."""
    members = []
    for name, cells in groups:
        chosen = np.concatenate([_mask(cells.get(index), len(rows), name, path)
                                 for index, _, rows in blocks]) if blocks else np.zeros(0, bool)
        if chosen.any():
            members.append((name, chosen))
    owner = np.full(sum(len(rows) for _, _, rows in blocks), -1, np.int64)
    for g in sorted(range(len(members)), key=lambda g: members[g][1].sum()):
        owner[members[g][1] & (owner < 0)] = g
    # A path name joins names with "/", so a group's own "/" cannot stay in a body name.
    return [name.replace("/", "-") for name, _ in members], owner


def _mask(indices, size, name, path):
    chosen = np.zeros(size, bool)
    if indices is not None and len(indices):
        indices = np.asarray(indices, np.int64)
        if indices.min() < 0 or indices.max() >= size:
            raise ValueError(f"{path}: group '{name}' names element {indices.max()} of a block "
                             f"of {size}")
        chosen[indices] = True
    return chosen


def _set_blocks(name, members, mesh, path):
    """{block index: cell indices} of a meshio cell set: one list of indices per block, where a
    set made of other sets (an Abaqus ELSET listing set names) holds their lists instead."""
    blocks = {}
    for index, item in enumerate(members):
        if isinstance(item, list):
            for inner, cells in _set_blocks(name, item, mesh, path).items():
                blocks[inner] = np.union1d(blocks.get(inner, []), cells).astype(np.int64)
            continue
        if index >= len(mesh.cells):
            raise ValueError(f"{path}: group '{name}' names cells of block {index}, but the "
                             f"file has {len(mesh.cells)}")
        blocks[index] = np.union1d(blocks.get(index, []), np.asarray(item).ravel()).astype(
            np.int64)
    return blocks


def _physical_names(mesh, named):
    """A name for a gmsh physical tag of a block of some dimension: its $PhysicalNames entry,
    or "physical N"; None where meshio's cell sets already hold that group."""
    by_tag = {(int(tag), int(dim)): name for name, (tag, dim) in
              ((n, tuple(v)[:2]) for n, v in mesh.field_data.items() if len(v) >= 2)}

    def name_of(tag, dimension):
        name = by_tag.get((tag, dimension))
        return None if name in named else name or f"physical {tag}"
    return name_of


def _tagged(mesh, key, name_of):
    """Groups of a per-cell tag meshio keeps as cell data (one array per block): one group per
    tag value, named by name_of(tag, the block's dimension) (None: no group). Tag 0 and missing
    tags (a Nastran element without a property) are no group."""
    arrays = mesh.cell_data.get(key)
    if arrays is None or len(arrays) != len(mesh.cells):
        return []  # meshio leaves out blocks without tags, so the arrays would not line up
    groups = {}
    for index, (block, tags) in enumerate(zip(mesh.cells, arrays)):
        tags = np.asarray(tags).ravel()
        if tags.dtype == object:
            tags = np.where(np.equal(tags, None), 0, tags)
        tags = tags.astype(np.int64)
        if len(tags) != len(block.data):
            continue
        for tag in np.unique(tags[tags != 0]):
            name = name_of(int(tag), block.dim)
            if name is not None:
                groups.setdefault(name, {})[index] = np.flatnonzero(tags == tag)
    return list(groups.items())

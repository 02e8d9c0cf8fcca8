"""Small mesh files written by hand in the formats the loader reads, for the host's tests and the
command-line tests: three unit cubes in a row along x, grouped."""


def three_cubes():
    """Nodes of three unit cubes in a row along x (16, IDs 1..16) and the host-order rows of
    cube i by node ID."""
    nodes = [(x, y, z) for x in range(4) for y, z in ((0, 0), (1, 0), (1, 1), (0, 1))]
    a = [4 * i + 1 for i in range(3)]
    return nodes, [[n, n + 4, n + 5, n + 1, n + 3, n + 7, n + 6, n + 2] for n in a]


def gmsh41_three_cubes(path):
    """Cube 1 in physical volume "left", cubes 2 and 3 in "right", a quadrilateral under cube 1
    in the physical surface "ground"; gmsh's MSH 4.1 ASCII written out by hand."""
    nodes, hexa = three_cubes()
    rows = [" ".join(map(str, [e + 1, *row])) for e, row in enumerate(hexa)]
    path.write_text("\n".join([
        "$MeshFormat", "4.1 0 8", "$EndMeshFormat", "$PhysicalNames", "3", '2 3 "ground"',
        '3 1 "left"', '3 2 "right"', "$EndPhysicalNames",
        "$Entities", "0 0 1 2", "1 0 0 0 1 1 0 1 3 0", "1 0 0 0 1 1 1 1 1 0",
        "2 1 0 0 3 1 1 1 2 0", "$EndEntities",
        "$Nodes", "1 16 1 16", "3 1 0 16", *map(str, range(1, 17)),
        *(" ".join(map(str, p)) for p in nodes), "$EndNodes",
        "$Elements", "3 4 1 4", "2 1 3 1", "4 1 4 8 5", "3 1 5 1", rows[0], "3 2 5 2",
        rows[1], rows[2], "$EndElements", ""]))
    return str(path)


def abaqus_three_cubes(path, sets):
    nodes, hexa = three_cubes()
    text = ["*NODE", *(f"{i + 1}, {x}, {y}, {z}" for i, (x, y, z) in enumerate(nodes)),
            "*ELEMENT, TYPE=C3D8", *(f"{e + 1}, {', '.join(map(str, row))}"
                                     for e, row in enumerate(hexa))]
    for name, ids in sets.items():
        text += [f"*ELSET, ELSET={name}", ", ".join(map(str, ids))]
    path.write_text("\n".join(text) + "\n")
    return str(path)

"""Host script: export the stand-in host's sample model to a VTK multiblock, save it, read it back.

    PYTHONPATH=build/lib:host /usr/bin/python3 examples/export_sample_model.py [output folder]

The model holds an assembly with a hexahedral part (Hexa8 and Hexa20), a Tetra10 part, a shell part
of Tria3/Quad4, a bar mesh, a point mesh (skipped by the export) and a surface geometry body.
"""
import os
import sys

import vtk

import kelm
import treewalk


def print_tree(block, name="(root)", depth=0):
    indent = "  " * depth
    if block is None:
        print(f"{indent}{name}: empty")
    elif block.IsA("vtkMultiBlockDataSet"):
        print(f"{indent}{name}")
        for i in range(block.GetNumberOfBlocks()):
            child_name = block.GetMetaData(i).Get(vtk.vtkCompositeDataSet.NAME())
            print_tree(block.GetBlock(i), child_name, depth + 1)
    else:
        print(f"{indent}{name}: {block.GetClassName()}, {block.GetNumberOfPoints()} points, "
              f"{block.GetNumberOfCells()} cells")


def main(out_dir="demo-out"):
    os.makedirs(out_dir, exist_ok=True)
    model = kelm.samples.sample_model()

    print("[1/3] export the host model")
    root = treewalk.create_vtk_dataset_from_kelm_entities([model])
    bodies = treewalk.blockbook.get_model_map_with_block_id()
    print(f"      {len(bodies)} mesh bodies, model length unit "
          f"'{treewalk.blockbook.get_model_length_unit()}'")

    path = os.path.join(out_dir, "model.vtm")
    print(f"[2/3] save {path}")
    treewalk.blockbook.save(path)

    print("[3/3] read it back with VTK's XML reader")
    reader = vtk.vtkXMLMultiBlockDataReader()
    reader.SetFileName(path)
    reader.Update()
    print_tree(reader.GetOutput())
    assert reader.GetOutput().GetNumberOfBlocks() == root.GetNumberOfBlocks()


if __name__ == "__main__":
    main(*sys.argv[1:])

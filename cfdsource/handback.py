"""A dataset sent from the reading process to its caller as raw arrays, and rebuilt there.

The reading process writes one header (a pickle: the dataset's class, the layout of its points,
cells and arrays) and then the bytes of every numeric array, as they lie in memory; the caller
makes each VTK array at its size and reads the bytes straight into its memory (no per-element
loop, no second copy, and the array owns its memory as any VTK array does). Only text arrays
(the unit labels) travel inside the header.

    stream: [8-byte header length][header pickle][buffer 0][buffer 1]...
"""
import pickle

import numpy as np
import vtk
from vtk.util import numpy_support as ns

POLY_CELLS = ("Verts", "Lines", "Polys", "Strips")
ATTRIBUTE_HOLDERS = ("GetPointData", "GetCellData")


class Packer:
    """Collects the header and the buffers of one reply."""

    def __init__(self):
        self.buffers, self.layouts = [], []

    def numeric(self, array):
        values = np.ascontiguousarray(ns.vtk_to_numpy(array))
        self.buffers.append(values)
        self.layouts.append((array.GetDataType(), values.shape))
        return {"index": len(self.buffers) - 1}

    def array(self, array):
        entry = {"name": array.GetName(), "components": array.GetNumberOfComponents(),
                "component_names": [array.GetComponentName(c)
                                    for c in range(array.GetNumberOfComponents())]}
        if array.IsA("vtkDataArray") and not array.IsA("vtkBitArray"):
            entry["numeric"] = self.numeric(array)
        else:  # text (unit labels) and other small arrays travel in the header
            entry["type"] = array.GetDataType()
            entry["values"] = [array.GetValue(i) for i in range(array.GetNumberOfValues())]
        return entry

    def arrays(self, holder):
        found = []
        for i in range(holder.GetNumberOfArrays()):
            entry = self.array(holder.GetAbstractArray(i))
            entry["attribute"] = (holder.IsArrayAnAttribute(i)
                                 if holder.IsA("vtkDataSetAttributes") else -1)
            found.append(entry)
        return found

    def cells(self, cell_array):
        return (self.numeric(cell_array.GetOffsetsArray()),
                self.numeric(cell_array.GetConnectivityArray()))

    def dataset(self, dataset):
        header = {"class": dataset.GetClassName(),
                  "points": self.numeric(dataset.GetPoints().GetData())
                  if dataset.GetPoints() is not None else None,
                  "field": self.arrays(dataset.GetFieldData()),
                  **{h: self.arrays(getattr(dataset, h)()) for h in ATTRIBUTE_HOLDERS}}
        if dataset.IsA("vtkPolyData"):
            header["cells"] = {kind: self.cells(getattr(dataset, "Get" + kind)())
                               for kind in POLY_CELLS
                               if getattr(dataset, "GetNumberOf" + kind)() > 0}
        elif dataset.IsA("vtkUnstructuredGrid"):
            header["cells"] = self.cells(dataset.GetCells())
            header["types"] = self.numeric(dataset.GetCellTypesArray())
            header["faces"] = [self.numeric(a) for a in (dataset.GetFaceLocations(),
                                                         dataset.GetFaces()) if a is not None]
        else:
            raise TypeError(f"cannot hand back a {dataset.GetClassName()}")
        return header


def send(stream, kind, payload):
    """Writes one reply: ("dataset", a vtkPolyData or vtkUnstructuredGrid), ("value", any
    picklable value) or ("error", an exception)."""
    packer = Packer()
    if kind == "dataset":
        payload = packer.dataset(payload)
    header = pickle.dumps((kind, payload, packer.layouts), protocol=5)
    stream.write(len(header).to_bytes(8, "little"))
    stream.write(header)
    for values in packer.buffers:
        stream.write(memoryview(values.reshape(-1).view(np.uint8)))
    stream.flush()


def receive(read_into):
    """Reads one reply with `read_into(buffer)` (fills a writable buffer completely); returns
    (kind, payload) with a dataset rebuilt."""
    length = np.empty(8, np.uint8)
    read_into(length)
    header = np.empty(int.from_bytes(length.tobytes(), "little"), np.uint8)
    read_into(header)
    kind, payload, layouts = pickle.loads(header)
    arrays = []
    for vtk_type, shape in layouts:
        arrays.append(ns.create_vtk_array(vtk_type))
        arrays[-1].SetNumberOfComponents(shape[1] if len(shape) > 1 else 1)
        arrays[-1].SetNumberOfTuples(shape[0])
        if shape[0]:
            read_into(ns.vtk_to_numpy(arrays[-1]))
    if kind == "dataset":
        payload = Builder(arrays).dataset(payload)
    return kind, payload


class Builder:
    """Rebuilds a dataset from a header and the arrays read after it."""

    def __init__(self, arrays):
        self.arrays = arrays

    def numeric(self, entry):
        return self.arrays[entry["index"]]

    def array(self, entry):
        if "numeric" in entry:
            array = self.numeric(entry["numeric"])
        else:
            array = vtk.vtkAbstractArray.CreateArray(entry["type"])
            array.SetNumberOfComponents(entry["components"])
            array.SetNumberOfValues(len(entry["values"]))
            for i, value in enumerate(entry["values"]):
                array.SetValue(i, value)
        array.SetName(entry["name"])
        for c, name in enumerate(entry["component_names"]):
            if name is not None:
                array.SetComponentName(c, name)
        return array

    def fill(self, holder, specs):
        for entry in specs:
            index = holder.AddArray(self.array(entry))
            if entry["attribute"] >= 0:
                holder.SetActiveAttribute(index, entry["attribute"])

    def cells(self, specs):
        cells = vtk.vtkCellArray()
        cells.SetData(*(self.numeric(s) for s in specs))
        return cells

    def dataset(self, header):
        dataset = getattr(vtk, header["class"])()
        if header["points"] is not None:
            points = vtk.vtkPoints()
            points.SetData(self.numeric(header["points"]))
            dataset.SetPoints(points)
        if dataset.IsA("vtkPolyData"):
            for kind, specs in header["cells"].items():
                getattr(dataset, "Set" + kind)(self.cells(specs))
        else:
            dataset.SetCells(self.numeric(header["types"]), self.cells(header["cells"]),
                             *(self.numeric(s) for s in header["faces"]))
        self.fill(dataset.GetFieldData(), header["field"])
        for holder in ATTRIBUTE_HOLDERS:
            self.fill(getattr(dataset, holder)(), header[holder])
        return dataset

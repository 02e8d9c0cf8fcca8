#include "common/dataset_checks.h"

#include <vtkAbstractArray.h>
#include <vtkCell.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCellType.h>
#include <vtkCompositeDataIterator.h>
#include <vtkCompositeDataSet.h>
#include <vtkGenericCell.h>
#include <vtkIdTypeArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <array>
#include <mutex>

#include "common/errors.h"
#include "common/tag_arrays.h"

namespace kelm {

namespace {

// Points of each VTK cell type: the count of a fresh cell of the type, kAnyPointCount for the types
// whose cells come in any size (polygons, strips, polyhedra, higher-order cells), kNotACellType for
// types VTK cannot make. Taken from VTK itself so that it cannot drift from what VTK reads.
const std::array<int, 256>& points_per_type() {
  static std::array<int, 256> table;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int t = 0; t < 256; ++t) {
      vtkCell* cell = vtkGenericCell::InstantiateCell(t);
      table[std::size_t(t)] = cell ? int(cell->GetNumberOfPoints()) : kNotACellType;
      if (cell) cell->Delete();
    }
    table[VTK_EMPTY_CELL] = kAnyPointCount;
  });
  return table;
}

}  // namespace

int vtk_cell_point_count(int type) {
  return type < 0 || type > 255 ? kNotACellType : points_per_type()[std::size_t(type)];
}

namespace {

// One of a dataset's cell arrays, for messages: "polygon" cells of a polydata, plain "cell"s of
// an unstructured grid.
struct CellsOf {
  const std::string& operation;
  const std::string& what;
  const char* kind;  // "vertex", "line", "polygon", "strip" or "cell"
};

// A cell array's offsets and connectivity as plain values, whichever width VTK stores them in.
struct RawCells {
  vtkIdType cells = 0;
  vtkIdType connectivity = 0;
  const void* offsets = nullptr;
  const void* ids = nullptr;
  bool wide = false;

  vtkIdType offset(vtkIdType i) const {
    return wide ? vtkIdType(static_cast<const vtkTypeInt64*>(offsets)[i])
                : vtkIdType(static_cast<const vtkTypeInt32*>(offsets)[i]);
  }
  vtkIdType id(vtkIdType i) const {
    return wide ? vtkIdType(static_cast<const vtkTypeInt64*>(ids)[i])
                : vtkIdType(static_cast<const vtkTypeInt32*>(ids)[i]);
  }
};

RawCells raw_cells(vtkCellArray* cells, const CellsOf& of) {
  RawCells raw;
  vtkDataArray* offsets = cells->GetOffsetsArray();
  vtkDataArray* ids = cells->GetConnectivityArray();
  if (offsets->GetNumberOfComponents() != 1 || ids->GetNumberOfComponents() != 1) {
    raise_value_error(of.operation, ": ", of.what, " has a ", of.kind,
                      " array whose offsets or connectivity have more than one component");
  }
  raw.wide = cells->IsStorage64Bit();
  raw.cells = std::max<vtkIdType>(0, offsets->GetNumberOfValues() - 1);
  raw.connectivity = ids->GetNumberOfValues();
  raw.offsets = offsets->GetVoidPointer(0);
  raw.ids = ids->GetVoidPointer(0);
  return raw;
}

// Offsets start at 0, never fall and stay within the connectivity: each cell's points are then
// a range of connectivity entries that exist.
void check_offsets(const RawCells& raw, const CellsOf& of) {
  if (raw.cells == 0) return;
  if (raw.offset(0) != 0) {
    raise_value_error(of.operation, ": ", of.what, " has a ", of.kind,
                      " array whose offsets start at ", raw.offset(0), ", not at 0");
  }
  for (vtkIdType c = 0; c < raw.cells; ++c) {
    const vtkIdType begin = raw.offset(c), end = raw.offset(c + 1);
    if (end < begin) {
      raise_value_error(of.operation, ": ", of.what, " has a ", of.kind, " array whose offsets ",
                        "fall from ", begin, " to ", end, " at ", of.kind, " ", c);
    }
    if (end > raw.connectivity) {
      raise_value_error(of.operation, ": ", of.what, " has a ", of.kind, " array whose offsets ",
                        "run past its ", raw.connectivity, " connectivity entries: ", of.kind, " ",
                        c, " ends at offset ", end);
    }
  }
}

[[noreturn]] void bad_point(const RawCells& raw, vtkIdType entry, vtkIdType points,
                            const CellsOf& of) {
  // The cell holding connectivity entry `entry`: the last one whose offset is at most `entry`.
  vtkIdType lo = 0, hi = raw.cells - 1;
  while (lo < hi) {
    const vtkIdType mid = (lo + hi + 1) / 2;
    if (raw.offset(mid) <= entry) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  raise_value_error(of.operation, ": ", of.what, " has ", of.kind, " ", lo, " naming point ",
                    raw.id(entry), ", outside its points 0 to ", points - 1);
}

// Every connectivity entry the cells use names an existing point.
void check_point_indices(const RawCells& raw, vtkIdType points, const CellsOf& of) {
  if (raw.cells == 0) return;
  const vtkIdType used = raw.offset(raw.cells);
  for (vtkIdType i = 0; i < used; ++i) {
    const vtkIdType id = raw.id(i);
    if (id < 0 || id >= points) bad_point(raw, i, points, of);
  }
}

// The face list of polyhedron `cell` (count, then per face its point count and points) lies
// within the face stream and names existing points.
void check_polyhedron(vtkUnstructuredGrid* grid, vtkIdType cell, vtkIdType points,
                      const CellsOf& of) {
  vtkIdTypeArray* faces = grid->GetFaces();
  vtkIdTypeArray* locations = grid->GetFaceLocations();
  const vtkIdType size = faces ? faces->GetNumberOfValues() : 0;
  vtkIdType at =
      locations && cell < locations->GetNumberOfValues() ? locations->GetValue(cell) : -1;
  auto bad = [&]() {
    raise_value_error(of.operation, ": ", of.what, " has cell ", cell,
                      ", a polyhedron without a sound face list");
  };
  if (at < 0 || at >= size) bad();
  const vtkIdType count = faces->GetValue(at++);
  if (count < 1) bad();
  for (vtkIdType f = 0; f < count; ++f) {
    if (at >= size) bad();
    const vtkIdType n = faces->GetValue(at++);
    if (n < 3 || n > size - at) bad();
    for (vtkIdType k = 0; k < n; ++k, ++at) {
      const vtkIdType id = faces->GetValue(at);
      if (id < 0 || id >= points) {
        raise_value_error(of.operation, ": ", of.what, " has cell ", cell,
                          ", a polyhedron whose face ", f, " names point ", id,
                          ", outside its points 0 to ", points - 1);
      }
    }
  }
}

// Each cell's type is one VTK knows and its point count the one that type has.
void check_shapes(vtkUnstructuredGrid* grid, const RawCells& raw, vtkIdType points,
                  const CellsOf& of) {
  const unsigned char* types = grid->GetCellTypesArray()->GetPointer(0);
  for (vtkIdType c = 0; c < raw.cells; ++c) {
    const int type = types[c];
    const int count = vtk_cell_point_count(type);
    if (count == kNotACellType) {
      raise_value_error(of.operation, ": ", of.what, " has cell ", c, " of VTK cell type ", type,
                        ", which VTK does not know");
    }
    const vtkIdType n = raw.offset(c + 1) - raw.offset(c);
    if (count != kAnyPointCount && n != count) {
      raise_value_error(of.operation, ": ", of.what, " has cell ", c, " (VTK type ", type,
                        ") with ", n, " points; its type has ", count);
    }
    if (type == VTK_POLYHEDRON) check_polyhedron(grid, c, points, of);
  }
}

RawCells check_cells(vtkCellArray* cells, vtkIdType points, const CellsOf& of) {
  if (!cells) return {};
  RawCells raw = raw_cells(cells, of);
  check_offsets(raw, of);
  check_point_indices(raw, points, of);
  return raw;
}

void check_grid(vtkUnstructuredGrid* grid, const std::string& operation, const std::string& what,
                Depth depth) {
  const CellsOf of{operation, what, "cell"};
  const RawCells raw = check_cells(grid->GetCells(), grid->GetNumberOfPoints(), of);
  if (raw.cells == 0) return;
  vtkUnsignedCharArray* types = grid->GetCellTypesArray();
  const vtkIdType typed = types ? types->GetNumberOfValues() : 0;
  if (typed != raw.cells) {
    raise_value_error(operation, ": ", what, " has ", raw.cells, " cells but ", typed,
                      " cell types");
  }
  if (depth == Depth::shapes) check_shapes(grid, raw, grid->GetNumberOfPoints(), of);
}

void check_attributes(vtkDataSetAttributes* attributes, vtkIdType needed, const char* kind,
                      const std::string& operation, const std::string& what) {
  for (int i = 0; i < attributes->GetNumberOfArrays(); ++i) {
    vtkAbstractArray* array = attributes->GetAbstractArray(i);
    if (!array || array->GetNumberOfTuples() >= needed) continue;
    raise_value_error(operation, ": ", what, " has a ", kind, " array '",
                      array->GetName() ? array->GetName() : "", "' of ", array->GetNumberOfTuples(),
                      " values for ", needed, " ", kind, "s");
  }
}

}  // namespace

std::string body_name(vtkDataObject* data, const std::string& fallback) {
  const std::string* path = string_field(data, kBodyPathArray);
  return path ? "body '" + *path + "'" : fallback;
}

void require_sound_dataset(vtkDataSet* data, const std::string& operation, const std::string& what,
                           Depth depth) {
  if (auto* poly = vtkPolyData::SafeDownCast(data)) {
    const vtkIdType points = poly->GetNumberOfPoints();
    check_cells(poly->GetVerts(), points, {operation, what, "vertex"});
    check_cells(poly->GetLines(), points, {operation, what, "line"});
    check_cells(poly->GetPolys(), points, {operation, what, "polygon"});
    check_cells(poly->GetStrips(), points, {operation, what, "strip"});
  } else if (auto* grid = vtkUnstructuredGrid::SafeDownCast(data)) {
    check_grid(grid, operation, what, depth);
  }
  check_attributes(data->GetPointData(), data->GetNumberOfPoints(), "point", operation, what);
  check_attributes(data->GetCellData(), data->GetNumberOfCells(), "cell", operation, what);
}

void require_sound_leaves(vtkDataObject* data, const std::string& operation, Depth depth) {
  if (auto* single = vtkDataSet::SafeDownCast(data)) {
    require_sound_dataset(single, operation,
                          body_name(single, message("the dataset (", single->GetClassName(), ")")),
                          depth);
    return;
  }
  auto* composite = vtkCompositeDataSet::SafeDownCast(data);
  if (!composite) return;
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(composite->NewIterator());
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* leaf = it->GetCurrentDataObject();
    auto* dataset = vtkDataSet::SafeDownCast(leaf);
    if (!dataset) {
      raise_type_error(operation, ": leaf ", it->GetCurrentFlatIndex(), " of the multiblock is a ",
                       leaf->GetClassName(), ", not a dataset (vtkDataSet)");
    }
    const std::string place =
        message("leaf ", it->GetCurrentFlatIndex(), " (", leaf->GetClassName(), ")");
    require_sound_dataset(dataset, operation, body_name(leaf, place), depth);
  }
}

}  // namespace kelm

#include "grid_check.h"

#include <vtkCell.h>
#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkCellType.h>
#include <vtkGenericCell.h>
#include <vtkIdTypeArray.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

#include <array>
#include <mutex>

#include "common/errors.h"

namespace fieldgraft_core {

namespace {

constexpr int kUnknownType = -1;
constexpr int kAnyCount = 0;

// Points of each VTK cell type: the count of a fresh cell of the type, kAnyCount for the types
// whose cells come in any size (polygons, strips, higher-order cells), kUnknownType for types VTK
// cannot make.
const std::array<int, 256>& points_per_type() {
  static std::array<int, 256> table;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int t = 0; t < 256; ++t) {
      vtkCell* cell = vtkGenericCell::InstantiateCell(t);
      table[std::size_t(t)] = cell ? int(cell->GetNumberOfPoints()) : kUnknownType;
      if (cell) cell->Delete();
    }
    table[VTK_EMPTY_CELL] = kAnyCount;
  });
  return table;
}

void check_points(vtkIdType cell, vtkIdType n, const vtkIdType* ids, vtkIdType points,
                  const char* what, const Target& target) {
  for (vtkIdType k = 0; k < n; ++k) {
    if (ids[k] < 0 || ids[k] >= points) {
      kelm::raise_value_error(target.operation, ": ", what, " ", cell, " of body '", target.body,
                              "' uses point index ", ids[k], ", outside the body's points 0 to ",
                              points - 1);
    }
  }
}

// The face list of polyhedron `cell` (count, then per face its point count and points) lies
// within the face stream and names existing points.
void check_polyhedron(vtkUnstructuredGrid* grid, vtkIdType cell, vtkIdType points,
                      const Target& target) {
  vtkIdTypeArray* faces = grid->GetFaces();
  vtkIdTypeArray* locations = grid->GetFaceLocations();
  const vtkIdType size = faces ? faces->GetNumberOfValues() : 0;
  vtkIdType at =
      locations && cell < locations->GetNumberOfValues() ? locations->GetValue(cell) : -1;
  auto bad = [&]() {
    kelm::raise_value_error(target.operation, ": cell ", cell, " of body '", target.body,
                            "' is a polyhedron without a sound face list");
  };
  if (at < 0 || at >= size) bad();
  const vtkIdType count = faces->GetValue(at++);
  if (count < 1) bad();
  for (vtkIdType f = 0; f < count; ++f) {
    if (at >= size) bad();
    const vtkIdType n = faces->GetValue(at++);
    if (n < 3 || n > size - at) bad();
    check_points(cell, n, faces->GetPointer(at), points, "polyhedron face of cell", target);
    at += n;
  }
}

void check_cells(vtkCellArray* cells, const vtkUnsignedCharArray* types, vtkIdType points,
                 const char* what, const Target& target, vtkUnstructuredGrid* grid) {
  if (!cells) return;
  const auto& expected = points_per_type();
  auto it = vtkSmartPointer<vtkCellArrayIterator>::Take(cells->NewIterator());
  vtkIdType n;
  const vtkIdType* ids;
  for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell()) {
    const vtkIdType c = it->GetCurrentCellId();
    it->GetCurrentCell(n, ids);
    check_points(c, n, ids, points, what, target);
    if (!types) continue;
    const int type = const_cast<vtkUnsignedCharArray*>(types)->GetValue(c);
    const int count = expected[std::size_t(type)];
    if (count == kUnknownType) {
      kelm::raise_value_error(target.operation, ": cell ", c, " of body '", target.body,
                              "' has VTK cell type ", type, ", which VTK does not know");
    }
    if (count != kAnyCount && n != count) {
      kelm::raise_value_error(target.operation, ": cell ", c, " of body '", target.body,
                              "' (VTK type ", type, ") has ", n, " points; its type has ", count);
    }
    if (type == VTK_POLYHEDRON) check_polyhedron(grid, c, points, target);
  }
}

}  // namespace

void require_sound_cells(vtkDataSet* grid, const Target& target) {
  if (auto* ug = vtkUnstructuredGrid::SafeDownCast(grid)) {
    vtkCellArray* cells = ug->GetCells();
    const vtkIdType count = cells ? cells->GetNumberOfCells() : 0;
    if (count == 0) return;
    vtkUnsignedCharArray* types = ug->GetCellTypesArray();
    if (!types || types->GetNumberOfValues() != count) {
      kelm::raise_value_error(target.operation, ": body '", target.body, "' has ", count,
                              " cells but ", types ? types->GetNumberOfValues() : 0, " cell types");
    }
    check_cells(cells, types, ug->GetNumberOfPoints(), "cell", target, ug);
  } else if (auto* poly = vtkPolyData::SafeDownCast(grid)) {
    const vtkIdType points = poly->GetNumberOfPoints();
    check_cells(poly->GetVerts(), nullptr, points, "vertex cell", target, nullptr);
    check_cells(poly->GetLines(), nullptr, points, "line cell", target, nullptr);
    check_cells(poly->GetPolys(), nullptr, points, "polygon", target, nullptr);
    check_cells(poly->GetStrips(), nullptr, points, "strip", target, nullptr);
  }
}

}  // namespace fieldgraft_core

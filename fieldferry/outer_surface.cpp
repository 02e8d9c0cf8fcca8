#include "outer_surface.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCellTypes.h>
#include <vtkDataSetSurfaceFilter.h>
#include <vtkGenericCell.h>
#include <vtkPointData.h>
#include <vtkPoints.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/original_order.h"

namespace fieldferry_core {
namespace {

// Each point's and cell's position in the body, carried through the filter and removed again
// before the surface leaves.
constexpr char kOriginalPoints[] = "fieldferry body point";
constexpr char kOriginalCells[] = "fieldferry body cell";

bool has_nonlinear_cells(vtkDataSet* body) {
  auto types = vtkSmartPointer<vtkCellTypes>::New();
  body->GetCellTypes(types);
  for (vtkIdType i = 0; i < types->GetNumberOfTypes(); ++i) {
    if (!vtkCellTypes::IsLinear(types->GetCellType(i))) return true;
  }
  return false;
}

struct MidsideNode {
  vtkIdType point;  // in the body
  vtkIdType cell;   // the body cell whose face or edge it lies on
};

// The body's nodes that lie on the surface's faces without being one of their corners: the
// mid-side nodes of each boundary face's edges (quadratic solids and shells) and the inner nodes
// of quadratic edges. Each node once, in the order the surface's cells meet them.
std::vector<MidsideNode> midside_nodes(vtkDataSet* body, vtkPolyData* surface) {
  vtkDataArray* original_point = surface->GetPointData()->GetArray(kOriginalPoints);
  vtkDataArray* original_cell = surface->GetCellData()->GetArray(kOriginalCells);
  std::vector<MidsideNode> nodes;
  if (!original_point || !original_cell) return nodes;
  std::vector<char> on_surface(std::size_t(body->GetNumberOfPoints()), 0);
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i) {
    on_surface[std::size_t(original_point->GetComponent(i, 0))] = 1;
  }
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  auto face_points = vtkSmartPointer<vtkIdList>::New();
  std::vector<vtkIdType> corners;
  auto take = [&](vtkIdType point, vtkIdType owner) {
    if (on_surface[std::size_t(point)]) return;
    on_surface[std::size_t(point)] = 1;
    nodes.push_back({point, owner});
  };
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c) {
    const auto owner = static_cast<vtkIdType>(original_cell->GetComponent(c, 0));
    if (owner < 0 || owner >= body->GetNumberOfCells()) continue;
    body->GetCell(owner, cell);
    if (cell->IsLinear()) continue;
    if (cell->GetCellDimension() == 1) {
      for (vtkIdType k = 0; k < cell->GetNumberOfPoints(); ++k) take(cell->GetPointId(k), owner);
      continue;
    }
    surface->GetCellPoints(c, face_points);
    corners.clear();
    for (vtkIdType k = 0; k < face_points->GetNumberOfIds(); ++k) {
      corners.push_back(vtkIdType(original_point->GetComponent(face_points->GetId(k), 0)));
    }
    auto is_corner = [&](vtkIdType p) {
      return std::find(corners.begin(), corners.end(), p) != corners.end();
    };
    for (int e = 0; e < cell->GetNumberOfEdges(); ++e) {
      vtkCell* edge = cell->GetEdge(e);
      if (!is_corner(edge->GetPointId(0)) || !is_corner(edge->GetPointId(1))) continue;
      for (vtkIdType k = 2; k < edge->GetNumberOfPoints(); ++k) take(edge->GetPointId(k), owner);
    }
  }
  return nodes;
}

// Appends one tuple to every array of `to`: the same-named array's tuple `from_id` of `from`, the
// original ID itself for the pass-through array, zeros where `from` has no such array.
void append_tuples(vtkDataSetAttributes* to, vtkDataSetAttributes* from, vtkIdType from_id,
                   const char* id_array) {
  for (int a = 0; a < to->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = to->GetAbstractArray(a);
    const std::string name = array->GetName() ? array->GetName() : "";
    vtkAbstractArray* source = name.empty() ? nullptr : from->GetAbstractArray(name.c_str());
    if (name == id_array) {
      vtkDataArray::SafeDownCast(array)->InsertNextTuple1(double(from_id));
    } else if (source && source->GetNumberOfComponents() == array->GetNumberOfComponents() &&
               source->GetDataType() == array->GetDataType()) {
      array->InsertNextTuple(from_id, source);
    } else if (auto* numbers = vtkDataArray::SafeDownCast(array)) {
      std::vector<double> zero(std::size_t(numbers->GetNumberOfComponents()), 0.0);
      numbers->InsertNextTuple(zero.data());
    } else {
      array->SetNumberOfTuples(array->GetNumberOfTuples() + 1);
    }
  }
}

// Adds a vertex cell per mid-side node. Vertex cells come first among a polydata's cells, so the
// new cells' data goes in right after the existing vertices'.
void add_midside_vertices(vtkDataSet* body, vtkPolyData* surface) {
  const std::vector<MidsideNode> nodes = midside_nodes(body, surface);
  if (nodes.empty()) return;
  const vtkIdType old_verts = surface->GetNumberOfVerts();
  const vtkIdType old_cells = surface->GetNumberOfCells();
  auto verts = vtkSmartPointer<vtkCellArray>::New();
  if (old_verts) verts->DeepCopy(surface->GetVerts());
  vtkPoints* points = surface->GetPoints();
  for (const MidsideNode& node : nodes) {
    const vtkIdType id = points->InsertNextPoint(body->GetPoint(node.point));
    append_tuples(surface->GetPointData(), body->GetPointData(), node.point, kOriginalPoints);
    verts->InsertNextCell(1, &id);
  }
  // Cell data: the old vertices', then the new ones' (from their owning cell), then the rest.
  vtkCellData* cd = surface->GetCellData();
  for (int a = 0; a < cd->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = cd->GetAbstractArray(a);
    vtkSmartPointer<vtkAbstractArray> tail;
    tail.TakeReference(array->NewInstance());
    tail->SetNumberOfComponents(array->GetNumberOfComponents());
    tail->SetNumberOfTuples(old_cells - old_verts);
    for (vtkIdType i = old_verts; i < old_cells; ++i) tail->SetTuple(i - old_verts, i, array);
    array->SetNumberOfTuples(old_verts);
    vtkSmartPointer<vtkCellData> one = vtkSmartPointer<vtkCellData>::New();
    one->AddArray(array);
    for (const MidsideNode& node : nodes) {
      append_tuples(one, body->GetCellData(), node.cell, kOriginalCells);
    }
    for (vtkIdType i = 0; i < tail->GetNumberOfTuples(); ++i) array->InsertNextTuple(i, tail);
  }
  surface->SetVerts(verts);
}

}  // namespace

vtkSmartPointer<vtkPolyData> outer_surface(vtkDataSet* body) {
  auto filter = vtkSmartPointer<vtkDataSetSurfaceFilter>::New();
  filter->SetInputData(kelm::numbered_copy(body, kOriginalPoints, kOriginalCells));
  filter->SetNonlinearSubdivisionLevel(0);
  filter->Update();
  vtkSmartPointer<vtkPolyData> surface = filter->GetOutput();
  if (has_nonlinear_cells(body)) add_midside_vertices(body, surface);
  kelm::order_by_original_ids(surface, kOriginalPoints, kOriginalCells);
  return surface;
}

}  // namespace fieldferry_core

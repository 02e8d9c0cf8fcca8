#include "common/original_order.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkIdList.h>
#include <vtkIdTypeArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace kelm {
namespace {

std::vector<vtkIdType> id_values(vtkDataArray* array, vtkIdType expected) {
  std::vector<vtkIdType> ids(static_cast<std::size_t>(expected));
  if (!array || array->GetNumberOfTuples() != expected) {
    std::iota(ids.begin(), ids.end(), vtkIdType{0});  // no usable keys: keep the order
    return ids;
  }
  for (vtkIdType i = 0; i < expected; ++i) {
    ids[std::size_t(i)] = static_cast<vtkIdType>(array->GetComponent(i, 0));
  }
  return ids;
}

bool is_identity(const std::vector<vtkIdType>& order) {
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i] != vtkIdType(i)) return false;
  }
  return true;
}

// Every array of `data` rearranged so that tuple i is the old tuple order[i]. The arrays stay the
// same objects, so active scalars and other attribute roles are kept.
void reorder_tuples(vtkDataSetAttributes* data, const std::vector<vtkIdType>& order) {
  auto ids = vtkSmartPointer<vtkIdList>::New();
  ids->SetNumberOfIds(vtkIdType(order.size()));
  std::copy(order.begin(), order.end(), ids->GetPointer(0));
  for (int a = 0; a < data->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = data->GetAbstractArray(a);
    if (!array || array->GetNumberOfTuples() != vtkIdType(order.size())) continue;
    vtkSmartPointer<vtkAbstractArray> moved;
    moved.TakeReference(array->NewInstance());
    moved->SetNumberOfComponents(array->GetNumberOfComponents());
    moved->SetNumberOfTuples(vtkIdType(order.size()));
    array->GetTuples(ids, moved);
    const std::string name = array->GetName() ? array->GetName() : "";
    array->DeepCopy(moved);
    if (!name.empty()) array->SetName(name.c_str());
  }
}

struct CellKind {
  vtkCellArray* (vtkPolyData::*get)();
  void (vtkPolyData::*set)(vtkCellArray*);
};

constexpr CellKind kKinds[] = {{&vtkPolyData::GetVerts, &vtkPolyData::SetVerts},
                               {&vtkPolyData::GetLines, &vtkPolyData::SetLines},
                               {&vtkPolyData::GetPolys, &vtkPolyData::SetPolys},
                               {&vtkPolyData::GetStrips, &vtkPolyData::SetStrips}};

// The cells of one kind sorted by original cell ID; the faces of one solid cell (equal IDs) by
// their original point IDs, so that the order never depends on how the filter split its work.
std::vector<vtkIdType> cell_order(vtkCellArray* cells, const vtkIdType* original_cell,
                                  const std::vector<vtkIdType>& original_point) {
  const vtkIdType n = cells->GetNumberOfCells();
  std::vector<vtkIdType> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), vtkIdType{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](vtkIdType a, vtkIdType b) { return original_cell[a] < original_cell[b]; });
  auto point_key = [&](vtkIdType cell, bool sorted) {
    vtkIdType size = 0;
    const vtkIdType* points = nullptr;
    cells->GetCellAtId(cell, size, points);
    std::vector<vtkIdType> key(points, points + size);
    for (vtkIdType& p : key) p = original_point[std::size_t(p)];
    if (sorted) std::sort(key.begin(), key.end());
    return key;
  };
  for (std::size_t begin = 0; begin < order.size();) {
    std::size_t end = begin + 1;
    while (end < order.size() && original_cell[order[end]] == original_cell[order[begin]]) ++end;
    if (end - begin > 1) {
      std::sort(order.begin() + long(begin), order.begin() + long(end),
                [&](vtkIdType a, vtkIdType b) {
                  const auto ka = point_key(a, true), kb = point_key(b, true);
                  return ka != kb ? ka < kb : point_key(a, false) < point_key(b, false);
                });
    }
    begin = end;
  }
  return order;
}

vtkSmartPointer<vtkCellArray> renumbered_cells(vtkCellArray* cells,
                                               const std::vector<vtkIdType>& order,
                                               const std::vector<vtkIdType>& new_point) {
  auto offsets = vtkSmartPointer<vtkIdTypeArray>::New();
  auto connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
  offsets->SetNumberOfTuples(vtkIdType(order.size()) + 1);
  connectivity->SetNumberOfTuples(cells->GetNumberOfConnectivityIds());
  vtkIdType* offset = offsets->GetPointer(0);
  vtkIdType* out = connectivity->GetPointer(0);
  offset[0] = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    vtkIdType size = 0;
    const vtkIdType* points = nullptr;
    cells->GetCellAtId(order[i], size, points);
    for (vtkIdType k = 0; k < size; ++k) *out++ = new_point[std::size_t(points[k])];
    offset[i + 1] = offset[i] + size;
  }
  auto result = vtkSmartPointer<vtkCellArray>::New();
  result->SetData(offsets, connectivity);
  return result;
}

vtkSmartPointer<vtkIdTypeArray> positions(const char* name, vtkIdType count) {
  auto array = vtkSmartPointer<vtkIdTypeArray>::New();
  array->SetName(name);
  array->SetNumberOfTuples(count);
  std::iota(array->GetPointer(0), array->GetPointer(0) + count, vtkIdType{0});
  return array;
}

}  // namespace

vtkSmartPointer<vtkDataSet> numbered_copy(vtkDataSet* data, const char* point_ids,
                                          const char* cell_ids) {
  vtkSmartPointer<vtkDataSet> numbered;
  numbered.TakeReference(data->NewInstance());
  numbered->ShallowCopy(data);
  numbered->GetPointData()->AddArray(positions(point_ids, data->GetNumberOfPoints()));
  numbered->GetCellData()->AddArray(positions(cell_ids, data->GetNumberOfCells()));
  return numbered;
}

void order_by_original_ids(vtkPolyData* poly, const char* point_ids, const char* cell_ids) {
  const vtkIdType points = poly->GetNumberOfPoints();
  const vtkIdType cells = poly->GetNumberOfCells();
  const std::vector<vtkIdType> original_point =
      id_values(poly->GetPointData()->GetArray(point_ids), points);
  const std::vector<vtkIdType> original_cell =
      id_values(poly->GetCellData()->GetArray(cell_ids), cells);
  poly->GetPointData()->RemoveArray(point_ids);
  poly->GetCellData()->RemoveArray(cell_ids);

  std::vector<vtkIdType> point_order(original_point.size());
  std::iota(point_order.begin(), point_order.end(), vtkIdType{0});
  std::stable_sort(point_order.begin(), point_order.end(), [&](vtkIdType a, vtkIdType b) {
    return original_point[std::size_t(a)] < original_point[std::size_t(b)];
  });
  std::vector<vtkIdType> new_point(point_order.size());
  for (std::size_t i = 0; i < point_order.size(); ++i) new_point[point_order[i]] = vtkIdType(i);

  // Cell IDs of a polydata run over the kinds in order, so the orders concatenate.
  std::vector<vtkIdType> global_order;
  global_order.reserve(std::size_t(cells));
  std::vector<std::vector<vtkIdType>> kind_orders;
  vtkIdType first = 0;
  for (const CellKind& kind : kKinds) {
    vtkCellArray* array = (poly->*kind.get)();
    const vtkIdType n = array ? array->GetNumberOfCells() : 0;
    kind_orders.push_back(n ? cell_order(array, original_cell.data() + first, original_point)
                            : std::vector<vtkIdType>());
    for (vtkIdType local : kind_orders.back()) global_order.push_back(first + local);
    first += n;
  }
  const bool points_in_order = is_identity(point_order);
  if (points_in_order && is_identity(global_order)) return;

  if (!points_in_order) {
    auto moved = vtkSmartPointer<vtkPoints>::New();
    moved->SetDataType(poly->GetPoints()->GetDataType());
    moved->SetNumberOfPoints(points);
    auto ids = vtkSmartPointer<vtkIdList>::New();
    ids->SetNumberOfIds(points);
    std::copy(point_order.begin(), point_order.end(), ids->GetPointer(0));
    poly->GetPoints()->GetData()->GetTuples(ids, moved->GetData());
    poly->SetPoints(moved);
    reorder_tuples(poly->GetPointData(), point_order);
  }
  for (std::size_t k = 0; k < kind_orders.size(); ++k) {
    const CellKind& kind = kKinds[k];
    vtkCellArray* array = (poly->*kind.get)();
    if (!array || array->GetNumberOfCells() == 0) continue;
    vtkSmartPointer<vtkCellArray> renumbered = renumbered_cells(array, kind_orders[k], new_point);
    (poly->*kind.set)(renumbered);
  }
  if (!is_identity(global_order)) reorder_tuples(poly->GetCellData(), global_order);
  poly->Modified();
}

}  // namespace kelm

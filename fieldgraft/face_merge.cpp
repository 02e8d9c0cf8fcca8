#include "face_merge.h"

#include <vtkCellArrayIterator.h>
#include <vtkCellData.h>
#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkUnsignedIntArray.h>

#include <algorithm>
#include <limits>

#include "common/tag_arrays.h"

namespace fieldgraft_core {

FaceSet::Key FaceSet::small_key(const vtkIdType* ids, vtkIdType n) {
  Key key{};
  key.n = n;
  std::copy(ids, ids + n, key.ids.begin());
  std::sort(key.ids.begin(), key.ids.begin() + n);
  return key;
}

std::vector<vtkIdType> FaceSet::large_key(const vtkIdType* ids, vtkIdType n) {
  std::vector<vtkIdType> key(ids, ids + n);
  std::sort(key.begin(), key.end());
  return key;
}

std::size_t FaceSet::KeyHash::operator()(const Key& key) const {
  std::size_t h = std::size_t(key.n) * 0x9E3779B97F4A7C15ull;
  for (vtkIdType i = 0; i < key.n; ++i) {
    h ^= std::size_t(key.ids[std::size_t(i)]) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  }
  return h;
}

long long FaceSet::insert(const vtkIdType* ids, vtkIdType n, long long index) {
  if (n <= 8) {
    auto result = small_.emplace(small_key(ids, n), index);
    return result.second ? -1 : result.first->second;
  }
  auto result = large_.emplace(large_key(ids, n), index);
  return result.second ? -1 : result.first->second;
}

long long FaceSet::find(const vtkIdType* ids, vtkIdType n) const {
  if (n <= 8) {
    auto it = small_.find(small_key(ids, n));
    return it == small_.end() ? -1 : it->second;
  }
  auto it = large_.find(large_key(ids, n));
  return it == large_.end() ? -1 : it->second;
}

CombinedFaces combine_faces(const FacePolygons& loaded, vtkCellArray* free_polys) {
  CombinedFaces out;
  FaceSet seen;
  seen.reserve(loaded.count());
  std::vector<vtkIdType> offsets{0};
  std::vector<vtkIdType> points;
  points.reserve(loaded.points.size() + std::size_t(free_polys->GetNumberOfConnectivityIds()));
  offsets.reserve(loaded.count() + std::size_t(free_polys->GetNumberOfCells()) + 1);

  for (std::size_t i = 0; i < loaded.count(); ++i) {
    if (seen.insert(loaded.face(i), loaded.size(i), (long long)i) >= 0) continue;
    points.insert(points.end(), loaded.face(i), loaded.face(i) + loaded.size(i));
    offsets.push_back(vtkIdType(points.size()));
    out.loaded_kept.push_back(vtkIdType(i));
  }
  auto it = vtkSmartPointer<vtkCellArrayIterator>::Take(free_polys->NewIterator());
  vtkIdType n;
  const vtkIdType* ids;
  for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell()) {
    it->GetCurrentCell(n, ids);
    if (!loaded.points.empty() && seen.find(ids, n) >= 0) continue;
    points.insert(points.end(), ids, ids + n);
    offsets.push_back(vtkIdType(points.size()));
    out.free_kept.push_back(it->GetCurrentCellId());
  }

  auto offset_array = vtkSmartPointer<vtkIdTypeArray>::New();
  offset_array->SetNumberOfValues(vtkIdType(offsets.size()));
  std::copy(offsets.begin(), offsets.end(), offset_array->GetPointer(0));
  auto point_array = vtkSmartPointer<vtkIdTypeArray>::New();
  point_array->SetNumberOfValues(vtkIdType(points.size()));
  std::copy(points.begin(), points.end(), point_array->GetPointer(0));
  out.cells = vtkSmartPointer<vtkCellArray>::New();
  out.cells->SetData(offset_array, point_array);
  return out;
}

template <typename ElementArray>
void add_face_cell_data(vtkPolyData* result, const CombinedFaces& combined,
                        const std::vector<uint32_t>& element_ids, const std::vector<float>& values,
                        const TagIds& free_elements, vtkIdType first_free_poly,
                        const std::string& field_name) {
  const vtkIdType total = vtkIdType(combined.loaded_kept.size() + combined.free_kept.size());
  auto element_array = vtkSmartPointer<ElementArray>::New();
  element_array->SetName(kelm::kElementIdArray);
  element_array->SetNumberOfValues(total);
  auto value_array = vtkSmartPointer<vtkFloatArray>::New();
  value_array->SetName(field_name.c_str());
  value_array->SetNumberOfComponents(1);
  value_array->SetNumberOfTuples(total);
  vtkIdType c = 0;
  for (vtkIdType i : combined.loaded_kept) {
    element_array->SetValue(c, element_ids[std::size_t(i)]);
    value_array->SetValue(c++, values[std::size_t(i)]);
  }
  for (vtkIdType j : combined.free_kept) {
    element_array->SetValue(c, free_elements[std::size_t(first_free_poly + j)]);
    value_array->SetValue(c++, std::numeric_limits<float>::quiet_NaN());
  }
  result->GetCellData()->AddArray(element_array);
  result->GetCellData()->AddArray(value_array);
}

template void add_face_cell_data<vtkUnsignedIntArray>(vtkPolyData*, const CombinedFaces&,
                                                      const std::vector<uint32_t>&,
                                                      const std::vector<float>&, const TagIds&,
                                                      vtkIdType, const std::string&);
template void add_face_cell_data<vtkIdTypeArray>(vtkPolyData*, const CombinedFaces&,
                                                 const std::vector<uint32_t>&,
                                                 const std::vector<float>&, const TagIds&,
                                                 vtkIdType, const std::string&);

}  // namespace fieldgraft_core

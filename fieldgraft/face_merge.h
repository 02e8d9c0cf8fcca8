// Loaded faces in front of a body's free faces: the free faces that a loaded face covers (the same
// set of points, whatever their order) are dropped, so every surface polygon appears once and the
// loaded ones keep their field order at the front. Values are matched to polygons by position.
#pragma once

#include <vtkCellArray.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "body_tags.h"

namespace fieldgraft_core {

// Polygons as offsets + point indices (offsets.size() == count() + 1).
struct FacePolygons {
  std::vector<vtkIdType> offsets{0};
  std::vector<vtkIdType> points;

  void add(const vtkIdType* ids, vtkIdType n) {
    const std::size_t start = points.size();
    points.resize(start + std::size_t(n));
    std::copy(ids, ids + n, points.begin() + std::ptrdiff_t(start));
    offsets.push_back(vtkIdType(points.size()));
  }
  std::size_t count() const { return offsets.size() - 1; }
  const vtkIdType* face(std::size_t i) const { return points.data() + offsets[i]; }
  vtkIdType size(std::size_t i) const { return offsets[i + 1] - offsets[i]; }
};

// Faces keyed by their sorted point indices. Faces of up to 8 points use a fixed-size key (no
// allocation per face); larger polygons fall back to a vector key.
class FaceSet {
 public:
  // Records face `index` unless a face with the same points is already there; returns the index
  // of that earlier face, or -1 when `index` was recorded.
  long long insert(const vtkIdType* ids, vtkIdType n, long long index);
  // Index of the recorded face with the same points as `ids`, or -1.
  long long find(const vtkIdType* ids, vtkIdType n) const;
  void reserve(std::size_t n) { small_.reserve(n); }

 private:
  struct Key {
    std::array<vtkIdType, 8> ids;
    vtkIdType n;
    bool operator==(const Key& other) const { return n == other.n && ids == other.ids; }
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const;
  };
  static Key small_key(const vtkIdType* ids, vtkIdType n);
  static std::vector<vtkIdType> large_key(const vtkIdType* ids, vtkIdType n);

  std::unordered_map<Key, long long, KeyHash> small_;
  std::map<std::vector<vtkIdType>, long long> large_;
};

struct CombinedFaces {
  vtkSmartPointer<vtkCellArray> cells;
  std::vector<vtkIdType> loaded_kept;  // loaded face index of each leading cell
  std::vector<vtkIdType> free_kept;    // polygon index in `free_polys` of each following cell
};

// The loaded faces (a later loaded face with the points of an earlier one is dropped) followed by
// the polygons of `free_polys` that no loaded face covers. Both in the same point indexing.
CombinedFaces combine_faces(const FacePolygons& loaded, vtkCellArray* free_polys);

// Gives `result` its cell data for `combined`: "Element ID" (an ElementArray: vtkUnsignedIntArray
// or vtkIdTypeArray) and the value array `field_name`. Loaded faces take their entries of
// `element_ids` and `values`; free polygon j takes `free_elements[first_free_poly + j]` (the cell
// data of a polydata counts its vertices and lines before its polygons) and NaN.
template <typename ElementArray>
void add_face_cell_data(vtkPolyData* result, const CombinedFaces& combined,
                        const std::vector<uint32_t>& element_ids, const std::vector<float>& values,
                        const TagIds& free_elements, vtkIdType first_free_poly,
                        const std::string& field_name);

}  // namespace fieldgraft_core

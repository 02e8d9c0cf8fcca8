// The surface field builders shared by both field generations (fieldgraft and skinfield). Each
// takes the body grid and the field as plain arrays (the bindings read the two dictionary formats)
// and checks everything it can before it returns what is left to do (a FinishBuild): nothing is
// written to the body grid until that is called.
//
// Value arrays are 1-component vtkFloatArrays named with the field name, NaN where the field gives
// no value, added with AddArray (an earlier array of that name is replaced).
#pragma once

#include <vtkDataSet.h>
#include <vtkUnstructuredGrid.h>

#include <cstdint>
#include <string>
#include <vector>

#include "body_tags.h"

namespace fieldgraft_core {

// A list of variable-length rows (faces as node IDs, or their nodal values).
template <typename T>
struct Ragged {
  std::vector<std::size_t> offsets{0};  // row i is values[offsets[i] .. offsets[i + 1])
  std::vector<T> values;

  std::size_t rows() const { return offsets.size() - 1; }
  std::size_t size(std::size_t row) const { return offsets[row + 1] - offsets[row]; }
};

// One value per host ID, on the points (`Attachment::points`, IDs looked up in "Node ID") or on the
// cells ("Element ID") of `grid`. The array is added to the grid's point or cell data; the result
// is the grid's outer surface, which carries it. A repeated ID keeps its later value.
FinishBuild prepare_id_field(vtkDataSet* grid, Attachment where, const std::vector<uint32_t>& ids,
                             const std::vector<float>& values, const std::string& field_name,
                             const Target& target);

// Faces named by (element ID, host face number), one value per face. The result holds the loaded
// faces in field order, then the free faces that no loaded face covers; its cells carry
// "Element ID" and the values (NaN on the free faces). The body grid is not changed.
FinishBuild prepare_face_index_field(vtkUnstructuredGrid* grid,
                                     const std::vector<uint32_t>& element_ids,
                                     const std::vector<long long>& face_numbers,
                                     const std::vector<float>& values,
                                     const std::string& field_name, const Target& target);

// Faces named by their node IDs with one value per face node, put on the points of the body's free
// surface. A node shared by faces keeps the value of its first occurrence when the faces are
// taken by ascending node count, then in field order. The body grid is not changed.
FinishBuild prepare_face_node_field(vtkDataSet* grid, const Ragged<uint32_t>& faces,
                                    const Ragged<float>& values, const std::string& field_name,
                                    const Target& target);

// Faces given as node-ID lists (all of one node count), one value and one owning element per face,
// written in front of the body's free faces (boundary faces, then a geometry filter); a free face
// or later loaded face with the points of an earlier loaded face is dropped. Cells carry
// "Element ID" (VTK id type) and the values. The body grid is not changed.
FinishBuild prepare_node_list_faces(vtkUnstructuredGrid* grid,
                                    const std::vector<uint32_t>& element_ids,
                                    const Ragged<uint32_t>& faces, const std::vector<float>& values,
                                    const std::string& field_name, const Target& target);

// The outer surface of `grid` (vtkDataSetSurfaceFilter, quadratic faces as their linear outline).
// With `original_point_ids` its points carry "vtkOriginalPointIds".
vtkSmartPointer<vtkPolyData> outer_surface(vtkDataSet* grid, bool original_point_ids = false);

}  // namespace fieldgraft_core

// Faces named by (element ID, host face number), values on the cells of the result.
#include <vtkCellData.h>
#include <vtkFloatArray.h>
#include <vtkGenericCell.h>
#include <vtkIdTypeArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnsignedIntArray.h>

#include <algorithm>
#include <limits>
#include <unordered_map>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"
#include "face_merge.h"
#include "face_tables.h"
#include "field_builders.h"

namespace fieldgraft_core {

namespace {

std::vector<int> distinct_cell_types(vtkUnstructuredGrid* grid) {
  vtkUnsignedCharArray* types = grid->GetCellTypesArray();
  std::array<bool, 256> present{};
  for (vtkIdType i = 0, n = types->GetNumberOfValues(); i < n; ++i)
    present[types->GetValue(i)] = true;
  std::vector<int> out;
  for (int t = 0; t < 256; ++t) {
    if (present[std::size_t(t)]) out.push_back(t);
  }
  return out;
}

// The loaded faces as polygons over the body grid's points (the linear outline of each VTK face,
// as the surface filter outputs quadratic faces).
FacePolygons loaded_face_polygons(vtkUnstructuredGrid* grid,
                                  const std::vector<uint32_t>& element_ids,
                                  const std::vector<long long>& face_numbers,
                                  const Target& target) {
  FacePolygons faces;
  const std::size_t count = element_ids.size();
  if (count == 0) return faces;
  if (grid->GetNumberOfCells() == 0) {
    kelm::raise_value_error(target.operation, ": body '", target.body, "' has no cells, so it ",
                            "has none of the ", count, " loaded faces");
  }
  TagLookup elements(grid, Attachment::cells, kelm::kElementIdArray, "element", target);
  const FaceFamily family = face_family_of(grid->GetCellType(0));
  if (family == FaceFamily::hexahedral) {
    require_hexahedral_tables(distinct_cell_types(grid), target.operation, target.body);
  }

  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  FaceSet seen;
  seen.reserve(count);
  std::vector<vtkIdType> corners;
  for (std::size_t i = 0; i < count; ++i) {
    const vtkIdType cell_id = elements.at(element_ids[i]);
    const FaceSite site{target.operation, target.body, element_ids[i]};
    const FaceTable* table = face_table_for(family, grid->GetCellType(cell_id), site);
    grid->GetCell(cell_id, cell);
    long long vtk_face = face_numbers[i];
    if (table) {
      vtk_face = vtk_face_index(*table, face_numbers[i], site);
    } else if (vtk_face < 0 || vtk_face >= cell->GetNumberOfFaces()) {
      throw face_number_error(kelm::message(
          target.operation, ": face number ", vtk_face, " of element ", element_ids[i],
          " of body '", target.body, "' is outside the faces 0 to ", cell->GetNumberOfFaces() - 1,
          " of its VTK cell (type ", grid->GetCellType(cell_id),
          ", numbered as VTK does since the body's first cell has no face number table)"));
    }
    vtkCell* face = cell->GetFace(int(vtk_face));
    // A quadratic face lists its corners first; the surface shows only those.
    const vtkIdType n = face->GetNumberOfEdges();
    corners.assign(face->GetPointIds()->GetPointer(0), face->GetPointIds()->GetPointer(0) + n);
    const long long earlier = seen.insert(corners.data(), n, (long long)i);
    if (earlier >= 0) {
      kelm::raise_value_error(target.operation, ": face ", face_numbers[i], " of element ",
                              element_ids[i], " of body '", target.body, "' (loaded face ", i,
                              ") is the same face as face ", face_numbers[std::size_t(earlier)],
                              " of element ", element_ids[std::size_t(earlier)], " (loaded face ",
                              earlier, "); each face may be listed once");
    }
    faces.add(corners.data(), n);
  }
  return faces;
}

}  // namespace

FinishBuild prepare_face_index_field(vtkUnstructuredGrid* grid,
                                     const std::vector<uint32_t>& element_ids,
                                     const std::vector<long long>& face_numbers,
                                     const std::vector<float>& values,
                                     const std::string& field_name, const Target& target) {
  const FieldKeys& keys = target.keys;
  require_count(face_numbers.size(), element_ids.size(), keys.faces, keys.elements, target);
  require_count(values.size(), element_ids.size(), keys.values, keys.elements, target);
  require_sound_body(grid, target);
  tag_ids(grid, Attachment::points, kelm::kNodeIdArray, target);  // the result's points need it
  FacePolygons loaded = loaded_face_polygons(grid, element_ids, face_numbers, target);

  vtkSmartPointer<vtkUnstructuredGrid> keep = grid;
  return [keep, loaded = std::move(loaded), element_ids, values, field_name, target]() mutable {
    vtkSmartPointer<vtkPolyData> surface = outer_surface(keep);
    const TagIds free_elements = tag_ids(surface, Attachment::cells, kelm::kElementIdArray, target);
    const TagIds surface_nodes = tag_ids(surface, Attachment::points, kelm::kNodeIdArray, target);
    const TagIds body_nodes = tag_ids(keep, Attachment::points, kelm::kNodeIdArray, target);

    // Loaded faces move onto the surface's points, found by node ID (VTK's original point IDs are
    // not reliable for quadratic cells); a loaded inner face adds the body points it lacks.
    const kelm::IdLookup on_surface(surface_nodes.data, surface_nodes.size);
    std::unordered_map<vtkIdType, vtkIdType> added;  // body point -> output point
    std::vector<vtkIdType> extra;                    // body points after the surface's
    const vtkIdType surface_points = surface->GetNumberOfPoints();
    for (vtkIdType& p : loaded.points) {
      const uint32_t found = on_surface.find(body_nodes[std::size_t(p)]);
      if (found != kelm::IdLookup::kAbsent) {
        p = vtkIdType(found);
        continue;
      }
      auto it = added.emplace(p, surface_points + vtkIdType(extra.size())).first;
      if (it->second == surface_points + vtkIdType(extra.size())) extra.push_back(p);
      p = it->second;
    }

    auto points = vtkSmartPointer<vtkPoints>::New();
    points->DeepCopy(surface->GetPoints());
    auto node_array = vtkSmartPointer<vtkUnsignedIntArray>::New();
    node_array->SetName(kelm::kNodeIdArray);
    node_array->SetNumberOfValues(surface_points + vtkIdType(extra.size()));
    std::copy(surface_nodes.data, surface_nodes.data + surface_nodes.size,
              node_array->GetPointer(0));
    for (std::size_t k = 0; k < extra.size(); ++k) {
      points->InsertNextPoint(keep->GetPoints()->GetPoint(extra[k]));
      node_array->SetValue(surface_points + vtkIdType(k), body_nodes[std::size_t(extra[k])]);
    }

    CombinedFaces combined = combine_faces(loaded, surface->GetPolys());
    auto result = vtkSmartPointer<vtkPolyData>::New();
    result->SetPoints(points);
    result->GetPointData()->AddArray(node_array);
    result->SetPolys(combined.cells);

    // Cells: loaded faces (their field element IDs and values), then free faces (owning element,
    // NaN).
    add_face_cell_data<vtkUnsignedIntArray>(
        result, combined, element_ids, values, free_elements,
        surface->GetNumberOfVerts() + surface->GetNumberOfLines(), field_name);
    return result;
  };
}

}  // namespace fieldgraft_core

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
  require_count(face_numbers.size(), element_ids.size(), "the face number list",
                "the element ID list", target);
  require_count(values.size(), element_ids.size(), "the value list", "the element ID list", target);
  const std::vector<uint32_t> node_ids =
      tag_ids(grid, Attachment::points, kelm::kNodeIdArray, target);
  FacePolygons loaded = loaded_face_polygons(grid, element_ids, face_numbers, target);

  vtkSmartPointer<vtkUnstructuredGrid> keep = grid;
  return [keep, loaded = std::move(loaded), node_ids = std::move(node_ids), element_ids, values,
          field_name, target]() mutable {
    // The surface's points are found in the body by their node IDs (VTK's original point IDs are
    // not reliable for quadratic cells).
    vtkSmartPointer<vtkPolyData> surface = outer_surface(keep);
    const std::vector<uint32_t> free_elements =
        tag_ids(surface, Attachment::cells, kelm::kElementIdArray, target);
    const std::vector<uint32_t> surface_nodes =
        tag_ids(surface, Attachment::points, kelm::kNodeIdArray, target);
    const kelm::IdLookup body_nodes(node_ids.data(), node_ids.size());

    // Output points: the surface's, then the body points of loaded inner faces it lacks.
    std::vector<vtkIdType> to_output(std::size_t(keep->GetNumberOfPoints()), -1);
    std::vector<vtkIdType> sources(surface_nodes.size());
    for (std::size_t p = 0; p < surface_nodes.size(); ++p) {
      sources[p] = body_nodes.find(surface_nodes[p]);
      to_output[std::size_t(sources[p])] = vtkIdType(p);
    }
    for (vtkIdType& p : loaded.points) {
      vtkIdType& mapped = to_output[std::size_t(p)];
      if (mapped < 0) {
        mapped = vtkIdType(sources.size());
        sources.push_back(p);
      }
      p = mapped;
    }

    CombinedFaces combined = combine_faces(loaded, surface->GetPolys());
    auto result = vtkSmartPointer<vtkPolyData>::New();
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataType(keep->GetPoints()->GetDataType());
    points->SetNumberOfPoints(vtkIdType(sources.size()));
    auto node_array = vtkSmartPointer<vtkUnsignedIntArray>::New();
    node_array->SetName(kelm::kNodeIdArray);
    node_array->SetNumberOfValues(vtkIdType(sources.size()));
    vtkPoints* body_points = keep->GetPoints();
    for (std::size_t p = 0; p < sources.size(); ++p) {
      points->SetPoint(vtkIdType(p), body_points->GetPoint(sources[p]));
      node_array->SetValue(vtkIdType(p), node_ids[std::size_t(sources[p])]);
    }
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

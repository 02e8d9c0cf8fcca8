// Faces given as node-ID lists, written in front of the body's free faces (the earlier
// generation's face builder; its free faces come from the boundary and geometry filters).
#include <vtkCellData.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkGeometryFilter.h>
#include <vtkIdTypeArray.h>
#include <vtkPointData.h>
#include <vtkUnstructuredGridGeometryFilter.h>

#include <limits>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"
#include "face_merge.h"
#include "field_builders.h"

namespace fieldgraft_core {

namespace {

vtkSmartPointer<vtkPolyData> free_face_polydata(vtkUnstructuredGrid* grid) {
  auto boundary = vtkSmartPointer<vtkUnstructuredGridGeometryFilter>::New();
  boundary->SetInputData(grid);
  auto geometry = vtkSmartPointer<vtkGeometryFilter>::New();
  geometry->SetInputConnection(boundary->GetOutputPort());
  geometry->Update();
  vtkSmartPointer<vtkPolyData> out = geometry->GetOutput();
  return out;
}

}  // namespace

FinishBuild prepare_node_list_faces(vtkUnstructuredGrid* grid,
                                    const std::vector<uint32_t>& element_ids,
                                    const Ragged<uint32_t>& faces, const std::vector<float>& values,
                                    const std::string& field_name, const Target& target) {
  const FieldKeys& keys = target.keys;
  require_count(element_ids.size(), faces.rows(), keys.elements, keys.faces, target);
  require_count(values.size(), faces.rows(), keys.values, keys.faces, target);
  for (std::size_t f = 0; f < faces.rows(); ++f) {
    if (faces.size(f) == 0 || faces.size(f) != faces.size(0)) {
      kelm::raise_value_error(target.operation, ": face ", f, " of \"", keys.faces, "\" of body '",
                              target.body, "' has ", faces.size(f), " node IDs; every face of a ",
                              "body field must have the same number of nodes, at least 1 (face 0 ",
                              "has ", faces.size(0), ")");
    }
  }
  require_sound_body(grid, target);
  vtkSmartPointer<vtkPolyData> free_faces = free_face_polydata(grid);
  TagLookup nodes(free_faces, Attachment::points, kelm::kNodeIdArray, "node", target,
                  "the free surface of ");
  FacePolygons loaded;
  loaded.points.reserve(faces.values.size());
  for (std::size_t f = 0; f < faces.rows(); ++f) {
    for (std::size_t k = faces.offsets[f]; k < faces.offsets[f + 1]; ++k) {
      loaded.points.push_back(nodes.at(faces.values[k]));
    }
    loaded.offsets.push_back(vtkIdType(loaded.points.size()));
  }
  // Checked here, read again when the build finishes (the view is only valid while it lives).
  tag_ids(free_faces, Attachment::cells, kelm::kElementIdArray, target);

  vtkSmartPointer<vtkUnstructuredGrid> body = grid;
  return [body, free_faces, loaded = std::move(loaded), element_ids, values, field_name, target]() {
    const TagIds free_elements =
        tag_ids(free_faces, Attachment::cells, kelm::kElementIdArray, target);
    CombinedFaces combined = combine_faces(loaded, free_faces->GetPolys());
    auto result = vtkSmartPointer<vtkPolyData>::New();
    result->SetPoints(free_faces->GetPoints());
    result->GetPointData()->ShallowCopy(free_faces->GetPointData());
    result->SetPolys(combined.cells);
    // The body's tags ("Body pathName", "mesh_type", ...) travel with the surface, as they do
    // through the surface filter of the other builders.
    result->GetFieldData()->ShallowCopy(body->GetFieldData());

    add_face_cell_data<vtkIdTypeArray>(
        result, combined, element_ids, values, free_elements,
        free_faces->GetNumberOfVerts() + free_faces->GetNumberOfLines(), field_name);
    return result;
  };
}

}  // namespace fieldgraft_core

// Faces named by their node IDs with one value per face node, on the free surface's points.
#include <vtkFloatArray.h>
#include <vtkPointData.h>

#include <algorithm>
#include <limits>
#include <numeric>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"
#include "field_builders.h"

namespace fieldgraft_core {

FinishBuild prepare_face_node_field(vtkDataSet* grid, const Ragged<uint32_t>& faces,
                                    const Ragged<float>& values, const std::string& field_name,
                                    const Target& target) {
  require_count(values.rows(), faces.rows(), target.keys.values, target.keys.faces, target);
  for (std::size_t f = 0; f < faces.rows(); ++f) {
    if (values.size(f) != faces.size(f)) {
      kelm::raise_value_error(target.operation, ": face ", f, " of body '", target.body, "' has ",
                              faces.size(f), " node IDs in \"", target.keys.faces, "\" but ",
                              values.size(f), " values in \"", target.keys.values, "\"");
    }
  }
  require_sound_body(grid, target);
  vtkSmartPointer<vtkPolyData> surface = outer_surface(grid);
  TagLookup nodes(surface, Attachment::points, kelm::kNodeIdArray, "node", target,
                  "the free surface of ");

  // First occurrence wins, with the faces taken by ascending node count and then in field order.
  std::vector<std::size_t> order(faces.rows());
  std::iota(order.begin(), order.end(), std::size_t(0));
  std::stable_sort(order.begin(), order.end(), [&faces](std::size_t a, std::size_t b) {
    return faces.size(a) < faces.size(b);
  });
  auto array = vtkSmartPointer<vtkFloatArray>::New();
  array->SetName(field_name.c_str());
  array->SetNumberOfComponents(1);
  array->SetNumberOfTuples(surface->GetNumberOfPoints());
  float* out = array->GetPointer(0);
  std::fill(out, out + surface->GetNumberOfPoints(), std::numeric_limits<float>::quiet_NaN());
  std::vector<bool> assigned(std::size_t(surface->GetNumberOfPoints()), false);
  for (std::size_t f : order) {
    for (std::size_t k = faces.offsets[f]; k < faces.offsets[f + 1]; ++k) {
      const uint32_t point = nodes.at(faces.values[k]);
      if (assigned[point]) continue;
      assigned[point] = true;
      out[point] = values.values[k];
    }
  }
  return [surface, array]() {
    surface->GetPointData()->AddArray(array);
    return surface;
  };
}

}  // namespace fieldgraft_core

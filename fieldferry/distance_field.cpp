#include "distance_field.h"

#include <vtkCell.h>
#include <vtkCellData.h>
#include <vtkCellTypes.h>
#include <vtkDataSetSurfaceFilter.h>
#include <vtkDoubleArray.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkImageData.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkResampleWithDataSet.h>
#include <vtkSMPTools.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "checks.h"
#include "common/dataset_checks.h"
#include "common/errors.h"
#include "point_tree.h"
#include "source_cells.h"
#include "surface_projection.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "fieldferry.generate_distance_field";

vtkSmartPointer<vtkDataSet> from_distance_volume(vtkDataSet* to_mesh, vtkImageData* volume) {
  vtkAbstractArray* scalars = volume->GetPointData()->GetAbstractArray(kImageScalarsArray);
  if (!scalars) {
    kelm::raise_key_error(kOperation, ": the distance volume (from_mesh) has no point array \"",
                          kImageScalarsArray,
                          "\" (its point arrays: ", array_names(volume->GetPointData()), ")");
  }
  if (!vtkDataArray::SafeDownCast(scalars) || scalars->GetNumberOfComponents() != 1) {
    kelm::raise_type_error(kOperation, ": the distance volume's \"", kImageScalarsArray,
                           "\" holds ", scalars->GetNumberOfComponents(), " component(s) of ",
                           scalars->GetDataTypeAsString(), "; distances are one number per point");
  }
  // The probe copies every point array of the volume; one shorter than the volume would be read
  // past its end.
  kelm::require_sound_dataset(volume, kOperation, "the distance volume (from_mesh)");
  auto resample = vtkSmartPointer<vtkResampleWithDataSet>::New();
  resample->SetPassPointArrays(true);
  resample->SetPassCellArrays(true);
  resample->SetInputData(to_mesh);
  keep_resampling_safe(resample, to_mesh);
  resample->SetSourceData(volume);
  resample->Update();
  vtkSmartPointer<vtkDataSet> out = vtkDataSet::SafeDownCast(resample->GetOutput());
  out->GetPointData()->GetAbstractArray(kImageScalarsArray)->SetName(kDistanceArray);
  return out;
}

bool has_polygons(vtkPolyData* surface) {
  return surface->GetNumberOfPolys() + surface->GetNumberOfStrips() > 0;
}

// The parametric centre of every cell of `target`, as bare points.
vtkSmartPointer<vtkPolyData> cell_centres_of(vtkDataSet* target) {
  auto centres = vtkSmartPointer<vtkPoints>::New();
  centres->SetDataTypeToDouble();
  centres->SetNumberOfPoints(target->GetNumberOfCells());
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  std::vector<double> weights(static_cast<size_t>(std::max(target->GetMaxCellSize(), 1)));
  double pcoords[3], x[3];
  for (vtkIdType c = 0; c < target->GetNumberOfCells(); ++c) {
    target->GetCell(c, cell);
    int sub_id = cell->GetParametricCenter(pcoords);
    cell->EvaluateLocation(sub_id, pcoords, x, weights.data());
    centres->SetPoint(c, x);
  }
  auto out = vtkSmartPointer<vtkPolyData>::New();
  out->SetPoints(centres);
  return out;
}

// Each point of `data` on its own: the distance functions only read their source.
vtkSmartPointer<vtkDoubleArray> distances_of(vtkDataSet* data,
                                             const std::function<double(double*)>& distance_to) {
  auto distance = vtkSmartPointer<vtkDoubleArray>::New();
  distance->SetName(kDistanceArray);
  distance->SetNumberOfTuples(data->GetNumberOfPoints());
  vtkSMPTools::For(0, data->GetNumberOfPoints(), [&](vtkIdType begin, vtkIdType end) {
    double x[3];
    for (vtkIdType i = begin; i < end; ++i) {
      data->GetPoint(i, x);
      distance->SetValue(i, distance_to(x));
    }
  });
  return distance;
}

}  // namespace

// Distance of each point and each cell centre of `target`, by `distance_to`.
void add_distances(vtkDataSet* target, bool cell_centres,
                   const std::function<double(double*)>& distance_to) {
  target->GetPointData()->AddArray(distances_of(target, distance_to));
  if (cell_centres) {
    target->GetCellData()->AddArray(distances_of(cell_centres_of(target), distance_to));
  }
}

namespace {

// The distance to a point cloud: to the nearest of its points. They are taken from the source
// itself: the surface of a grid whose cells have no faces (vertices, lines) or no cells at all
// keeps none of its points.
vtkSmartPointer<vtkDataSet> measured_to_points(vtkDataSet* to_mesh, vtkDataSet* from_mesh,
                                               bool cell_centres) {
  vtkSmartPointer<vtkDataSet> out;
  out.TakeReference(to_mesh->NewInstance());
  out->ShallowCopy(to_mesh);
  const PointTree points(from_mesh);
  add_distances(out, cell_centres, [&](double* x) {
    double dist2 = 0;
    points.nearest(x, &dist2);
    return std::sqrt(dist2);
  });
  return out;
}

vtkSmartPointer<vtkDoubleArray> distance_array(const std::vector<double>& values) {
  auto array = vtkSmartPointer<vtkDoubleArray>::New();
  array->SetName(kDistanceArray);
  array->SetNumberOfTuples(static_cast<vtkIdType>(values.size()));
  std::copy(values.begin(), values.end(), array->GetPointer(0));
  return array;
}

}  // namespace

vtkSmartPointer<vtkDataSet> distance_cells(vtkDataSet* from_mesh) {
  if (cell_dimensions(from_mesh) & kVolumeCells) return from_mesh;
  vtkSmartPointer<vtkPolyData> surface = vtkPolyData::SafeDownCast(from_mesh);
  if (!surface) {
    auto extract = vtkSmartPointer<vtkDataSetSurfaceFilter>::New();
    extract->SetInputData(from_mesh);
    extract->Update();
    surface = extract->GetOutput();
  }
  if (!has_polygons(surface)) return nullptr;
  // A surface of polygons alone is its own: its search can serve the method too.
  if (surface == from_mesh && surface->GetNumberOfVerts() + surface->GetNumberOfLines() == 0) {
    return surface;
  }
  auto faces = vtkSmartPointer<vtkPolyData>::New();  // the polygons alone
  faces->SetPoints(surface->GetPoints());
  faces->SetPolys(surface->GetPolys());
  faces->SetStrips(surface->GetStrips());
  return faces;
}

vtkSmartPointer<vtkDataSet> measure_to_cells(vtkDataSet* to_mesh, const ClosestCells& cells,
                                             bool cell_centres,
                                             const std::vector<double>* point_distances) {
  // The closest-cell search of "Surface projection": exact distances to the cells, at a cost that
  // depends on the cells near each point only.
  vtkSmartPointer<vtkDataSet> out;
  out.TakeReference(to_mesh->NewInstance());
  out->ShallowCopy(to_mesh);
  out->GetPointData()->AddArray(
      distance_array(point_distances ? *point_distances : closest_cell_distances(cells, out)));
  if (cell_centres) {
    out->GetCellData()->AddArray(
        distance_array(closest_cell_distances(cells, cell_centres_of(out))));
  }
  return out;
}

vtkSmartPointer<vtkDataSet> measure_distance(vtkDataSet* to_mesh, vtkDataSet* from_mesh,
                                             bool cell_centres) {
  require_finite_points(to_mesh, kOperation, "the target (to_mesh)");
  require_points(from_mesh, kOperation, "the source (from_mesh)");
  vtkSmartPointer<vtkDataSet> cells = distance_cells(from_mesh);
  if (!cells) return measured_to_points(to_mesh, from_mesh, cell_centres);
  ClosestCells index(cells);
  index.build_tree();
  return measure_to_cells(to_mesh, index, cell_centres);
}

vtkSmartPointer<vtkDataSet> generate_distance_field(vtkDataSet* to_mesh, vtkDataSet* from_mesh,
                                                    const std::string& distance_field_location) {
  if (to_mesh->GetPointData()->GetAbstractArray(kDistanceArray)) return to_mesh;
  require_finite_points(to_mesh, kOperation, "the target (to_mesh)");
  if (auto* volume = vtkImageData::SafeDownCast(from_mesh)) {
    return from_distance_volume(to_mesh, volume);
  }
  return measure_distance(to_mesh, from_mesh, distance_field_location != "Point");
}

}  // namespace fieldferry_core

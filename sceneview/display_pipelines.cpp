#include "display_pipelines.h"

#include <vtkCellData.h>
#include <vtkCompositeDataIterator.h>
#include <vtkDataArray.h>
#include <vtkDataObjectTreeIterator.h>
#include <vtkDataSet.h>
#include <vtkDataSetMapper.h>
#include <vtkFieldData.h>
#include <vtkPointData.h>
#include <vtkProperty.h>
#include <vtkTextProperty.h>
#include <vtkUnstructuredGridBase.h>

#include <cmath>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"
#include "surface_faces.h"
#include "unmapped_points.h"

namespace sceneview_core {

namespace {

// Scalar bar placement and look.
constexpr double kBarPosition[2] = {0.9, 0.1};
constexpr double kBarWidth = 0.1;
constexpr double kBarHeight = 0.8;
constexpr double kBarRatio = 0.1;
constexpr char kBarLabelFormat[] = "%+9.2e";
constexpr int kBarTitleSeparation = 5;

std::string body_of(vtkDataObject* data) {
  const std::string* path = kelm::string_field(data, kelm::kBodyPathArray);
  return path ? *path : std::string("(unnamed)");
}

vtkDataSetAttributes* attributes_of(vtkDataSet* data, bool cell) {
  return cell ? static_cast<vtkDataSetAttributes*>(data->GetCellData())
              : static_cast<vtkDataSetAttributes*>(data->GetPointData());
}

const char* location_name(bool cell) { return cell ? "cell" : "point"; }

// Widens `range` by the finite values of the array (component 0). VTK's plain range skips NaN
// but not infinities (one infinite value would hide every finite one of the leaf); the finite
// range skips both and is empty (inverted) for an array without any finite value.
void widen(FieldRange& range, vtkDataArray* array) {
  double bounds[2];
  array->GetFiniteRange(bounds, 0);
  if (!(bounds[0] <= bounds[1]) || !std::isfinite(bounds[0]) || !std::isfinite(bounds[1])) return;
  if (!range.valid || bounds[0] < range.min) range.min = bounds[0];
  if (!range.valid || bounds[1] > range.max) range.max = bounds[1];
  range.valid = true;
}

vtkDataArray* field_array(vtkDataSet* data, bool cell, const std::string& field_name,
                          const std::string& operation) {
  vtkDataArray* array = attributes_of(data, cell)->GetArray(field_name.c_str());
  if (!array) {
    kelm::raise_key_error(operation, ": the ", data->GetClassName(), " of body '", body_of(data),
                          "' has no ", location_name(cell), " array '", field_name, "'");
  }
  return array;
}

bool all_leaves_unstructured(vtkMultiBlockDataSet* mbds) {
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(mbds->NewIterator());
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    if (!vtkUnstructuredGridBase::SafeDownCast(it->GetCurrentDataObject())) return false;
  }
  return true;
}

void set_normals(vtkPolyDataNormals* normals) {
  normals->SetFeatureAngle(kFeatureAngle);
  normals->ComputePointNormalsOn();
  normals->SplittingOn();
}

void set_feature_edges(vtkFeatureEdges* edges) {
  edges->BoundaryEdgesOff();
  edges->FeatureEdgesOn();
  edges->ManifoldEdgesOff();
  edges->NonManifoldEdgesOn();
}

// Colours `mapper` by the field through the viewer's lookup table and scalar bar.
void color_by_field(SceneObjects& scene, vtkMapper* mapper, bool cell,
                    const std::string& field_name, const FieldRange& range,
                    const std::optional<std::string>& units) {
  if (cell) {
    mapper->SetScalarModeToUseCellFieldData();
  } else {
    mapper->SetScalarModeToUsePointFieldData();
  }
  mapper->SetScalarVisibility(1);
  mapper->SelectColorArray(field_name.c_str());
  mapper->InterpolateScalarsBeforeMappingOn();
  // A field without any finite value is drawn in the NaN colour over an empty range.
  const double lo = range.valid ? range.min : 0.0;
  const double hi = range.valid ? range.max : 0.0;
  mapper->SetScalarRange(lo, hi);
  build_lut(scene.lut, lo, hi);
  mapper->SetLookupTable(scene.lut);
  build_scalar_bar(scene, field_name, units);
}

// The dots on unmapped points of what the field pipeline shows; none for a cell field (the mask
// is per point) or when every point got a value.
void show_unmapped_points(SceneObjects& scene, vtkDataObject* shown, bool cell) {
  vtkSmartPointer<vtkPolyData> cloud =
      cell ? vtkSmartPointer<vtkPolyData>::New() : unmapped_point_cloud(shown);
  scene.unmapped_points_mapper->SetInputData(cloud);
  scene.unmapped_points_mapper->ScalarVisibilityOff();
  vtkActor* actor = scene.unmapped_points_actor;
  actor->SetMapper(scene.unmapped_points_mapper);
  vtkProperty* property = actor->GetProperty();
  property->SetColor(kNanColor[0], kNanColor[1], kNanColor[2]);
  property->SetPointSize(kUnmappedPointSize);
  property->RenderPointsAsSpheresOn();
  actor->SetVisibility(cloud->GetNumberOfPoints() > 0);
}

}  // namespace

FieldRange field_range(vtkDataObject* mbds, bool cell, const std::string& field_name,
                       const std::string& operation) {
  FieldRange range;
  bool found = false;
  auto visit = [&](vtkDataSet* leaf) {
    vtkDataSetAttributes* attributes = attributes_of(leaf, cell);
    vtkDataArray* array = attributes->GetArray(field_name.c_str());
    if (!array) return;
    found = true;
    attributes->SetActiveScalars(field_name.c_str());
    widen(range, array);
  };
  if (auto* single = vtkDataSet::SafeDownCast(mbds)) {
    visit(single);
  } else if (auto* composite = vtkCompositeDataSet::SafeDownCast(mbds)) {
    vtkSmartPointer<vtkCompositeDataIterator> it;
    it.TakeReference(composite->NewIterator());
    it->SkipEmptyNodesOn();
    for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
      if (auto* leaf = vtkDataSet::SafeDownCast(it->GetCurrentDataObject())) visit(leaf);
    }
  }
  if (!found) {
    kelm::raise_key_error(operation, ": no leaf of the ", mbds ? mbds->GetClassName() : "dataset",
                          " has the ", location_name(cell), " array '", field_name, "'");
  }
  return range;
}

void build_lut(vtkLookupTable* lut, double range_min, double range_max) {
  if (!(range_min <= range_max)) {
    kelm::raise_value_error("sceneview.build_lut: range_min ", range_min,
                            " must not be NaN or above range_max ", range_max);
  }
  lut->SetTableRange(range_min, range_max);
  lut->SetHueRange(kHueAtMinimum, kHueAtMaximum);
  lut->SetNanColor(kNanColor[0], kNanColor[1], kNanColor[2], kNanColor[3]);
  lut->Build();
}

void build_scalar_bar(SceneObjects& scene, const std::string& title,
                      const std::optional<std::string>& units) {
  vtkScalarBarActor* bar = scene.scalar_bar_actor;
  bar->SetLookupTable(scene.lut);
  const std::string full_title = units ? title + " ( " + *units + " )" : title;
  bar->SetTitle(full_title.c_str());
  scene.scalar_bar_widget->SetScalarBarActor(bar);
  bar->GetPositionCoordinate()->SetValue(kBarPosition[0], kBarPosition[1]);
  bar->SetOrientationToVertical();
  bar->SetWidth(kBarWidth);
  bar->SetHeight(kBarHeight);
  bar->SetLabelFormat(kBarLabelFormat);
  bar->SetBarRatio(kBarRatio);
  bar->GetLabelTextProperty()->ItalicOff();
  bar->SetVerticalTitleSeparation(kBarTitleSeparation);
  scene.scalar_bar_widget->SetInteractor(scene.render_window_interactor);
  // Before the interactor has its window there is no renderer to attach to and VTK leaves the
  // widget off; the bar itself is drawn as a 2D actor of the scene renderer either way.
  scene.scalar_bar_widget->On();
}

vtkSmartPointer<vtkCompositeDataDisplayAttributes> block_color_attributes(
    vtkMultiBlockDataSet* multi_block_dataset) {
  auto attributes = vtkSmartPointer<vtkCompositeDataDisplayAttributes>::New();
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(multi_block_dataset->NewIterator());
  if (auto* tree = vtkDataObjectTreeIterator::SafeDownCast(it)) tree->VisitOnlyLeavesOn();
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* leaf = it->GetCurrentDataObject();
    vtkFieldData* fields = leaf->GetFieldData();
    if (!fields || !fields->GetAbstractArray(kelm::kColorArray)) continue;
    vtkDataArray* color = fields->GetArray(kelm::kColorArray);
    if (!color || color->GetNumberOfValues() != 3) {
      kelm::raise_value_error(
          "sceneview.create_composite_data_set_attributes_from_block_colors: the \"color\" "
          "array of body '",
          body_of(leaf), "' must hold 3 numbers, not ",
          color ? std::to_string(color->GetNumberOfValues()) + " values" : "text");
    }
    double rgb[3];
    for (int i = 0; i < 3; ++i)
      rgb[i] = color->GetComponent(i / color->GetNumberOfComponents(),
                                   i % color->GetNumberOfComponents());
    attributes->SetBlockColor(leaf, rgb);
  }
  return attributes;
}

void build_mbds_pipeline_with_field(SceneObjects& scene, vtkMultiBlockDataSet* mbds,
                                    const std::string& field_topology,
                                    const std::string& field_name,
                                    const std::optional<std::string>& units) {
  const bool cell = is_cell_topology(field_topology);
  // Checked before anything is rewired, so bad input leaves the pipeline as it was.
  kelm::require_sound_leaves(mbds, "sceneview.build_mbds_pipeline_with_field", kelm::Depth::shapes);
  field_range(mbds, cell, field_name, "sceneview.build_mbds_pipeline_with_field");
  // Points the mapping could not reach are drawn in the NaN colour, not in the colour of 0.
  vtkSmartPointer<vtkDataObject> shown = cell ? mbds : with_unmapped_as_nan(mbds, field_name);
  const FieldRange range =
      field_range(shown, cell, field_name, "sceneview.build_mbds_pipeline_with_field");

  scene.face_poly_filter->SetInputDataObject(without_vertices_beside_faces(shown));
  set_normals(scene.faces_normals_generator);
  scene.faces_normals_generator->SetInputConnection(scene.face_poly_filter->GetOutputPort());
  set_feature_edges(scene.feature_edge_filter);
  scene.feature_edge_filter->SetInputConnection(scene.face_poly_filter->GetOutputPort());

  // After a single surface was shown, face_mapper is a vtkDataSetMapper, which cannot draw a
  // multiblock: the composite mapper comes back.
  auto* mapper = vtkCompositePolyDataMapper2::SafeDownCast(scene.face_mapper);
  if (!mapper) {
    scene.face_mapper = vtkSmartPointer<vtkCompositePolyDataMapper2>::New();
    mapper = vtkCompositePolyDataMapper2::SafeDownCast(scene.face_mapper);
  }
  mapper->SetInputConnection(scene.faces_normals_generator->GetOutputPort());
  scene.cdsa = vtkSmartPointer<vtkCompositeDataDisplayAttributes>::New();
  mapper->SetCompositeDataDisplayAttributes(scene.cdsa);
  color_by_field(scene, mapper, cell, field_name, range, units);

  scene.face_actor->SetMapper(mapper);
  scene.face_actor->GetProperty()->EdgeVisibilityOff();
  scene.feature_edge_mapper->SetInputConnection(scene.feature_edge_filter->GetOutputPort());
  scene.feature_edge_actor->SetMapper(scene.feature_edge_mapper);
  show_unmapped_points(scene, shown, cell);
}

void build_mbds_pipeline_nofield(SceneObjects& scene, vtkMultiBlockDataSet* mbds) {
  kelm::require_sound_leaves(mbds, "sceneview.build_mbds_pipeline_nofield", kelm::Depth::shapes);
  scene.face_filter_nofield->SetInputDataObject(mbds);
  if (all_leaves_unstructured(mbds)) {
    scene.face_poly_filter_nofield->SetInputConnection(scene.face_filter_nofield->GetOutputPort());
  } else {
    // vtkUnstructuredGridGeometryFilter crashes on a polydata leaf (a multiblock of surfaces with
    // fields, for instance); vtkGeometryFilter takes every kind of leaf, so it reads the
    // multiblock itself.
    scene.face_poly_filter_nofield->SetInputDataObject(without_vertices_beside_faces(mbds));
  }
  set_normals(scene.faces_normals_generator_nofield);
  scene.faces_normals_generator_nofield->SetInputConnection(
      scene.face_poly_filter_nofield->GetOutputPort());
  set_feature_edges(scene.feature_edge_filter_nofield);
  scene.feature_edge_filter_nofield->SetInputConnection(
      scene.face_poly_filter_nofield->GetOutputPort());
  scene.face_mapper_nofield->SetInputConnection(
      scene.faces_normals_generator_nofield->GetOutputPort());

  // The colours are keyed by the leaves the mapper will draw, so they are taken from the updated
  // output of the normals filter, not from the input.
  scene.faces_normals_generator_nofield->Update();
  auto* surfaces = vtkMultiBlockDataSet::SafeDownCast(
      scene.faces_normals_generator_nofield->GetOutputDataObject(0));
  if (surfaces) {
    scene.face_mapper_nofield->SetCompositeDataDisplayAttributes(block_color_attributes(surfaces));
  }
  scene.feature_edge_mapper_nofield->SetInputConnection(
      scene.feature_edge_filter_nofield->GetOutputPort());
  scene.face_actor_nofield->SetMapper(scene.face_mapper_nofield);
  scene.face_actor_nofield->GetProperty()->EdgeVisibilityOff();
  scene.feature_edge_actor_nofield->SetMapper(scene.feature_edge_mapper_nofield);
}

void build_polydata_pipeline(SceneObjects& scene, vtkPolyData* dataset,
                             const std::optional<std::string>& field_topology,
                             const std::optional<std::string>& field_name,
                             const std::optional<std::string>& units) {
  const bool with_field = field_topology && field_name;
  const char* operation = "sceneview.build_polydata_pipeline";
  kelm::require_sound_leaves(dataset, operation, kelm::Depth::shapes);

  // Points the mapping could not reach are drawn in the NaN colour, not in the colour of 0.
  vtkSmartPointer<vtkPolyData> original = dataset;
  if (with_field && !is_cell_topology(*field_topology)) {
    field_array(dataset, false, *field_name, operation);  // a missing field raises first
    original = vtkPolyData::SafeDownCast(with_unmapped_as_nan(dataset, *field_name));
    dataset = original;
  }

  if (dataset->GetNumberOfCells() == 0) {  // a point cloud
    const bool colored = with_field && *field_topology == "Point";
    FieldRange range;
    if (colored) {
      range.valid = false;
      widen(range, field_array(dataset, false, *field_name, operation));
    }
    scene.vertexFilter->SetInputData(dataset);
    scene.point_mapper->SetInputConnection(scene.vertexFilter->GetOutputPort());
    if (colored) color_by_field(scene, scene.point_mapper, false, *field_name, range, units);
    scene.point_actor->SetMapper(scene.point_mapper);
    vtkProperty* property = scene.point_actor->GetProperty();
    property->SetPointSize(kPointSize);
    property->RenderPointsAsSpheresOn();
    property->VertexVisibilityOn();
    property->SetVertexColor(kPointColor[0], kPointColor[1], kPointColor[2]);
    return;
  }

  // A surface.
  const bool cell = with_field && is_cell_topology(*field_topology);
  FieldRange range;
  if (with_field) widen(range, field_array(dataset, cell, *field_name, operation));
  set_normals(scene.faces_normals_generator);
  scene.faces_normals_generator->SetInputDataObject(without_vertices_beside_faces(dataset));
  auto mapper = vtkSmartPointer<vtkDataSetMapper>::New();
  mapper->SetInputConnection(scene.faces_normals_generator->GetOutputPort());
  scene.face_mapper = mapper;
  if (with_field) color_by_field(scene, mapper, cell, *field_name, range, units);
  scene.face_actor->SetMapper(mapper);
  scene.face_actor->GetProperty()->EdgeVisibilityOff();
  scene.feature_edge_filter->SetInputConnection(scene.faces_normals_generator->GetOutputPort());
  set_feature_edges(scene.feature_edge_filter);
  scene.feature_edge_mapper->SetInputConnection(scene.feature_edge_filter->GetOutputPort());
  scene.feature_edge_actor->SetMapper(scene.feature_edge_mapper);
  show_unmapped_points(scene, dataset, !with_field || cell);
}

}  // namespace sceneview_core

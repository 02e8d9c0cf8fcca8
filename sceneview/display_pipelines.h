// The three display pipelines of the viewer (a multiblock coloured by a field, a multiblock in its
// block colours, one polydata surface or point cloud), their shared lookup table and scalar bar.
#pragma once

#include <vtkMultiBlockDataSet.h>
#include <vtkPolyData.h>

#include <optional>
#include <string>

#include "scene_objects.h"

namespace sceneview_core {

inline constexpr double kFeatureAngle = 30.0;
inline constexpr double kHueAtMinimum = 0.66667;  // blue
inline constexpr double kHueAtMaximum = 0.0;      // red
inline constexpr double kNanColor[4] = {1.0, 1.0, 0.0, 1.0};
inline constexpr float kPointSize = 10.0f;
inline constexpr double kPointColor[3] = {1.0, 1.0, 0.0};
inline constexpr float kUnmappedPointSize = 7.0f;  // pixels, whatever the model's size

// Where a field's values sit: "Cell" means cell data, any other text point data.
inline bool is_cell_topology(const std::string& field_topology) { return field_topology == "Cell"; }

// Minimum and maximum of a field; `valid` is false when no value is finite (all NaN or empty).
struct FieldRange {
  bool valid = false;
  double min = 0.0;
  double max = 0.0;
};

// The range of the field over all leaves of `mbds`. Each leaf that has the array gets it as its
// active scalars; a leaf without it contributes nothing. Raises kelm::key_error naming the field
// when no leaf has it. `operation` names the caller in messages.
FieldRange field_range(vtkDataObject* mbds, bool cell, const std::string& field_name,
                       const std::string& operation);

// Lookup table over [range_min, range_max], blue to red, NaN in opaque yellow. Raises
// std::invalid_argument for NaN bounds or a minimum above the maximum.
void build_lut(vtkLookupTable* lut, double range_min, double range_max);

// The scalar bar: the lookup table, the title (with " ( units )" when units are given), fixed
// placement and label format; the widget is given the interactor and switched on.
void build_scalar_bar(SceneObjects& scene, const std::string& title,
                      const std::optional<std::string>& units);

// The block colours (field array "color" of each leaf) as display attributes. Raises
// std::invalid_argument for a "color" array that is not three numbers.
vtkSmartPointer<vtkCompositeDataDisplayAttributes> block_color_attributes(
    vtkMultiBlockDataSet* multi_block_dataset);

void build_mbds_pipeline_with_field(SceneObjects& scene, vtkMultiBlockDataSet* mbds,
                                    const std::string& field_topology,
                                    const std::string& field_name,
                                    const std::optional<std::string>& units);

void build_mbds_pipeline_nofield(SceneObjects& scene, vtkMultiBlockDataSet* mbds);

// One polydata: a point cloud (no cells) or a surface. The field is used only when both field
// arguments are given (and, for a point cloud, only on points).
void build_polydata_pipeline(SceneObjects& scene, vtkPolyData* dataset,
                             const std::optional<std::string>& field_topology,
                             const std::optional<std::string>& field_name,
                             const std::optional<std::string>& units);

}  // namespace sceneview_core

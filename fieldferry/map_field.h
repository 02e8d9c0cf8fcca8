// The mapping driver: one scalar field from a source dataset onto every body leaf of the model
// multiblock, in the model's length unit, with an optional distance to the source.
#pragma once

#include <vtkDataSet.h>
#include <vtkMultiBlockDataSet.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "source_copies.h"

namespace fieldferry_core {

enum class MappingAlgorithm {
  point_cloud_or_mesh,
  mesh_only,
  coarse_to_fine,
  surface_projection,
  linear_fit,
  face_average
};

// "Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection", "Linear fit" or
// "Face average"; nothing for any other text.
std::optional<MappingAlgorithm> mapping_algorithm_named(const std::string& name);

// All the names, quoted and joined with ", " (for messages).
std::string mapping_algorithm_names();

// Factor turning a length in the first unit label into the second; only asked when they differ.
using LengthFactor = std::function<double(const std::string& from, const std::string& to)>;

// Kernel radius of "Coarse to fine" when the caller gives none, in metres (converted into the
// model's length unit), so that the same source gives the same values whatever unit it comes in.
inline constexpr double kCoarseToFineRadiusMetres = 0.01;

struct MappingRequest {
  std::string field_name;
  // Further fields of the source mapped with the same geometry onto the same leaves: the source
  // points or cells each target point uses, and their weights, are found once for all of them.
  std::vector<std::string> more_fields;
  // Kernel radius of "Coarse to fine" in model units; none: kCoarseToFineRadiusMetres.
  std::optional<double> coarse_radius;
  // Moves the source after the length-unit scaling (model units); none: it stays where it is.
  std::optional<std::array<double, 16>> transform;
  // Mirrored or turned copies merged with the source first, in its own coordinates (a half or a
  // sector of a CFD model loading a whole structure).
  SourceCopies copies;
  MappingAlgorithm algorithm = MappingAlgorithm::point_cloud_or_mesh;
  vtkDataSet* from_mesh = nullptr;
  vtkMultiBlockDataSet* to_mesh = nullptr;
  bool boundary_only = false;
  bool with_distance = false;  // the caller's tolerance is not None
  double tolerance = 0;        // the caller's tolerance (model units), 0 for None
  // A point cloud's distance volume computed whole by vtkUnsignedDistance (the reference) instead
  // of only at the voxel corners the leaves' resampling reads. Both give the same "Distance".
  bool full_distance_volume = false;
  // A point cloud's "Distance" to its nearest point (through the volume above) instead of to the
  // surface it samples.
  bool cloud_nearest = false;
  // A source whose bounding box misses the model's, or is more than 20 times larger or smaller,
  // raises ValueError instead of printing a warning.
  bool require_overlap = false;
  LengthFactor length_factor;
  // Folder of the two diagnostic files of the distance step; none: they are not written.
  std::optional<std::string> diagnostics_dir;
};

// One mapped leaf: its "Body pathName" (or "block <flat index>" without one), its point count and
// how many of its points got no value from the source ("vtkValidPointMask" 0).
struct MappedLeaf {
  std::string body;
  long long points = 0;
  long long unmapped = 0;
};

// Maps the field onto every non-empty leaf of request.to_mesh in place. Every check of the inputs
// comes before the first leaf is touched; a failure inside a leaf leaves the leaves already
// handled replaced. `mapped` receives one entry per replaced leaf as it goes.
void map_scalar_field_to_mesh(const MappingRequest& request, std::vector<MappedLeaf>& mapped);

}  // namespace fieldferry_core

// The first stage of a mapping: the source as every leaf is mapped from it. Its labels are read
// and checked, its lengths scaled into the model's unit, and its placement compared with the
// model's, before any leaf is touched.
#pragma once

#include <vtkDataSet.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkSmartPointer.h>

#include <array>
#include <optional>
#include <string>

namespace fieldferry_core {

// Raises ValueError naming `operation` unless `factor` is a positive finite number.
double checked_length_factor(double factor, const std::string& operation, const std::string& from,
                             const std::string& to);

// A 4x4 matrix, row after row, of an affine transform (last row 0 0 0 1).
using Matrix4 = std::array<double, 16>;

// `source` in the model's frame: scaled about the origin by `factor` on all three axes (the
// length-unit conversion), then moved by `move` (model units). `source` itself when there is
// nothing to do; otherwise a copy of the same kind (an image becomes a structured grid) keeping
// its point, cell and field data. A "Normals" point or cell array turns as normals do; a move
// that mirrors turns the cells' point order too (mirrored_cells.h), so that a wall's winding
// still points out of the fluid. The one placement of a source: the mapping, the moved source
// written for checking and the force balance all take it from here.
vtkSmartPointer<vtkDataSet> placed_source(vtkDataSet* source, double factor,
                                          const std::optional<Matrix4>& move);

// The bounding box of every point of every non-empty leaf of `model`; false when it has none.
bool model_bounds(vtkMultiBlockDataSet* model, double bounds[6]);

// How far apart a source and a model lie: nothing when their bounding boxes (both in the model's
// length unit `unit`), each grown by `tolerance` and by kOverlapSlack of the model's diagonal,
// overlap and their sizes (diagonals) are within kLargestSizeRatio of each other; otherwise a
// sentence naming both boxes and what is wrong. The check is for a source and a model a unit
// factor apart (a mesh in mm read as m), not for a gap: a wall that stops a rounding short of the
// model's face, or a mid-surface shell half a plate's thickness under the fluid's wall, is a
// normal input.
inline constexpr double kLargestSizeRatio = 20.0;
inline constexpr double kOverlapSlack = 0.05;
std::optional<std::string> bounding_box_mismatch(const double source[6], const double model[6],
                                                 const std::string& unit, double tolerance = 0);

}  // namespace fieldferry_core

// A shell takes the pressure of the side the fluid is on. A mid-surface shell lies between the
// fluid's walls on its two faces (a sign in the wind, a baffle, a blade): each of its faces takes
// p_front - p_back, the pressure of the wall in front of it (along its element normal) less the
// one behind, in the terms of its own element normal. The mesher's choice of normals, which may
// differ from face to face, then changes nothing: the side comes from the source. A node cannot
// carry this (a node between faces turned opposite ways needs +p and -p, a plate wetted on both
// sides two values), so the result is one value per face, which the load writer loads face by
// face.
#pragma once

#include <vtkDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source_index.h"

namespace fieldferry_core {

struct ShellFaces;

// The method of the mapping run from the source faces of one side onto the shell's surface.
using SideMapping = std::function<vtkSmartPointer<vtkDataSet>(SourceIndex& side)>;

class ShellSides {
 public:
  // Nothing when the source has no faces (a point cloud, lines, a volume): it cannot tell a side.
  static std::unique_ptr<ShellSides> of(vtkDataSet* source);

  // Sets the cell array `field` of `mapped` (the shell's `surface` mapped, one cell per cell of
  // `surface`) to each face's net pressure, and the cell array "Wetted sides" (1 in front, 2
  // behind, 3 both, 0 neither). `tolerance`: a side is wetted where a source face of that side
  // lies within it of the face's centre; none: the side of the source face closest to the centre.
  void load(vtkPolyData* surface, vtkDataSet* mapped, const std::string& field,
            std::optional<double> tolerance, const SideMapping& map_side) const;

 private:
  explicit ShellSides(vtkDataSet* source) : source_(source) {}
  // The source faces near the shell (within `reach` of its closest face) by the side they wet.
  void split(vtkPolyData* surface, const ShellFaces& shell, double reach,
             std::vector<vtkIdType>& front, std::vector<vtkIdType>& behind) const;
  vtkSmartPointer<vtkDataSet> source_;
  std::vector<vtkIdType> faces_;  // the source cells that are faces
  std::vector<double> centres_;   // 3 per face
  std::vector<double> normals_;   // 3 per face, unit length
};

}  // namespace fieldferry_core

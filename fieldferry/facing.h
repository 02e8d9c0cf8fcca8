// Which faces of a solid's surface face the source. Distance alone cannot tell the wetted face of
// a thin wall from its dry side: a 2 mm wall under 4 mm CFD faces has both within any tolerance
// that keeps the wetted one. A CFD surface's normals point out of the fluid, onto the wall, and a
// wetted face's outward normal points back into the fluid: against the source's normal.
#pragma once

#include <vtkDataSet.h>
#include <vtkIdList.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <memory>

#include "closest_cell.h"
#include "source_index.h"

namespace fieldferry_core {

// A face faces the source when the source face's normal lies within 60 degrees of the face's
// inward normal. A face edge-on to its source face (the bottom of a building beside the
// building's walls, a thin wall's rim) does not: its sign would be the rounding's, or a degree's
// lean between two meshings of one wall.
inline constexpr double kFacingCosine = 0.5;

// The normal of polygon `ids` of `points` by Newell's method (right-hand rule of its point
// order), not normalised; zero for a degenerate polygon.
void polygon_normal(vtkPoints* points, vtkIdList* ids, double n[3]);

// The corners of a 2-D cell of `type` in the order that turns around its normal, in place (a
// pixel lists its corners row by row; a quadratic face lists its corners first); false for any
// other cell.
bool face_corners(int type, vtkIdList* ids);

class SourceFacing {
 public:
  // Nothing when the source has no faces (a point cloud, lines, a volume): its normals say nothing
  // about which side of a wall it lies on. A grid's faces are its 2-D cells (a source merged from
  // surface and volume parts is judged by its surface cells).
  // The source's faces are searched through `index` (kept by the caller while this is used).
  static std::unique_ptr<SourceFacing> of(SourceIndex& index);

  // Adds the cell array "Faces source" to `mapped` (a solid's surface: one cell per face, in the
  // order of `surface`): 1 for a face whose outward normal points against the normal of the
  // source's face closest to its centre (by kFacingCosine), 0 otherwise. Vertices and lines count
  // as facing.
  void mark(vtkPolyData* surface, vtkDataSet* mapped) const;

 private:
  SourceFacing(vtkPolyData* faces, SourceIndex& index);
  vtkSmartPointer<vtkPolyData> faces_;
  const ClosestCells& closest_;  // the source's faces, indexed once for every leaf
};

}  // namespace fieldferry_core

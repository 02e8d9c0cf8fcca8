// Putting the output of a threaded VTK filter back into the order of the dataset it came from.
//
// The surface, geometry and threshold filters run on VTK's SMP backend and hand out their cells
// and points in an order that changes from run to run. Everything downstream (the mapped leaves,
// the node and face lists of a host load, the recorded script text) would then change order with
// them, so a module orders such output by original IDs before it leaves the module.
#pragma once

#include <vtkDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

namespace kelm {

// A shallow copy of `data` whose point data and cell data carry one more array each, `point_ids`
// and `cell_ids`: every point's and cell's position in `data`. Filters copy them like any other
// array, so they survive where a filter's own pass-through IDs do not (VTK 9.1's surface filter
// numbers them wrongly for quadratic cells).
vtkSmartPointer<vtkDataSet> numbered_copy(vtkDataSet* data, const char* point_ids,
                                          const char* cell_ids);

// Reorders `poly` in place and removes the two ID arrays afterwards:
// - points by ascending value of the point array `point_ids` (each point's position in the
//   filter's input);
// - the cells of each kind (vertices, lines, polygons, strips; the kinds keep their order) by
//   ascending value of the cell array `cell_ids`, several cells of one input cell (the faces of
//   a solid) by their sequence of original point IDs, smallest first.
// Cell data follows the cells and point data the points. An array that is missing leaves that
// side in the order it has.
void order_by_original_ids(vtkPolyData* poly, const char* point_ids, const char* cell_ids);

}  // namespace kelm

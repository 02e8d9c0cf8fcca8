// The per-leaf stages of a mapping around the method: the target as the method maps onto it, and
// the mapped dataset tagged with the body's identity and the field's unit.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <string>
#include <vector>

namespace fieldferry_core {

// `leaf` as a mapping samples onto it: its outer surface when `boundary_only`, and without what
// an earlier mapping left on it (the point and cell arrays of the fields mapped now,
// "vtkValidPointMask", the point and cell arrays "Distance", the cell array "Faces source" and the
// field data "Source area covered"), so that neither the method, the distance stage nor the load
// can take them for this mapping's. The leaf itself is not changed.
vtkSmartPointer<vtkDataSet> prepare_target(vtkDataSet* leaf, bool boundary_only,
                                           const std::vector<std::string>& fields);

// Adds the body's "Body pathName", "mesh_type" and "mesh_order" (taken from `target`, else from
// `leaf`) to the field data of `mapped`.
void tag_mapped_leaf(vtkDataSet* mapped, vtkDataSet* target, vtkDataSet* leaf);

}  // namespace fieldferry_core

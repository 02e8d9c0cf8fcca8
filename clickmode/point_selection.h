// The points of the pick target inside an area pick's frustum, and how they are drawn.
#pragma once

#include <vtkActor.h>
#include <vtkCompositePolyDataMapper2.h>
#include <vtkDataObject.h>
#include <vtkImplicitFunction.h>
#include <vtkSmartPointer.h>

namespace clickmode_core {

// Colour and point size of the picked points.
inline constexpr double kSelectionColor[3] = {1.0, 0.0, 0.0};
inline constexpr float kSelectionPointSize = 3.0f;

// The points of the cells of `target` that lie inside `frustum`, one vertex per point: a
// multiblock of polydata for a multiblock target (one leaf per target leaf), a polydata for a
// single dataset. A point without a position (a NaN or infinite coordinate) is never inside.
// `target` is not modified.
vtkSmartPointer<vtkDataObject> points_inside_frustum(vtkDataObject* target,
                                                     vtkImplicitFunction* frustum);

// Number of points of a selection, over all leaves.
vtkIdType selection_point_count(vtkDataObject* selection);

// Hands `selection` to the selection mapper (replacing the previous one) and styles the actor:
// red points of size 3, no scalar colouring.
void show_selection(vtkDataObject* selection, vtkCompositePolyDataMapper2* mapper, vtkActor* actor);

}  // namespace clickmode_core

// What the face actors draw of a mapped surface.
//
// A mapped quadratic body carries its mid-side nodes as vertex cells beside its polygons (so that
// they get values and temperature loads). Drawn with the faces they would be one-pixel specks, and
// black ones: the normals filter gives a point without faces a zero normal, which lighting turns
// dark. Their colour is already in the surface (the faces interpolate it), so the face pipelines
// leave them out.
#pragma once

#include <vtkDataObject.h>
#include <vtkSmartPointer.h>

namespace sceneview_core {

// `data` (a dataset or a multiblock) with the vertex cells of every polydata leaf that also has
// lines or polygons removed, cell data following. Leaves that need no change are shared, and
// `data` itself comes back when none does; the caller's datasets are never changed.
vtkSmartPointer<vtkDataObject> without_vertices_beside_faces(vtkDataObject* data);

}  // namespace sceneview_core

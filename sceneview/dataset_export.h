// Writing any VTK dataset as VTK XML, the writer chosen by the dataset's type.
#pragma once

#include <vtkDataObject.h>

#include <string>

namespace sceneview_core {

// Writes `dataset` to `filename` + "." + the writer's default extension (vtm, vtu, vtp, vti),
// binary or ASCII, and returns the file's name. A dataset of another type prints
// "No writer configure for <type>", writes nothing and returns "". Raises kelm::os_error
// when the file cannot be written.
std::string export_vtk_file(vtkDataObject* dataset, const std::string& filename, bool binary);

}  // namespace sceneview_core

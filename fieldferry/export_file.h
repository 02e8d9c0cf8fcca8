// Writes a dataset as VTK XML, the writer chosen by the dataset's type.
#pragma once

#include <vtkDataObject.h>

#include <string>

namespace fieldferry_core {

enum class ExportResult { written, skipped, failed };

// Writes `dataset` to `filename` + "." + the writer's default extension (vtm, vtu, vtp or vti for
// a multiblock, unstructured grid, polydata or image, tested in that order), binary or ASCII.
// A dataset of any other type is skipped. `written_path` receives the full file name.
ExportResult export_vtk_file(vtkDataObject* dataset, const std::string& filename, bool binary,
                             std::string* written_path = nullptr);

// The same, the arrays appended raw (neither encoded nor compressed): what the mapping's
// diagnostic files use, as compressing a ten-million-point source took longer than mapping it.
ExportResult export_raw_vtk_file(vtkDataObject* dataset, const std::string& filename);

}  // namespace fieldferry_core

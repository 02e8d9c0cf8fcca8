#include "dataset_export.h"

#include <stdexcept>

#include "common/errors.h"
#include "common/print_sink.h"
#include "fieldferry/export_file.h"  // fieldferry's writer table: one table for the whole system

namespace sceneview_core {

std::string export_vtk_file(vtkDataObject* dataset, const std::string& filename, bool binary) {
  std::string path;
  switch (fieldferry_core::export_vtk_file(dataset, filename, binary, &path)) {
    case fieldferry_core::ExportResult::skipped:
      kelm::print_line(std::string("No writer configure for ") + dataset->GetClassName());
      return "";
    case fieldferry_core::ExportResult::failed:
      kelm::raise_os_error("sceneview.export_vtk_file: could not write '", path, "'");
    case fieldferry_core::ExportResult::written:
      break;
  }
  return path;
}

}  // namespace sceneview_core

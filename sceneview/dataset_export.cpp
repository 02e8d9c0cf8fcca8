#include "dataset_export.h"

#include <vtkImageData.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnstructuredGrid.h>
#include <vtkXMLImageDataWriter.h>
#include <vtkXMLMultiBlockDataWriter.h>
#include <vtkXMLPolyDataWriter.h>
#include <vtkXMLUnstructuredGridWriter.h>
#include <vtkXMLWriter.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "common/errors.h"
#include "common/print_sink.h"

namespace sceneview_core {

namespace {

// The first matching type wins, in this order.
vtkSmartPointer<vtkXMLWriter> writer_for(vtkDataObject* dataset) {
  if (vtkMultiBlockDataSet::SafeDownCast(dataset)) {
    return vtkSmartPointer<vtkXMLMultiBlockDataWriter>::New();
  }
  if (vtkUnstructuredGrid::SafeDownCast(dataset)) {
    return vtkSmartPointer<vtkXMLUnstructuredGridWriter>::New();
  }
  if (vtkPolyData::SafeDownCast(dataset)) return vtkSmartPointer<vtkXMLPolyDataWriter>::New();
  if (vtkImageData::SafeDownCast(dataset)) return vtkSmartPointer<vtkXMLImageDataWriter>::New();
  return nullptr;
}

}  // namespace

std::string export_vtk_file(vtkDataObject* dataset, const std::string& filename, bool binary) {
  vtkSmartPointer<vtkXMLWriter> writer = writer_for(dataset);
  if (!writer) {
    kelm::print_line(std::string("No writer configure for ") + dataset->GetClassName());
    return "";
  }
  const std::string path = filename + "." + writer->GetDefaultFileExtension();
  {
    std::ofstream probe(path, std::ios::binary | std::ios::trunc);
    if (!probe) {
      throw std::runtime_error(kelm::message("sceneview.export_vtk_file: cannot write '", path,
                                             "': ", std::strerror(errno)));
    }
  }
  if (binary) {
    writer->SetDataModeToBinary();
  } else {
    writer->SetDataModeToAscii();
  }
  writer->SetInputDataObject(dataset);
  writer->SetFileName(path.c_str());
  if (writer->Write() != 1 || writer->GetErrorCode() != 0) {
    throw std::runtime_error(
        kelm::message("sceneview.export_vtk_file: writing '", path, "' failed"));
  }
  return path;
}

}  // namespace sceneview_core

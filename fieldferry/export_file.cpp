#include "export_file.h"

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

namespace fieldferry_core {

namespace {

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

enum class Encoding { ascii, binary, raw };

ExportResult write(vtkDataObject* dataset, const std::string& filename, Encoding encoding,
                   std::string* written_path) {
  vtkSmartPointer<vtkXMLWriter> writer = writer_for(dataset);
  if (!writer) return ExportResult::skipped;
  const std::string path = filename + "." + writer->GetDefaultFileExtension();
  if (written_path) *written_path = path;
  if (encoding == Encoding::binary) {
    writer->SetDataModeToBinary();
  } else if (encoding == Encoding::ascii) {
    writer->SetDataModeToAscii();
  } else {
    writer->SetDataModeToAppended();
    writer->EncodeAppendedDataOff();
    writer->SetCompressorTypeToNone();
  }
  writer->SetInputDataObject(dataset);
  writer->SetFileName(path.c_str());
  const bool ok = writer->Write() == 1 && writer->GetErrorCode() == 0;
  return ok ? ExportResult::written : ExportResult::failed;
}

}  // namespace

ExportResult export_vtk_file(vtkDataObject* dataset, const std::string& filename, bool binary,
                             std::string* written_path) {
  return write(dataset, filename, binary ? Encoding::binary : Encoding::ascii, written_path);
}

ExportResult export_raw_vtk_file(vtkDataObject* dataset, const std::string& filename) {
  return write(dataset, filename, Encoding::raw, nullptr);
}

}  // namespace fieldferry_core

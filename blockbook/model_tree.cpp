#include "model_tree.h"

#include <vtkCompositeDataSet.h>
#include <vtkDataObjectTreeIterator.h>
#include <vtkErrorCode.h>
#include <vtkInformation.h>
#include <vtkSmartPointer.h>
#include <vtkXMLMultiBlockDataWriter.h>

#include <filesystem>
#include <stdexcept>

#include "common/errors.h"
#include "common/tag_arrays.h"

namespace blockbook_core {

unsigned append_named_block(vtkMultiBlockDataSet* parent, vtkDataObject* child,
                            const std::string& name) {
  const unsigned index = parent->GetNumberOfBlocks();
  parent->SetBlock(index, child);
  parent->GetMetaData(index)->Set(vtkCompositeDataSet::NAME(), name.c_str());
  return index;
}

void set_unit_label(vtkMultiBlockDataSet* root, const std::string& label) {
  kelm::add_string_field(root, kelm::kUnitLabelArray, label);
}

std::string model_length_unit(vtkMultiBlockDataSet* root) {
  const std::string* label = kelm::string_field(root, kelm::kUnitLabelArray);
  if (!label) {
    kelm::raise_key_error(
        "blockbook.get_model_length_unit: the model root has no "
        "\"unit_system_label\" field array; call set_model_units first");
  }
  return label->substr(0, label->find('-'));
}

std::vector<GridEntry> grids_by_path(vtkMultiBlockDataSet* root) {
  std::vector<GridEntry> entries;
  vtkSmartPointer<vtkDataObjectTreeIterator> it;
  it.TakeReference(root->NewTreeIterator());
  it->SetVisitOnlyLeaves(false);
  it->SetSkipEmptyNodes(false);
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    auto* grid = vtkUnstructuredGrid::SafeDownCast(it->GetCurrentDataObject());
    if (!grid) continue;
    if (const std::string* path = kelm::string_field(grid, kelm::kBodyPathArray)) {
      entries.push_back({grid, it->GetCurrentFlatIndex(), *path});
    }
  }
  return entries;
}

void save_multiblock(vtkMultiBlockDataSet* root, const std::string& file_name,
                     const std::string& mode) {
  auto writer = vtkSmartPointer<vtkXMLMultiBlockDataWriter>::New();
  writer->SetFileName(file_name.c_str());
  writer->SetInputData(root);
  writer->SetDataModeToBinary();
  if (mode == "ascii") writer->SetDataModeToAscii();
  // The composite writer can report success after failing to create its piece folder, so its
  // error code and the file itself are checked too.
  const bool written = writer->Write() != 0 && writer->GetErrorCode() == vtkErrorCode::NoError &&
                       std::filesystem::exists(file_name);
  if (!written) {
    kelm::raise_os_error("blockbook.save: could not write '", file_name, "'");
  }
}

}  // namespace blockbook_core

#include "body_map.h"

#include <vtkDataObjectTreeIterator.h>
#include <vtkSmartPointer.h>

#include "common/errors.h"
#include "common/tag_arrays.h"

namespace fieldgraft_core {

std::vector<std::pair<std::string, vtkDataObject*>> body_datasets(vtkMultiBlockDataSet* model,
                                                                  const std::string& operation) {
  auto it = vtkSmartPointer<vtkDataObjectTreeIterator>::Take(model->NewTreeIterator());
  it->VisitOnlyLeavesOn();
  it->SkipEmptyNodesOn();
  std::vector<std::pair<std::string, vtkDataObject*>> out;
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* leaf = it->GetCurrentDataObject();
    const std::string* path = kelm::string_field(leaf, kelm::kBodyPathArray);
    if (!path) {
      kelm::raise_key_error(operation, ": the model leaf at flat index ", it->GetCurrentFlatIndex(),
                            " (a ", leaf->GetClassName(), ") has no \"", kelm::kBodyPathArray,
                            "\" field array; the model ",
                            "multiblock must hold tagged mesh bodies only");
    }
    out.emplace_back(*path, leaf);
  }
  return out;
}

}  // namespace fieldgraft_core

#include "leaf_check.h"

#include <vtkCompositeDataIterator.h>
#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include "common/errors.h"

namespace sceneview_core {

void require_dataset_leaves(vtkMultiBlockDataSet* mbds, const std::string& operation) {
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(mbds->NewIterator());
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* leaf = it->GetCurrentDataObject();
    if (vtkDataSet::SafeDownCast(leaf)) continue;
    kelm::raise_type_error(operation, ": leaf ", it->GetCurrentFlatIndex(),
                           " of the multiblock is a ", leaf->GetClassName(),
                           ", not a dataset (vtkDataSet) that can be drawn");
  }
}

}  // namespace sceneview_core

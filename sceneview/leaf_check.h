// Checks of a multiblock before a pipeline is built on it. VTK's geometry filters read every leaf
// of a multiblock as a dataset; a leaf of another kind (a vtkTable, say) makes them read memory
// that is not there, so such a multiblock is refused up front.
#pragma once

#include <vtkMultiBlockDataSet.h>

#include <string>

namespace sceneview_core {

// Raises kelm::type_error naming `operation`, the leaf's flat index and class (and body) when a
// non-empty leaf of `mbds` is not a vtkDataSet.
void require_dataset_leaves(vtkMultiBlockDataSet* mbds, const std::string& operation);

}  // namespace sceneview_core

// Splitting the model multiblock into the blocks that carry a load and the rest.
#pragma once

#include <vtkMultiBlockDataSet.h>
#include <vtkSmartPointer.h>

#include <vector>

namespace treewalk_core {

// The blocks of `model` at the given flat indices, through vtkExtractBlock (the tree above each
// selected block is kept, unselected siblings are dropped).
vtkSmartPointer<vtkMultiBlockDataSet> extract_blocks(vtkMultiBlockDataSet* model,
                                                     const std::vector<unsigned>& flat_indices);

// The entries of `all` that are not in `omitted`, in the order of `all`.
std::vector<unsigned> retained_blocks(const std::vector<unsigned>& all,
                                      const std::vector<unsigned>& omitted);

}  // namespace treewalk_core

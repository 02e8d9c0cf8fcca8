// The model multiblock's leaves by "Body pathName": what both field drivers look bodies up in.
#pragma once

#include <vtkDataObject.h>
#include <vtkMultiBlockDataSet.h>

#include <string>
#include <utility>
#include <vector>

namespace fieldgraft_core {

// Every non-empty leaf of `model` with the value 0 of its "Body pathName" field array, in
// traversal order (a later leaf with the same name takes the name over when the pairs are put in a
// map). Raises kelm::key_error naming the leaf when one has no "Body pathName": the whole map is
// refused, whether or not a field names that body.
std::vector<std::pair<std::string, vtkDataObject*>> body_datasets(vtkMultiBlockDataSet* model,
                                                                  const std::string& operation);

}  // namespace fieldgraft_core

// The earlier field format names its own value array ("scalar_name"). Any name is used as given,
// except the names of the body's tag arrays: the array is added to the model's own body grid, and
// a field called "Node ID" would overwrite the node IDs every later lookup depends on.
#pragma once

#include <string>

#include "fieldgraft/body_tags.h"

namespace skinfield_core {

// Raises ValueError when `scalar_name` is the name of a tag array ("Node ID", "Element ID").
void require_scalar_name(const std::string& scalar_name, const fieldgraft_core::Target& target);

}  // namespace skinfield_core

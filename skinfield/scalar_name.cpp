#include "scalar_name.h"

#include "common/errors.h"
#include "common/tag_arrays.h"

namespace skinfield_core {

void require_scalar_name(const std::string& scalar_name, const fieldgraft_core::Target& target) {
  if (scalar_name == kelm::kNodeIdArray || scalar_name == kelm::kElementIdArray) {
    kelm::raise_value_error(target.operation, ": \"scalar_name\" of body '", target.body, "' is '",
                            scalar_name, "', the name of a tag array of the body; the field would ",
                            "overwrite it");
  }
}

}  // namespace skinfield_core

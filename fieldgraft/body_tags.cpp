#include "body_tags.h"

#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkUnsignedIntArray.h>
#include <vtkVariant.h>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"

namespace fieldgraft_core {

void require_sound_body(vtkDataSet* grid, const Target& target) {
  kelm::require_sound_dataset(grid, target.operation, "body '" + target.body + "'",
                              kelm::Depth::shapes);
}

std::string body_path_of(vtkDataObject* dataset) {
  const std::string* path = kelm::string_field(dataset, kelm::kBodyPathArray);
  return path ? *path : std::string("(unnamed body)");
}

namespace {

bool is_integral(int type) {
  switch (type) {
    case VTK_CHAR:
    case VTK_SIGNED_CHAR:
    case VTK_UNSIGNED_CHAR:
    case VTK_SHORT:
    case VTK_UNSIGNED_SHORT:
    case VTK_INT:
    case VTK_UNSIGNED_INT:
    case VTK_LONG:
    case VTK_UNSIGNED_LONG:
    case VTK_LONG_LONG:
    case VTK_UNSIGNED_LONG_LONG:
    case VTK_ID_TYPE:
      return true;
  }
  return false;
}

}  // namespace

TagIds tag_ids(vtkDataSet* dataset, Attachment where, const char* name, const Target& target) {
  vtkFieldData* data = where == Attachment::points
                           ? static_cast<vtkFieldData*>(dataset->GetPointData())
                           : static_cast<vtkFieldData*>(dataset->GetCellData());
  const char* kind = where == Attachment::points ? "point" : "cell";
  vtkAbstractArray* abstract = data->GetAbstractArray(name);
  if (!abstract) {
    kelm::raise_key_error(target.operation, ": body '", target.body, "' has no ", kind,
                          " data array \"", name, "\"");
  }
  auto* array = vtkDataArray::SafeDownCast(abstract);
  if (!array || !is_integral(array->GetDataType()) || array->GetNumberOfComponents() != 1) {
    kelm::raise_type_error(target.operation, ": the ", kind, " data array \"", name, "\" of body '",
                           target.body, "' must hold one integer per ", kind, ", got a ",
                           abstract->GetClassName(), " of ", abstract->GetNumberOfComponents(),
                           " components");
  }
  const vtkIdType n = array->GetNumberOfTuples();
  const vtkIdType expected =
      where == Attachment::points ? dataset->GetNumberOfPoints() : dataset->GetNumberOfCells();
  if (n != expected) {
    kelm::raise_value_error(target.operation, ": the ", kind, " data array \"", name,
                            "\" of body '", target.body, "' has ", n, " entries for ", expected,
                            " ", kind, "s");
  }
  TagIds ids;
  ids.size = std::size_t(n);
  if (auto* exact = vtkUnsignedIntArray::SafeDownCast(array)) {
    ids.data = n > 0 ? exact->GetPointer(0) : nullptr;
    return ids;
  }
  ids.storage.resize(ids.size);
  for (vtkIdType i = 0; i < n; ++i) {
    const double id = array->GetTuple1(i);
    if (id < 0 || id > 4294967295.0) {
      kelm::raise_value_error(target.operation, ": ", kind, " data array \"", name, "\" of body '",
                              target.body, "' holds ", array->GetVariantValue(i).ToString(),
                              " at position ", i, ", outside the host ID range [0, 4294967295]");
    }
    ids.storage[std::size_t(i)] = static_cast<uint32_t>(id);
  }
  ids.data = ids.storage.data();
  return ids;
}

TagLookup::TagLookup(vtkDataSet* dataset, Attachment where, const char* name, const char* kind,
                     const Target& target, const char* table_of)
    : kind_(kind), target_(target) {
  const TagIds ids = tag_ids(dataset, where, name, target);
  lookup_ = kelm::IdLookup(ids.data, ids.size);
  size_ = ids.size;
  table_ = kelm::message("the \"", name, "\" ", where == Attachment::points ? "point" : "cell",
                         " array of ", table_of ? table_of : "", "body '", target.body, "'");
}

uint32_t TagLookup::at(uint32_t id) const {
  const uint32_t position = lookup_.find(id);
  if (position == kelm::IdLookup::kAbsent) {
    kelm::raise_key_error(target_.operation, ": ", kind_, " ID ", id, " is not in ", table_);
  }
  return position;
}

void require_field_name(const std::string& scalar_field_name, const Target& target) {
  if (scalar_field_name != "Pressure" && scalar_field_name != "Temperature") {
    kelm::raise_value_error(target.operation, ": field name '", scalar_field_name, "' for body '",
                            target.body,
                            "' is not supported; expected \"Pressure\" or \"Temperature\"");
  }
}

void require_count(std::size_t count, std::size_t expected, const std::string& what,
                   const std::string& of, const Target& target) {
  if (count != expected) {
    kelm::raise_value_error(target.operation, ": \"", what, "\" of body '", target.body, "' has ",
                            count, " entries; expected ", expected, ", one per entry of \"", of,
                            "\"");
  }
}

}  // namespace fieldgraft_core

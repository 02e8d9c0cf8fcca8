// Reading a body's tag arrays ("Node ID" on points, "Element ID" on cells) for the field builders,
// and the common frame of every builder: which operation, which body, the finished result.
#pragma once

#include <vtkDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/id_lookup.h"

namespace fieldgraft_core {

// The dictionary keys a body field's lists came from, for messages (the bindings set them; the
// defaults describe the lists for C++ callers).
struct FieldKeys {
  std::string ids = "IDs";                 // node or element IDs
  std::string elements = "element_ids";    // owning elements of faces
  std::string faces = "face_identifiers";  // face numbers or face node-ID rows
  std::string values = "values";
};

// Names the operation, the body and the field's keys in messages.
struct Target {
  std::string operation;
  std::string body;
  FieldKeys keys = {};
};

// What a builder has left to do once its input has been checked: writes (to the body grid or to
// the new surface) happen only here, so a driver can check every body before it changes any.
using FinishBuild = std::function<vtkSmartPointer<vtkPolyData>()>;

// "Body pathName" of `dataset`, or "(unnamed body)".
std::string body_path_of(vtkDataObject* dataset);

// The common dataset check at the depth the builders need (each cell's shape too: the surface
// filters build cells of their type), naming the body of `target`.
void require_sound_body(vtkDataSet* grid, const Target& target);

enum class Attachment { points, cells };

// The IDs of a tag array in point / cell order: the array's own memory when it holds unsigned
// 32-bit values (as every exported body does), else a converted copy. Valid while the array lives.
struct TagIds {
  const uint32_t* data = nullptr;
  std::size_t size = 0;
  std::vector<uint32_t> storage;

  uint32_t operator[](std::size_t i) const { return data[i]; }
};

// The tag array `name` of the point or cell data of `dataset`, one entry per point / cell.
// Raises kelm::key_error when the array is missing, kelm::type_error when it is not integral,
// ValueError when its length is wrong or an ID does not fit in 32 bits.
TagIds tag_ids(vtkDataSet* dataset, Attachment where, const char* name, const Target& target);

// A lookup over tag_ids that names its table in messages: "node ID 7 is not in the "Node ID"
// point array of body 'B'".
class TagLookup {
 public:
  TagLookup(vtkDataSet* dataset, Attachment where, const char* name, const char* kind,
            const Target& target, const char* table_of = nullptr);

  // Position of `id`; raises kelm::key_error naming the ID, the body and this table.
  uint32_t at(uint32_t id) const;
  std::size_t size() const { return size_; }

 private:
  kelm::IdLookup lookup_;
  std::size_t size_ = 0;
  std::string kind_, table_;
  const Target& target_;
};

// Raises ValueError unless `scalar_field_name` is "Pressure" or "Temperature".
void require_field_name(const std::string& scalar_field_name, const Target& target);

// Raises ValueError when the list under key `what` does not have `expected` entries, one per entry
// of the list under key `of`.
void require_count(std::size_t count, std::size_t expected, const std::string& what,
                   const std::string& of, const Target& target);

}  // namespace fieldgraft_core

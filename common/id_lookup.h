// Host ID -> position in one dataset (a point or cell index).
//
// Host IDs are unsigned 32-bit. The table is dense (4 bytes per ID up to the largest ID, filled
// with a sentinel) when the IDs are compact enough for that to be cheap; a body whose IDs are
// sparse (say one node numbered 4,000,000,000) falls back to a hash table instead of asking for 16
// GB. Either way a lookup never reads a slot that was not written: an absent ID is reported, not
// answered with garbage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kelm {

class IdLookup {
 public:
  static constexpr uint32_t kAbsent = 0xFFFFFFFFu;

  IdLookup() = default;
  // ids: n host IDs; position i is recorded for ids[i]. A repeated ID keeps its last position.
  IdLookup(const uint32_t* ids, std::size_t n);

  // Position of `id`, or kAbsent.
  uint32_t find(uint32_t id) const {
    if (dense_) return id < table_.size() ? table_[id] : kAbsent;
    auto it = sparse_.find(id);
    return it == sparse_.end() ? kAbsent : it->second;
  }

  // Position of `id`; raises kelm::key_error "<kind> ID <id> is not in body '<body>'" when absent.
  uint32_t at(uint32_t id, const char* kind, const std::string& body) const;

  bool contains(uint32_t id) const { return find(id) != kAbsent; }
  bool is_dense() const { return dense_; }

 private:
  bool dense_ = true;
  std::vector<uint32_t> table_;
  std::unordered_map<uint32_t, uint32_t> sparse_;
};

}  // namespace kelm

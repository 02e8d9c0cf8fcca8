#include "common/id_lookup.h"

#include <algorithm>

#include "common/errors.h"

namespace kelm {

IdLookup::IdLookup(const uint32_t* ids, std::size_t n) {
  uint32_t largest = 0;
  for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, ids[i]);
  // A dense table costs 4 bytes per ID value; allow it up to a few times the entry count.
  const std::size_t dense_size = std::size_t(largest) + 1;
  dense_ = n == 0 || dense_size <= 8 * n + (std::size_t(1) << 20);
  if (dense_) {
    table_.assign(n == 0 ? 0 : dense_size, kAbsent);
    for (std::size_t i = 0; i < n; ++i) table_[ids[i]] = static_cast<uint32_t>(i);
  } else {
    sparse_.reserve(n);
    for (std::size_t i = 0; i < n; ++i) sparse_[ids[i]] = static_cast<uint32_t>(i);
  }
}

uint32_t IdLookup::at(uint32_t id, const char* kind, const std::string& body) const {
  const uint32_t position = find(id);
  if (position == kAbsent) raise_key_error(kind, " ID ", id, " is not in body '", body, "'");
  return position;
}

}  // namespace kelm

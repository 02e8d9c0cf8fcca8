// The faces of a body that are met an odd number of times while its cells are walked: an
// open-addressing hash of small sorted keys, for finding a volume's boundary with memory that
// follows the faces alive at a time (about a cross-section plus the boundary when the cells come in
// the locality order of FE exports) rather than every face of the volume.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fieldferry_core {

// `Id` is the narrowest unsigned type that holds every point and cell ID of the body: the table's
// size and the cache misses of its probes are what the walk costs.
template <class Id>
class FaceSet {
 public:
  // A face by its corner IDs, ascending; a triangle's fourth entry is kNone.
  using Key = std::array<Id, 4>;
  static constexpr Id kNone = ~Id(0);

  struct Entry {
    Key key;
    Id cell;            // the body cell the face was first met in
    std::uint8_t face;  // its face number in that cell
    std::uint8_t used;  // 0 for an empty slot
  };

  // `first_eviction`: the table size at which faces first leave it (small only in tests).
  explicit FaceSet(std::size_t first_eviction = std::size_t(1) << 16)
      : first_eviction_(first_eviction), evict_at_(first_eviction) {
    slots_.resize(kInitialSlots);
  }

  // Inserts the face if it is not in the set, removes it if it is (a face two cells share).
  void toggle(const Key& key, Id cell, std::uint8_t face) {
    std::size_t i = slot_of(key);
    while (slots_[i].used) {
      if (slots_[i].key == key) {
        erase_at(i);
        return;
      }
      i = (i + 1) & mask();
    }
    slots_[i] = Entry{key, cell, face, 1};
    if (++size_ > evict_at_) evict(cell);
    if (size_ * 2 > slots_.size()) grow();
  }

  // The faces met an odd number of times: those in the table and, of those set aside, the ones
  // whose partner never came.
  std::vector<Entry> remaining() const {
    std::vector<Entry> all = aside_;
    for (const Entry& e : slots_) {
      if (e.used) all.push_back(e);
    }
    if (aside_.empty()) return all;
    std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::vector<Entry> odd;
    for (std::size_t i = 0; i < all.size();) {
      std::size_t j = i + 1;
      while (j < all.size() && all[j].key == all[i].key) ++j;
      if ((j - i) % 2) odd.push_back(all[j - 1]);
      i = j;
    }
    return odd;
  }

 private:
  static constexpr std::size_t kInitialSlots = 1024;

  std::size_t mask() const { return slots_.size() - 1; }

  std::size_t slot_of(const Key& key) const {
    std::uint64_t h = 0;
    for (Id k : key) h = (h ^ std::uint64_t(k)) * 0x9E3779B97F4A7C15ull;
    return std::size_t(h ^ (h >> 29)) & mask();
  }

  // Linear probing with backward shift: no tombstones, so a long walk leaves no debris behind.
  void erase_at(std::size_t hole) {
    --size_;
    for (std::size_t i = (hole + 1) & mask(); slots_[i].used; i = (i + 1) & mask()) {
      const std::size_t home = slot_of(slots_[i].key);
      // Move the entry into the hole unless its home lies cyclically in (hole, i].
      if (((i - home) & mask()) >= ((i - hole) & mask())) {
        slots_[hole] = slots_[i];
        hole = i;
      }
    }
    slots_[hole].used = 0;
  }

  // Most faces find their partner within a cross-section's worth of cells; those that have waited
  // a whole period (the boundary, mostly) leave the table for a plain list, so that the table the
  // walk probes stays small enough for the cache. Each period is twice the table's size after the
  // last one, so the work of moving faces stays proportional to the faces.
  void evict(Id now) {
    std::vector<Entry> old(slots_.size());
    old.swap(slots_);
    size_ = 0;
    for (const Entry& e : old) {
      if (!e.used) continue;
      if (e.cell < period_start_) {
        aside_.push_back(e);
        continue;
      }
      std::size_t i = slot_of(e.key);
      while (slots_[i].used) i = (i + 1) & mask();
      slots_[i] = e;
      ++size_;
    }
    period_start_ = now;
    evict_at_ = std::max(first_eviction_, 2 * size_);
  }

  void grow() {
    std::vector<Entry> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Entry& e : old) {
      if (!e.used) continue;
      std::size_t i = slot_of(e.key);
      while (slots_[i].used) i = (i + 1) & mask();
      slots_[i] = e;
    }
  }

  std::vector<Entry> slots_;
  std::size_t size_ = 0;
  std::vector<Entry> aside_;
  Id period_start_ = 0;
  std::size_t first_eviction_;
  std::size_t evict_at_;
};

}  // namespace fieldferry_core

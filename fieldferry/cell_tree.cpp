#include "cell_tree.h"

#include <vtkSMPTools.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace fieldferry_core {

namespace {

// A leaf holds at most this many cells: enough that the last levels of boxes are not read for
// every few cells, few enough that a leaf's cells are all near one another.
constexpr std::int64_t kLeafCells = 8;
// Bits per axis of the coarse key every cell gets; a run of more than a leaf of cells under one
// coarse key is sorted again by a key of 21 bits per axis over the run's own extent. So the sort
// of all cells stays short, and a patch of fine cells in a corner of a wide source is still cut
// down to single cells.
constexpr int kCoarseBits = 10;

// The low `bits` bits of v spread to every third bit.
std::uint64_t spread(std::uint64_t v, int bits) {
  v &= (std::uint64_t{1} << bits) - 1;
  v = (v | v << 32) & 0x1f00000000ffffULL;
  v = (v | v << 16) & 0x1f0000ff0000ffULL;
  v = (v | v << 8) & 0x100f00f00f00f00fULL;
  v = (v | v << 4) & 0x10c30c30c30c30c3ULL;
  v = (v | v << 2) & 0x1249249249249249ULL;
  return v;
}

// The Morton key of point c with `bits` bits per axis over the box lo..hi.
std::uint64_t morton(const double c[3], const double lo[3], const double hi[3], int bits) {
  const double top = static_cast<double>((std::uint64_t{1} << bits) - 1);
  std::uint64_t key = 0;
  for (int a = 0; a < 3; ++a) {
    const double extent = hi[a] - lo[a];
    const double t = extent > 0 ? (c[a] - lo[a]) / extent : 0.0;
    key |= spread(static_cast<std::uint64_t>(std::min(std::max(t, 0.0), 1.0) * top), bits) << a;
  }
  return key;
}

// A float not above v, and one not below: v moved outwards by more than half a float's unit in the
// last place before rounding to nearest (by 1e-37 more, for the subnormal floats near zero).
float float_below(double v) { return static_cast<float>(v - (std::abs(v) * 1.2e-7 + 1e-37)); }
float float_above(double v) { return static_cast<float>(v + (std::abs(v) * 1.2e-7 + 1e-37)); }

}  // namespace

CellTree::CellTree(vtkIdType cells, const double bounds[6],
                   const std::function<bool(vtkIdType cell, double b[6])>& box) {
  if (cells >= vtkIdType{0xffffffff}) {
    throw std::length_error("the cell search files at most 2^32 - 1 cells");
  }
  const double lo[3] = {bounds[0], bounds[2], bounds[4]};
  const double hi[3] = {bounds[1], bounds[3], bounds[5]};
  for (int a = 0; a < 3; ++a) origin_[a] = 0.5 * (lo[a] + hi[a]);

  // Coarse key of the box centre above the cell id, cells that are no candidates last; sorted by
  // the key alone, stably, so that equal keys keep their cells in id order (the same tree
  // whatever the thread count).
  constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
  std::unique_ptr<std::uint64_t[]> keyed(new std::uint64_t[cells]);
  std::unique_ptr<Box[]> boxes(new Box[cells]);
  vtkSMPTools::For(0, cells, [&](vtkIdType begin, vtkIdType end) {
    double b[6];
    for (vtkIdType c = begin; c < end; ++c) {
      if (!box(c, b)) {
        keyed[c] = kNone;
        continue;
      }
      for (int a = 0; a < 3; ++a) {
        boxes[c].lo[a] = float_below(b[a] - origin_[a]);
        boxes[c].hi[a] = float_above(b[a + 3] - origin_[a]);
      }
      const double centre[3] = {0.5 * (b[0] + b[3]), 0.5 * (b[1] + b[4]), 0.5 * (b[2] + b[5])};
      keyed[c] = morton(centre, lo, hi, kCoarseBits) << 32 | static_cast<std::uint64_t>(c);
    }
  });
  const auto n =
      static_cast<std::int64_t>(cells - std::count(keyed.get(), keyed.get() + cells, kNone));
  if (n == 0) return;
  {
    // Least significant digit first, kCoarseBits bits a pass.
    std::unique_ptr<std::uint64_t[]> other(new std::uint64_t[cells]);
    std::vector<std::int64_t> start(std::size_t{1} << kCoarseBits);
    const std::uint64_t mask = (std::uint64_t{1} << kCoarseBits) - 1;
    for (int pass = 0; pass < 3; ++pass) {
      const int shift = 32 + pass * kCoarseBits;
      std::fill(start.begin(), start.end(), 0);
      for (vtkIdType i = 0; i < cells; ++i) {
        if (keyed[i] != kNone) ++start[(keyed[i] >> shift) & mask];
      }
      std::int64_t sum = 0;
      for (auto& s : start) sum += std::exchange(s, sum);
      std::int64_t tail = n;
      for (vtkIdType i = 0; i < cells; ++i) {
        const std::uint64_t s = keyed[i];
        other[s == kNone ? tail++ : start[(s >> shift) & mask]++] = s;
      }
      keyed.swap(other);
    }
  }
  slots_.assign(keyed.get(), keyed.get() + n);
  keyed.reset();

  nodes_.reserve(static_cast<size_t>(n / 3 + 1));
  nodes_.push_back({});
  build(0, 0, n, Keys{slots_.data(), 0, 32}, 0, false, boxes.get());
  boxes_.resize(static_cast<size_t>(n));
  for (std::int64_t k = 0; k < n; ++k) boxes_[k] = boxes[slots_[k] & 0xffffffffu];

  // Leaf boxes from their cells, in parallel; then the others bottom up (children always come
  // after their parent).
  vtkSMPTools::For(0, static_cast<vtkIdType>(nodes_.size()), [&](vtkIdType begin, vtkIdType end) {
    for (vtkIdType k = begin; k < end; ++k) {
      Node& leaf = nodes_[k];
      if (leaf.count == 0) continue;
      leaf.box = boxes[slots_[leaf.first] & 0xffffffffu];
      for (std::uint32_t s = leaf.first + 1; s < leaf.first + leaf.count; ++s) {
        const Box& b = boxes[slots_[s] & 0xffffffffu];
        for (int a = 0; a < 3; ++a) {
          leaf.box.lo[a] = std::min(leaf.box.lo[a], b.lo[a]);
          leaf.box.hi[a] = std::max(leaf.box.hi[a], b.hi[a]);
        }
      }
    }
  });
  for (auto k = static_cast<std::int64_t>(nodes_.size()) - 1; k >= 0; --k) {
    Node& node = nodes_[k];
    if (node.count > 0) continue;
    std::fill(node.box.lo, node.box.lo + 3, std::numeric_limits<float>::infinity());
    std::fill(node.box.hi, node.box.hi + 3, -std::numeric_limits<float>::infinity());
    for (const Node& child : {nodes_[node.first], nodes_[node.first + 1]}) {
      for (int a = 0; a < 3; ++a) {
        node.box.lo[a] = std::min(node.box.lo[a], child.box.lo[a]);
        node.box.hi[a] = std::max(node.box.hi[a], child.box.hi[a]);
      }
    }
  }
}

// Fills node `node` with the slots [begin, end), split where the leading bit in which their keys
// differ turns from 0 to 1. A crowded run of equal coarse keys is keyed again over its own extent;
// a run whose fine keys are equal too (cells of one centre) is halved.
void CellTree::build(std::uint32_t node, std::int64_t begin, std::int64_t end, const Keys& keys,
                     int depth, bool refined, const Box* boxes) {
  if (end - begin <= kLeafCells || depth == kMaxDepth) {
    nodes_[node].first = static_cast<std::uint32_t>(begin);
    nodes_[node].count = static_cast<std::uint32_t>(end - begin);
    return;
  }
  const std::uint64_t differ = keys[begin] ^ keys[end - 1];
  if (differ == 0 && !refined) {
    double lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::numeric_limits<double>::infinity();
      hi[a] = -lo[a];
    }
    std::vector<double> centres(static_cast<size_t>(3 * (end - begin)));
    for (std::int64_t i = begin; i < end; ++i) {
      const Box& b = boxes[slots_[i] & 0xffffffffu];
      for (int a = 0; a < 3; ++a) {
        const double centre = 0.5 * (static_cast<double>(b.lo[a]) + b.hi[a]);
        centres[3 * (i - begin) + a] = centre;
        lo[a] = std::min(lo[a], centre);
        hi[a] = std::max(hi[a], centre);
      }
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> fine(static_cast<size_t>(end - begin));
    for (std::int64_t i = begin; i < end; ++i) {
      fine[i - begin] = {morton(&centres[3 * (i - begin)], lo, hi, 21), slots_[i]};
    }
    std::sort(fine.begin(), fine.end());
    std::vector<std::uint64_t> fine_keys(fine.size());
    for (std::int64_t i = begin; i < end; ++i) {
      fine_keys[i - begin] = fine[i - begin].first;
      slots_[i] = fine[i - begin].second;
    }
    build(node, begin, end, Keys{fine_keys.data(), begin, 0}, depth, true, boxes);
    return;
  }
  std::int64_t split = begin + (end - begin) / 2;
  if (differ != 0) {
    std::uint64_t bit = std::uint64_t{1} << 63;
    while (!(differ & bit)) bit >>= 1;
    // The first slot with that bit set.
    std::int64_t low = begin, high = end - 1;
    while (low < high) {
      const std::int64_t mid = low + (high - low) / 2;
      if (keys[mid] & bit) {
        high = mid;
      } else {
        low = mid + 1;
      }
    }
    split = low;
  }
  const auto left = static_cast<std::uint32_t>(nodes_.size());
  nodes_[node].first = left;
  nodes_[node].count = 0;
  nodes_.push_back({});
  nodes_.push_back({});
  build(left, begin, split, keys, depth + 1, refined, boxes);
  build(left + 1, split, end, keys, depth + 1, refined, boxes);
}

}  // namespace fieldferry_core

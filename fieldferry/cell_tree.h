// A bounding-box hierarchy over the cells of a source, for closest-cell searches. Cells are filed
// by their own boxes, sorted along a Morton curve of the box centres and split where the curve's
// leading bit changes, so a node holds cells near one another. A cell much larger than the rest
// (a far-field panel among fine wall facets) widens only the boxes of the few nodes above it: a
// search descends by box distance and stops at the best distance so far, so its work depends on
// the cells near the point, not on the size of cells elsewhere. Every cell sits in one leaf, so a
// search meets each candidate once.
#pragma once

#include <vtkType.h>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace fieldferry_core {

class CellTree {
 public:
  // `box(cell, b)` puts into b the low then the high corner of a box holding every point that
  // cell can hand back as its closest point, or returns false for a cell that is never a
  // candidate; it is called from several threads. `bounds` (x, X, y, Y, z, Z)
  // holds the cells' points: their centre is subtracted before the boxes are stored in single
  // precision, rounded outwards, which keeps that rounding small. Raises std::length_error past
  // 2^32 - 1 cells.
  CellTree(vtkIdType cells, const double bounds[6],
           const std::function<bool(vtkIdType cell, double b[6])>& box);

  // Calls `visit(cell)` for every cell whose box lies within `bound2` (a squared distance) of x,
  // nearer boxes first; `visit` returns the bound for the rest of the search (it may only shrink).
  template <typename Visit>
  void search(const double x[3], double bound2, Visit&& visit) const;

 private:
  struct Box {
    float lo[3], hi[3];
  };
  struct Node {
    Box box;
    std::uint32_t first;  // leaf: its first slot in slots_; inner node: its left child (right + 1)
    std::uint32_t count;  // leaf: number of cells; inner node: 0
  };
  // The keys a range of slots is split by: the coarse Morton key kept in the high half of each
  // slot, or finer keys computed for one crowded range.
  struct Keys {
    const std::uint64_t* data;
    std::int64_t first;  // the slot of data[0]
    int shift;
    std::uint64_t operator[](std::int64_t slot) const { return data[slot - first] >> shift; }
  };
  // Nodes above a leaf: at most 30 bits of coarse key, 63 of fine key and 32 halvings.
  static constexpr int kMaxDepth = 128;

  void build(std::uint32_t node, std::int64_t begin, std::int64_t end, const Keys& keys, int depth,
             bool refined, const Box* boxes);

  static double distance2(const Box& b, const double q[3]) {
    double s = 0;
    for (int a = 0; a < 3; ++a) {
      const double below = static_cast<double>(b.lo[a]) - q[a];
      const double above = q[a] - static_cast<double>(b.hi[a]);
      const double d = below > 0 ? below : above > 0 ? above : 0.0;
      s += d * d;
    }
    return s;
  }

  double origin_[3];
  std::vector<Box> boxes_;            // slot by slot, beside the leaves' cells
  std::vector<std::uint64_t> slots_;  // leaf by leaf: coarse key << 32 | cell id
  std::vector<Node> nodes_;
};

template <typename Visit>
void CellTree::search(const double x[3], double bound2, Visit&& visit) const {
  if (nodes_.empty()) return;
  const double q[3] = {x[0] - origin_[0], x[1] - origin_[1], x[2] - origin_[2]};
  struct Pending {
    std::uint32_t node;
    double d2;
  };
  std::array<Pending, kMaxDepth + 1> pending;
  int top = 0;
  pending[top++] = {0, distance2(nodes_[0].box, q)};
  while (top > 0) {
    const Pending p = pending[--top];
    if (p.d2 > bound2) continue;
    const Node* node = &nodes_[p.node];
    // Down the nearer child, leaving the farther one for later, until a leaf.
    while (node->count == 0) {
      const std::uint32_t left = node->first;
      const double dl = distance2(nodes_[left].box, q), dr = distance2(nodes_[left + 1].box, q);
      const bool left_first = dl <= dr;
      const double near = left_first ? dl : dr, far = left_first ? dr : dl;
      if (far <= bound2) pending[top++] = {left_first ? left + 1 : left, far};
      if (near > bound2) break;
      node = &nodes_[left_first ? left : left + 1];
    }
    if (node->count == 0) continue;
    // A leaf's box holds all of its cells' boxes; each cell is checked against its own.
    for (std::uint32_t k = node->first; k < node->first + node->count; ++k) {
      const auto c = static_cast<vtkIdType>(slots_[k] & 0xffffffffu);
      if (distance2(boxes_[k], q) <= bound2) bound2 = visit(c);
    }
  }
}

}  // namespace fieldferry_core

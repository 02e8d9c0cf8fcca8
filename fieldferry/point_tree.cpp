#include "point_tree.h"

#include <vtkSMPTools.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/errors.h"

namespace fieldferry_core {

namespace {

// Points per leaf at most: a leaf is scanned whole, which is cheaper than descending further.
constexpr std::size_t kLeafSize = 16;
// Levels split before the subtrees are handed to threads: 2^4 subtrees keep a few threads busy.
constexpr int kSequentialLevels = 4;

}  // namespace

// The best points found so far, sorted by (squared distance, id).
struct PointTree::Search {
  const double* x;
  int k;
  int count = 0;
  double dist2[kMaxNeighbours];
  std::uint32_t id[kMaxNeighbours];

  // The squared distance within which a subtree may still hold a point nearer than the k-th best
  // or tied with it: a little over the k-th best, as a subtree's bound is summed up axis by axis
  // and rounds differently from a point's distance (a tied point across a split was skipped when
  // the bound rounded above it).
  double bound() const {
    return count < k ? std::numeric_limits<double>::infinity() : dist2[count - 1] * (1 + 1e-12);
  }
  void offer(double d2, std::uint32_t point) {
    if (count == k && (d2 > dist2[k - 1] || (d2 == dist2[k - 1] && point > id[k - 1]))) return;
    int at = count < k ? count++ : k - 1;
    while (at > 0 && (dist2[at - 1] > d2 || (dist2[at - 1] == d2 && id[at - 1] > point))) {
      dist2[at] = dist2[at - 1];
      id[at] = id[at - 1];
      --at;
    }
    dist2[at] = d2;
    id[at] = point;
  }
};

PointTree::PointTree(vtkDataSet* source) {
  const vtkIdType n = source->GetNumberOfPoints();
  if (static_cast<unsigned long long>(n) > std::numeric_limits<std::uint32_t>::max()) {
    kelm::raise_value_error("fieldferry: the source has ", n,
                            " points; a nearest-point search takes fewer than 2^32");
  }
  if (n == 0) return;
  std::vector<Entry>& entries = entries_;
  entries.resize(static_cast<std::size_t>(n));
  double box[6] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  for (vtkIdType i = 0; i < n; ++i) {
    Entry& e = entries[static_cast<std::size_t>(i)];
    source->GetPoint(i, e.x);
    e.id = static_cast<std::uint32_t>(i);
    for (int a = 0; a < 3; ++a) {
      box[2 * a] = std::min(box[2 * a], e.x[a]);
      box[2 * a + 1] = std::max(box[2 * a + 1], e.x[a]);
    }
  }
  while ((entries.size() >> depth_) > kLeafSize) ++depth_;
  const std::size_t inner = (std::size_t(1) << depth_) - 1;
  split_.resize(inner);
  axis_.resize(inner);
  // The first levels split the whole array one after another; the subtrees below them are
  // disjoint stretches of it, built on VTK's threads.
  std::vector<Subtree> subtrees;
  build(0, 0, entries.size(), box, 0, &subtrees);
  vtkSMPTools::For(0, static_cast<vtkIdType>(subtrees.size()), [&](vtkIdType first, vtkIdType last) {
    for (vtkIdType s = first; s < last; ++s) {
      Subtree& t = subtrees[static_cast<std::size_t>(s)];
      build(t.node, t.begin, t.end, t.box, t.level, nullptr);
    }
  });
}

// Splits [begin, end) at its middle along the longest side of the node's box: the halves have
// equal counts, so the tree's shape follows from the count alone and needs no child pointers.
void PointTree::build(std::size_t node, std::size_t begin, std::size_t end, double box[6],
                      int level, std::vector<Subtree>* deferred) {
  std::vector<Entry>& entries = entries_;
  if (level == depth_) return;
  if (deferred && level == kSequentialLevels) {
    Subtree t{node, begin, end, {}, level};
    std::copy(box, box + 6, t.box);
    deferred->push_back(t);
    return;
  }
  int axis = 0;
  for (int a = 1; a < 3; ++a) {
    if (box[2 * a + 1] - box[2 * a] > box[2 * axis + 1] - box[2 * axis]) axis = a;
  }
  const std::size_t mid = begin + (end - begin) / 2;
  std::nth_element(entries.begin() + begin, entries.begin() + mid, entries.begin() + end,
                   [axis](const Entry& a, const Entry& b) { return a.x[axis] < b.x[axis]; });
  const double split = entries[mid].x[axis];
  split_[node] = split;
  axis_[node] = static_cast<std::uint8_t>(axis);
  const double high = box[2 * axis + 1];
  box[2 * axis + 1] = split;
  build(2 * node + 1, begin, mid, box, level + 1, deferred);
  box[2 * axis + 1] = high;
  const double low = box[2 * axis];
  box[2 * axis] = split;
  build(2 * node + 2, mid, end, box, level + 1, deferred);
  box[2 * axis] = low;
}

// `off` holds, per axis, how far x lies from the node's region; `rd` their squared sum, a lower
// bound of the distance to any point below the node (the incremental bound of Arya and Mount).
void PointTree::descend(std::size_t node, std::size_t begin, std::size_t end, int level,
                        double off[3], double rd, Search& search) const {
  if (level == depth_) {
    const double* x = search.x;
    for (std::size_t i = begin; i < end; ++i) {
      const double* p = entries_[i].x;
      const double d0 = p[0] - x[0], d1 = p[1] - x[1], d2 = p[2] - x[2];
      search.offer(d0 * d0 + d1 * d1 + d2 * d2, entries_[i].id);
    }
    return;
  }
  const int axis = axis_[node];
  const double diff = search.x[axis] - split_[node];
  const std::size_t mid = begin + (end - begin) / 2;
  const std::size_t left = 2 * node + 1, right = 2 * node + 2;
  const bool below = diff < 0;
  if (below) {
    descend(left, begin, mid, level + 1, off, rd, search);
  } else {
    descend(right, mid, end, level + 1, off, rd, search);
  }
  const double old = off[axis];
  const double far_rd = rd - old * old + diff * diff;
  // Equal bounds are searched: a point at the same distance with a lower id may lie there.
  if (far_rd > search.bound()) return;
  off[axis] = std::fabs(diff);
  if (below) {
    descend(right, mid, end, level + 1, off, far_rd, search);
  } else {
    descend(left, begin, mid, level + 1, off, far_rd, search);
  }
  off[axis] = old;
}

vtkIdType PointTree::nearest(const double x[3], double* dist2) const {
  vtkIdType id = -1;
  double d2 = std::numeric_limits<double>::infinity();
  if (nearest_k(x, 1, &id, &d2) == 0) id = -1;
  if (dist2) *dist2 = d2;
  return id;
}

int PointTree::nearest_k(const double x[3], int k, vtkIdType* ids, double* dist2) const {
  k = std::max(0, std::min({k, kMaxNeighbours,
                            static_cast<int>(std::min<std::size_t>(entries_.size(),
                                                                   kMaxNeighbours))}));
  if (k == 0) return 0;
  Search search;
  search.x = x;
  search.k = k;
  double off[3] = {0, 0, 0};
  descend(0, 0, entries_.size(), 0, off, 0.0, search);
  for (int i = 0; i < search.count; ++i) {
    ids[i] = search.id[i];
    if (dist2) dist2[i] = search.dist2[i];
  }
  return search.count;
}

}  // namespace fieldferry_core

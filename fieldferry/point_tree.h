// The nearest points of a source to a point: a k-d tree over the source's points, built once per
// mapping call and shared by the distance stage and the method.
//
// A bin locator answers a point near the cloud quickly but searches ring after ring of empty bins
// for a point far from it: a node of an inner body, deep inside a hollow CFD wall cloud, cost
// milliseconds each, and an assembly has hundreds of thousands of them. The tree bounds every
// search by the distance from the point to each subtree's box, so a far point costs about what a
// near one does.
#pragma once

#include <vtkDataSet.h>

#include <cstdint>
#include <vector>

namespace fieldferry_core {

class PointTree {
 public:
  // Copies the points of `source` (their coordinates as doubles, in tree order). Raises
  // ValueError for a source of 2^32 points or more.
  explicit PointTree(vtkDataSet* source);

  vtkIdType size() const { return static_cast<vtkIdType>(entries_.size()); }

  // The nearest point's id and its squared distance; among points at the same distance the
  // lowest id, so that the answer does not depend on the tree's order. -1 for an empty tree.
  vtkIdType nearest(const double x[3], double* dist2 = nullptr) const;

  // The min(k, size()) nearest points, nearest first (ties by id), into ids and, if given,
  // dist2; returns their number. k <= kMaxNeighbours.
  static constexpr int kMaxNeighbours = 32;
  int nearest_k(const double x[3], int k, vtkIdType* ids, double* dist2 = nullptr) const;

 private:
  struct Search;
  // A point's coordinates and its id in the source, 32 bytes: a leaf is one stretch of memory.
  struct Entry {
    double x[3];
    std::uint32_t id;
  };
  struct Subtree {
    std::size_t node, begin, end;
    double box[6];
    int level;
  };
  // Splits the node and its descendants down to `stop` (exclusive); the subtrees met at `stop`
  // are left in `deferred` when it is given.
  void build(std::size_t node, std::size_t begin, std::size_t end, double box[6], int level,
             std::vector<Subtree>* deferred);
  void descend(std::size_t node, std::size_t begin, std::size_t end, int level, double off[3],
               double rd, Search& search) const;

  int depth_ = 0;                    // leaves are the nodes at this depth
  std::vector<Entry> entries_;       // in tree order
  std::vector<double> split_;        // per inner node (implicit layout: children 2i+1, 2i+2)
  std::vector<std::uint8_t> axis_;
};

}  // namespace fieldferry_core

// The closest cell of a source to a point, and the cell's own interpolation weights at the closest
// point: the search of "Surface projection", and of the samples "Face average" cannot walk to.
// The cells are read once (source_cells.h) and filed in a tree of their boxes (cell_tree.h).
#pragma once

#include <vtkDataSet.h>
#include <vtkGenericCell.h>

#include <limits>
#include <memory>
#include <vector>

#include "cell_tree.h"
#include "source_cells.h"

namespace fieldferry_core {

class ClosestCells {
 public:
  explicit ClosestCells(vtkDataSet* source);

  SourceCells& cells() { return cells_; }
  const SourceCells& cells() const { return cells_; }
  // The most points a cell has: the length of the weights a search hands back.
  int max_cell_size() const { return max_cell_size_; }

  // Files the cells in the tree the searches descend; called once, before the first search and
  // outside any threads. A caller that can settle most points another way builds it only when
  // one needs the search.
  void build_tree();
  bool has_tree() const { return tree_ != nullptr; }

  struct Closest {
    vtkIdType cell = -1;
    double dist2 = std::numeric_limits<double>::infinity();
    int points = 0;
    std::vector<double> weights;  // at the closest point, one per point of the cell
  };

  // The closest cell to x (ties to the lowest cell id, whatever the order of the search; none
  // when every cell is degenerate). `hint`, a cell near x or -1, bounds the search from the start.
  // `cell` and `weights` (max_cell_size() long) are the caller's scratch, one per thread.
  void find(const double x[3], vtkIdType hint, vtkGenericCell* cell, std::vector<double>& weights,
            Closest& best) const;

 private:
  bool may_hold(const double x[3], vtkIdType c) const;
  vtkGenericCell* load_cell(vtkIdType c, vtkGenericCell* cell,
                            vtkSmartPointer<vtkGenericCell>& polyhedron, int as_type = -1) const;
  void evaluate(const double x[3], vtkIdType c, vtkGenericCell* cell, std::vector<double>& weights,
                Closest& best) const;

  vtkDataSet* source_;
  SourceCells cells_;
  int max_cell_size_;
  std::unique_ptr<CellTree> tree_;
};

}  // namespace fieldferry_core

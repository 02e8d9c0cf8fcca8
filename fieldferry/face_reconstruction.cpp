#include "face_reconstruction.h"

#include <vtkCellType.h>
#include <vtkGenericCell.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPTools.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "polygon_triangles.h"
#include "source_cells.h"
#include "weighted_fit.h"

namespace fieldferry_core {

namespace {

// A polygon's area centroid (the value a face holds is the field's mean over it, which a linear
// field takes at that point), over the triangles that cover it.
void polygon_centre(const std::vector<double>& xyz, vtkIdType n, double centre[3]) {
  std::vector<int> triangles;
  if (convex_polygon(xyz.data(), n)) {
    for (int k = 1; k + 1 < n; ++k) triangles.insert(triangles.end(), {0, k, k + 1});
  } else {
    triangulate_polygon(xyz.data(), n, triangles);
  }
  double area = 0, sum[3] = {0, 0, 0};
  for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
    const double* p[3] = {&xyz[3 * triangles[t]], &xyz[3 * triangles[t + 1]],
                          &xyz[3 * triangles[t + 2]]};
    const double a = triangle_area(p[0], p[1], p[2]);
    area += a;
    for (int i = 0; i < 3; ++i) sum[i] += a * (p[0][i] + p[1][i] + p[2][i]) / 3;
  }
  if (area > 0) {
    for (int i = 0; i < 3; ++i) centre[i] = sum[i] / area;
  }  // a polygon without area keeps its corner mean
}

// Each cell's centre (3 per cell): a polygon's area centroid, any other cell's corner mean.
std::vector<double> cell_centres(const SourceCells& cells) {
  std::vector<double> centres(3 * static_cast<size_t>(cells.cells()), 0.0);
  std::vector<double> xyz;
  for (vtkIdType c = 0; c < cells.cells(); ++c) {
    const vtkIdType n = cells.size(c);
    const vtkIdType* corners = cells.points(c);
    double* centre = &centres[3 * c];
    for (vtkIdType k = 0; k < n; ++k) {
      const double* x = cells.point(corners[k]);
      for (int i = 0; i < 3; ++i) centre[i] += x[i];
    }
    for (int i = 0; i < 3; ++i) centre[i] /= static_cast<double>(n);
    const int type = n > 3 ? cells.type(c) : VTK_TRIANGLE;
    if (type != VTK_QUAD && type != VTK_POLYGON) continue;
    xyz.resize(3 * static_cast<size_t>(n));
    for (vtkIdType k = 0; k < n; ++k) std::copy_n(cells.point(corners[k]), 3, &xyz[3 * k]);
    polygon_centre(xyz, n, centre);
  }
  return centres;
}

// Each cell's dimension, by its type from the first cell of that type (a table VTK 9.1 lacks).
std::vector<int> cell_dimensions(vtkDataSet* source, const SourceCells& cells) {
  int by_type[256];
  std::fill(std::begin(by_type), std::end(by_type), -1);
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  std::vector<int> dimensions(static_cast<size_t>(cells.cells()));
  for (vtkIdType c = 0; c < cells.cells(); ++c) {
    int& dimension = by_type[cells.type(c) & 0xff];
    if (dimension < 0) {
      source->GetCell(c, cell);
      dimension = cell->GetCellDimension();
    }
    dimensions[c] = dimension;
  }
  return dimensions;
}

class PointFit {
 public:
  PointFit(const SourceCells& cells, vtkDataArray* values, double* out,
           const std::vector<double>& centres, const std::vector<int>& dimensions)
      : cells_(cells), values_(values), out_(out), centres_(centres), dimensions_(dimensions) {}

  void Initialize() {}
  void Reduce() {}

  void operator()(vtkIdType begin, vtkIdType end) {
    std::vector<vtkIdType>& around = around_.Local();
    for (vtkIdType p = begin; p < end; ++p) {
      around.assign(cells_.cells_of(p), cells_.cells_of(p) + cells_.cell_count_of(p));
      out_[p] = around.empty() ? std::numeric_limits<double>::quiet_NaN() : value_at(p, around);
    }
  }

 private:
  // The cells around `around` (those sharing a corner with one of them), ascending.
  void widen(std::vector<vtkIdType>& around) const {
    std::vector<vtkIdType> wider;
    for (vtkIdType c : around) {
      for (vtkIdType k = 0; k < cells_.size(c); ++k) {
        const vtkIdType p = cells_.points(c)[k];
        wider.insert(wider.end(), cells_.cells_of(p), cells_.cells_of(p) + cells_.cell_count_of(p));
      }
    }
    std::sort(wider.begin(), wider.end());
    wider.erase(std::unique(wider.begin(), wider.end()), wider.end());
    around.swap(wider);
  }

  // Fitted on the values' differences from the first one, so that a field equal in every cell
  // comes back bit for bit.
  double value_at(vtkIdType p, std::vector<vtkIdType>& around) {
    int wanted = 0;
    for (vtkIdType c : around) wanted = std::max(wanted, dimensions_[c]);
    std::vector<double>& c = coefficients_.Local();
    for (int ring = 0;; ++ring) {
      const int resolved = fit(cells_.point(p), around, c);
      if (resolved >= wanted || ring == 1) {
        const double first = values_->GetComponent(around[0], 0);
        double value = first;
        for (size_t k = 0; k < around.size(); ++k) {
          const double weight = resolved > 0 ? c[k] : 1.0 / static_cast<double>(around.size());
          value += weight * (values_->GetComponent(around[k], 0) - first);
        }
        return value;
      }
      widen(around);
    }
  }

  int fit(const double x[3], const std::vector<vtkIdType>& around, std::vector<double>& c) {
    std::vector<double>& d = offsets_.Local();
    d.resize(3 * around.size());
    for (size_t k = 0; k < around.size(); ++k) {
      for (int i = 0; i < 3; ++i) d[3 * k + i] = centres_[3 * around[k] + i] - x[i];
    }
    c.assign(around.size(), 0.0);
    return weighted_linear_fit(reinterpret_cast<double(*)[3]>(d.data()),
                               static_cast<int>(around.size()),
                               x[0] * x[0] + x[1] * x[1] + x[2] * x[2], c.data());
  }

  const SourceCells& cells_;
  vtkDataArray* values_;
  double* out_;
  const std::vector<double>& centres_;
  const std::vector<int>& dimensions_;
  vtkSMPThreadLocal<std::vector<vtkIdType>> around_;
  vtkSMPThreadLocal<std::vector<double>> offsets_, coefficients_;
};

}  // namespace

vtkSmartPointer<vtkDoubleArray> reconstructed_at_points(vtkDataSet* source,
                                                        vtkDataArray* cell_values) {
  SourceCells cells(source);
  cells.link_points();
  const std::vector<double> centres = cell_centres(cells);
  const std::vector<int> dimensions = cell_dimensions(source, cells);
  auto out = vtkSmartPointer<vtkDoubleArray>::New();
  out->SetName(cell_values->GetName());
  out->SetNumberOfTuples(source->GetNumberOfPoints());
  PointFit fit(cells, cell_values, out->GetPointer(0), centres, dimensions);
  vtkSMPTools::For(0, source->GetNumberOfPoints(), fit);
  return out;
}

}  // namespace fieldferry_core

#include "face_reconstruction.h"

#include <vtkCellType.h>
#include <vtkGenericCell.h>
#include <vtkPoints.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPTools.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "polygon_triangles.h"
#include "weighted_fit.h"

namespace fieldferry_core {

namespace {

// The cells of a source as plain arrays (corner lists, centres, dimensions) and the cells around
// each point, read once so that the threaded fit reads no VTK object.
struct CellTable {
  std::vector<vtkIdType> corner_start, corners, around_start, around;
  std::vector<double> centres;  // 3 per cell
  std::vector<int> dimension;
};

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

void fill_cell(vtkDataSet* source, vtkIdType c, vtkGenericCell* cell, CellTable& table,
               std::vector<double>& xyz) {
  source->GetCell(c, cell);
  const vtkIdType n = cell->GetNumberOfPoints();
  table.dimension.push_back(cell->GetCellDimension());
  xyz.resize(3 * static_cast<size_t>(n));
  double centre[3] = {0, 0, 0};
  for (vtkIdType k = 0; k < n; ++k) {
    table.corners.push_back(cell->GetPointId(k));
    cell->GetPoints()->GetPoint(k, &xyz[3 * k]);
    for (int i = 0; i < 3; ++i) centre[i] += xyz[3 * k + i] / static_cast<double>(n);
  }
  const int type = cell->GetCellType();
  if (n > 3 && (type == VTK_QUAD || type == VTK_POLYGON)) polygon_centre(xyz, n, centre);
  table.centres.insert(table.centres.end(), centre, centre + 3);
  table.corner_start.push_back(static_cast<vtkIdType>(table.corners.size()));
}

CellTable cell_table(vtkDataSet* source) {
  CellTable table;
  const vtkIdType cells = source->GetNumberOfCells();
  table.corner_start.push_back(0);
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  std::vector<double> xyz;
  for (vtkIdType c = 0; c < cells; ++c) fill_cell(source, c, cell, table, xyz);
  // The cells around each point, by counting then placing (ascending cell ids).
  table.around_start.assign(static_cast<size_t>(source->GetNumberOfPoints()) + 1, 0);
  for (vtkIdType p : table.corners) ++table.around_start[p + 1];
  for (size_t p = 1; p < table.around_start.size(); ++p) {
    table.around_start[p] += table.around_start[p - 1];
  }
  table.around.resize(table.corners.size());
  std::vector<vtkIdType> next(table.around_start.begin(), table.around_start.end() - 1);
  for (vtkIdType c = 0; c < cells; ++c) {
    for (vtkIdType k = table.corner_start[c]; k < table.corner_start[c + 1]; ++k) {
      table.around[next[table.corners[k]]++] = c;
    }
  }
  return table;
}

class PointFit {
 public:
  PointFit(vtkDataSet* source, const CellTable& table, vtkDataArray* values, double* out)
      : source_(source), table_(table), values_(values), out_(out) {}

  void Initialize() {}
  void Reduce() {}

  void operator()(vtkIdType begin, vtkIdType end) {
    std::vector<vtkIdType>& cells = cells_.Local();
    for (vtkIdType p = begin; p < end; ++p) {
      cells.assign(table_.around.begin() + table_.around_start[p],
                   table_.around.begin() + table_.around_start[p + 1]);
      out_[p] = cells.empty() ? std::numeric_limits<double>::quiet_NaN() : value_at(p, cells);
    }
  }

 private:
  // The cells around `cells` (those sharing a corner with one of them), ascending.
  void widen(std::vector<vtkIdType>& cells) const {
    std::vector<vtkIdType> wider;
    for (vtkIdType c : cells) {
      for (vtkIdType k = table_.corner_start[c]; k < table_.corner_start[c + 1]; ++k) {
        const vtkIdType p = table_.corners[k];
        wider.insert(wider.end(), table_.around.begin() + table_.around_start[p],
                     table_.around.begin() + table_.around_start[p + 1]);
      }
    }
    std::sort(wider.begin(), wider.end());
    wider.erase(std::unique(wider.begin(), wider.end()), wider.end());
    cells.swap(wider);
  }

  // Fitted on the values' differences from the first one, so that a field equal in every cell
  // comes back bit for bit.
  double value_at(vtkIdType p, std::vector<vtkIdType>& cells) const {
    int wanted = 0;
    for (vtkIdType c : cells) wanted = std::max(wanted, table_.dimension[c]);
    double x[3];
    source_->GetPoint(p, x);
    std::vector<double> c;
    for (int ring = 0;; ++ring) {
      const int resolved = fit(x, cells, c);
      if (resolved >= wanted || ring == 1) {
        const double first = values_->GetComponent(cells[0], 0);
        double value = first;
        const bool fitted = resolved > 0;
        for (size_t k = 0; k < cells.size(); ++k) {
          const double weight = fitted ? c[k] : 1.0 / static_cast<double>(cells.size());
          value += weight * (values_->GetComponent(cells[k], 0) - first);
        }
        return value;
      }
      widen(cells);
    }
  }

  int fit(const double x[3], const std::vector<vtkIdType>& cells, std::vector<double>& c) const {
    std::vector<double> d(3 * cells.size());
    for (size_t k = 0; k < cells.size(); ++k) {
      for (int i = 0; i < 3; ++i) d[3 * k + i] = table_.centres[3 * cells[k] + i] - x[i];
    }
    c.assign(cells.size(), 0.0);
    return weighted_linear_fit(reinterpret_cast<double(*)[3]>(d.data()),
                               static_cast<int>(cells.size()),
                               x[0] * x[0] + x[1] * x[1] + x[2] * x[2], c.data());
  }

  vtkDataSet* source_;
  const CellTable& table_;
  vtkDataArray* values_;
  double* out_;
  vtkSMPThreadLocal<std::vector<vtkIdType>> cells_;
};

}  // namespace

vtkSmartPointer<vtkDoubleArray> reconstructed_at_points(vtkDataSet* source,
                                                        vtkDataArray* cell_values) {
  const CellTable table = cell_table(source);
  auto out = vtkSmartPointer<vtkDoubleArray>::New();
  out->SetName(cell_values->GetName());
  out->SetNumberOfTuples(source->GetNumberOfPoints());
  // GetPoint is safe to call from threads once the dataset is built (as the other methods do).
  PointFit fit(source, table, cell_values, out->GetPointer(0));
  vtkSMPTools::For(0, source->GetNumberOfPoints(), fit);
  return out;
}

}  // namespace fieldferry_core

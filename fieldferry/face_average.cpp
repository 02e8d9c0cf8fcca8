#include "face_average.h"

#include <vtkCellData.h>
#include <vtkDoubleArray.h>
#include <vtkFieldData.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPThreadLocalObject.h>
#include <vtkSMPTools.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "checks.h"
#include "closest_cell.h"
#include "common/errors.h"
#include "common/mapped_leaf.h"
#include "interpolation.h"
#include "point_stencils.h"
#include "polygon_triangles.h"
#include "source_cells.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_face_average";
// A triangle is cut into at most this many rows of sub-triangles (32 x 32 samples): a face far
// larger than the source faces under it gets fewer samples per source face, never unbounded work.
constexpr int kMostRows = 32;
// A walk longer than this is left to the full search.
constexpr int kMostSteps = 64;
// A face's centre that a walk finds this close to the source, relative to the face's size, lies
// on it (closer is rounding): that cell is its closest, and no search is needed.
constexpr double kOnSource = 1e-9;
// A face's centre is walked to from at most this many of its neighbours' starts.
constexpr size_t kMostStarts = 4;
// Faces per block of the pass that finds where their walks start.
constexpr vtkIdType kBlock = 256;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// More than one neighbour across an edge (the walk then reads them all).
constexpr vtkIdType kSeveral = -2;

double distance2(const double a[3], const double b[3]) {
  return vtkMath::Distance2BetweenPoints(a, b);
}

bool is_face(int type) { return type == VTK_TRIANGLE || type == VTK_QUAD || type == VTK_POLYGON; }

// ---- the source's arrays ------------------------------------------------------------------------

// One source array as the samples read it: its values in double, tuple by tuple.
struct Channel {
  std::string name;
  bool per_cell = false;
  int components = 1;
  int offset = 0;  // of its first component among all channels' components
  std::vector<double> copy;
  const double* values = nullptr;
};

// Every named numeric point array of the source, then every named numeric cell array without a
// point array of its name: the arrays "Surface projection" samples, by the same rule.
std::vector<Channel> channels_of(vtkDataSet* source) {
  std::vector<Channel> channels;
  std::vector<vtkDataArray*> arrays;
  for (vtkDataSetAttributes* data : {static_cast<vtkDataSetAttributes*>(source->GetPointData()),
                                     static_cast<vtkDataSetAttributes*>(source->GetCellData())}) {
    const bool per_cell = data == source->GetCellData();
    for (int a = 0; a < data->GetNumberOfArrays(); ++a) {
      auto* array = vtkDataArray::SafeDownCast(data->GetAbstractArray(a));
      const char* name = array ? array->GetName() : nullptr;
      if (!name || std::string(name) == kValidMaskArray) continue;
      if (per_cell && source->GetPointData()->GetAbstractArray(name)) continue;
      Channel channel;
      channel.name = name;
      channel.per_cell = per_cell;
      channel.components = array->GetNumberOfComponents();
      channel.offset = channels.empty() ? 0 : channels.back().offset + channels.back().components;
      channels.push_back(std::move(channel));
      arrays.push_back(array);
    }
  }
  for (size_t i = 0; i < channels.size(); ++i) {
    Channel& channel = channels[i];
    if (auto* doubles = vtkDoubleArray::SafeDownCast(arrays[i])) {
      channel.values = doubles->GetPointer(0);
      continue;
    }
    const vtkIdType values = arrays[i]->GetNumberOfValues();
    channel.copy.resize(static_cast<size_t>(values));
    for (vtkIdType v = 0; v < values; ++v) {
      channel.copy[v] = arrays[i]->GetComponent(v / channel.components, v % channel.components);
    }
    channel.values = channel.copy.data();
  }
  return channels;
}

int width_of(const std::vector<Channel>& channels) {
  return channels.empty() ? 0 : channels.back().offset + channels.back().components;
}

// ---- the target's faces -------------------------------------------------------------------------

// The polygons of the target, each taken as the triangles that cover it.
struct Faces {
  std::vector<vtkIdType> cell;  // the face's cell id in the target
  std::vector<vtkIdType> offsets{0};
  std::vector<vtkIdType> points;
  std::vector<double> area;
  std::vector<double> size;         // the diagonal of its bounding box
  std::vector<double> centre;       // 3 per face: the centroid of its area
  std::vector<char> point_on_face;  // per target point
  PolygonTriangles triangles;

  vtkIdType count() const { return static_cast<vtkIdType>(cell.size()); }
  vtkIdType size_of(vtkIdType f) const { return offsets[f + 1] - offsets[f]; }
  const vtkIdType* points_of(vtkIdType f) const { return &points[offsets[f]]; }
};

Faces faces_of(vtkPolyData* target) {
  Faces faces;
  faces.point_on_face.assign(static_cast<size_t>(target->GetNumberOfPoints()), 0);
  auto ids = vtkSmartPointer<vtkIdList>::New();
  std::vector<double> xyz;
  for (vtkIdType cell = 0; cell < target->GetNumberOfCells(); ++cell) {
    if (!is_face(target->GetCellType(cell))) continue;
    target->GetCellPoints(cell, ids);
    const vtkIdType n = ids->GetNumberOfIds();
    if (n < 3) continue;
    faces.cell.push_back(cell);
    faces.points.insert(faces.points.end(), ids->GetPointer(0), ids->GetPointer(0) + n);
    faces.offsets.push_back(static_cast<vtkIdType>(faces.points.size()));
    xyz.resize(3 * static_cast<size_t>(n));
    double mean[3] = {0, 0, 0}, lo[3], hi[3];
    for (vtkIdType k = 0; k < n; ++k) {
      double* c = &xyz[3 * k];
      target->GetPoint(ids->GetId(k), c);
      for (int d = 0; d < 3; ++d) {
        mean[d] += c[d] / static_cast<double>(n);
        lo[d] = k ? std::min(lo[d], c[d]) : c[d];
        hi[d] = k ? std::max(hi[d], c[d]) : c[d];
      }
      faces.point_on_face[ids->GetId(k)] = 1;
    }
    faces.triangles.add(faces.count() - 1, xyz.data(), n);
    double area = 0, weighted[3] = {0, 0, 0};
    for (vtkIdType t = 0; t + 2 < n; ++t) {
      const std::array<int, 3> at = faces.triangles.triangle(faces.count() - 1, t);
      const double *a = &xyz[3 * at[0]], *b = &xyz[3 * at[1]], *c = &xyz[3 * at[2]];
      const double part = triangle_area(a, b, c);
      area += part;
      for (int d = 0; d < 3; ++d) weighted[d] += part * (a[d] + b[d] + c[d]) / 3.0;
    }
    faces.area.push_back(area);
    faces.size.push_back(std::sqrt(distance2(lo, hi)));
    for (int d = 0; d < 3; ++d) faces.centre.push_back(area > 0 ? weighted[d] / area : mean[d]);
  }
  return faces;
}

// The faces of each target point (compressed rows).
struct Links {
  std::vector<vtkIdType> first, faces;
  Links(const Faces& all, vtkIdType points) : first(static_cast<size_t>(points) + 1, 0) {
    for (vtkIdType p : all.points) ++first[p + 1];
    for (vtkIdType p = 0; p < points; ++p) first[p + 1] += first[p];
    faces.resize(all.points.size());
    std::vector<vtkIdType> fill(first.begin(), first.end() - 1);
    for (vtkIdType f = 0; f < all.count(); ++f) {
      for (vtkIdType k = 0; k < all.size_of(f); ++k) faces[fill[all.points_of(f)[k]]++] = f;
    }
  }
};

// ---- the walk -----------------------------------------------------------------------------------

enum class Region { inside, edge, vertex };

// A cell's closest point to a sample and where on the cell it lies.
struct Hit {
  vtkIdType cell = -1;
  double dist2 = std::numeric_limits<double>::infinity();
  double x[3] = {0, 0, 0};
  double w[3] = {0, 0, 0};  // on the triangle of the cell's corners `corner`
  std::array<int, 3> corner{};
  Region region = Region::inside;
  vtkIdType a = -1, b = -1;  // the source points of the edge, or the vertex (a)
};

// Finds a sample's closest point on a source of polygons by walking from a cell nearby (the last
// sample's) over the cells across the edge or around the vertex its closest point lies on, as
// long as they bring it nearer. Consecutive samples lie a source face or so apart, so a walk
// reads a cell or two where the full search descends a tree of boxes from its root.
class Walker {
 public:
  struct Scratch {
    std::vector<vtkIdType> near;
    std::vector<std::pair<vtkIdType, int>> rim;
  };

  explicit Walker(SourceCells& cells) : cells_(cells) {
    cells.link_points();
    if (cells.triangles()) return;
    triangles_.add_all(cells.cells(), most_corners(cells), [&cells](vtkIdType c, double* xyz) {
      const vtkIdType* p = cells.points(c);
      for (vtkIdType k = 0; k < cells.size(c); ++k) std::copy_n(cells.point(p[k]), 3, xyz + 3 * k);
      return cells.size(c);
    });
  }

  // The area of cell c: the sum of its triangles'.
  double area(vtkIdType c) const {
    const vtkIdType* p = cells_.points(c);
    double total = 0;
    for (vtkIdType t = 0; t + 2 < cells_.size(c); ++t) {
      const std::array<int, 3> at = triangles_.triangle(c, t);
      total +=
          triangle_area(cells_.point(p[at[0]]), cells_.point(p[at[1]]), cells_.point(p[at[2]]));
    }
    return total;
  }

  // Settles on a cell the sample projects into, or on an edge or vertex inside the source that no
  // cell around brings nearer (ties to the lowest cell id, as the full search breaks them). A
  // walk follows one sheet of the source: it finds the closest point of the sheet it starts on.
  // False on the border of the source (another part of it may lie nearer), at a degenerate cell
  // and after kMostSteps. `passed` (one flag per cell) gets 1 for each cell the walk steps into.
  bool walk(const double x[3], vtkIdType from, Hit& best, Scratch& scratch,
            std::atomic<std::uint8_t>* passed = nullptr) const {
    if (!evaluate(from, x, best)) return false;
    Hit hit;
    for (int step = 0; step < kMostSteps; ++step) {
      if (best.region == Region::inside) return true;
      // Beyond a vertex of a triangle, the edge the sample lies farthest beyond usually leads
      // nearer: one cell read instead of every cell around the vertex.
      if (best.region == Region::vertex && cells_.size(best.cell) == 3) {
        const vtkIdType other = beyond(best, x);
        const vtkIdType across = other < 0 ? -1 : neighbour(best.cell, best.a, other);
        if (across >= 0 && evaluate(across, x, hit) && hit.dist2 < best.dist2) {
          best = hit;
          if (passed) passed[best.cell].store(1, std::memory_order_relaxed);
          continue;
        }
      }
      std::vector<vtkIdType>& near = scratch.near;
      near.clear();
      if (best.region == Region::vertex) {
        const vtkIdType* around = cells_.cells_of(best.a);
        for (vtkIdType j = 0; j < cells_.cell_count_of(best.a); ++j) {
          if (around[j] != best.cell) near.push_back(around[j]);
        }
      } else {
        const vtkIdType across = neighbour(best.cell, best.a, best.b);
        if (across >= 0) {
          near.push_back(across);
        } else if (across == kSeveral) {
          sharing(best.a, best.b, best.cell, near);
        }
      }
      if (near.empty()) return false;
      Hit next = best;
      for (vtkIdType c : near) {
        if (!evaluate(c, x, hit)) continue;
        if (hit.dist2 < next.dist2 || (hit.dist2 == next.dist2 && hit.cell < next.cell)) next = hit;
      }
      if (next.dist2 < best.dist2) {
        best = next;
        if (passed) passed[best.cell].store(1, std::memory_order_relaxed);
        continue;
      }
      if (best.region == Region::vertex && on_border(best.a, scratch)) return false;
      best = next;
      return true;
    }
    return false;
  }

 private:
  // The closest point of cell c to x, over the triangles that cover the cell.
  bool evaluate(vtkIdType c, const double x[3], Hit& hit) const {
    const vtkIdType n = cells_.size(c);
    const vtkIdType* p = cells_.points(c);
    hit.cell = c;
    hit.dist2 = std::numeric_limits<double>::infinity();
    double closest[3], w[3];
    for (vtkIdType t = 0; t + 2 < n; ++t) {
      const std::array<int, 3> at = triangles_.triangle(c, t);
      if (!closest_on_triangle(x, cells_.point(p[at[0]]), cells_.point(p[at[1]]),
                               cells_.point(p[at[2]]), closest, w)) {
        continue;
      }
      const double d2 = distance2(x, closest);
      if (d2 < hit.dist2) {
        hit.dist2 = d2;
        hit.corner = at;
        std::copy(closest, closest + 3, hit.x);
        std::copy(w, w + 3, hit.w);
      }
    }
    if (!std::isfinite(hit.dist2)) return false;
    // Where on the cell: its points with a weight. Two that do not follow one another round the
    // cell lie on a diagonal between two of its triangles, inside the cell.
    vtkIdType at[3];
    int count = 0;
    for (int v = 0; v < 3; ++v) {
      if (hit.w[v] != 0) at[count++] = hit.corner[v];
    }
    hit.region = Region::inside;
    if (count == 1) {
      hit.region = Region::vertex;
      hit.a = p[at[0]];
    } else if (count == 2 && ((at[0] - at[1] + n) % n == 1 || (at[1] - at[0] + n) % n == 1)) {
      hit.region = Region::edge;
      hit.a = p[at[0]];
      hit.b = p[at[1]];
    }
    return true;
  }

  // Calls visit(c) for each cell c other than `cell` with the edge (a, b): the cells of both
  // points, each point's listed in increasing order, merged.
  template <typename Visit>
  void for_each_sharing(vtkIdType a, vtkIdType b, vtkIdType cell, Visit&& visit) const {
    const vtkIdType *i = cells_.cells_of(a), *i_end = i + cells_.cell_count_of(a);
    const vtkIdType *j = cells_.cells_of(b), *j_end = j + cells_.cell_count_of(b);
    while (i != i_end && j != j_end) {
      if (*i < *j) {
        ++i;
      } else if (*j < *i) {
        ++j;
      } else {
        if (*i != cell) visit(*i);
        ++i;
        ++j;
      }
    }
  }

  // The cells other than `cell` with the edge (a, b).
  void sharing(vtkIdType a, vtkIdType b, vtkIdType cell, std::vector<vtkIdType>& out) const {
    for_each_sharing(a, b, cell, [&](vtkIdType c) { out.push_back(c); });
  }

  // The one cell other than `cell` with the edge (a, b); -1 for none, kSeveral for more.
  vtkIdType neighbour(vtkIdType cell, vtkIdType a, vtkIdType b) const {
    vtkIdType one = -1;
    for_each_sharing(a, b, cell, [&](vtkIdType c) { one = one == -1 ? c : kSeveral; });
    return one;
  }

  // For a sample closest to vertex hit.a of a triangle: the other end of the edge at that vertex
  // the sample lies farther beyond (the edge opposite the more negative barycentric coordinate of
  // its projection onto the triangle's plane), or -1.
  vtkIdType beyond(const Hit& hit, const double x[3]) const {
    const vtkIdType* p = cells_.points(hit.cell);
    const double* a = cells_.point(p[0]);
    double e1[3], e2[3], r[3];
    for (int d = 0; d < 3; ++d) {
      e1[d] = cells_.point(p[1])[d] - a[d];
      e2[d] = cells_.point(p[2])[d] - a[d];
      r[d] = x[d] - a[d];
    }
    const double d11 = vtkMath::Dot(e1, e1), d12 = vtkMath::Dot(e1, e2), d22 = vtkMath::Dot(e2, e2);
    const double r1 = vtkMath::Dot(r, e1), r2 = vtkMath::Dot(r, e2);
    const double det = d11 * d22 - d12 * d12;
    if (!(det > 0)) return -1;
    const double l1 = (d22 * r1 - d12 * r2) / det, l2 = (d11 * r2 - d12 * r1) / det;
    const double l[3] = {1 - l1 - l2, l1, l2};
    int vertex = 0;
    while (p[vertex] != hit.a) ++vertex;
    const int u = (vertex + 1) % 3, v = (vertex + 2) % 3;
    return l[v] < l[u] ? p[u] : p[v];  // the edge (vertex, u) lies opposite v
  }

  // Whether the vertex lies on the border of the source: an edge at it belongs to one cell only.
  bool on_border(vtkIdType vertex, Scratch& scratch) const {
    auto& rim = scratch.rim;
    rim.clear();
    for (vtkIdType j = 0; j < cells_.cell_count_of(vertex); ++j) {
      const vtkIdType c = cells_.cells_of(vertex)[j];
      const vtkIdType n = cells_.size(c);
      const vtkIdType* p = cells_.points(c);
      const vtkIdType at = std::find(p, p + n, vertex) - p;
      for (vtkIdType other : {p[(at + 1) % n], p[(at + n - 1) % n]}) {
        auto same = std::find_if(rim.begin(), rim.end(),
                                 [other](const auto& entry) { return entry.first == other; });
        if (same == rim.end()) {
          rim.emplace_back(other, 1);
        } else {
          ++same->second;
        }
      }
    }
    return std::any_of(rim.begin(), rim.end(), [](const auto& entry) { return entry.second < 2; });
  }

  static vtkIdType most_corners(const SourceCells& cells) {
    vtkIdType most = 3;
    for (vtkIdType c = 0; c < cells.cells(); ++c) most = std::max(most, cells.size(c));
    return most;
  }

  const SourceCells& cells_;
  PolygonTriangles triangles_;  // of the cells that are not convex
};

// ---- the samples --------------------------------------------------------------------------------

// A sample the walk left to the full search.
struct Pending {
  vtkIdType face;
  int index;  // among the face's samples, so that each face adds its samples in one order
  double weight;
  double x[3];
};

// The diagonal of the cell's bounding box: the size of the source faces around a face's centre.
double cell_size(const SourceCells& cells, vtkIdType c) {
  double lo[3], hi[3];
  const vtkIdType* p = cells.points(c);
  for (int d = 0; d < 3; ++d) lo[d] = hi[d] = cells.point(p[0])[d];
  for (vtkIdType k = 1; k < cells.size(c); ++k) {
    for (int d = 0; d < 3; ++d) {
      lo[d] = std::min(lo[d], cells.point(p[k])[d]);
      hi[d] = std::max(hi[d], cells.point(p[k])[d]);
    }
  }
  return std::sqrt(distance2(lo, hi));
}

// Rows of sub-triangles for a triangle whose longest edge is `longest`, over source faces of size
// `size`: sub-triangles no larger than the source faces.
int rows(double longest, double size) {
  if (!(size > 0) || longest >= kMostRows * size) return kMostRows;
  return std::max(1, static_cast<int>(std::ceil(longest / size)));
}

// The channels' values at a point of cell c whose interpolation weights there are w: a face value
// as it is, point values weighted.
void values_at(const std::vector<Channel>& channels, const SourceCells& cells, vtkIdType c,
               const double* w, double* out) {
  const vtkIdType* p = cells.points(c);
  const vtkIdType n = cells.size(c);
  for (const Channel& channel : channels) {
    const int nc = channel.components;
    for (int comp = 0; comp < nc; ++comp) {
      double v = 0;
      if (channel.per_cell) {
        v = channel.values[c * nc + comp];
      } else {
        for (vtkIdType k = 0; k < n; ++k) v += w[k] * channel.values[p[k] * nc + comp];
      }
      out[channel.offset + comp] = v;
    }
  }
}

// Samples every face: the centroid of each sub-triangle, weighted by its area, each walked to its
// closest point on the source and summed into the face's sums (or left pending).
class Sampler {
 public:
  Sampler(vtkPolyData* target, const Faces& faces, const std::vector<vtkIdType>& order,
          const std::vector<vtkIdType>& starts, const ClosestCells& closest, const Walker* walker,
          const std::vector<Channel>& channels, std::vector<double>& sums,
          std::vector<double>& weights, std::atomic<std::uint8_t>* covered)
      : target_(target),
        faces_(faces),
        order_(order),
        starts_(starts),
        cells_(closest.cells()),
        walker_(walker),
        channels_(channels),
        width_(width_of(channels)),
        sums_(sums),
        weights_(weights),
        covered_(covered),
        max_cell_size_(closest.max_cell_size()) {
    for (const Channel& channel : channels) point_channels_ |= !channel.per_cell;
  }

  void Initialize() {
    Local& local = local_.Local();
    local.cell_weights.assign(static_cast<size_t>(max_cell_size_), 0);
    local.values.assign(static_cast<size_t>(width_), 0);
  }

  void operator()(vtkIdType begin, vtkIdType end) {
    Local& local = local_.Local();
    for (vtkIdType k = begin; k < end; ++k) sample_face(order_[k], local);
  }

  void Reduce() {}

  // The samples left to the full search, by face and sample.
  std::vector<Pending> pending() {
    std::vector<Pending> all;
    for (Local& local : local_) all.insert(all.end(), local.pending.begin(), local.pending.end());
    std::sort(all.begin(), all.end(), [](const Pending& a, const Pending& b) {
      return a.face < b.face || (a.face == b.face && a.index < b.index);
    });
    return all;
  }

 private:
  struct Local {
    std::vector<double> cell_weights, values;
    Walker::Scratch scratch;
    std::vector<Pending> pending;
  };

  void sample_face(vtkIdType f, Local& local) {
    const vtkIdType start = starts_[f];
    if (start < 0) return;  // no cell to start from: the face gets no value
    const double size = cell_size(cells_, start);
    const bool plain = !(faces_.area[f] > 0);  // no area to weigh by: the plain mean
    const vtkIdType* ids = faces_.points_of(f);
    double* sum = &sums_[static_cast<size_t>(f) * width_];
    double total = 0;
    vtkIdType from = start;
    int index = 0;
    double corner[3][3];
    for (vtkIdType t = 0; t + 2 < faces_.size_of(f); ++t) {
      const std::array<int, 3> at = faces_.triangles.triangle(f, t);
      for (int v = 0; v < 3; ++v) target_->GetPoint(ids[at[v]], corner[v]);
      const double longest =
          std::sqrt(std::max({distance2(corner[0], corner[1]), distance2(corner[1], corner[2]),
                              distance2(corner[2], corner[0])}));
      const int m = rows(longest, size);
      const double weight = plain ? 1.0 : triangle_area(corner[0], corner[1], corner[2]) / (m * m);
      // The centroid of the sub-triangle with the grid corners (i0, j0), (i1, j1), (i2, j2): grid
      // point (i, j) lies i / m of the way to the triangle's second corner, j / m to its third.
      auto sample = [&](int i0, int j0, int i1, int j1, int i2, int j2) {
        const double u = (i0 + i1 + i2) / (3.0 * m), v = (j0 + j1 + j2) / (3.0 * m);
        double x[3];
        for (int d = 0; d < 3; ++d) {
          x[d] = (1 - u - v) * corner[0][d] + u * corner[1][d] + v * corner[2][d];
        }
        total += weight;
        Hit hit;
        if (walker_ && walker_->walk(x, from, hit, local.scratch, covered_)) {
          from = hit.cell;
          add(sum, weight, hit, local);
        } else {
          local.pending.push_back({f, index, weight, {x[0], x[1], x[2]}});
        }
        ++index;
      };
      // Row by row, every other row backwards, so that each walk starts next to its sample.
      for (int i = 0; i < m; ++i) {
        const int last = m - 1 - i;
        for (int step = 0; step <= last; ++step) {
          const int j = i % 2 ? last - step : step;
          if (i % 2 && j < last) sample(i + 1, j, i + 1, j + 1, i, j + 1);
          sample(i, j, i + 1, j, i, j + 1);
          if (!(i % 2) && j < last) sample(i + 1, j, i + 1, j + 1, i, j + 1);
        }
      }
    }
    weights_[f] = total;
  }

  void add(double* sum, double weight, const Hit& hit, Local& local) {
    covered_[hit.cell].store(1, std::memory_order_relaxed);
    const vtkIdType n = cells_.size(hit.cell);
    const double* w = hit.w;  // a triangle's own weights
    if (point_channels_ && n != 3) {
      // Other cells interpolate with their own functions (bilinear on a quadrilateral), at the
      // closest point.
      const vtkIdType* p = cells_.points(hit.cell);
      vtkGenericCell* cell = cell_.Local();
      cell->SetCellType(cells_.type(hit.cell));
      cell->PointIds->SetNumberOfIds(n);
      cell->Points->SetNumberOfPoints(n);
      for (vtkIdType k = 0; k < n; ++k) {
        cell->PointIds->SetId(k, p[k]);
        cell->Points->SetPoint(k, cells_.point(p[k]));
      }
      double closest[3], pcoords[3], dist2 = 0;
      int sub = 0;
      cell->EvaluatePosition(hit.x, closest, sub, pcoords, dist2, local.cell_weights.data());
      w = local.cell_weights.data();
    }
    values_at(channels_, cells_, hit.cell, w, local.values.data());
    for (int k = 0; k < width_; ++k) sum[k] += weight * local.values[k];
  }

  vtkPolyData* target_;
  const Faces& faces_;
  const std::vector<vtkIdType>& order_;
  const std::vector<vtkIdType>& starts_;
  const SourceCells& cells_;
  const Walker* walker_;  // none: every sample goes to the full search
  const std::vector<Channel>& channels_;
  int width_;
  bool point_channels_ = false;
  std::vector<double>& sums_;
  std::vector<double>& weights_;
  std::atomic<std::uint8_t>* covered_;
  int max_cell_size_;
  vtkSMPThreadLocal<Local> local_;
  // Thread-local objects are copies of one exemplar: a cell of its own per thread needs this.
  vtkSMPThreadLocalObject<vtkGenericCell> cell_;
};

// The full search at many points, threaded: each point's closest cell (-1: none) and the
// channels' values there.
class Search {
 public:
  Search(const ClosestCells& closest, const std::vector<double>& xyz,
         const std::vector<Channel>& channels, std::vector<vtkIdType>& cell,
         std::vector<double>& values)
      : closest_(closest), xyz_(xyz), channels_(channels), cell_(cell), values_(values) {}

  void Initialize() {
    weights_.Local().assign(static_cast<size_t>(closest_.max_cell_size()), 0.0);
    previous_.Local() = -1;
  }

  void operator()(vtkIdType begin, vtkIdType end) {
    vtkGenericCell* scratch = scratch_.Local();
    std::vector<double>& weights = weights_.Local();
    ClosestCells::Closest& best = best_.Local();
    vtkIdType& previous = previous_.Local();
    const int width = width_of(channels_);
    for (vtkIdType i = begin; i < end; ++i) {
      // The last point's cell bounds the search; the result does not depend on it.
      closest_.find(&xyz_[3 * i], previous, scratch, weights, best);
      cell_[i] = best.cell;
      if (best.cell < 0) continue;
      previous = best.cell;
      values_at(channels_, closest_.cells(), best.cell, best.weights.data(), &values_[i * width]);
    }
  }

  void Reduce() {}

 private:
  const ClosestCells& closest_;
  const std::vector<double>& xyz_;
  const std::vector<Channel>& channels_;
  std::vector<vtkIdType>& cell_;
  std::vector<double>& values_;
  vtkSMPThreadLocalObject<vtkGenericCell> scratch_;
  vtkSMPThreadLocal<std::vector<double>> weights_;
  vtkSMPThreadLocal<ClosestCells::Closest> best_;
  vtkSMPThreadLocal<vtkIdType> previous_;
};

// Closest cells and values at the points `xyz` (3 per point) by the full search.
void search_at(ClosestCells& closest, const std::vector<double>& xyz,
               const std::vector<Channel>& channels, std::vector<vtkIdType>& cell,
               std::vector<double>& values) {
  const auto n = static_cast<vtkIdType>(xyz.size() / 3);
  cell.assign(static_cast<size_t>(n), -1);
  values.assign(static_cast<size_t>(n) * width_of(channels), kNaN);
  if (n == 0) return;
  closest.build_tree();
  Search search(closest, xyz, channels, cell, values);
  vtkSMPTools::For(0, n, search);
}

// Whether every cell is a polygon the walk can cross: triangles, quadrilaterals, polygons.
bool all_polygons(const SourceCells& cells) {
  if (cells.triangles()) return true;
  for (vtkIdType c = 0; c < cells.cells(); ++c) {
    if (!is_face(cells.type(c)) || cells.size(c) < 3) return false;
  }
  return true;
}

vtkSmartPointer<vtkDoubleArray> new_array(const Channel& channel, vtkIdType tuples, double fill) {
  auto array = vtkSmartPointer<vtkDoubleArray>::New();
  array->SetName(channel.name.c_str());
  array->SetNumberOfComponents(channel.components);
  array->SetNumberOfTuples(tuples);
  array->Fill(fill);
  return array;
}

// The faces in the spatial order of their centres: one face's walks read the source where the
// last one's did.
std::vector<vtkIdType> spatial_order_of(const Faces& faces) {
  auto coordinates = vtkSmartPointer<vtkDoubleArray>::New();
  coordinates->SetNumberOfComponents(3);
  coordinates->SetNumberOfTuples(faces.count());
  std::copy(faces.centre.begin(), faces.centre.end(), coordinates->GetPointer(0));
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetData(coordinates);
  auto centres = vtkSmartPointer<vtkPolyData>::New();
  centres->SetPoints(points);
  return spatial_order(centres);
}

// The cells the faces' walks start from: each face's centre's closest cell. Where a walk puts the
// centre on the source, the cell it lands on; else the full search's, bounded from the start by
// where the walk ended. The faces are taken in blocks of kBlock, consecutive in spatial order,
// each block on one thread and its faces one after another: a face walks from the starts of its
// neighbours earlier in its block (or of the face before it), and the first face of a block, or
// of a sheet, from the source point nearest its centre. A face's start depends on its block
// only, so it is the same whatever the threads.
class Starts {
 public:
  Starts(const Faces& faces, const std::vector<vtkIdType>& order, const Links& links,
         const Walker& walker, const SourceCells& cells, const PointTree& points,
         std::vector<vtkIdType>& starts, std::vector<vtkIdType>& hints)
      : faces_(faces),
        order_(order),
        links_(links),
        walker_(walker),
        cells_(cells),
        points_(points),
        starts_(starts),
        hints_(hints),
        position_(order.size()) {
    for (size_t k = 0; k < order.size(); ++k) position_[order[k]] = static_cast<vtkIdType>(k);
  }

  void Initialize() {}

  void operator()(vtkIdType begin, vtkIdType end) {
    Local& local = local_.Local();
    for (vtkIdType block = begin; block < end; ++block) {
      const vtkIdType first = block * kBlock;
      const vtkIdType last = std::min(first + kBlock, static_cast<vtkIdType>(order_.size()));
      for (vtkIdType k = first; k < last; ++k) start(order_[k], first, local);
    }
  }

  void Reduce() {}

 private:
  struct Local {
    Walker::Scratch scratch;
    std::vector<vtkIdType> tried;
  };

  void start(vtkIdType f, vtkIdType block_first, Local& local) {
    const double* centre = &faces_.centre[3 * f];
    const double near = kOnSource * faces_.size[f];
    // Whether a walk from `from` ends at all: on the source (the start found) or off it (a hint).
    auto walk_from = [&](vtkIdType from) {
      Hit hit;
      if (!walker_.walk(centre, from, hit, local.scratch)) return false;
      if (hit.dist2 <= near * near) starts_[f] = hit.cell;
      hints_[f] = hit.cell;
      return true;
    };
    std::vector<vtkIdType>& tried = local.tried;
    tried.clear();
    const vtkIdType here = position_[f];
    for (vtkIdType k = 0; k < faces_.size_of(f); ++k) {
      const vtkIdType p = faces_.points_of(f)[k];
      for (vtkIdType j = links_.first[p]; j < links_.first[p + 1]; ++j) {
        const vtkIdType g = links_.faces[j];
        if (position_[g] < block_first || position_[g] >= here) continue;  // not yet, or not ours
        const vtkIdType start = hints_[g];
        if (start >= 0 && std::find(tried.begin(), tried.end(), start) == tried.end()) {
          tried.push_back(start);
        }
      }
    }
    if (tried.size() > kMostStarts) tried.resize(kMostStarts);
    if (here > block_first && hints_[order_[here - 1]] >= 0 &&
        std::find(tried.begin(), tried.end(), hints_[order_[here - 1]]) == tried.end()) {
      tried.push_back(hints_[order_[here - 1]]);
    }
    if (std::any_of(tried.begin(), tried.end(), walk_from)) return;
    const vtkIdType nearest = points_.nearest(centre);
    if (nearest >= 0 && cells_.cell_count_of(nearest) > 0) walk_from(cells_.cells_of(nearest)[0]);
  }

  const Faces& faces_;
  const std::vector<vtkIdType>& order_;
  const Links& links_;
  const Walker& walker_;
  const SourceCells& cells_;
  const PointTree& points_;
  std::vector<vtkIdType>& starts_;
  std::vector<vtkIdType>& hints_;
  std::vector<vtkIdType> position_;
  vtkSMPThreadLocal<Local> local_;
};

std::vector<vtkIdType> starts_of(const Faces& faces, const std::vector<vtkIdType>& order,
                                 vtkIdType points, ClosestCells& closest, vtkDataSet* source,
                                 SourceIndex& shared, const Walker* walker) {
  const vtkIdType n = faces.count();
  std::vector<vtkIdType> starts(static_cast<size_t>(n), -1), hints(starts);
  if (walker) {
    const Links links(faces, points);
    Starts pass(faces, order, links, *walker, closest.cells(), shared.points_of(source), starts,
                hints);
    vtkSMPTools::For(0, (n + kBlock - 1) / kBlock, 1, pass);
  }
  // The centres a walk did not put on the source, by the full search.
  std::vector<vtkIdType> searched;
  std::vector<double> at;
  for (vtkIdType f : order) {
    if (starts[f] >= 0) continue;
    searched.push_back(f);
    at.insert(at.end(), &faces.centre[3 * f], &faces.centre[3 * f] + 3);
  }
  if (searched.empty()) return starts;
  closest.build_tree();
  vtkSMPTools::For(0, static_cast<vtkIdType>(searched.size()), [&](vtkIdType begin, vtkIdType end) {
    auto cell = vtkSmartPointer<vtkGenericCell>::New();
    std::vector<double> weights(static_cast<size_t>(closest.max_cell_size()));
    ClosestCells::Closest best;
    for (vtkIdType i = begin; i < end; ++i) {
      const vtkIdType f = searched[i];
      closest.find(&at[3 * i], hints[f], cell, weights, best);
      starts[f] = best.cell;
    }
  });
  return starts;
}

}  // namespace

vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_face_average(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared) {
  check_method_arguments(kOperation, field_name, from_mesh, to_mesh, shared);
  require_source_cells(from_mesh, std::string("fieldferry.") + kOperation, "Face average");
  auto* target = vtkPolyData::SafeDownCast(to_mesh);
  if (!target) {
    kelm::raise_value_error("fieldferry.", kOperation,
                            ": \"Face average\" averages over the faces of a surface; the target "
                            "(to_mesh) is a ",
                            to_mesh->GetClassName(),
                            " (map onto the bodies' surfaces with boundary_only=True, or use "
                            "\"Surface projection\" for values at the nodes)");
  }
  mark_active_scalars(from_mesh, field_name);

  auto out = vtkSmartPointer<vtkPolyData>::New();
  out->ShallowCopy(target);
  out->GetPointData()->RemoveArray(field_name.c_str());
  out->GetPointData()->RemoveArray(kValidMaskArray);
  out->GetCellData()->RemoveArray(field_name.c_str());
  out->GetFieldData()->RemoveArray(kelm::kSourceAreaCoveredArray);
  const vtkSmartPointer<vtkDataSet> sampled = source_for(out, from_mesh, field_name);
  const std::vector<Channel> channels = channels_of(sampled);
  const int width = width_of(channels);
  const vtkIdType n_points = out->GetNumberOfPoints();
  const Faces faces = faces_of(out);
  const vtkIdType n_faces = faces.count();
  const std::vector<vtkIdType> order = spatial_order_of(faces);

  std::optional<SourceIndex> own;
  if (!shared) shared = &own.emplace(sampled);
  ClosestCells& closest = shared->cells_of(sampled);
  const SourceCells& cells = closest.cells();
  std::unique_ptr<Walker> walker;
  if (all_polygons(cells)) walker = std::make_unique<Walker>(closest.cells());
  const std::vector<vtkIdType> starts =
      starts_of(faces, order, n_points, closest, sampled, *shared, walker.get());

  std::vector<double> sums(static_cast<size_t>(n_faces) * width, 0.0);
  std::vector<double> weights(static_cast<size_t>(n_faces), 0.0);
  std::unique_ptr<std::atomic<std::uint8_t>[]> covered(
      new std::atomic<std::uint8_t>[static_cast<size_t>(cells.cells())]);
  for (vtkIdType c = 0; c < cells.cells(); ++c) covered[c].store(0, std::memory_order_relaxed);
  Sampler sampler(out, faces, order, starts, closest, walker.get(), channels, sums, weights,
                  covered.get());
  vtkSMPTools::For(0, static_cast<vtkIdType>(order.size()), sampler);

  // The samples the walks left, by the full search. A face any of whose samples finds no cell
  // gets no value.
  std::vector<char> failed(static_cast<size_t>(n_faces), 0);
  for (vtkIdType f = 0; f < n_faces; ++f) failed[f] = starts[f] < 0;
  const std::vector<Pending> pending = sampler.pending();
  std::vector<double> xyz;
  xyz.reserve(3 * pending.size());
  for (const Pending& sample : pending) xyz.insert(xyz.end(), sample.x, sample.x + 3);
  std::vector<vtkIdType> found;
  std::vector<double> found_values;
  search_at(closest, xyz, channels, found, found_values);
  for (size_t i = 0; i < pending.size(); ++i) {
    const Pending& sample = pending[i];
    if (found[i] < 0) {
      failed[sample.face] = 1;
      continue;
    }
    covered[found[i]].store(1, std::memory_order_relaxed);
    double* sum = &sums[static_cast<size_t>(sample.face) * width];
    for (int k = 0; k < width; ++k) sum[k] += sample.weight * found_values[i * width + k];
  }

  // Each face's average; then each point's mean over the faces with a value around it, by area
  // (plainly where they have none), or its own value from the search when it is on no face.
  std::vector<double> face_values(sums.size(), kNaN);
  std::vector<char> face_valued(static_cast<size_t>(n_faces), 0);
  for (vtkIdType f = 0; f < n_faces; ++f) {
    if (failed[f] || !(weights[f] > 0)) continue;
    bool valued = true;
    for (int k = 0; k < width; ++k) {
      face_values[f * width + k] = sums[f * width + k] / weights[f];
      valued = valued && !std::isnan(face_values[f * width + k]);
    }
    face_valued[f] = valued;
  }
  std::vector<double> area_sum(static_cast<size_t>(n_points), 0.0), count(area_sum);
  std::vector<double> by_area(static_cast<size_t>(n_points) * width, 0.0), plain(by_area);
  for (vtkIdType f = 0; f < n_faces; ++f) {
    if (!face_valued[f]) continue;
    const vtkIdType* ids = faces.points_of(f);
    for (vtkIdType k = 0; k < faces.size_of(f); ++k) {
      const vtkIdType p = ids[k];
      area_sum[p] += faces.area[f];
      count[p] += 1;
      for (int c = 0; c < width; ++c) {
        by_area[p * width + c] += faces.area[f] * face_values[f * width + c];
        plain[p * width + c] += face_values[f * width + c];
      }
    }
  }
  std::vector<double> point_values(static_cast<size_t>(n_points) * width, 0.0);
  std::vector<std::uint8_t> valid(static_cast<size_t>(n_points), 0);
  for (vtkIdType p = 0; p < n_points; ++p) {
    if (count[p] == 0) continue;
    valid[p] = 1;
    for (int c = 0; c < width; ++c) {
      point_values[p * width + c] =
          area_sum[p] > 0 ? by_area[p * width + c] / area_sum[p] : plain[p * width + c] / count[p];
    }
  }
  std::vector<vtkIdType> lone;
  xyz.clear();
  for (vtkIdType p = 0; p < n_points; ++p) {
    if (faces.point_on_face[p]) continue;
    lone.push_back(p);
    double x[3];
    out->GetPoint(p, x);
    xyz.insert(xyz.end(), x, x + 3);
  }
  search_at(closest, xyz, channels, found, found_values);
  for (size_t j = 0; j < lone.size(); ++j) {
    if (found[j] < 0) continue;
    valid[lone[j]] = 1;
    std::copy(&found_values[j * width], &found_values[j * width] + width,
              &point_values[lone[j] * width]);
  }

  // The arrays: per point, and per cell where the target has no cell array of that name (its
  // own "Element ID" or "Distance"). Vertices and lines take the mean of their points' values.
  std::vector<vtkIdType> face_of_cell(static_cast<size_t>(out->GetNumberOfCells()), -1);
  for (vtkIdType f = 0; f < n_faces; ++f) face_of_cell[faces.cell[f]] = f;
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (const Channel& channel : channels) {
    auto at_points = new_array(channel, n_points, 0.0);
    for (vtkIdType p = 0; p < n_points; ++p) {
      if (!valid[p]) continue;
      for (int comp = 0; comp < channel.components; ++comp) {
        at_points->SetComponent(p, comp, point_values[p * width + channel.offset + comp]);
      }
    }
    out->GetPointData()->AddArray(at_points);
    if (out->GetCellData()->GetAbstractArray(channel.name.c_str())) continue;
    auto at_cells = new_array(channel, out->GetNumberOfCells(), kNaN);
    for (vtkIdType c = 0; c < out->GetNumberOfCells(); ++c) {
      const vtkIdType f = face_of_cell[c];
      for (int comp = 0; comp < channel.components; ++comp) {
        double v = kNaN;
        if (f >= 0) {
          v = face_values[f * width + channel.offset + comp];
        } else {
          out->GetCellPoints(c, ids);
          double total = 0;
          int with_value = 0;
          for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
            const vtkIdType p = ids->GetId(k);
            if (!valid[p]) continue;
            total += point_values[p * width + channel.offset + comp];
            ++with_value;
          }
          if (with_value > 0) v = total / with_value;
        }
        at_cells->SetComponent(c, comp, v);
      }
    }
    out->GetCellData()->AddArray(at_cells);
  }
  out->GetPointData()->SetActiveScalars(field_name.c_str());
  set_valid_mask(out, valid.data());

  if (walker) {
    double area = 0;
    for (vtkIdType c = 0; c < cells.cells(); ++c) {
      if (covered[c].load(std::memory_order_relaxed)) area += walker->area(c);
    }
    auto array = vtkSmartPointer<vtkDoubleArray>::New();
    array->SetName(kelm::kSourceAreaCoveredArray);
    array->InsertNextValue(area);
    out->GetFieldData()->AddArray(array);
  }
  return out;
}

}  // namespace fieldferry_core

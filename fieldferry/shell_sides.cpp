#include "shell_sides.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCellType.h>
#include <vtkDoubleArray.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPointData.h>
#include <vtkPointSet.h>
#include <vtkPoints.h>
#include <vtkUnsignedCharArray.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <unordered_map>

#include "closest_cell.h"
#include "common/mapped_leaf.h"
#include "facing.h"

namespace fieldferry_core {

// The polygons of a shell's surface: their cells, unit normals and centres.
struct ShellFaces {
  std::vector<vtkIdType> cells;
  std::vector<double> normals, centres;
  std::vector<int> turn;  // +1 or -1: the face's normal turned so that neighbours agree
};

namespace {

// A source face whose normal is further off the shell's than a solid's facing test allows (the
// rim of a plate the CFD meshed with its thickness, a wall meeting the shell) wets neither side.
constexpr double kSideCosine = kFacingCosine;
constexpr unsigned char kFront = 1, kBehind = 2;
// The corners a loaded face has at most (a quadrilateral).
constexpr int kCorners = 4;

ShellFaces shell_faces(vtkPolyData* surface) {
  ShellFaces out;
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c) {
    const int type = surface->GetCellType(c);
    if (type != VTK_TRIANGLE && type != VTK_QUAD && type != VTK_POLYGON) continue;
    surface->GetCellPoints(c, ids);
    double n[3], centre[3] = {0, 0, 0}, x[3];
    polygon_normal(surface->GetPoints(), ids, n);
    if (vtkMath::Normalize(n) == 0) continue;  // no area: no side
    for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
      surface->GetPoint(ids->GetId(k), x);
      for (int a = 0; a < 3; ++a) centre[a] += x[a] / double(ids->GetNumberOfIds());
    }
    out.cells.push_back(c);
    out.normals.insert(out.normals.end(), n, n + 3);
    out.centres.insert(out.centres.end(), centre, centre + 3);
  }
  return out;
}

// Turns the faces' normals so that faces sharing an edge agree (each runs the shared edge the
// other way round), face by face outwards from the first face of each connected piece. The two
// sheets of the source around the shell are then told apart the same way all over it, whatever
// the mesher did with each element.
void agree_on_sides(vtkPolyData* surface, ShellFaces& faces) {
  const std::size_t n = faces.cells.size();
  std::unordered_map<std::uint64_t, std::vector<std::pair<std::size_t, bool>>> edges;
  auto ids = vtkSmartPointer<vtkIdList>::New();
  std::vector<std::vector<vtkIdType>> corners(n);
  for (std::size_t f = 0; f < n; ++f) {
    surface->GetCellPoints(faces.cells[f], ids);
    corners[f].assign(ids->begin(), ids->end());
    for (std::size_t k = 0; k < corners[f].size(); ++k) {
      const auto a = std::uint64_t(corners[f][k]),
                 b = std::uint64_t(corners[f][(k + 1) % corners[f].size()]);
      edges[a < b ? a << 32 | b : b << 32 | a].push_back({f, a < b});
    }
  }
  faces.turn.assign(n, 0);
  for (std::size_t first = 0; first < n; ++first) {
    if (faces.turn[first]) continue;
    faces.turn[first] = 1;
    std::deque<std::size_t> queue{first};
    while (!queue.empty()) {
      const std::size_t f = queue.front();
      queue.pop_front();
      for (std::size_t k = 0; k < corners[f].size(); ++k) {
        const auto a = std::uint64_t(corners[f][k]),
                   b = std::uint64_t(corners[f][(k + 1) % corners[f].size()]);
        for (const auto& [g, forward] : edges[a < b ? a << 32 | b : b << 32 | a]) {
          if (faces.turn[g]) continue;
          faces.turn[g] = forward == (a < b) ? -faces.turn[f] : faces.turn[f];
          queue.push_back(g);
        }
      }
    }
  }
}

// The source faces listed by `faces` as polygons on their own points, with their point and cell
// values. Only their own points: the methods that read points would take the other side's.
vtkSmartPointer<vtkPolyData> side_source(vtkDataSet* source, const std::vector<vtkIdType>& faces) {
  auto side = vtkSmartPointer<vtkPolyData>::New();
  side->GetFieldData()->ShallowCopy(source->GetFieldData());
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  auto ids = vtkSmartPointer<vtkIdList>::New();
  std::vector<vtkIdType> renumbered(std::size_t(source->GetNumberOfPoints()), -1);
  side->GetPointData()->CopyAllocate(source->GetPointData());
  side->GetCellData()->CopyAllocate(source->GetCellData(), vtkIdType(faces.size()));
  for (std::size_t i = 0; i < faces.size(); ++i) {
    source->GetCellPoints(faces[i], ids);
    face_corners(source->GetCellType(faces[i]), ids);
    for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
      vtkIdType& id = renumbered[std::size_t(ids->GetId(k))];
      if (id < 0) {
        id = points->InsertNextPoint(source->GetPoint(ids->GetId(k)));
        side->GetPointData()->CopyData(source->GetPointData(), ids->GetId(k), id);
      }
      ids->SetId(k, id);
    }
    polys->InsertNextCell(ids);
    side->GetCellData()->CopyData(source->GetCellData(), faces[i], vtkIdType(i));
  }
  side->SetPoints(points);
  side->SetPolys(polys);
  return side;
}

// One side of the shell as the method maps it: each face's value, its values at its first four
// corners, and its centre's squared distance to the side's source faces (infinite for a side
// without any). `at_nodes`: the method gave node values, which the corners carry.
struct Side {
  std::vector<double> values, corners, dist2;
  bool at_nodes = false;
};

// The mapped values of each shell face: its own cell value where the method gives faces one (a
// face average), else its nodes' values and their mean.
void read_side(vtkDataSet* mapped, const ShellFaces& faces, const std::string& field, Side& side) {
  const std::size_t n = faces.cells.size();
  side.values.assign(n, std::nan(""));
  side.corners.assign(kCorners * n, std::nan(""));
  auto* cells = vtkDataArray::SafeDownCast(mapped->GetCellData()->GetAbstractArray(field.c_str()));
  auto* points =
      vtkDataArray::SafeDownCast(mapped->GetPointData()->GetAbstractArray(field.c_str()));
  side.at_nodes = !cells && points;
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (std::size_t f = 0; f < n; ++f) {
    mapped->GetCellPoints(faces.cells[f], ids);
    const vtkIdType count = ids->GetNumberOfIds();
    double sum = 0;
    for (vtkIdType k = 0; side.at_nodes && k < count; ++k) {
      const double value = points->GetTuple1(ids->GetId(k));
      if (k < kCorners) side.corners[kCorners * f + std::size_t(k)] = value;
      sum += value;
    }
    if (side.at_nodes) side.values[f] = sum / double(count);
    if (cells) side.values[f] = cells->GetTuple1(faces.cells[f]);
  }
}

// The squared distance from each face's centre to the closest cell of `sheet` (indexed as
// `cells`), infinite where that cell does not face it: a side wets a face only where its closest
// source face points the way that side's wall does (`sign` -1 in front: against the agreed face
// normal; +1 behind: along it), within the facing angle. The bottom of a building standing on the
// ground lies within reach of its walls' faces, edge-on to it, and stays dry.
std::vector<double> centre_distances2(ClosestCells& cells, vtkPolyData* sheet,
                                      const ShellFaces& faces, double sign) {
  cells.build_tree();
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  auto ids = vtkSmartPointer<vtkIdList>::New();
  std::vector<double> weights(std::size_t(cells.max_cell_size()));
  std::vector<double> out(faces.cells.size());
  vtkIdType hint = -1;
  for (std::size_t f = 0; f < out.size(); ++f) {
    ClosestCells::Closest best;
    cells.find(&faces.centres[3 * f], hint, cell, weights, best);
    out[f] = best.dist2;
    hint = best.cell;
    if (best.cell < 0) continue;
    double n[3];
    sheet->GetCellPoints(best.cell, ids);
    polygon_normal(sheet->GetPoints(), ids, n);
    const double cosine =
        vtkMath::Normalize(n) > 0 ? faces.turn[f] * vtkMath::Dot(n, &faces.normals[3 * f]) : 0.0;
    if (!(sign * cosine >= kSideCosine)) out[f] = std::numeric_limits<double>::infinity();
  }
  return out;
}

Side map_one_side(vtkDataSet* source, const std::vector<vtkIdType>& faces, const ShellFaces& shell,
                  const std::string& field, const SideMapping& map_side, double sign) {
  Side side;
  if (faces.empty()) {
    side.values.assign(shell.cells.size(), 0.0);
    side.corners.assign(kCorners * shell.cells.size(), 0.0);
    side.dist2.assign(shell.cells.size(), std::numeric_limits<double>::infinity());
    return side;
  }
  vtkSmartPointer<vtkPolyData> sheet = side_source(source, faces);
  SourceIndex index(sheet);
  read_side(map_side(index), shell, field, side);
  side.dist2 = centre_distances2(index.cells_of(sheet), sheet, shell, sign);
  return side;
}

}  // namespace

std::unique_ptr<ShellSides> ShellSides::of(vtkDataSet* source) {
  auto* set = vtkPointSet::SafeDownCast(source);
  if (!set || !set->GetPoints()) return nullptr;
  std::unique_ptr<ShellSides> sides(new ShellSides(source));
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < source->GetNumberOfCells(); ++c) {
    source->GetCellPoints(c, ids);
    if (!face_corners(source->GetCellType(c), ids)) continue;
    double n[3], centre[3] = {0, 0, 0}, x[3];
    polygon_normal(set->GetPoints(), ids, n);
    if (vtkMath::Normalize(n) == 0) continue;
    for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
      set->GetPoint(ids->GetId(k), x);
      for (int a = 0; a < 3; ++a) centre[a] += x[a] / double(ids->GetNumberOfIds());
    }
    sides->faces_.push_back(c);
    sides->normals_.insert(sides->normals_.end(), n, n + 3);
    sides->centres_.insert(sides->centres_.end(), centre, centre + 3);
  }
  if (sides->faces_.empty()) return nullptr;
  return sides;
}

void ShellSides::split(vtkPolyData* surface, const ShellFaces& shell, double reach,
                       std::vector<vtkIdType>& front, std::vector<vtkIdType>& behind) const {
  // Each source face near the shell belongs to the side its closest shell face (turned as its
  // neighbours agree) has it on: in front when the source normal, which points out of the
  // fluid, points against that face's normal.
  auto polygons = vtkSmartPointer<vtkPolyData>::New();
  polygons->SetPoints(surface->GetPoints());
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c : shell.cells) {
    surface->GetCellPoints(c, ids);
    polys->InsertNextCell(ids);
  }
  polygons->SetPolys(polys);
  ClosestCells closest(polygons);
  closest.build_tree();
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  std::vector<double> weights(std::size_t(closest.max_cell_size()));
  double box[6];
  surface->GetBounds(box);
  vtkIdType hint = -1;
  for (std::size_t s = 0; s < faces_.size(); ++s) {
    const double* x = &centres_[3 * s];
    if (x[0] < box[0] - reach || x[0] > box[1] + reach || x[1] < box[2] - reach ||
        x[1] > box[3] + reach || x[2] < box[4] - reach || x[2] > box[5] + reach) {
      continue;
    }
    ClosestCells::Closest best;
    closest.find(x, hint, cell, weights, best);
    if (best.cell < 0 || best.dist2 > reach * reach) continue;
    hint = best.cell;
    const auto f = std::size_t(best.cell);
    const double cosine = shell.turn[f] * vtkMath::Dot(&normals_[3 * s], &shell.normals[3 * f]);
    if (std::abs(cosine) < kSideCosine) continue;
    (cosine < 0 ? front : behind).push_back(faces_[s]);
  }
}

namespace {

vtkSmartPointer<vtkDoubleArray> cell_array(const std::string& name, int components,
                                           vtkIdType cells) {
  auto array = vtkSmartPointer<vtkDoubleArray>::New();
  array->SetName(name.c_str());
  array->SetNumberOfComponents(components);
  array->SetNumberOfTuples(cells);
  array->Fill(std::nan(""));
  return array;
}

// Writes the net values of sides a (in front of the agreed normals) and b onto `mapped`.
void write_sides(vtkDataSet* mapped, const std::string& field, const ShellFaces& shell,
                 const Side& a, const Side& b, std::optional<double> tolerance) {
  const vtkIdType cells = mapped->GetNumberOfCells();
  vtkSmartPointer<vtkDoubleArray> net = cell_array(field, 1, cells);
  if (auto* before =
          vtkDataArray::SafeDownCast(mapped->GetCellData()->GetAbstractArray(field.c_str()))) {
    for (vtkIdType c = 0; c < cells; ++c) net->SetValue(c, before->GetTuple1(c));
  }
  // Node values stay node values: each face gets its own net value at each of its corners.
  vtkSmartPointer<vtkDoubleArray> corners;
  if (a.at_nodes || b.at_nodes) {
    corners = cell_array(kelm::corner_values_array(field), kCorners, cells);
  }
  auto wetted = vtkSmartPointer<vtkUnsignedCharArray>::New();
  wetted->SetName(kelm::kWettedSidesArray);
  wetted->SetNumberOfTuples(cells);
  wetted->FillValue(0);
  const double reach2 = tolerance ? *tolerance * *tolerance : 0.0;
  for (std::size_t f = 0; f < shell.cells.size(); ++f) {
    // Without a tolerance only the side of the closest source face wets the face.
    const bool wet_a =
        tolerance ? a.dist2[f] <= reach2 : a.dist2[f] <= b.dist2[f] && std::isfinite(a.dist2[f]);
    const bool wet_b = tolerance ? b.dist2[f] <= reach2 : !wet_a && std::isfinite(b.dist2[f]);
    const int turn = shell.turn[f];
    const double agreed = (wet_a ? a.values[f] : 0.0) - (wet_b ? b.values[f] : 0.0);
    net->SetValue(shell.cells[f], wet_a || wet_b ? turn * agreed : std::nan(""));
    for (std::size_t k = 0; corners && k < kCorners && (wet_a || wet_b); ++k) {
      const double corner =
          (wet_a ? a.corners[kCorners * f + k] : 0.0) - (wet_b ? b.corners[kCorners * f + k] : 0.0);
      corners->SetTypedComponent(shell.cells[f], int(k), turn * corner);
    }
    const bool in_front = turn > 0 ? wet_a : wet_b, in_behind = turn > 0 ? wet_b : wet_a;
    wetted->SetValue(shell.cells[f], (in_front ? kFront : 0) | (in_behind ? kBehind : 0));
  }
  mapped->GetCellData()->RemoveArray(field.c_str());
  mapped->GetCellData()->AddArray(net);
  mapped->GetCellData()->AddArray(wetted);
  if (corners) mapped->GetCellData()->AddArray(corners);
}

}  // namespace

void ShellSides::load(vtkPolyData* surface, vtkDataSet* mapped, const std::string& field,
                      std::optional<double> tolerance, const SideMapping& map_side) const {
  ShellFaces shell = shell_faces(surface);
  if (shell.cells.empty()) return;
  agree_on_sides(surface, shell);
  std::vector<vtkIdType> front, behind;  // in the agreed sides' terms
  split(surface, shell, tolerance ? *tolerance : std::numeric_limits<double>::infinity(), front,
        behind);
  const Side a = map_one_side(source_, front, shell, field, map_side, -1.0);
  const Side b = map_one_side(source_, behind, shell, field, map_side, +1.0);
  write_sides(mapped, field, shell, a, b, tolerance);
}

}  // namespace fieldferry_core

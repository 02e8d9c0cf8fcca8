#include "source_copies.h"

#include <vtkAppendFilter.h>
#include <vtkAppendPolyData.h>
#include <vtkCellData.h>
#include <vtkExtractCells.h>
#include <vtkFieldData.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkIntArray.h>
#include <vtkMath.h>
#include <vtkMatrix4x4.h>
#include <vtkPolyData.h>
#include <vtkPolygon.h>
#include <vtkTransform.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <map>
#include <numeric>
#include <vector>

namespace fieldferry_core {

namespace {

// |cos| of the angle between a face's normal and a plane's above which the face lies along it.
constexpr double kAlongPlane = 0.9;
// How far a source's angle round the axis may differ from its sector's (a share of it) for the
// source to be taken as spanning it.
constexpr double kSpanSlack = 0.02;

Vector3 unit(const Vector3& v) {
  const double length = vtkMath::Norm(v.data());
  assert(length > 0 && "the bindings refuse a zero normal or axis");
  return {v[0] / length, v[1] / length, v[2] / length};
}

double diagonal_of(vtkDataSet* data) {
  double b[6];
  data->GetBounds(b);
  return std::sqrt((b[1] - b[0]) * (b[1] - b[0]) + (b[3] - b[2]) * (b[3] - b[2]) +
                   (b[5] - b[4]) * (b[5] - b[4]));
}

double distance_to(const MirrorPlane& plane, const double point[3]) {
  const Vector3 n = unit(plane.normal);
  double d = 0;
  for (int a = 0; a < 3; ++a) d += (point[a] - plane.centre[a]) * n[a];
  return std::abs(d);
}

bool is_face(vtkDataSet* data, vtkIdType cell, std::map<int, int>& dimensions) {
  const int type = data->GetCellType(cell);
  auto known = dimensions.find(type);
  if (known != dimensions.end()) return known->second == 2;
  auto probe = vtkSmartPointer<vtkGenericCell>::New();
  probe->SetCellType(type);
  return (dimensions[type] = probe->GetCellDimension()) == 2;
}

// The unit normal of a face (over its corners, which come first in every face type), zero for a
// degenerate one.
Vector3 face_normal(vtkGenericCell* face) {
  std::vector<vtkIdType> ring(static_cast<size_t>(face->GetNumberOfEdges()));
  std::iota(ring.begin(), ring.end(), 0);
  Vector3 n{0, 0, 0};
  vtkPolygon::ComputeNormal(face->GetPoints(), int(ring.size()), ring.data(), n.data());
  return n;
}

// Per point of `data`, whether it lies within `reach` of `plane`.
std::vector<char> points_near(vtkDataSet* data, const MirrorPlane& plane, double reach) {
  std::vector<char> near(static_cast<size_t>(data->GetNumberOfPoints()));
  for (vtkIdType p = 0; p < data->GetNumberOfPoints(); ++p) {
    near[static_cast<size_t>(p)] = distance_to(plane, data->GetPoint(p)) <= reach;
  }
  return near;
}

// A face lies in a plane when all its points are within reach of it (`near`) and it lies along
// it: a wall standing on the plane, one face wide, has its points within a tolerance of a face's
// size too.
bool lies_on(vtkDataSet* data, vtkIdType cell, vtkIdList* points, const MirrorPlane& plane,
             const std::vector<char>& near, vtkGenericCell* face) {
  for (vtkIdType k = 0; k < points->GetNumberOfIds(); ++k) {
    if (!near[static_cast<size_t>(points->GetId(k))]) return false;
  }
  data->GetCell(cell, face);
  const Vector3 normal = face_normal(face);
  return std::abs(vtkMath::Dot(normal.data(), unit(plane.normal).data())) >= kAlongPlane;
}

vtkSmartPointer<vtkDataSet> only_cells(vtkDataSet* source, const std::vector<vtkIdType>& dropped) {
  if (auto* poly = vtkPolyData::SafeDownCast(source)) {
    auto kept = vtkSmartPointer<vtkPolyData>::New();
    kept->DeepCopy(poly);
    kept->BuildCells();
    for (vtkIdType cell : dropped) kept->DeleteCell(cell);
    kept->RemoveDeletedCells();
    return kept;
  }
  std::vector<vtkIdType> kept;
  for (vtkIdType c = 0, d = 0; c < source->GetNumberOfCells(); ++c) {
    if (d < vtkIdType(dropped.size()) && dropped[d] == c) {
      ++d;
    } else {
      kept.push_back(c);
    }
  }
  auto extract = vtkSmartPointer<vtkExtractCells>::New();
  extract->SetInputData(source);
  extract->SetCellIds(kept.data(), vtkIdType(kept.size()));
  extract->Update();
  return extract->GetOutput();
}

// `source` less its faces lying in one of `planes` (within `reach`).
vtkSmartPointer<vtkDataSet> without_faces_on(vtkDataSet* source,
                                             const std::vector<MirrorPlane>& planes, double reach) {
  std::vector<std::vector<char>> near;
  for (const MirrorPlane& plane : planes) near.push_back(points_near(source, plane, reach));
  std::map<int, int> dimensions;
  std::vector<vtkIdType> dropped;
  auto points = vtkSmartPointer<vtkIdList>::New();
  auto face = vtkSmartPointer<vtkGenericCell>::New();
  for (vtkIdType c = 0; c < source->GetNumberOfCells() && !planes.empty(); ++c) {
    if (!is_face(source, c, dimensions)) continue;
    source->GetCellPoints(c, points);
    for (size_t k = 0; k < planes.size(); ++k) {
      if (lies_on(source, c, points, planes[k], near[k], face)) {
        dropped.push_back(c);
        break;
      }
    }
  }
  if (dropped.empty()) return source;
  return only_cells(source, dropped);
}

// The two planes through the sector's axis that bound the source's points round it, at the ends
// of the widest gap between their angles; none unless the source spans its sector.
std::vector<MirrorPlane> sector_cut(vtkDataSet* source, const SectorCopies& sector, double reach) {
  const Vector3 axis = unit(sector.axis);
  double u[3], v[3];
  vtkMath::Perpendiculars(axis.data(), u, v, 0);
  std::vector<double> angles;
  for (vtkIdType p = 0; p < source->GetNumberOfPoints(); ++p) {
    const double* x = source->GetPoint(p);
    const double d[3] = {x[0] - sector.centre[0], x[1] - sector.centre[1], x[2] - sector.centre[2]};
    const double across = vtkMath::Dot(d, u), along = vtkMath::Dot(d, v);
    if (std::hypot(across, along) > reach) angles.push_back(std::atan2(along, across));
  }
  if (angles.size() < 2) return {};
  std::sort(angles.begin(), angles.end());
  double gap = angles.front() + 2 * vtkMath::Pi() - angles.back(), start = angles.front(),
         end = angles.back();
  for (size_t k = 1; k < angles.size(); ++k) {
    if (angles[k] - angles[k - 1] > gap) {
      gap = angles[k] - angles[k - 1], start = angles[k], end = angles[k - 1];
    }
  }
  // Only a source that spans its sector touches both cuts: one that spans less (a blade read
  // without its hub) or more (a whole ring) has no faces on them.
  const double sector_angle = 2 * vtkMath::Pi() / sector.count;
  const double span = 2 * vtkMath::Pi() - gap;
  if (std::abs(span - sector_angle) > kSpanSlack * sector_angle) return {};
  std::vector<MirrorPlane> cut;
  for (double angle : {start, end}) {
    MirrorPlane plane{{}, sector.centre};
    for (int a = 0; a < 3; ++a) plane.normal[a] = -std::sin(angle) * u[a] + std::cos(angle) * v[a];
    cut.push_back(plane);
  }
  return cut;
}

constexpr Matrix4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// The parts placed alike, the identity included, so that their "Normals" are marked the same
// way and the append keeps them; then merged into one dataset.
vtkSmartPointer<vtkDataSet> merged(vtkDataSet* part, const std::vector<Matrix4>& moves) {
  vtkSmartPointer<vtkAlgorithm> append;
  if (vtkPolyData::SafeDownCast(part)) {
    append = vtkSmartPointer<vtkAppendPolyData>::New();
  } else {
    auto grid = vtkSmartPointer<vtkAppendFilter>::New();
    grid->MergePointsOff();
    append = grid;
  }
  std::vector<vtkSmartPointer<vtkDataSet>> copies;  // held until the append has run
  for (const Matrix4& move : moves) {
    copies.push_back(placed_source(part, 1.0, move));
    append->AddInputDataObject(copies.back());
  }
  append->Update();
  return vtkDataSet::SafeDownCast(append->GetOutputDataObject(0));
}

}  // namespace

int SourceCopies::count() const { return (mirror ? 2 : 1) * (sector ? sector->count : 1) - 1; }

Matrix4 mirror_matrix(const MirrorPlane& plane) {
  const Vector3 n = unit(plane.normal);
  Matrix4 m = kIdentity;
  const double offset = vtkMath::Dot(n.data(), plane.centre.data());
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[4 * r + c] -= 2 * n[r] * n[c];
    m[4 * r + 3] = 2 * offset * n[r];  // the plane's points stay where they are
  }
  return m;
}

Matrix4 turn_matrix(const SectorCopies& sector, double degrees) {
  const Vector3& c = sector.centre;
  auto turn = vtkSmartPointer<vtkTransform>::New();  // pre-multiplied: read from the last
  turn->Translate(c[0], c[1], c[2]);
  turn->RotateWXYZ(degrees, sector.axis[0], sector.axis[1], sector.axis[2]);
  turn->Translate(-c[0], -c[1], -c[2]);
  Matrix4 m;
  vtkMatrix4x4::DeepCopy(m.data(), turn->GetMatrix());
  return m;
}

vtkSmartPointer<vtkDataSet> with_copies(vtkDataSet* source, const SourceCopies& copies,
                                        std::optional<double> reach) {
  if (!copies.any()) return source;
  const double near = reach.value_or(kCutReachShare * diagonal_of(source));
  vtkSmartPointer<vtkDataSet> whole = source;
  if (copies.mirror) {
    whole = without_faces_on(whole, {*copies.mirror}, near);
    whole = merged(whole, {kIdentity, mirror_matrix(*copies.mirror)});
  }
  if (copies.sector) {
    const SectorCopies& sector = *copies.sector;
    whole = without_faces_on(whole, sector_cut(whole, sector, near), near);
    std::vector<Matrix4> turns;
    for (int k = 0; k < sector.count; ++k)
      turns.push_back(turn_matrix(sector, 360.0 * k / sector.count));
    whole = merged(whole, turns);
  }
  whole->GetFieldData()->PassData(source->GetFieldData());
  auto count = vtkSmartPointer<vtkIntArray>::New();
  count->SetName(kSourceCopiesArray);
  count->InsertNextValue(copies.count());
  whole->GetFieldData()->AddArray(count);
  return whole;
}

}  // namespace fieldferry_core

#include "facing.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCellType.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPointSet.h>
#include <vtkPoints.h>
#include <vtkPolygon.h>
#include <vtkUnsignedCharArray.h>

#include "common/mapped_leaf.h"
#include "surface_projection.h"

namespace fieldferry_core {

void polygon_normal(vtkPoints* points, vtkIdList* ids, double n[3]) {
  n[0] = n[1] = n[2] = 0;
  const vtkIdType count = ids->GetNumberOfIds();
  double a[3], b[3];
  for (vtkIdType k = 0; k < count; ++k) {
    points->GetPoint(ids->GetId(k), a);
    points->GetPoint(ids->GetId((k + 1) % count), b);
    n[0] += (a[1] - b[1]) * (a[2] + b[2]);
    n[1] += (a[2] - b[2]) * (a[0] + b[0]);
    n[2] += (a[0] - b[0]) * (a[1] + b[1]);
  }
}

bool face_corners(int type, vtkIdList* ids) {
  switch (type) {
    case VTK_TRIANGLE:
    case VTK_QUAD:
    case VTK_POLYGON:
      return ids->GetNumberOfIds() >= 3;
    case VTK_PIXEL: {
      const vtkIdType third = ids->GetId(2);
      ids->SetId(2, ids->GetId(3));
      ids->SetId(3, third);
      return true;
    }
    case VTK_QUADRATIC_TRIANGLE:
      ids->SetNumberOfIds(3);
      return true;
    case VTK_QUADRATIC_QUAD:
    case VTK_BIQUADRATIC_QUAD:
      ids->SetNumberOfIds(4);
      return true;
    default:
      return false;
  }
}

namespace {

// The 2-D cells of a source of other cells as polygons on its points: the walls of a source
// merged from surface and volume parts, or a surface read as a grid. Its volume cells are left
// out: the outward normal of a volume's boundary says nothing about the CFD's side of a wall (the
// volume may be fluid or solid), a wall face's normal does.
vtkSmartPointer<vtkPolyData> faces_of_grid(vtkDataSet* source) {
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < source->GetNumberOfCells(); ++c) {
    source->GetCellPoints(c, ids);
    if (face_corners(source->GetCellType(c), ids)) polys->InsertNextCell(ids);
  }
  if (polys->GetNumberOfCells() == 0) return nullptr;
  auto faces = vtkSmartPointer<vtkPolyData>::New();
  auto* set = vtkPointSet::SafeDownCast(source);
  if (set) {
    faces->SetPoints(set->GetPoints());
  } else {
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToDouble();
    points->SetNumberOfPoints(source->GetNumberOfPoints());
    for (vtkIdType p = 0; p < source->GetNumberOfPoints(); ++p) {
      points->SetPoint(p, source->GetPoint(p));
    }
    faces->SetPoints(points);
  }
  faces->SetPolys(polys);
  return faces;
}

}  // namespace

std::unique_ptr<SourceFacing> SourceFacing::of(SourceIndex& index) {
  vtkSmartPointer<vtkPolyData> faces;
  if (auto* poly = vtkPolyData::SafeDownCast(index.source())) {
    if (poly->GetNumberOfPolys() == 0) return nullptr;
    faces = vtkSmartPointer<vtkPolyData>::New();
    faces->SetPoints(poly->GetPoints());
    faces->SetPolys(poly->GetPolys());
  } else {
    faces = faces_of_grid(index.source());
    if (!faces) return nullptr;
  }
  return std::unique_ptr<SourceFacing>(new SourceFacing(faces, index));
}

namespace {

ClosestCells& searched(SourceIndex& index, vtkPolyData* faces) {
  ClosestCells& closest = index.cells_of(faces);
  closest.build_tree();
  return closest;
}

}  // namespace

SourceFacing::SourceFacing(vtkPolyData* faces, SourceIndex& index)
    : faces_(faces), closest_(searched(index, faces)) {}

void SourceFacing::mark(vtkPolyData* surface, vtkDataSet* mapped) const {
  const vtkIdType cells = surface->GetNumberOfCells();
  // Each face's centre and normal; the source face closest to the centre by the closest-cell
  // search of "Surface projection".
  auto centres = vtkSmartPointer<vtkPoints>::New();
  centres->SetDataTypeToDouble();
  centres->SetNumberOfPoints(cells);
  std::vector<double> normals(static_cast<size_t>(3 * cells), 0.0);
  std::vector<char> polygon(static_cast<size_t>(cells), 0);
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < cells; ++c) {
    surface->GetCellPoints(c, ids);
    double centre[3] = {0, 0, 0}, x[3];
    for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
      surface->GetPoint(ids->GetId(k), x);
      for (int a = 0; a < 3; ++a) centre[a] += x[a] / double(ids->GetNumberOfIds());
    }
    centres->SetPoint(c, centre);
    polygon[static_cast<size_t>(c)] =
        ids->GetNumberOfIds() >= 3 && surface->GetCellType(c) != VTK_POLY_LINE;
    if (polygon[static_cast<size_t>(c)]) {
      polygon_normal(surface->GetPoints(), ids, &normals[static_cast<size_t>(3 * c)]);
    }
  }
  auto at = vtkSmartPointer<vtkPolyData>::New();
  at->SetPoints(centres);
  std::vector<vtkIdType> closest;
  closest_cell_distances(closest_, at, &closest);
  auto facing = vtkSmartPointer<vtkUnsignedCharArray>::New();
  facing->SetName(kelm::kFacesSourceArray);
  facing->SetNumberOfTuples(cells);
  // The normals of the source faces found, only: a CFD wall has far more faces than a body's
  // surface finds.
  double source_normal[3];
  for (vtkIdType c = 0; c < cells; ++c) {
    const auto i = static_cast<size_t>(c);
    const vtkIdType source_cell = closest[i];
    // Vertices and lines have no side; a face with no source face found keeps its load.
    bool faces = !polygon[i] || source_cell < 0;
    if (!faces) {
      faces_->GetCellPoints(source_cell, ids);
      polygon_normal(faces_->GetPoints(), ids, source_normal);
      faces = vtkMath::Dot(&normals[3 * i], source_normal) <
              -kFacingCosine * vtkMath::Norm(&normals[3 * i]) * vtkMath::Norm(source_normal);
    }
    facing->SetValue(c, faces);
  }
  mapped->GetCellData()->AddArray(facing);
}

}  // namespace fieldferry_core

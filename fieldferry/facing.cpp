#include "facing.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPoints.h>
#include <vtkPolygon.h>
#include <vtkUnsignedCharArray.h>

#include "common/mapped_leaf.h"

namespace fieldferry_core {

namespace {

// The normal of polygon `ids` of `points` by Newell's method (right-hand rule of its point
// order), not normalised; zero for a degenerate polygon.
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

}  // namespace

std::unique_ptr<SourceFacing> SourceFacing::of(vtkDataSet* source) {
  auto* poly = vtkPolyData::SafeDownCast(source);
  if (!poly || poly->GetNumberOfPolys() == 0) return nullptr;
  auto faces = vtkSmartPointer<vtkPolyData>::New();
  faces->SetPoints(poly->GetPoints());
  faces->SetPolys(poly->GetPolys());
  return std::unique_ptr<SourceFacing>(new SourceFacing(faces));
}

SourceFacing::SourceFacing(vtkPolyData* faces) : faces_(faces) {
  locator_ = vtkSmartPointer<vtkStaticCellLocator>::New();
  locator_->SetDataSet(faces_);
  locator_->BuildLocator();
  normals_.resize(static_cast<size_t>(3 * faces_->GetNumberOfCells()));
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < faces_->GetNumberOfCells(); ++c) {
    faces_->GetCellPoints(c, ids);
    polygon_normal(faces_->GetPoints(), ids, &normals_[static_cast<size_t>(3 * c)]);
  }
}

void SourceFacing::mark(vtkPolyData* surface, vtkDataSet* mapped) const {
  const vtkIdType cells = surface->GetNumberOfCells();
  auto facing = vtkSmartPointer<vtkUnsignedCharArray>::New();
  facing->SetName(kelm::kFacesSourceArray);
  facing->SetNumberOfTuples(cells);
  auto ids = vtkSmartPointer<vtkIdList>::New();
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  for (vtkIdType c = 0; c < cells; ++c) {
    surface->GetCellPoints(c, ids);
    unsigned char faces = 1;
    if (ids->GetNumberOfIds() >= 3 && surface->GetCellType(c) != VTK_POLY_LINE) {
      double normal[3], centre[3] = {0, 0, 0}, x[3];
      polygon_normal(surface->GetPoints(), ids, normal);
      for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
        surface->GetPoint(ids->GetId(k), x);
        for (int a = 0; a < 3; ++a) centre[a] += x[a] / double(ids->GetNumberOfIds());
      }
      double closest[3], dist2 = 0;
      vtkIdType source_cell = -1;
      int sub_id = 0;
      locator_->FindClosestPoint(centre, closest, cell, source_cell, sub_id, dist2);
      if (source_cell >= 0) {
        faces = vtkMath::Dot(normal, &normals_[static_cast<size_t>(3 * source_cell)]) < 0;
      }
    }
    facing->SetValue(c, faces);
  }
  mapped->GetCellData()->AddArray(facing);
}

}  // namespace fieldferry_core

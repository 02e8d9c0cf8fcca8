#include "source_fields.h"

#include <vtkCellData.h>
#include <vtkCellSizeFilter.h>
#include <vtkCellType.h>
#include <vtkDataArray.h>
#include <vtkDoubleArray.h>
#include <vtkIdList.h>
#include <vtkPointData.h>

#include <limits>

#include "polygon_triangles.h"

namespace fieldferry_core {

namespace {

// VTK's cell sizes take a polygon as the fan from its first corner, which strays out of a polygon
// bent in at another corner: those polygons' areas over their own triangles.
void correct_bent_polygons(vtkDataSet* source, std::vector<double>& sizes) {
  auto ids = vtkSmartPointer<vtkIdList>::New();
  std::vector<double> xyz;
  for (vtkIdType c = 0; c < source->GetNumberOfCells(); ++c) {
    if (source->GetCellType(c) != VTK_POLYGON) continue;
    source->GetCellPoints(c, ids);
    const vtkIdType n = ids->GetNumberOfIds();
    xyz.resize(3 * static_cast<size_t>(n));
    for (vtkIdType k = 0; k < n; ++k) source->GetPoint(ids->GetId(k), &xyz[3 * k]);
    if (!convex_polygon(xyz.data(), n)) sizes[static_cast<size_t>(c)] = polygon_area(xyz.data(), n);
  }
}

// The size of every cell: its length, area or volume, whichever its dimension has.
std::vector<double> cell_sizes(vtkDataSet* source) {
  auto sizes = vtkSmartPointer<vtkCellSizeFilter>::New();
  sizes->SetInputData(source);
  sizes->ComputeVertexCountOff();
  sizes->ComputeSumOff();
  sizes->Update();
  vtkDataSet* measured = vtkDataSet::SafeDownCast(sizes->GetOutputDataObject(0));
  std::vector<double> out(static_cast<size_t>(source->GetNumberOfCells()), 0.0);
  for (const char* name : {"Length", "Area", "Volume"}) {
    vtkDataArray* part = measured->GetCellData()->GetArray(name);
    for (vtkIdType c = 0; part && c < part->GetNumberOfTuples(); ++c) {
      out[static_cast<size_t>(c)] += std::abs(part->GetComponent(c, 0));
    }
  }
  correct_bent_polygons(source, out);
  return out;
}

// The size-weighted mean of the cell values around each point. A point whose cells all have no
// size (vertices, degenerate faces) takes their plain mean.
vtkSmartPointer<vtkDoubleArray> averaged_to_points(vtkDataSet* source, vtkDataArray* cell_values,
                                                   const std::vector<double>& sizes) {
  const vtkIdType points = source->GetNumberOfPoints();
  std::vector<double> weighted(static_cast<size_t>(points), 0.0), weight(weighted), plain(weighted),
      count(weighted);
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < source->GetNumberOfCells(); ++c) {
    const double value = cell_values->GetComponent(c, 0);
    const double size = sizes[static_cast<size_t>(c)];
    source->GetCellPoints(c, ids);
    for (vtkIdType k = 0; k < ids->GetNumberOfIds(); ++k) {
      const auto p = static_cast<size_t>(ids->GetId(k));
      weighted[p] += size * value;
      weight[p] += size;
      plain[p] += value;
      count[p] += 1;
    }
  }
  auto out = vtkSmartPointer<vtkDoubleArray>::New();
  out->SetName(cell_values->GetName());
  out->SetNumberOfTuples(points);
  for (vtkIdType p = 0; p < points; ++p) {
    const auto i = static_cast<size_t>(p);
    out->SetValue(p, weight[i] > 0  ? weighted[i] / weight[i]
                     : count[i] > 0 ? plain[i] / count[i]
                                    : std::numeric_limits<double>::quiet_NaN());
  }
  return out;
}

}  // namespace

FieldPlace field_place(vtkDataSet* source, const std::string& name) {
  if (source->GetPointData()->GetAbstractArray(name.c_str())) return FieldPlace::points;
  if (source->GetCellData()->GetAbstractArray(name.c_str())) return FieldPlace::cells;
  return FieldPlace::none;
}

vtkSmartPointer<vtkDataSet> with_point_values(vtkDataSet* source,
                                              const std::vector<std::string>& names) {
  vtkSmartPointer<vtkDataSet> out = source;
  std::vector<double> sizes;
  for (const std::string& name : names) {
    if (field_place(source, name) != FieldPlace::cells) continue;
    auto* values =
        vtkDataArray::SafeDownCast(source->GetCellData()->GetAbstractArray(name.c_str()));
    if (!values) continue;  // not numbers: the field checks report it
    if (out == source) {
      out.TakeReference(source->NewInstance());
      out->ShallowCopy(source);
      sizes = cell_sizes(source);
    }
    out->GetPointData()->AddArray(averaged_to_points(source, values, sizes));
  }
  return out;
}

}  // namespace fieldferry_core

#include "tessellation.h"

#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkPoints.h>
#include <vtkPolyDataNormals.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "common/cell_arrays.h"
#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/print_sink.h"
#include "common/topology_table.h"

namespace gridforge_core {

namespace {

vtkSmartPointer<vtkPoints> make_points(const std::vector<float>& xyz) {
  auto coordinates = vtkSmartPointer<vtkFloatArray>::New();
  coordinates->SetNumberOfComponents(3);
  coordinates->SetNumberOfTuples(vtkIdType(xyz.size() / 3));
  std::copy(xyz.begin(), xyz.end(), coordinates->GetPointer(0));
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetData(coordinates);
  return points;
}

}  // namespace

TessellationCells prefixed_cells(std::vector<uint32_t> counts, const std::vector<uint32_t>& indices,
                                 int width, const std::string& what) {
  TessellationCells result;
  const uint64_t total = std::accumulate(counts.begin(), counts.end(), uint64_t(0));
  if (total * uint64_t(width) != indices.size()) {
    kelm::raise_value_error(what, ": \"point_indices\" holds ", indices.size(), " entries but ",
                            "\"num_cells\" adds up to ", total, " cells of ", width, " points (",
                            total * uint64_t(width), " entries)");
  }
  result.num_cells = std::size_t(total);
  result.counts = std::move(counts);
  result.cells.resize(result.num_cells * std::size_t(width + 1));
  uint32_t* out = result.cells.data();
  const uint32_t* in = indices.data();
  for (std::size_t c = 0; c < result.num_cells; ++c) {
    *out++ = uint32_t(width);
    for (int k = 0; k < width; ++k) *out++ = *in++;
  }
  return result;
}

std::vector<uint8_t> tessellation_cell_types(std::size_t num_0d, std::size_t num_1d,
                                             std::size_t num_2d) {
  std::vector<uint8_t> types;
  types.reserve(num_0d + num_1d + num_2d);
  types.insert(types.end(), num_0d, VTK_VERTEX);
  types.insert(types.end(), num_1d, VTK_LINE);
  types.insert(types.end(), num_2d, VTK_TRIANGLE);
  return types;
}

vtkSmartPointer<vtkUnstructuredGrid> ugrid_from_arrays(const std::vector<float>& points,
                                                       const std::vector<uint8_t>& types,
                                                       const std::vector<uint32_t>& cells) {
  if (types.size() == 1) {
    kelm::print_line(kelm::message(
        "Converted single value cell type array from numpy array to list [", int(types[0]), "]"));
  }
  const vtkIdType num_points = vtkIdType(points.size() / 3);
  auto cell_array = kelm::cells_from_count_prefixed(cells.data(), cells.size(), num_points, 1, 27,
                                                    vtkIdType(types.size()), "cell array");
  // Each cell must have as many points as its type reads, or later filters read past its end.
  for (vtkIdType c = 0; c < vtkIdType(types.size()); ++c) {
    const int type = types[c];
    const int expected = kelm::vtk_cell_point_count(type);
    const vtkIdType actual = cell_array->GetCellSize(c);
    // Of the cells that come in any size, only the linear ones are a plain point list.
    const bool point_list = type == VTK_POLY_VERTEX || type == VTK_POLY_LINE ||
                            type == VTK_TRIANGLE_STRIP || type == VTK_POLYGON;
    if (expected < 0 || (expected == kelm::kAnyPointCount && !point_list)) {
      kelm::raise_value_error("cell type array: cell ", c, " has type ", int(types[c]),
                              ", which a tessellation grid cannot hold");
    }
    if (expected != kelm::kAnyPointCount && actual != expected) {
      kelm::raise_value_error("cell array: cell ", c, " of type ", int(types[c]), " has ", actual,
                              " points; that type has ", expected);
    }
  }
  auto type_array = vtkSmartPointer<vtkUnsignedCharArray>::New();
  type_array->SetNumberOfValues(vtkIdType(types.size()));
  std::copy(types.begin(), types.end(), type_array->GetPointer(0));

  auto grid = vtkSmartPointer<vtkUnstructuredGrid>::New();
  grid->SetPoints(make_points(points));
  grid->SetCells(type_array, cell_array);
  return grid;
}

vtkSmartPointer<vtkUnstructuredGrid> ugrid_from_tessellation(const std::vector<float>& points,
                                                             const TessellationCells& vertices,
                                                             const TessellationCells& edges,
                                                             const TessellationCells& faces) {
  std::vector<uint32_t> cells;
  cells.reserve(vertices.cells.size() + edges.cells.size() + faces.cells.size());
  for (const TessellationCells* kind : {&vertices, &edges, &faces}) {
    cells.insert(cells.end(), kind->cells.begin(), kind->cells.end());
  }
  return ugrid_from_arrays(
      points, tessellation_cell_types(vertices.num_cells, edges.num_cells, faces.num_cells), cells);
}

vtkSmartPointer<vtkPolyData> poly_from_arrays(const std::vector<float>& points,
                                              const std::vector<uint32_t>& vertex_cells,
                                              const std::vector<uint32_t>& edge_cells,
                                              const std::vector<uint32_t>& face_cells) {
  const vtkIdType num_points = vtkIdType(points.size() / 3);
  auto poly = vtkSmartPointer<vtkPolyData>::New();
  poly->SetPoints(make_points(points));
  poly->SetVerts(kelm::cells_from_count_prefixed(vertex_cells.data(), vertex_cells.size(),
                                                 num_points, 1, 1, -1, "vertex cell array"));
  poly->SetLines(kelm::cells_from_count_prefixed(edge_cells.data(), edge_cells.size(), num_points,
                                                 2, 2, -1, "edge cell array"));
  poly->SetPolys(kelm::cells_from_count_prefixed(face_cells.data(), face_cells.size(), num_points,
                                                 3, 3, -1, "face cell array"));
  auto normals = vtkSmartPointer<vtkPolyDataNormals>::New();
  normals->SetInputData(poly);
  normals->ComputePointNormalsOn();
  normals->ComputeCellNormalsOff();
  normals->Update();
  return normals->GetOutput();
}

}  // namespace gridforge_core

// Geometry-body tessellations (single points, line segments, triangles) to VTK datasets.
#pragma once

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnstructuredGrid.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gridforge_core {

// The cells of one kind of a tessellation (vertices, edges or faces).
struct TessellationCells {
  std::size_t num_cells = 0;
  std::vector<uint32_t> counts;  // tessellation cells per topological vertex / edge / face
  std::vector<uint32_t> cells;   // count-prefixed: width, i0 .. i(width-1) per cell
};

// Builds the count-prefixed list of cells of `width` points (1, 2 or 3) from the per-entity cell
// counts and the point indices of all cells. Raises ValueError naming `what` when the number of
// indices is not the total count times the width.
TessellationCells prefixed_cells(std::vector<uint32_t> counts, const std::vector<uint32_t>& indices,
                                 int width, const std::string& what);

// num_0d VTK_VERTEX, then num_1d VTK_LINE, then num_2d VTK_TRIANGLE.
std::vector<uint8_t> tessellation_cell_types(std::size_t num_0d, std::size_t num_1d,
                                             std::size_t num_2d);

// A grid over `points` (num_points x 3) with one cell per entry of `types`, the cells given
// count-prefixed. Every cell is checked against its type and the number of points. A single cell
// type prints "Converted single value cell type array from numpy array to list [<type>]", the line
// the host's own conversion prints for it.
vtkSmartPointer<vtkUnstructuredGrid> ugrid_from_arrays(const std::vector<float>& points,
                                                       const std::vector<uint8_t>& types,
                                                       const std::vector<uint32_t>& cells);

// A geometry body's grid: its vertices, then its edges, then its faces, as VTK_VERTEX, VTK_LINE
// and VTK_TRIANGLE cells over `points`.
vtkSmartPointer<vtkUnstructuredGrid> ugrid_from_tessellation(const std::vector<float>& points,
                                                             const TessellationCells& vertices,
                                                             const TessellationCells& edges,
                                                             const TessellationCells& faces);

// Polydata over `points` with the vertex, edge and face cells (count-prefixed, widths 1, 2, 3),
// passed through vtkPolyDataNormals for point normals.
vtkSmartPointer<vtkPolyData> poly_from_arrays(const std::vector<float>& points,
                                              const std::vector<uint32_t>& vertex_cells,
                                              const std::vector<uint32_t>& edge_cells,
                                              const std::vector<uint32_t>& face_cells);

}  // namespace gridforge_core

#include "mesh_to_grid.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cassert>

#include "common/cell_arrays.h"
#include "common/errors.h"
#include "common/tag_arrays.h"

namespace gridforge_core {

void check_block_sizes(const Topology& t, std::size_t ids, std::size_t entries,
                       std::size_t num_points, const std::string& operation,
                       const std::string& body) {
  const std::size_t nodes = std::size_t(t.num_nodes);
  if (entries % nodes != 0) {
    kelm::raise_value_error(operation, ": ", t.name, " connectivity of body '", body, "' holds ",
                            entries, " entries, not a multiple of ", nodes, " nodes");
  }
  if (entries / nodes != ids) {
    kelm::raise_value_error(operation, ": ", t.name, " connectivity of body '", body, "' holds ",
                            entries / nodes, " elements but elementIDs lists ", ids);
  }
  if (ids > 0 && num_points == 0) {
    kelm::raise_value_error(operation, ": body '", body, "' has ", ids, " ", t.name,
                            " elements but no nodes");
  }
}

namespace {

std::vector<kelm::CellBlock> cell_blocks(const std::vector<ElementBlock>& blocks) {
  std::vector<kelm::CellBlock> cells;
  for (const ElementBlock& block : blocks)
    cells.push_back({block.topology->num_nodes, block.count});
  return cells;
}

}  // namespace

void attach_points(vtkPointSet* dataset, vtkFloatArray* coordinates,
                   vtkUnsignedIntArray* node_ids) {
  assert(coordinates->GetNumberOfComponents() == 3 && "points are x, y, z triples");
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetData(coordinates);
  dataset->SetPoints(points);
  node_ids->SetName(kelm::kNodeIdArray);
  dataset->GetPointData()->AddArray(node_ids);
}

const Topology& attach_cells(vtkUnstructuredGrid* grid, const std::vector<ElementBlock>& blocks,
                             vtkIdTypeArray* connectivity, vtkUnsignedIntArray* element_ids) {
  assert(!blocks.empty() && "a grid is classified by its last block");
  auto types = vtkSmartPointer<vtkUnsignedCharArray>::New();
  types->SetNumberOfValues(element_ids->GetNumberOfValues());
  unsigned char* type = types->GetPointer(0);
  for (const ElementBlock& block : blocks) {
    type =
        std::fill_n(type, block.count, static_cast<unsigned char>(block.topology->vtk_cell_type));
  }
  grid->SetCells(types, kelm::cells_from_blocks(connectivity, cell_blocks(blocks)));
  element_ids->SetName(kelm::kElementIdArray);
  grid->GetCellData()->AddArray(element_ids);
  return *blocks.back().topology;
}

void attach_poly_cells(vtkPolyData* poly, const std::vector<ElementBlock>& line_blocks,
                       vtkIdTypeArray* line_connectivity,
                       const std::vector<ElementBlock>& polygon_blocks,
                       vtkIdTypeArray* polygon_connectivity) {
  if (!line_blocks.empty()) {
    poly->SetLines(kelm::cells_from_blocks(line_connectivity, cell_blocks(line_blocks)));
  }
  if (!polygon_blocks.empty()) {
    poly->SetPolys(kelm::cells_from_blocks(polygon_connectivity, cell_blocks(polygon_blocks)));
  }
}

}  // namespace gridforge_core

// Assembly of converted host arrays into tagged VTK datasets. The bindings convert each host array
// once, straight into the VTK array that keeps it; these operations hang those arrays on a dataset.
#pragma once

#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkPointSet.h>
#include <vtkPolyData.h>
#include <vtkUnsignedIntArray.h>
#include <vtkUnstructuredGrid.h>

#include <string>
#include <vector>

#include "common/topology_table.h"

namespace gridforge_core {

using kelm::Topology;

// One topology's run of elements, in the order of the host's connectivity dictionary.
struct ElementBlock {
  const Topology* topology;
  vtkIdType count;
};

// Checks one element block as the host gave it before anything is copied: `entries` connectivity
// entries must be whole elements of the topology's node count, as many as `ids` element IDs, and
// elements need nodes. Raises ValueError naming the topology, the body and both counts.
void check_block_sizes(const Topology& topology, std::size_t ids, std::size_t entries,
                       std::size_t num_points, const std::string& operation,
                       const std::string& body);

// Gives `dataset` its points (`coordinates`: N x 3 floats) and the "Node ID" point array (N IDs).
void attach_points(vtkPointSet* dataset, vtkFloatArray* coordinates, vtkUnsignedIntArray* node_ids);

// Gives `grid` its cells from the blocks (connectivity already in VTK node order, 0-based point
// positions, validated) and the "Element ID" cell array. Returns the block that classifies the
// mesh (the last one).
const Topology& attach_cells(vtkUnstructuredGrid* grid, const std::vector<ElementBlock>& blocks,
                             vtkIdTypeArray* connectivity, vtkUnsignedIntArray* element_ids);

// Gives `poly` its line cells (the Bar2 blocks) and polygon cells (every other block, one polygon
// per element listing all its nodes in host order). Either array may be null when it has no cells.
void attach_poly_cells(vtkPolyData* poly, const std::vector<ElementBlock>& line_blocks,
                       vtkIdTypeArray* line_connectivity,
                       const std::vector<ElementBlock>& polygon_blocks,
                       vtkIdTypeArray* polygon_connectivity);

}  // namespace gridforge_core

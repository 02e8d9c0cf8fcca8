// The model multiblock: root -> assembly / part blocks -> body datasets, every child named
// through the NAME key of its parent's block metadata.
#pragma once

#include <vtkDataObject.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkUnstructuredGrid.h>

#include <string>
#include <vector>

namespace blockbook_core {

// Appends `child` as the next block of `parent`, named `name`; returns its child index.
unsigned append_named_block(vtkMultiBlockDataSet* parent, vtkDataObject* child,
                            const std::string& name);

// Sets (replaces) the root's "unit_system_label" field array.
void set_unit_label(vtkMultiBlockDataSet* root, const std::string& label);

// The length unit of the root's unit system label: its text before the first "-" (all of it
// when there is none). Raises KeyError when the root has no label.
std::string model_length_unit(vtkMultiBlockDataSet* root);

// A grid body of the tree with its "Body pathName" and its flat index (depth-first pre-order,
// root 0, interior nodes and empty nodes counted).
struct GridEntry {
  vtkUnstructuredGrid* grid;
  unsigned flat_index;
  std::string path;
};

// Every vtkUnstructuredGrid leaf that carries a "Body pathName", in traversal order. Grids without
// one (geometry bodies) are left out.
std::vector<GridEntry> grids_by_path(vtkMultiBlockDataSet* root);

// Writes the tree as a VTK XML multiblock file; mode "ascii" writes ASCII data, any other mode
// binary. Raises kelm::os_error (OSError) naming the file when the writer fails.
void save_multiblock(vtkMultiBlockDataSet* root, const std::string& file_name,
                     const std::string& mode);

}  // namespace blockbook_core

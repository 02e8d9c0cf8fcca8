// The one check that a dataset is safe to hand to VTK's filters, mappers and cell accessors. They
// follow a cell array's offsets into its connectivity, the connectivity into the points and the
// attribute arrays by point and cell number, all without looking at any length; a dataset a script
// builds by hand with one of these wrong makes them read memory that is not there. Every module
// refuses such input up front with this check, before anything is built or rewired.
//
// The check runs in the order a reader would trip: offsets within the connectivity first (without
// sound offsets nothing else can be read), then point indices, the cell types, each cell's point
// count and polyhedron faces (Depth::shapes), and last the attribute arrays' lengths. The first
// fault raises ValueError as "<operation>: <what> has ..." naming the cell, value and limit.
#pragma once

#include <vtkDataObject.h>
#include <vtkDataSet.h>

#include <string>

namespace kelm {

enum class Depth {
  // Offsets, point indices, one cell type per cell (every unstructured grid and polydata) and
  // attribute lengths: what keeps a filter that only walks the cells and arrays in bounds.
  references,
  // Also each cell type known to VTK, each cell's point count the one its type has and every
  // polyhedron's face list sound: what a filter that builds cells of their type needs.
  shapes,
};

// Points a cell of VTK type `type` has, taken from VTK itself: n for fixed-size cells,
// kAnyPointCount for the types whose cells come in any size (polygons, strips, polyhedra,
// higher-order cells), kNotACellType for a type VTK does not know.
inline constexpr int kAnyPointCount = 0;
inline constexpr int kNotACellType = -1;
int vtk_cell_point_count(int type);

// "body '<Body pathName>'" for a dataset carrying its path name, otherwise `fallback`.
std::string body_name(vtkDataObject* data, const std::string& fallback);

// Raises ValueError "<operation>: <what> has ..." at the first fault of `data` (see above).
// Datasets with implicit cells (image data, structured grids) have only attributes to check.
void require_sound_dataset(vtkDataSet* data, const std::string& operation, const std::string& what,
                           Depth depth = Depth::references);

// The same for `data` itself when it is a dataset, else for every non-empty leaf of a multiblock,
// each named by its "Body pathName" or as "leaf <flat index> (<class>)". Raises TypeError naming
// the leaf when a leaf is not a vtkDataSet (a vtkTable, say): nothing can draw or map it.
void require_sound_leaves(vtkDataObject* data, const std::string& operation,
                          Depth depth = Depth::references);

}  // namespace kelm

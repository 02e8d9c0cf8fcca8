// Host face numbers -> VTK face indices. The host numbers the faces of a solid element from 1 in
// its own order; VTK numbers them from 0 in the order of vtkCell::GetFace. One table per element
// type, entry 0 a filler that no host face number selects. Both field generations (fieldgraft and
// skinfield) convert through here.
//
// Which table applies is decided per body by its first cell (the "family"), and within the
// hexahedral family per loaded face by the type of its own element.
#pragma once

#include <vtkCellType.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/errors.h"

namespace fieldgraft_core {

// A face number outside its element's table. The bindings raise it as an exception that is both
// an IndexError (what a table lookup raises) and a ValueError (what bad input raises); in C++ it
// is one of the value errors of the family.
struct face_number_error : kelm::value_error {
  using kelm::value_error::value_error;
};

struct FaceTable {
  int vtk_cell_type;
  const char* cell_name;
  int num_faces;                // host faces 1 .. num_faces
  std::array<int, 7> vtk_face;  // vtk_face[host face]; [0] is the filler
};

inline constexpr FaceTable kTetraFaces{VTK_TETRA, "tetrahedron", 4, {0, 3, 0, 1, 2}};
inline constexpr FaceTable kQuadraticTetraFaces{
    VTK_QUADRATIC_TETRA, "quadratic tetrahedron", 4, {0, 3, 0, 1, 2}};
inline constexpr FaceTable kHexahedronFaces{VTK_HEXAHEDRON, "hexahedron", 6, {0, 4, 5, 2, 1, 3, 0}};
inline constexpr FaceTable kQuadraticHexahedronFaces{
    VTK_QUADRATIC_HEXAHEDRON, "quadratic hexahedron", 6, {0, 4, 5, 2, 1, 3, 0}};
inline constexpr FaceTable kWedgeFaces{VTK_WEDGE, "wedge", 5, {0, 0, 1, 2, 3, 4}};
inline constexpr FaceTable kQuadraticWedgeFaces{
    VTK_QUADRATIC_WEDGE, "quadratic wedge", 5, {0, 0, 1, 2, 3, 4}};

inline constexpr std::array<const FaceTable*, 2> kTetraFamily = {&kTetraFaces,
                                                                 &kQuadraticTetraFaces};
inline constexpr std::array<const FaceTable*, 4> kHexahedronFamily = {
    &kHexahedronFaces, &kQuadraticHexahedronFaces, &kWedgeFaces, &kQuadraticWedgeFaces};

// How a body's face numbers are read, decided by the type of its first cell.
enum class FaceFamily {
  tetrahedral,  // every face through the tetrahedron table
  hexahedral,   // each face through the table of its own element's type
  unmapped,     // anything else: face numbers are VTK face indices already
};

FaceFamily face_family_of(int first_cell_type);

// Names what is converted, for messages.
struct FaceSite {
  const std::string& operation;
  const std::string& body;
  uint32_t element_id;
};

// The table of `cell_type` within `family`, or nullptr for the unmapped family. Raises
// kelm::key_error when the family has no table for the type.
const FaceTable* face_table_for(FaceFamily family, int cell_type, const FaceSite& site);

// Raises kelm::key_error naming the first of `cell_types` (the distinct types of a body) that has
// no table in the hexahedral family.
void require_hexahedral_tables(const std::vector<int>& cell_types, const std::string& operation,
                               const std::string& body);

// VTK face index of host face `host_face` through `table`; raises face_number_error when the
// number is outside 1 .. num_faces.
int vtk_face_index(const FaceTable& table, long long host_face, const FaceSite& site);

}  // namespace fieldgraft_core

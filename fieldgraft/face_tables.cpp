#include "face_tables.h"

#include "common/errors.h"

namespace fieldgraft_core {

FaceFamily face_family_of(int first_cell_type) {
  for (const FaceTable* t : kTetraFamily) {
    if (t->vtk_cell_type == first_cell_type) return FaceFamily::tetrahedral;
  }
  for (const FaceTable* t : kHexahedronFamily) {
    if (t->vtk_cell_type == first_cell_type) return FaceFamily::hexahedral;
  }
  return FaceFamily::unmapped;
}

namespace {

template <std::size_t N>
const FaceTable* find_table(const std::array<const FaceTable*, N>& family, int cell_type) {
  for (const FaceTable* t : family) {
    if (t->vtk_cell_type == cell_type) return t;
  }
  return nullptr;
}

}  // namespace

const FaceTable* face_table_for(FaceFamily family, int cell_type, const FaceSite& site) {
  if (family == FaceFamily::unmapped) return nullptr;
  const bool tetrahedral = family == FaceFamily::tetrahedral;
  const FaceTable* table =
      tetrahedral ? find_table(kTetraFamily, cell_type) : find_table(kHexahedronFamily, cell_type);
  if (!table) {
    // A tetrahedral body with another element type would otherwise have that element's face
    // silently read through the tetrahedron table.
    kelm::raise_key_error(site.operation, ": element ", site.element_id, " of body '", site.body,
                          "' is a VTK cell of type ", cell_type, ", which has no face number ",
                          "table in the ", tetrahedral ? "tetrahedral" : "hexahedral",
                          " family that the body's first cell sets");
  }
  return table;
}

void require_hexahedral_tables(const std::vector<int>& cell_types, const std::string& operation,
                               const std::string& body) {
  for (int type : cell_types) {
    if (!find_table(kHexahedronFamily, type)) {
      kelm::raise_key_error(operation, ": body '", body, "' holds cells of VTK type ", type,
                            ", which has no face number table in the hexahedral family (types ",
                            VTK_HEXAHEDRON, ", ", VTK_QUADRATIC_HEXAHEDRON, ", ", VTK_WEDGE, ", ",
                            VTK_QUADRATIC_WEDGE, ")");
    }
  }
}

int vtk_face_index(const FaceTable& table, long long host_face, const FaceSite& site) {
  if (host_face < 1 || host_face > table.num_faces) {
    throw face_number_error(kelm::message(
        site.operation, ": face number ", host_face, " of element ", site.element_id, " of body '",
        site.body, "' is outside the ", table.cell_name, " face numbers 1 to ", table.num_faces));
  }
  return table.vtk_face[std::size_t(host_face)];
}

}  // namespace fieldgraft_core

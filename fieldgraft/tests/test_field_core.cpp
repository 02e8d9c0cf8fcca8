// The shared field core without Python: face number tables, face merging and two builders on a
// one-hexahedron body.
#include <gtest/gtest.h>
#include <vtkCellData.h>
#include <vtkFloatArray.h>
#include <vtkGenericCell.h>
#include <vtkHexahedron.h>
#include <vtkIdTypeArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkUnsignedIntArray.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/errors.h"
#include "common/topology_table.h"
#include "face_merge.h"
#include "face_tables.h"
#include "field_builders.h"

using namespace fieldgraft_core;

namespace {

const std::string kOp = "test", kBody = "B";

// One unit hexahedron with node IDs 10, 20, ..., 80 and element ID 5.
vtkSmartPointer<vtkUnstructuredGrid> one_hexahedron() {
  auto grid = vtkSmartPointer<vtkUnstructuredGrid>::New();
  auto points = vtkSmartPointer<vtkPoints>::New();
  const double xyz[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                            {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
  auto nodes = vtkSmartPointer<vtkUnsignedIntArray>::New();
  nodes->SetName("Node ID");
  for (int i = 0; i < 8; ++i) {
    points->InsertNextPoint(xyz[i]);
    nodes->InsertNextValue(10u * unsigned(i + 1));
  }
  grid->SetPoints(points);
  grid->GetPointData()->AddArray(nodes);
  const vtkIdType ids[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  grid->InsertNextCell(VTK_HEXAHEDRON, 8, ids);
  auto elements = vtkSmartPointer<vtkUnsignedIntArray>::New();
  elements->SetName("Element ID");
  elements->InsertNextValue(5);
  grid->GetCellData()->AddArray(elements);
  return grid;
}

std::vector<vtkIdType> polygon(vtkPolyData* poly, vtkIdType i) {
  vtkIdType n;
  const vtkIdType* ids;
  poly->GetPolys()->GetCellAtId(i, n, ids);
  return std::vector<vtkIdType>(ids, ids + n);
}

}  // namespace

TEST(FaceTables, HostFacesBecomeTheirVtkFaces) {
  const FaceSite site{kOp, kBody, 5};
  EXPECT_EQ(vtk_face_index(kHexahedronFaces, 1, site), 4);
  EXPECT_EQ(vtk_face_index(kHexahedronFaces, 6, site), 0);
  EXPECT_EQ(vtk_face_index(kTetraFaces, 2, site), 0);
  EXPECT_EQ(vtk_face_index(kWedgeFaces, 3, site), 2);
  EXPECT_THROW(vtk_face_index(kWedgeFaces, 6, site), face_number_error);
  EXPECT_THROW(vtk_face_index(kTetraFaces, 0, site), face_number_error);
}

TEST(FaceTables, AgreeWithTheFaceNumbersOfSolidPressureLoads) {
  // A pressure load names a solid face by the host's corner list (the common topology table); a
  // face-index field must show that number on the VTK face with exactly those corners, or the
  // viewer paints a load on the wrong side of its element.
  const std::pair<const char*, const FaceTable*> pairs[] = {{"Tetra4", &kTetraFaces},
                                                            {"Tetra10", &kQuadraticTetraFaces},
                                                            {"Penta6", &kWedgeFaces},
                                                            {"Hexa8", &kHexahedronFaces},
                                                            {"Hexa20", &kQuadraticHexahedronFaces}};
  for (const auto& [name, table] : pairs) {
    const kelm::Topology* t = kelm::topology_named(name);
    ASSERT_EQ(t->faces.count, table->num_faces) << name;
    vtkSmartPointer<vtkCell> cell;
    cell.TakeReference(vtkGenericCell::InstantiateCell(table->vtk_cell_type));
    for (vtkIdType k = 0; k < cell->GetNumberOfPoints(); ++k) cell->GetPointIds()->SetId(k, k);
    for (int f = 1; f <= table->num_faces; ++f) {
      vtkCell* face = cell->GetFace(table->vtk_face[std::size_t(f)]);
      // Corner positions in VTK's order; the host order only differs in mid-side nodes.
      const int corners = t->faces.corners(f - 1);
      std::vector<vtkIdType> vtk(corners),
          host(t->faces.face(f - 1), t->faces.face(f - 1) + corners);
      for (int k = 0; k < corners; ++k) vtk[std::size_t(k)] = face->GetPointId(k);
      EXPECT_TRUE(std::is_permutation(vtk.begin(), vtk.end(), host.begin()))
          << name << " face " << f;
    }
  }
}

TEST(FaceTables, FamilyOfTheFirstCellDecidesWhichTablesApply) {
  const FaceSite site{kOp, kBody, 5};
  EXPECT_EQ(face_family_of(VTK_QUADRATIC_WEDGE), FaceFamily::hexahedral);
  EXPECT_EQ(face_family_of(VTK_PYRAMID), FaceFamily::unmapped);
  EXPECT_EQ(face_table_for(FaceFamily::hexahedral, VTK_WEDGE, site), &kWedgeFaces);
  EXPECT_EQ(face_table_for(FaceFamily::unmapped, VTK_WEDGE, site), nullptr);
  EXPECT_THROW(face_table_for(FaceFamily::tetrahedral, VTK_HEXAHEDRON, site), kelm::key_error);
  EXPECT_THROW(require_hexahedral_tables({VTK_HEXAHEDRON, VTK_PYRAMID}, kOp, kBody),
               kelm::key_error);
}

TEST(FaceMerge, LoadedFacesLeadAndCoverTheirFreeCopies) {
  FacePolygons loaded;
  const vtkIdType a[4] = {0, 1, 2, 3}, a_again[4] = {3, 0, 1, 2}, inner[3] = {7, 8, 9};
  loaded.add(a, 4);
  loaded.add(inner, 3);
  loaded.add(a_again, 4);
  auto free_polys = vtkSmartPointer<vtkCellArray>::New();
  const vtkIdType f0[4] = {4, 5, 6, 7}, f1[4] = {2, 1, 0, 3};
  free_polys->InsertNextCell(4, f0);
  free_polys->InsertNextCell(4, f1);
  CombinedFaces combined = combine_faces(loaded, free_polys);
  EXPECT_EQ(combined.loaded_kept, (std::vector<vtkIdType>{0, 1}));
  EXPECT_EQ(combined.free_kept, (std::vector<vtkIdType>{0}));
  EXPECT_EQ(combined.cells->GetNumberOfCells(), 3);
}

TEST(FaceIndexField, LoadedFaceFirstThenTheOtherFreeFaces) {
  auto grid = one_hexahedron();
  const Target target{kOp, kBody};
  vtkSmartPointer<vtkPolyData> out =
      prepare_face_index_field(grid, {5}, {1}, {2.5f}, "Pressure", target)();
  ASSERT_EQ(out->GetNumberOfPolys(), 6);
  auto* nodes = vtkUnsignedIntArray::SafeDownCast(out->GetPointData()->GetArray("Node ID"));
  std::vector<unsigned> first;
  for (vtkIdType p : polygon(out, 0)) first.push_back(nodes->GetValue(p));
  EXPECT_EQ(first, (std::vector<unsigned>{10, 40, 30, 20}));
  auto* values = vtkFloatArray::SafeDownCast(out->GetCellData()->GetArray("Pressure"));
  EXPECT_EQ(values->GetValue(0), 2.5f);
  for (vtkIdType c = 1; c < 6; ++c) EXPECT_TRUE(std::isnan(values->GetValue(c)));
  EXPECT_EQ(grid->GetCellData()->GetArray("Pressure"), nullptr);
}

TEST(FaceNodeField, SmallerFacesFirstThenFieldOrder) {
  auto grid = one_hexahedron();
  Ragged<uint32_t> faces;
  Ragged<float> values;
  // A quadrilateral listed before a triangle sharing node 20: the triangle's value wins.
  faces.values = {10, 20, 60, 50, 20, 30, 70};
  faces.offsets = {0, 4, 7};
  values.values = {1, 1, 1, 1, 2, 2, 2};
  values.offsets = faces.offsets;
  const Target target{kOp, kBody};
  vtkSmartPointer<vtkPolyData> out =
      prepare_face_node_field(grid, faces, values, "Temperature", target)();
  auto* nodes = vtkUnsignedIntArray::SafeDownCast(out->GetPointData()->GetArray("Node ID"));
  auto* field = vtkFloatArray::SafeDownCast(out->GetPointData()->GetArray("Temperature"));
  for (vtkIdType p = 0; p < out->GetNumberOfPoints(); ++p) {
    const unsigned id = nodes->GetValue(p);
    const float v = field->GetValue(p);
    if (id == 20 || id == 30 || id == 70) {
      EXPECT_EQ(v, 2.f) << id;
    } else if (id == 10 || id == 50 || id == 60) {
      EXPECT_EQ(v, 1.f) << id;
    } else {
      EXPECT_TRUE(std::isnan(v)) << id;
    }
  }
}

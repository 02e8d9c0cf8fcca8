// The outer surface that walks the body's cells gives what vtkDataSetSurfaceFilter gives, ordered
// by original IDs: the same points, cells, corner order and arrays, to the last value.
#include <gtest/gtest.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDoubleArray.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkHexahedron.h>
#include <vtkIdTypeArray.h>
#include <vtkIntArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkStringArray.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "face_set.h"
#include "outer_surface.h"

namespace {

using fieldferry_core::filtered_outer_surface;
using fieldferry_core::outer_surface;
using fieldferry_core::walked_outer_surface;

// An (n+1)^3 lattice of points on [0, n]^3, numbered x fastest, in float.
vtkSmartPointer<vtkUnstructuredGrid> lattice(int n) {
  auto grid = vtkSmartPointer<vtkUnstructuredGrid>::New();
  auto points = vtkSmartPointer<vtkPoints>::New();
  for (int z = 0; z <= n; ++z)
    for (int y = 0; y <= n; ++y)
      for (int x = 0; x <= n; ++x) points->InsertNextPoint(x, y, z);
  grid->SetPoints(points);
  grid->Allocate();
  return grid;
}

// The eight corners of lattice cube (x, y, z) in hexahedron order.
std::vector<vtkIdType> cube(int n, int x, int y, int z) {
  auto id = [n](int i, int j, int k) { return vtkIdType(i + (n + 1) * (j + (n + 1) * k)); };
  return {id(x, y, z),     id(x + 1, y, z),     id(x + 1, y + 1, z),     id(x, y + 1, z),
          id(x, y, z + 1), id(x + 1, y, z + 1), id(x + 1, y + 1, z + 1), id(x, y + 1, z + 1)};
}

void add(vtkUnstructuredGrid* grid, int type, const std::vector<vtkIdType>& ids) {
  grid->InsertNextCell(type, vtkIdType(ids.size()), ids.data());
}

// Every cube of an n^3 lattice split into the cells `split` makes of its eight corners.
template <class Split>
vtkSmartPointer<vtkUnstructuredGrid> block(int n, Split split) {
  auto grid = lattice(n);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) split(grid.Get(), cube(n, x, y, z));
  return grid;
}

void hexahedron(vtkUnstructuredGrid* g, const std::vector<vtkIdType>& c) {
  add(g, VTK_HEXAHEDRON, c);
}

// Five tetrahedra a cube, mirrored on alternate cubes so that neighbours share their diagonals.
void tetrahedra(vtkUnstructuredGrid* g, const std::vector<vtkIdType>& c) {
  const vtkIdType row = c[3] - c[0];  // n + 1
  const bool odd = (c[0] % row + c[0] / row % row + c[0] / (row * row)) % 2;
  const int corners[2][5][4] = {
      {{0, 1, 3, 4}, {1, 2, 3, 6}, {1, 4, 5, 6}, {3, 6, 7, 4}, {1, 3, 4, 6}},
      {{1, 2, 0, 5}, {2, 3, 0, 7}, {2, 5, 6, 7}, {0, 7, 4, 5}, {2, 0, 5, 7}}};
  for (const auto& t : corners[odd]) add(g, VTK_TETRA, {c[t[0]], c[t[1]], c[t[2]], c[t[3]]});
}

void wedges(vtkUnstructuredGrid* g, const std::vector<vtkIdType>& c) {
  add(g, VTK_WEDGE, {c[0], c[1], c[3], c[4], c[5], c[7]});
  add(g, VTK_WEDGE, {c[1], c[2], c[3], c[5], c[6], c[7]});
}

// Voxels (corners in x, y, z order) on odd cubes, three pyramids with their apex at corner 6 on
// even ones; their faces do not all meet the voxels' faces, which both put out then.
void voxels_pyramids(vtkUnstructuredGrid* g, const std::vector<vtkIdType>& c) {
  if (c[0] % 2) {
    add(g, VTK_VOXEL, {c[0], c[1], c[3], c[2], c[4], c[5], c[7], c[6]});
    return;
  }
  add(g, VTK_PYRAMID, {c[0], c[1], c[2], c[3], c[6]});
  add(g, VTK_PYRAMID, {c[0], c[1], c[5], c[4], c[6]});
  add(g, VTK_PYRAMID, {c[0], c[4], c[7], c[3], c[6]});
}

// The arrays a model body carries, of several types and attribute roles.
void tag(vtkDataSet* body) {
  const vtkIdType np = body->GetNumberOfPoints(), nc = body->GetNumberOfCells();
  auto temperature = vtkSmartPointer<vtkFloatArray>::New();
  temperature->SetName("Temperature");
  auto displacement = vtkSmartPointer<vtkDoubleArray>::New();
  displacement->SetName("Displacement");
  displacement->SetNumberOfComponents(3);
  auto node = vtkSmartPointer<vtkIntArray>::New();
  node->SetName("Node ID");
  auto global = vtkSmartPointer<vtkIdTypeArray>::New();  // a role filters treat apart
  global->SetName("Global");
  for (vtkIdType i = 0; i < np; ++i) {
    temperature->InsertNextValue(float(i) * 0.5f);
    displacement->InsertNextTuple3(double(i), -double(i), 1.0 / double(i + 1));
    node->InsertNextValue(int(1000 + i));
    global->InsertNextValue(7 * i);
  }
  body->GetPointData()->SetScalars(temperature);
  body->GetPointData()->SetVectors(displacement);
  body->GetPointData()->AddArray(node);
  body->GetPointData()->SetGlobalIds(global);
  auto element = vtkSmartPointer<vtkIntArray>::New();
  element->SetName("Element ID");
  auto label = vtkSmartPointer<vtkStringArray>::New();
  label->SetName("Label");
  auto pressure = vtkSmartPointer<vtkDoubleArray>::New();
  pressure->SetName("Pressure");
  for (vtkIdType i = 0; i < nc; ++i) {
    element->InsertNextValue(int(500 + i));
    label->InsertNextValue("e" + std::to_string(i));
    pressure->InsertNextValue(double(i) / 3.0);
  }
  body->GetCellData()->AddArray(element);
  body->GetCellData()->AddArray(label);
  body->GetCellData()->SetScalars(pressure);
  auto cell_global = vtkSmartPointer<vtkIdTypeArray>::New();
  cell_global->SetName("Cell global");
  for (vtkIdType i = 0; i < nc; ++i) cell_global->InsertNextValue(3 * i + 1);
  body->GetCellData()->SetGlobalIds(cell_global);
  auto path = vtkSmartPointer<vtkStringArray>::New();
  path->SetName("Body pathName");
  path->InsertNextValue("Part 1/Body 1");
  body->GetFieldData()->AddArray(path);
}

void expect_same_arrays(vtkFieldData* got, vtkFieldData* want, const std::string& where) {
  ASSERT_EQ(got->GetNumberOfArrays(), want->GetNumberOfArrays()) << where;
  for (int a = 0; a < want->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* w = want->GetAbstractArray(a);
    vtkAbstractArray* g = got->GetAbstractArray(a);
    const std::string name = w->GetName() ? w->GetName() : "";
    ASSERT_EQ(name, g->GetName() ? g->GetName() : "") << where;
    ASSERT_EQ(g->GetDataType(), w->GetDataType()) << where << " " << name;
    ASSERT_EQ(g->GetNumberOfComponents(), w->GetNumberOfComponents()) << where << " " << name;
    ASSERT_EQ(g->GetNumberOfTuples(), w->GetNumberOfTuples()) << where << " " << name;
    for (vtkIdType i = 0; i < w->GetNumberOfValues(); ++i) {
      ASSERT_EQ(g->GetVariantValue(i), w->GetVariantValue(i)) << where << " " << name << " " << i;
    }
  }
  auto* gd = vtkDataSetAttributes::SafeDownCast(got);
  auto* wd = vtkDataSetAttributes::SafeDownCast(want);
  if (!gd || !wd) return;
  for (int role = 0; role < vtkDataSetAttributes::NUM_ATTRIBUTES; ++role) {
    vtkAbstractArray* g = gd->GetAbstractAttribute(role);
    vtkAbstractArray* w = wd->GetAbstractAttribute(role);
    EXPECT_EQ(std::string(g && g->GetName() ? g->GetName() : "-"),
              std::string(w && w->GetName() ? w->GetName() : "-"))
        << where << " attribute " << role;
  }
}

void expect_same_cells(vtkCellArray* got, vtkCellArray* want, const char* kind) {
  ASSERT_EQ(got->GetNumberOfCells(), want->GetNumberOfCells()) << kind;
  auto g = vtkSmartPointer<vtkIdList>::New(), w = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < want->GetNumberOfCells(); ++c) {
    got->GetCellAtId(c, g);
    want->GetCellAtId(c, w);
    ASSERT_EQ(g->GetNumberOfIds(), w->GetNumberOfIds()) << kind << " " << c;
    for (vtkIdType k = 0; k < w->GetNumberOfIds(); ++k) {
      ASSERT_EQ(g->GetId(k), w->GetId(k)) << kind << " " << c << " corner " << k;
    }
  }
}

// Compares the walk's surface of `body` (or, where `walked` is false, outer_surface's, which then
// must leave the body to the filter) with the filter's, tagging the body first.
void expect_filter_result(vtkDataSet* body, bool walked = true) {
  tag(body);
  vtkSmartPointer<vtkPolyData> want = filtered_outer_surface(body);
  vtkSmartPointer<vtkPolyData> got = walked_outer_surface(body);
  ASSERT_EQ(bool(got), walked);
  if (!got) got = outer_surface(body);
  ASSERT_EQ(got->GetNumberOfPoints(), want->GetNumberOfPoints());
  if (want->GetNumberOfPoints()) {
    ASSERT_EQ(got->GetPoints()->GetDataType(), want->GetPoints()->GetDataType());
    for (vtkIdType i = 0; i < want->GetNumberOfPoints(); ++i) {
      for (int k = 0; k < 3; ++k) ASSERT_EQ(got->GetPoint(i)[k], want->GetPoint(i)[k]) << i;
    }
  }
  expect_same_cells(got->GetVerts(), want->GetVerts(), "verts");
  expect_same_cells(got->GetLines(), want->GetLines(), "lines");
  expect_same_cells(got->GetPolys(), want->GetPolys(), "polys");
  expect_same_cells(got->GetStrips(), want->GetStrips(), "strips");
  expect_same_arrays(got->GetPointData(), want->GetPointData(), "point data");
  expect_same_arrays(got->GetCellData(), want->GetCellData(), "cell data");
  expect_same_arrays(got->GetFieldData(), want->GetFieldData(), "field data");
}

TEST(OuterSurface, HexahedraAsTheFilter) {
  auto grid = block(3, hexahedron);
  expect_filter_result(grid);
  EXPECT_EQ(outer_surface(grid)->GetNumberOfPolys(), 6 * 9);
}

TEST(OuterSurface, TetrahedraAsTheFilter) {
  auto grid = block(3, tetrahedra);
  expect_filter_result(grid);
  EXPECT_EQ(outer_surface(grid)->GetNumberOfPolys(), 6 * 9 * 2);  // the cubes' diagonals meet
}

TEST(OuterSurface, WedgesAsTheFilter) { expect_filter_result(block(2, wedges)); }

// 140,608 hexahedra: walked in stretches whose shared faces meet only when they are put together.
TEST(OuterSurface, BodyWalkedInStretchesAsTheFilter) {
  auto grid = block(52, hexahedron);
  expect_filter_result(grid);
  EXPECT_EQ(outer_surface(grid)->GetNumberOfPolys(), 6 * 52 * 52);
}

TEST(OuterSurface, VoxelsAndPyramidsAsTheFilter) {
  expect_filter_result(block(3, voxels_pyramids));
}

TEST(OuterSurface, QuadraticBodiesAsTheFilter) {
  auto tetra10 = lattice(2);
  add(tetra10, VTK_QUADRATIC_TETRA, {0, 2, 6, 18, 1, 4, 3, 9, 10, 12});
  add(tetra10, VTK_QUADRATIC_TETRA, {2, 8, 6, 26, 5, 7, 4, 14, 17, 16});
  expect_filter_result(tetra10, false);
  auto hexa20 = lattice(2);
  add(hexa20, VTK_QUADRATIC_HEXAHEDRON,
      {0, 2, 8, 6, 18, 20, 26, 24, 1, 5, 7, 3, 19, 23, 25, 21, 9, 11, 17, 15});
  add(hexa20, VTK_QUADRATIC_EDGE, {0, 2, 1});
  add(hexa20, VTK_QUADRATIC_TRIANGLE, {0, 2, 6, 1, 4, 3});
  expect_filter_result(hexa20, false);
}

// Vertices, lines and 2D cells beside solids pass as they are (a pixel as a quadrilateral, a strip
// as its triangles), also where a 2D cell covers a solid's face.
TEST(OuterSurface, MixedCellsAsTheFilter) {
  auto grid = block(2, hexahedron);
  const std::vector<vtkIdType> bottom = {0, 1, 4, 3}, side = {0, 9, 10, 1};
  add(grid, VTK_QUAD, {bottom.rbegin(), bottom.rend()});
  add(grid, VTK_PIXEL, {0, 1, 9, 10});
  add(grid, VTK_TRIANGLE, {2, 5, 4});
  add(grid, VTK_POLYGON, {6, 7, 8, 17, 16});
  add(grid, VTK_LINE, {0, 13});
  add(grid, VTK_POLY_LINE, {20, 23, 26});
  add(grid, VTK_VERTEX, {13});
  add(grid, VTK_POLY_VERTEX, {22, 24});
  add(grid, VTK_TRIANGLE_STRIP, {18, 19, 21, 22, 24});
  expect_filter_result(grid);
  // 24 faces of the block, four 2D cells and the strip's three triangles.
  EXPECT_EQ(outer_surface(grid)->GetNumberOfPolys(), 24 + 4 + 3);
}

TEST(OuterSurface, ShellsAndEmptyBodiesAsTheFilter) {
  auto shell = vtkSmartPointer<vtkPolyData>::New();
  shell->SetPoints(lattice(1)->GetPoints());
  auto polys = vtkSmartPointer<vtkCellArray>::New();
  const vtkIdType a[4] = {0, 1, 3, 2}, b[3] = {4, 5, 6};
  polys->InsertNextCell(4, a);
  polys->InsertNextCell(3, b);
  shell->SetPolys(polys);
  expect_filter_result(shell, false);
  expect_filter_result(lattice(0), false);
  expect_filter_result(vtkSmartPointer<vtkUnstructuredGrid>::New(), false);
  auto strips_only = lattice(1);
  add(strips_only, VTK_TRIANGLE_STRIP, {0, 1, 2, 3, 6});
  add(strips_only, VTK_LINE, {4, 5});
  expect_filter_result(strips_only);
}

// Faces set aside from the table still meet their partner: a 12^3 block of hexahedra leaves
// exactly its boundary whether the table holds every live face or sets them aside every few cells.
TEST(FaceSet, FacesSetAsideStillMeetTheirPartner) {
  auto grid = block(12, hexahedron);
  auto boundary = [&](std::size_t first_eviction) {
    fieldferry_core::FaceSet<std::uint32_t> faces(first_eviction);
    auto ids = vtkSmartPointer<vtkIdList>::New();
    for (vtkIdType c = 0; c < grid->GetNumberOfCells(); ++c) {
      grid->GetCellPoints(c, ids);
      for (int f = 0; f < 6; ++f) {
        const vtkIdType* face = vtkHexahedron::GetFaceArray(f);
        fieldferry_core::FaceSet<std::uint32_t>::Key key;
        for (int k = 0; k < 4; ++k) key[std::size_t(k)] = std::uint32_t(ids->GetId(face[k]));
        std::sort(key.begin(), key.end());
        faces.toggle(key, std::uint32_t(c), std::uint8_t(f));
      }
    }
    std::vector<std::pair<std::uint32_t, int>> left;
    for (const auto& e : faces.remaining()) left.emplace_back(e.cell, e.face);
    std::sort(left.begin(), left.end());
    return left;
  };
  const auto whole = boundary(std::size_t(1) << 20);
  EXPECT_EQ(whole.size(), 6u * 12 * 12);
  EXPECT_EQ(boundary(16), whole);
}

}  // namespace

#include <gtest/gtest.h>
#include <vtkCell.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkPoints.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <set>
#include <vector>

#include "common/topology_table.h"

namespace {

using Corners = std::vector<vtkIdType>;

// VTK's own cell of `type` whose point k is point k, so that its faces name cell positions.
vtkSmartPointer<vtkCell> numbered_cell(int type) {
  vtkSmartPointer<vtkCell> cell;
  cell.TakeReference(vtkGenericCell::InstantiateCell(type));
  for (vtkIdType k = 0; k < cell->GetNumberOfPoints(); ++k) {
    cell->GetPointIds()->SetId(k, k);
    cell->GetPoints()->SetPoint(k, double(k), 0.0, 0.0);
  }
  return cell;
}

// The faces of VTK's own cell of `type`, each as its sorted corner positions (quadratic faces
// reduced to their corners, which come first in VTK's face point lists; a face has as many corners
// as edges).
std::set<Corners> vtk_faces(int type) {
  vtkSmartPointer<vtkCell> cell = numbered_cell(type);
  std::set<Corners> out;
  for (int f = 0; f < cell->GetNumberOfFaces(); ++f) {
    vtkCell* face = cell->GetFace(f);
    Corners c;
    for (int k = 0; k < face->GetNumberOfEdges(); ++k) c.push_back(face->GetPointId(k));
    std::sort(c.begin(), c.end());
    out.insert(c);
  }
  return out;
}

// The VTK position of host position `p` of topology `t`.
vtkIdType vtk_position(const kelm::Topology& t, int p) {
  if (!t.host_position) return p;
  return vtkIdType(std::find(t.host_position, t.host_position + t.num_nodes, p) - t.host_position);
}

TEST(TopologyTable, HostFacesAreExactlyTheFacesOfTheCellVtkMakes) {
  // Every solid has faces, and as corner sets (carried into VTK's node order) they are the
  // faces of VTK's own cell: a solid without them could take no pressure, and a row naming a
  // wrong corner would match no polygon of a real surface.
  for (const kelm::Topology& t : kelm::kTopologies) {
    if (numbered_cell(t.vtk_cell_type)->GetCellDimension() != 3) {
      EXPECT_EQ(t.faces.count, 0) << t.name;
      continue;
    }
    std::set<Corners> host;
    for (int f = 0; f < t.faces.count; ++f) {
      Corners c;
      for (int k = 0; k < t.faces.corners(f); ++k) c.push_back(vtk_position(t, t.faces.face(f)[k]));
      std::sort(c.begin(), c.end());
      host.insert(c);
    }
    EXPECT_EQ(host.size(), std::size_t(t.faces.count)) << t.name << ": a face is listed twice";
    EXPECT_EQ(host, vtk_faces(t.vtk_cell_type)) << t.name;
  }
}

TEST(TopologyTable, HostFacesTurnOutwardLikeVtksFaces) {
  // Each host face runs around its corners in the cyclic order of VTK's face with the same
  // corners, whose normal points out of the cell: a face listed backwards would point inward.
  for (const char* name : {"Tetra4", "Penta6", "Hexa8"}) {
    const kelm::Topology* t = kelm::topology_named(name);
    vtkSmartPointer<vtkCell> cell = numbered_cell(t->vtk_cell_type);
    for (int f = 0; f < t->faces.count; ++f) {
      const int* host = t->faces.face(f);
      const int n = t->faces.corners(f);
      bool found = false;
      for (int g = 0; g < cell->GetNumberOfFaces() && !found; ++g) {
        vtkCell* face = cell->GetFace(g);
        if (face->GetNumberOfPoints() != n) continue;
        Corners vtk(n);
        for (int k = 0; k < n; ++k) vtk[k] = face->GetPointId(k);
        if (!std::is_permutation(vtk.begin(), vtk.end(), host)) continue;
        found = true;
        // The same cyclic order: host corner k is followed by host corner k + 1 in VTK's cycle.
        const auto at = std::find(vtk.begin(), vtk.end(), host[0]) - vtk.begin();
        for (int k = 0; k < n; ++k) EXPECT_EQ(vtk[(at + k) % n], host[k]) << name << " face " << f;
      }
      EXPECT_TRUE(found) << name << " face " << f;
    }
  }
}

}  // namespace

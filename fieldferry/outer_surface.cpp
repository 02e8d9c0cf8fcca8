#include "outer_surface.h"

#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkCellData.h>
#include <vtkCellTypes.h>
#include <vtkDataSetSurfaceFilter.h>
#include <vtkGenericCell.h>
#include <vtkHexahedron.h>
#include <vtkIdTypeArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPyramid.h>
#include <vtkSMPTools.h>
#include <vtkTetra.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>
#include <vtkVoxel.h>
#include <vtkWedge.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "common/original_order.h"
#include "face_set.h"

namespace fieldferry_core {
namespace {

// Each point's and cell's position in the body, carried through the filter and removed again
// before the surface leaves.
constexpr char kOriginalPoints[] = "fieldferry body point";
constexpr char kOriginalCells[] = "fieldferry body cell";

bool has_nonlinear_cells(vtkDataSet* body) {
  auto types = vtkSmartPointer<vtkCellTypes>::New();
  body->GetCellTypes(types);
  for (vtkIdType i = 0; i < types->GetNumberOfTypes(); ++i) {
    if (!vtkCellTypes::IsLinear(types->GetCellType(i))) return true;
  }
  return false;
}

struct MidsideNode {
  vtkIdType point;  // in the body
  vtkIdType cell;   // the body cell whose face or edge it lies on
};

// The body's nodes that lie on the surface's faces without being one of their corners: the
// mid-side nodes of each boundary face's edges (quadratic solids and shells) and the inner nodes
// of quadratic edges. Each node once, in the order the surface's cells meet them.
std::vector<MidsideNode> midside_nodes(vtkDataSet* body, vtkPolyData* surface) {
  vtkDataArray* original_point = surface->GetPointData()->GetArray(kOriginalPoints);
  vtkDataArray* original_cell = surface->GetCellData()->GetArray(kOriginalCells);
  std::vector<MidsideNode> nodes;
  if (!original_point || !original_cell) return nodes;
  std::vector<char> on_surface(std::size_t(body->GetNumberOfPoints()), 0);
  for (vtkIdType i = 0; i < surface->GetNumberOfPoints(); ++i) {
    on_surface[std::size_t(original_point->GetComponent(i, 0))] = 1;
  }
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  auto face_points = vtkSmartPointer<vtkIdList>::New();
  std::vector<vtkIdType> corners;
  auto take = [&](vtkIdType point, vtkIdType owner) {
    if (on_surface[std::size_t(point)]) return;
    on_surface[std::size_t(point)] = 1;
    nodes.push_back({point, owner});
  };
  for (vtkIdType c = 0; c < surface->GetNumberOfCells(); ++c) {
    const auto owner = static_cast<vtkIdType>(original_cell->GetComponent(c, 0));
    if (owner < 0 || owner >= body->GetNumberOfCells()) continue;
    body->GetCell(owner, cell);
    if (cell->IsLinear()) continue;
    if (cell->GetCellDimension() == 1) {
      for (vtkIdType k = 0; k < cell->GetNumberOfPoints(); ++k) take(cell->GetPointId(k), owner);
      continue;
    }
    surface->GetCellPoints(c, face_points);
    corners.clear();
    for (vtkIdType k = 0; k < face_points->GetNumberOfIds(); ++k) {
      corners.push_back(vtkIdType(original_point->GetComponent(face_points->GetId(k), 0)));
    }
    auto is_corner = [&](vtkIdType p) {
      return std::find(corners.begin(), corners.end(), p) != corners.end();
    };
    for (int e = 0; e < cell->GetNumberOfEdges(); ++e) {
      vtkCell* edge = cell->GetEdge(e);
      if (!is_corner(edge->GetPointId(0)) || !is_corner(edge->GetPointId(1))) continue;
      for (vtkIdType k = 2; k < edge->GetNumberOfPoints(); ++k) take(edge->GetPointId(k), owner);
    }
  }
  return nodes;
}

// Appends one tuple to every array of `to`: the same-named array's tuple `from_id` of `from`, the
// original ID itself for the pass-through array, zeros where `from` has no such array.
void append_tuples(vtkDataSetAttributes* to, vtkDataSetAttributes* from, vtkIdType from_id,
                   const char* id_array) {
  for (int a = 0; a < to->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = to->GetAbstractArray(a);
    const std::string name = array->GetName() ? array->GetName() : "";
    vtkAbstractArray* source = name.empty() ? nullptr : from->GetAbstractArray(name.c_str());
    if (name == id_array) {
      vtkDataArray::SafeDownCast(array)->InsertNextTuple1(double(from_id));
    } else if (source && source->GetNumberOfComponents() == array->GetNumberOfComponents() &&
               source->GetDataType() == array->GetDataType()) {
      array->InsertNextTuple(from_id, source);
    } else if (auto* numbers = vtkDataArray::SafeDownCast(array)) {
      std::vector<double> zero(std::size_t(numbers->GetNumberOfComponents()), 0.0);
      numbers->InsertNextTuple(zero.data());
    } else {
      array->SetNumberOfTuples(array->GetNumberOfTuples() + 1);
    }
  }
}

// Adds a vertex cell per mid-side node. Vertex cells come first among a polydata's cells, so the
// new cells' data goes in right after the existing vertices'.
void add_midside_vertices(vtkDataSet* body, vtkPolyData* surface) {
  const std::vector<MidsideNode> nodes = midside_nodes(body, surface);
  if (nodes.empty()) return;
  const vtkIdType old_verts = surface->GetNumberOfVerts();
  const vtkIdType old_cells = surface->GetNumberOfCells();
  auto verts = vtkSmartPointer<vtkCellArray>::New();
  if (old_verts) verts->DeepCopy(surface->GetVerts());
  vtkPoints* points = surface->GetPoints();
  for (const MidsideNode& node : nodes) {
    const vtkIdType id = points->InsertNextPoint(body->GetPoint(node.point));
    append_tuples(surface->GetPointData(), body->GetPointData(), node.point, kOriginalPoints);
    verts->InsertNextCell(1, &id);
  }
  // Cell data: the old vertices', then the new ones' (from their owning cell), then the rest.
  vtkCellData* cd = surface->GetCellData();
  for (int a = 0; a < cd->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = cd->GetAbstractArray(a);
    vtkSmartPointer<vtkAbstractArray> tail;
    tail.TakeReference(array->NewInstance());
    tail->SetNumberOfComponents(array->GetNumberOfComponents());
    tail->SetNumberOfTuples(old_cells - old_verts);
    for (vtkIdType i = old_verts; i < old_cells; ++i) tail->SetTuple(i - old_verts, i, array);
    array->SetNumberOfTuples(old_verts);
    vtkSmartPointer<vtkCellData> one = vtkSmartPointer<vtkCellData>::New();
    one->AddArray(array);
    for (const MidsideNode& node : nodes) {
      append_tuples(one, body->GetCellData(), node.cell, kOriginalCells);
    }
    for (vtkIdType i = 0; i < tail->GetNumberOfTuples(); ++i) array->InsertNextTuple(i, tail);
  }
  surface->SetVerts(verts);
}

// ---- The walk over the body's own cells -------------------------------------------------------

// The linear solids whose faces the walk knows, with VTK's face tables (corner positions, -1 after
// a triangle's third). The filter puts these faces out with their smallest corner ID first and
// otherwise in the tables' cyclic order, a voxel's (given in pixel order) as a quadrilateral's.
struct SolidFaces {
  int points;
  int faces;
  const vtkIdType* (*face)(vtkIdType);
  bool pixel_order;
};

const SolidFaces* solid_faces(int type) {
  static const SolidFaces tetra{4, 4, &vtkTetra::GetFaceArray, false};
  static const SolidFaces voxel{8, 6, &vtkVoxel::GetFaceArray, true};
  static const SolidFaces hexahedron{8, 6, &vtkHexahedron::GetFaceArray, false};
  static const SolidFaces wedge{6, 5, &vtkWedge::GetFaceArray, false};
  static const SolidFaces pyramid{5, 5, &vtkPyramid::GetFaceArray, false};
  switch (type) {
    case VTK_TETRA:
      return &tetra;
    case VTK_VOXEL:
      return &voxel;
    case VTK_HEXAHEDRON:
      return &hexahedron;
    case VTK_WEDGE:
      return &wedge;
    case VTK_PYRAMID:
      return &pyramid;
    default:
      return nullptr;
  }
}

enum class Kind { vertex, line, polygon, strip, solid, other };

Kind kind_of(int type) {
  switch (type) {
    case VTK_VERTEX:
    case VTK_POLY_VERTEX:
      return Kind::vertex;
    case VTK_LINE:
    case VTK_POLY_LINE:
      return Kind::line;
    case VTK_TRIANGLE:
    case VTK_QUAD:
    case VTK_PIXEL:
    case VTK_POLYGON:
      return Kind::polygon;
    case VTK_TRIANGLE_STRIP:
      return Kind::strip;
    default:
      return solid_faces(type) ? Kind::solid : Kind::other;
  }
}

// One polygon of the surface before renumbering: a solid's face or a strip's triangle.
struct Corners {
  int n = 0;
  std::array<vtkIdType, 4> id{};
};

// Face `f` of a solid as the filter puts it out.
Corners face_corners(const SolidFaces& table, int f, const vtkIdType* cell_points) {
  const vtkIdType* face = table.face(f);
  Corners c;
  while (c.n < 4 && face[c.n] >= 0) {
    c.id[std::size_t(c.n)] = cell_points[face[c.n]];
    ++c.n;
  }
  if (table.pixel_order && c.n == 4) std::swap(c.id[2], c.id[3]);
  std::rotate(c.id.begin(), std::min_element(c.id.begin(), c.id.begin() + c.n), c.id.begin() + c.n);
  return c;
}

// The face's identity as the filter matches faces: a triangle by its three corners, a
// quadrilateral by its corners and which one lies opposite the smallest (either orientation).
// False for a face that names a point twice (a collapsed element), whose matching the walk does
// not try to reproduce.
template <class Id>
bool face_key(const Corners& c, typename FaceSet<Id>::Key& key) {
  key.fill(FaceSet<Id>::kNone);
  if (c.n == 3) {
    for (std::size_t k = 0; k < 3; ++k) key[k] = Id(c.id[k]);
    std::sort(key.begin(), key.begin() + 3);
    return key[0] != key[1] && key[1] != key[2];
  }
  // Corner 0 is the smallest; 2 is opposite it.
  key = {Id(c.id[0]), Id(c.id[2]), Id(std::min(c.id[1], c.id[3])), Id(std::max(c.id[1], c.id[3]))};
  return key[0] != key[1] && key[0] != key[2] && key[1] != key[2] && key[1] != key[3] &&
         key[2] != key[3];
}

// The surface's cells of one kind, first in body point IDs, then renumbered.
struct KindCells {
  std::vector<vtkIdType> offsets{0};
  std::vector<vtkIdType> connectivity;
  std::vector<vtkIdType> source;  // the body cell of each

  void add(const vtkIdType* points, vtkIdType n, vtkIdType cell) {
    connectivity.insert(connectivity.end(), points, points + n);
    offsets.push_back(vtkIdType(connectivity.size()));
    source.push_back(cell);
  }

  // Several polygons of one body cell, in the order that ordering by original IDs gives them: by
  // their sorted corner IDs, then by their corner sequence.
  void add_sorted(std::vector<Corners>& polygons, vtkIdType cell) {
    auto sorted = [](const Corners& c) {
      std::vector<vtkIdType> ids(c.id.begin(), c.id.begin() + c.n);
      std::sort(ids.begin(), ids.end());
      return ids;
    };
    auto raw = [](const Corners& c) {
      return std::vector<vtkIdType>(c.id.begin(), c.id.begin() + c.n);
    };
    std::sort(polygons.begin(), polygons.end(), [&](const Corners& a, const Corners& b) {
      const auto sa = sorted(a), sb = sorted(b);
      return sa != sb ? sa < sb : raw(a) < raw(b);
    });
    for (const Corners& c : polygons) add(c.id.data(), c.n, cell);
  }
};

vtkSmartPointer<vtkIdTypeArray> id_array(const std::vector<vtkIdType>& values) {
  auto array = vtkSmartPointer<vtkIdTypeArray>::New();
  array->SetNumberOfTuples(vtkIdType(values.size()));
  std::copy(values.begin(), values.end(), array->GetPointer(0));
  return array;
}

vtkSmartPointer<vtkIdList> id_list(const std::vector<vtkIdType>& values) {
  auto list = vtkSmartPointer<vtkIdList>::New();
  list->SetNumberOfIds(vtkIdType(values.size()));
  std::copy(values.begin(), values.end(), list->GetPointer(0));
  return list;
}

vtkSmartPointer<vtkIdList> first_ids(vtkIdType n) {
  auto list = vtkSmartPointer<vtkIdList>::New();
  list->SetNumberOfIds(n);
  std::iota(list->GetPointer(0), list->GetPointer(0) + n, vtkIdType{0});
  return list;
}

// The points the surface uses, one bit per body point, and each one's number on the surface.
class UsedPoints {
 public:
  explicit UsedPoints(vtkIdType points) : bits_(std::size_t(points + 63) / 64, 0) {}
  void mark(vtkIdType p) { bits_[std::size_t(p) >> 6] |= std::uint64_t(1) << (p & 63); }
  void number() {
    before_.resize(bits_.size());
    vtkIdType count = 0;
    for (std::size_t w = 0; w < bits_.size(); ++w) {
      before_[w] = count;
      count += vtkIdType(std::bitset<64>(bits_[w]).count());
    }
    count_ = count;
  }
  vtkIdType count() const { return count_; }
  vtkIdType surface_id(vtkIdType p) const {
    const std::size_t w = std::size_t(p) >> 6;
    const std::uint64_t below = bits_[w] & ((std::uint64_t(1) << (p & 63)) - 1);
    return before_[w] + vtkIdType(std::bitset<64>(below).count());
  }
  std::vector<vtkIdType> body_ids() const {
    std::vector<vtkIdType> ids;
    ids.reserve(std::size_t(count_));
    for (std::size_t w = 0; w < bits_.size(); ++w) {
      for (std::uint64_t b = bits_[w]; b; b &= b - 1) {
        ids.push_back(vtkIdType(w * 64) + vtkIdType(__builtin_ctzll(b)));
      }
    }
    return ids;
  }

 private:
  std::vector<std::uint64_t> bits_;
  std::vector<vtkIdType> before_;  // one per 64 body points
  vtkIdType count_ = 0;
};

// Stretches of cells walked at once, and the fewest cells worth a stretch of their own.
constexpr vtkIdType kStretches = 16;
constexpr vtkIdType kCellsPerStretch = 1 << 16;

// The faces of solids met an odd number of times (cell, face number), sorted; false for a cell
// whose point count its type does not have or a collapsed face. The cells are walked in
// kStretches stretches on VTK's threads, each into a face set of its own; what a stretch leaves
// (its share of the boundary and the faces it shares with the stretches beside it, a cross-section
// each in an FE export's order) is then toggled into one set, stretch after stretch, so the
// result does not depend on the threads.
template <class Id>
bool solid_boundary(vtkUnstructuredGrid* grid, std::vector<std::pair<Id, std::uint8_t>>& out) {
  const vtkIdType n_cells = grid->GetNumberOfCells();
  vtkCellArray* cells = grid->GetCells();
  vtkUnsignedCharArray* types = grid->GetCellTypesArray();
  const vtkIdType stretches =
      std::max<vtkIdType>(1, std::min(kStretches, n_cells / kCellsPerStretch));
  std::vector<std::vector<typename FaceSet<Id>::Entry>> left(static_cast<std::size_t>(stretches));
  std::atomic<bool> malformed{false};
  vtkSMPTools::For(0, stretches, 1, [&](vtkIdType first, vtkIdType last) {
    for (vtkIdType s = first; s < last && !malformed; ++s) {
      const vtkIdType end = n_cells * (s + 1) / stretches;
      FaceSet<Id> faces;
      typename FaceSet<Id>::Key key;
      auto walk = vtk::TakeSmartPointer(cells->NewIterator());
      for (walk->GoToCell(n_cells * s / stretches); walk->GetCurrentCellId() < end;
           walk->GoToNextCell()) {
        vtkIdType n = 0;
        const vtkIdType* points = nullptr;
        walk->GetCurrentCell(n, points);
        const vtkIdType c = walk->GetCurrentCellId();
        const SolidFaces* table = solid_faces(types->GetValue(c));
        if (!table) continue;
        bool sound = n == table->points;
        for (int f = 0; sound && f < table->faces; ++f) {
          sound = face_key<Id>(face_corners(*table, f, points), key);
          if (sound) faces.toggle(key, Id(c), std::uint8_t(f));
        }
        if (!sound) {
          malformed = true;
          return;
        }
      }
      left[static_cast<std::size_t>(s)] = faces.remaining();
    }
  });
  if (malformed) return false;
  FaceSet<Id> faces;
  for (auto& stretch : left) {
    for (const auto& e : stretch) faces.toggle(e.key, e.cell, e.face);
    stretch = {};
  }
  for (const auto& e : faces.remaining()) out.emplace_back(e.cell, e.face);
  std::sort(out.begin(), out.end());
  return true;
}

// The surface vtkDataSetSurfaceFilter makes of an unstructured grid of linear cells, ordered by
// original IDs, or nullptr where the grid holds anything whose treatment the walk does not
// reproduce exactly: other cell types, ghosts, collapsed faces, a point count the type does not
// have, no cells at all (the filter then leaves the arrays out).
template <class Id>
vtkSmartPointer<vtkPolyData> walked_surface(vtkUnstructuredGrid* grid) {
  const vtkIdType n_cells = grid->GetNumberOfCells();
  vtkCellArray* cells = grid->GetCells();
  vtkUnsignedCharArray* types = grid->GetCellTypesArray();
  if (!n_cells || !cells || !types || types->GetNumberOfTuples() != n_cells) return nullptr;
  if (grid->GetCellGhostArray() || grid->GetPointGhostArray()) return nullptr;
  for (vtkIdType c = 0; c < n_cells; ++c) {
    if (kind_of(types->GetValue(c)) == Kind::other) return nullptr;
  }

  // Walk 1: the faces of solids met once, each with the cell it was met in.
  std::vector<std::pair<Id, std::uint8_t>> boundary;  // (cell, face)
  if (!solid_boundary(grid, boundary)) return nullptr;

  // Walk 2: the surface's cells by kind in body cell order, a solid's faces and a strip's
  // triangles where their cell stands.
  KindCells verts, lines, polys;
  std::size_t next_face = 0;
  std::vector<Corners> local;
  vtkIdType pixel[4];
  auto walk = vtk::TakeSmartPointer(cells->NewIterator());
  for (walk->GoToFirstCell(); !walk->IsDoneWithTraversal(); walk->GoToNextCell()) {
    vtkIdType n = 0;
    const vtkIdType* points = nullptr;
    walk->GetCurrentCell(n, points);
    const vtkIdType c = walk->GetCurrentCellId();
    const int type = types->GetValue(c);
    local.clear();
    switch (kind_of(type)) {
      case Kind::vertex:
        verts.add(points, n, c);
        break;
      case Kind::line:
        lines.add(points, n, c);
        break;
      case Kind::polygon:
        if (type == VTK_PIXEL && n == 4) {
          pixel[0] = points[0], pixel[1] = points[1], pixel[2] = points[3], pixel[3] = points[2];
          points = pixel;
        }
        polys.add(points, n, c);
        break;
      case Kind::strip:
        for (vtkIdType i = 0; i + 2 < n; ++i) {
          Corners t;
          t.n = 3;
          t.id = {points[i + (i % 2)], points[i + 1 - (i % 2)], points[i + 2], 0};
          local.push_back(t);
        }
        polys.add_sorted(local, c);
        break;
      case Kind::solid:
        for (; next_face < boundary.size() && vtkIdType(boundary[next_face].first) == c;
             ++next_face) {
          local.push_back(face_corners(*solid_faces(type), boundary[next_face].second, points));
        }
        polys.add_sorted(local, c);
        break;
      case Kind::other:
        break;
    }
  }

  // Points: those the cells use, in body order.
  UsedPoints used(grid->GetNumberOfPoints());
  KindCells* kinds[] = {&verts, &lines, &polys};
  for (KindCells* kind : kinds) {
    for (vtkIdType p : kind->connectivity) used.mark(p);
  }
  used.number();
  auto surface = vtkSmartPointer<vtkPolyData>::New();
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataType(grid->GetPoints()->GetDataType());
  points->SetNumberOfPoints(used.count());
  {
    const vtkSmartPointer<vtkIdList> from = id_list(used.body_ids());
    grid->GetPoints()->GetData()->GetTuples(from, points->GetData());
    surface->SetPoints(points);
    vtkPointData* pd = surface->GetPointData();
    pd->CopyGlobalIdsOn();
    pd->CopyAllocate(grid->GetPointData(), used.count());
    pd->CopyData(grid->GetPointData(), from, first_ids(used.count()));
  }

  void (vtkPolyData::*set[])(vtkCellArray*) = {&vtkPolyData::SetVerts, &vtkPolyData::SetLines,
                                               &vtkPolyData::SetPolys};
  std::vector<vtkIdType> sources;
  for (std::size_t k = 0; k < 3; ++k) {
    KindCells& kind = *kinds[k];
    for (vtkIdType& p : kind.connectivity) p = used.surface_id(p);
    auto array = vtkSmartPointer<vtkCellArray>::New();
    array->SetData(id_array(kind.offsets), id_array(kind.connectivity));
    (surface->*set[k])(array);
    sources.insert(sources.end(), kind.source.begin(), kind.source.end());
    kind = KindCells();
  }
  const vtkIdType n_out = vtkIdType(sources.size());
  vtkCellData* cd = surface->GetCellData();
  cd->CopyGlobalIdsOn();
  cd->CopyAllocate(grid->GetCellData(), n_out);
  cd->CopyData(grid->GetCellData(), id_list(sources), first_ids(n_out));
  surface->GetFieldData()->PassData(grid->GetFieldData());
  return surface;
}

}  // namespace

vtkSmartPointer<vtkPolyData> filtered_outer_surface(vtkDataSet* body) {
  auto filter = vtkSmartPointer<vtkDataSetSurfaceFilter>::New();
  filter->SetInputData(kelm::numbered_copy(body, kOriginalPoints, kOriginalCells));
  filter->SetNonlinearSubdivisionLevel(0);
  filter->Update();
  vtkSmartPointer<vtkPolyData> surface = filter->GetOutput();
  if (has_nonlinear_cells(body)) add_midside_vertices(body, surface);
  kelm::order_by_original_ids(surface, kOriginalPoints, kOriginalCells);
  return surface;
}

vtkSmartPointer<vtkPolyData> walked_outer_surface(vtkDataSet* body) {
  auto* grid = vtkUnstructuredGrid::SafeDownCast(body);
  if (!grid) return nullptr;
  constexpr vtkIdType kNarrow = vtkIdType(std::numeric_limits<std::uint32_t>::max());
  return grid->GetNumberOfPoints() < kNarrow && grid->GetNumberOfCells() < kNarrow
             ? walked_surface<std::uint32_t>(grid)
             : walked_surface<std::uint64_t>(grid);
}

vtkSmartPointer<vtkPolyData> outer_surface(vtkDataSet* body) {
  vtkSmartPointer<vtkPolyData> surface = walked_outer_surface(body);
  return surface ? surface : filtered_outer_surface(body);
}

}  // namespace fieldferry_core

#include "mapped_leaves.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkDataObjectTreeIterator.h>
#include <vtkFieldData.h>
#include <vtkGeometryFilter.h>
#include <vtkPointData.h>
#include <vtkThreshold.h>
#include <vtkTypeInt32Array.h>
#include <vtkTypeInt64Array.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/mapped_leaf.h"
#include "common/original_order.h"
#include "common/tag_arrays.h"

namespace loadscribe_core {
namespace {

using kelm::kDistanceArray;
using kelm::kValidMaskArray;
// Each point's and cell's position in the leaf, carried through the distance filter.
constexpr char kLeafPointArray[] = "loadscribe leaf point";
constexpr char kLeafCellArray[] = "loadscribe leaf cell";

// "body 'X'" once the path is known, "leaf 3 of the mapped multiblock" before.
std::string who(const std::string& body, std::size_t index) {
  return body.empty() ? kelm::message("leaf ", index, " of the mapped multiblock")
                      : kelm::message("body '", body, "'");
}

const std::string& text_field(vtkDataObject* leaf, const char* name, const std::string& operation,
                              const std::string& leaf_name) {
  const std::string* value = kelm::string_field(leaf, name);
  if (!value) {
    kelm::raise_key_error(operation, ": ", leaf_name, " has no field-data text array '", name, "'");
  }
  return *value;
}

vtkDataArray* one_component_array(vtkDataSetAttributes* data, const std::string& name,
                                  const char* where, vtkIdType expected,
                                  const std::string& operation, const std::string& leaf_name) {
  vtkAbstractArray* abstract = data->GetAbstractArray(name.c_str());
  if (!abstract) {
    kelm::raise_key_error(operation, ": ", leaf_name, " has no ", where, " array '", name, "'");
  }
  auto* array = vtkDataArray::SafeDownCast(abstract);
  if (!array) {
    kelm::raise_type_error(operation, ": ", where, " array '", name, "' of ", leaf_name, " holds ",
                           abstract->GetDataTypeAsString(), ", not numbers");
  }
  if (array->GetNumberOfComponents() != 1) {
    kelm::raise_value_error(operation, ": ", where, " array '", name, "' of ", leaf_name, " has ",
                            array->GetNumberOfComponents(), " components; expected 1");
  }
  if (array->GetNumberOfTuples() != expected) {
    kelm::raise_value_error(operation, ": ", where, " array '", name, "' of ", leaf_name, " has ",
                            array->GetNumberOfTuples(), " values for ", expected,
                            where[0] == 'p' ? " points" : " cells");
  }
  return array;
}

template <typename Source, typename Convert>
void convert_each(vtkDataArray* array, Convert convert) {
  const auto* values = static_cast<const Source*>(array->GetVoidPointer(0));
  const vtkIdType n = array->GetNumberOfTuples();
  for (vtkIdType i = 0; i < n; ++i) convert(i, values[i]);
}

// Calls convert(position, value) for every value, reading the array in its own type.
template <typename Convert>
void for_each_value(vtkDataArray* array, Convert convert) {
  switch (array->GetDataType()) {
    vtkTemplateMacro(convert_each<VTK_TT>(array, convert));
    default:
      for (vtkIdType i = 0; i < array->GetNumberOfTuples(); ++i) convert(i, array->GetTuple1(i));
  }
}

std::vector<uint32_t> id_values(vtkDataArray* array, const char* kind, const std::string& operation,
                                const std::string& leaf_name) {
  std::vector<uint32_t> ids(std::size_t(array->GetNumberOfTuples()));
  for_each_value(array, [&](vtkIdType i, auto value) {
    const double v = static_cast<double>(value);
    if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) {
      kelm::raise_value_error(operation, ": ", kind, " ID ", v, " at position ", i, " of ",
                              leaf_name, " is not an integer in [0, 4294967295]");
    }
    ids[std::size_t(i)] = static_cast<uint32_t>(value);
  });
  return ids;
}

std::vector<double> real_values(vtkDataArray* array) {
  std::vector<double> values(std::size_t(array->GetNumberOfTuples()));
  for_each_value(array, [&](vtkIdType i, auto value) { values[std::size_t(i)] = double(value); });
  return values;
}

// NaN marks a place without a value and is left out before this; an infinite value came from the
// source itself and would reach the host as a value it cannot apply (and record "inf", which is
// no valid script).
void require_finite(double value, uint32_t node_id, const std::string& field_name,
                    const std::string& operation, const std::string& leaf_name) {
  if (!std::isfinite(value)) {
    kelm::raise_value_error(operation, ": the mapped '", field_name, "' of ", leaf_name, " is ",
                            value, " at node ID ", node_id, "; a load needs finite values");
  }
}

// 1 where the mapping gave a value: "vtkValidPointMask" is not 0 (all points when the leaf has no
// mask) and the value is not NaN (unless the values are not the ones loaded: `values` null).
std::vector<char> valued_points(vtkPointData* pd, vtkIdType points,
                                const std::vector<double>* values, const std::string& operation,
                                const std::string& leaf_name) {
  std::vector<char> valued(std::size_t(points), 1);
  if (pd->GetAbstractArray(kValidMaskArray)) {
    vtkDataArray* mask =
        one_component_array(pd, kValidMaskArray, "point", points, operation, leaf_name);
    for_each_value(mask, [&](vtkIdType i, auto v) {
      if (v == 0) valued[std::size_t(i)] = 0;
    });
  }
  for (std::size_t i = 0; values && i < values->size(); ++i) {
    if (std::isnan((*values)[i])) valued[i] = 0;
  }
  return valued;
}

// A tolerance needs the mapping's own distances: raises key_error when the leaf has none, as a
// mapping without a tolerance leaves it, and type_error when "Distance" holds no numbers.
void require_distance(vtkDataSet* mesh, const std::string& operation,
                      const std::string& leaf_name) {
  vtkAbstractArray* distance = mesh->GetPointData()->GetAbstractArray(kDistanceArray);
  if (!distance) {
    kelm::raise_key_error(operation, ": ", leaf_name, " has no point array '", kDistanceArray,
                          "' to filter by; map the field with a tolerance to get it");
  }
  if (!vtkDataArray::SafeDownCast(distance)) {
    kelm::raise_type_error(operation, ": point array '", kDistanceArray, "' of ", leaf_name,
                           " holds ", distance->GetDataTypeAsString(), ", not numbers");
  }
}

vtkDataSet* as_dataset(vtkDataObject* leaf, const std::string& operation,
                       const std::string& leaf_name) {
  auto* dataset = vtkDataSet::SafeDownCast(leaf);
  if (!dataset) {
    kelm::raise_type_error(operation, ": ", leaf_name, " is a ", leaf->GetClassName(),
                           ", not a VTK dataset");
  }
  return dataset;
}

constexpr vtkIdType kCorners = 4;

vtkIdType cell_size(vtkPolyData* surface, vtkIdType cell) {
  vtkIdType size = 0;
  const vtkIdType* points = nullptr;
  surface->GetCellPoints(cell, size, points);
  return size;
}

// The cell array of each face's values at its first four corners (kelm::corner_values_array), one
// tuple per cell; empty when the surface has none. A face with a NaN at one of its corners has no
// value: its entry in `valued_cells` becomes 0.
std::vector<double> corner_values(vtkPolyData* surface, const std::string& field_name,
                                  const std::string& operation, const std::string& leaf_name,
                                  std::vector<char>& valued_cells) {
  const std::string name = kelm::corner_values_array(field_name);
  vtkAbstractArray* abstract = surface->GetCellData()->GetAbstractArray(name.c_str());
  if (!abstract) return {};
  auto* array = vtkDataArray::SafeDownCast(abstract);
  const vtkIdType cells = surface->GetNumberOfCells();
  if (!array || array->GetNumberOfComponents() != kCorners || array->GetNumberOfTuples() != cells) {
    kelm::raise_value_error(operation, ": cell array '", name, "' of ", leaf_name, " must hold ",
                            kCorners, " numbers for each of its ", cells, " cells");
  }
  std::vector<double> values(std::size_t(kCorners * cells));
  for (vtkIdType c = 0; c < cells; ++c) {
    array->GetTuple(c, &values[std::size_t(kCorners * c)]);
    const vtkIdType size = std::min(cell_size(surface, c), kCorners);
    for (vtkIdType k = 0; k < size; ++k) {
      if (std::isnan(values[std::size_t(kCorners * c + k)])) valued_cells[std::size_t(c)] = 0;
    }
  }
  return values;
}

}  // namespace

std::vector<vtkSmartPointer<vtkDataObject>> mapped_leaves(vtkMultiBlockDataSet* mesh) {
  std::vector<vtkSmartPointer<vtkDataObject>> leaves;
  vtkSmartPointer<vtkDataObjectTreeIterator> it;
  it.TakeReference(mesh->NewTreeIterator());
  it->VisitOnlyLeavesOn();
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    // Geometry bodies are mapped for viewing but carry no host mesh (no "Body pathName", no IDs):
    // there is nothing in the host to put their load on.
    if (!kelm::string_field(it->GetCurrentDataObject(), kelm::kBodyPathArray)) continue;
    leaves.emplace_back(it->GetCurrentDataObject());
  }
  return leaves;
}

vtkSmartPointer<vtkPolyData> filter_by_distance(vtkDataSet* mesh, double tolerance,
                                                const std::string& operation) {
  const std::string* path = kelm::string_field(mesh, kelm::kBodyPathArray);
  const std::string leaf_name = path ? "body '" + *path + "'" : std::string("the leaf");
  require_distance(mesh, operation, leaf_name);
  // The threshold and geometry filters copy every array and follow every cell unchecked.
  kelm::require_sound_dataset(mesh, operation, leaf_name);
  // The filters are threaded and order their output differently from run to run; each point and
  // cell carries its position in the leaf through them, and the result is put back in that order.
  vtkSmartPointer<vtkDataSet> numbered = kelm::numbered_copy(mesh, kLeafPointArray, kLeafCellArray);
  // Keeps the cells all of whose point distances are at most the tolerance.
  auto threshold = vtkSmartPointer<vtkThreshold>::New();
  threshold->SetInputData(numbered);
  threshold->SetLowerThreshold(tolerance);
  threshold->SetThresholdFunction(vtkThreshold::THRESHOLD_LOWER);
  threshold->SetInputArrayToProcess(0, 0, 0, vtkDataObject::FIELD_ASSOCIATION_POINTS,
                                    kDistanceArray);
  auto geometry = vtkSmartPointer<vtkGeometryFilter>::New();
  geometry->SetInputConnection(threshold->GetOutputPort());
  geometry->Update();
  vtkSmartPointer<vtkPolyData> surface = geometry->GetOutput();
  kelm::order_by_original_ids(surface, kLeafPointArray, kLeafCellArray);
  // When no cell is within the tolerance the filters return a dataset without arrays; it still
  // names the body's arrays (empty) so that the body simply contributes nothing to the load.
  if (surface->GetNumberOfPoints() == 0) {
    for (auto [from, to] : {std::pair<vtkDataSetAttributes*, vtkDataSetAttributes*>{
                                mesh->GetPointData(), surface->GetPointData()},
                            {mesh->GetCellData(), surface->GetCellData()}}) {
      for (int i = 0; i < from->GetNumberOfArrays(); ++i) {
        vtkAbstractArray* array = from->GetAbstractArray(i);
        if (!array->GetName() || to->GetAbstractArray(array->GetName())) continue;
        vtkSmartPointer<vtkAbstractArray> empty;
        empty.TakeReference(array->NewInstance());
        empty->SetName(array->GetName());
        empty->SetNumberOfComponents(array->GetNumberOfComponents());
        to->AddArray(empty);
      }
    }
  }
  // The loads read the body's identity and units from the filtered leaf; make sure they are there
  // whatever the filters do with field data.
  vtkFieldData* source = mesh->GetFieldData();
  for (int i = 0; source && i < source->GetNumberOfArrays(); ++i) {
    vtkAbstractArray* array = source->GetAbstractArray(i);
    if (array->GetName() && !surface->GetFieldData()->GetAbstractArray(array->GetName())) {
      surface->GetFieldData()->AddArray(array);
    }
  }
  return surface;
}

TemperatureLeaf read_temperature_leaf(vtkDataObject* leaf, std::size_t index,
                                      const std::string& field_name, const double* tolerance,
                                      const std::string& operation) {
  // A temperature belongs to each node on its own: every node of the leaf, interior nodes of a
  // volume included, is judged by its own value and its own distance. Whole cells within the
  // tolerance (the distance filter) would drop every node whose neighbour lies beyond it, and
  // a solid's interior nodes with them.
  vtkDataSet* dataset = as_dataset(leaf, operation, who("", index));
  TemperatureLeaf out;
  out.path = text_field(dataset, kelm::kBodyPathArray, operation, who("", index));
  const std::string name = who(out.path, index);
  if (tolerance) require_distance(dataset, operation, name);
  const vtkIdType points = dataset->GetNumberOfPoints();
  vtkPointData* pd = dataset->GetPointData();
  std::vector<uint32_t> node_ids =
      id_values(one_component_array(pd, kelm::kNodeIdArray, "point", points, operation, name),
                "node", operation, name);
  std::vector<double> values =
      real_values(one_component_array(pd, field_name, "point", points, operation, name));
  const std::vector<char> valued =
      valued_points(pd, vtkIdType(values.size()), &values, operation, name);
  std::vector<double> distances;
  if (tolerance) {
    distances =
        real_values(one_component_array(pd, kDistanceArray, "point", points, operation, name));
  }
  // Compacted in place: the kept nodes keep the leaf's order. A node without a value is counted
  // as such whatever its distance (it has nothing to load, near or far), so each left-out node
  // is counted once; a NaN distance is no distance within the tolerance.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!valued[i]) {
      ++out.left_out.no_value;
      continue;
    }
    if (tolerance && !(distances[i] <= *tolerance)) {
      ++out.left_out.beyond_tolerance;
      continue;
    }
    require_finite(values[i], node_ids[i], field_name, operation, name);
    node_ids[kept] = node_ids[i];
    values[kept++] = values[i];
  }
  node_ids.resize(kept);
  values.resize(kept);
  out.node_ids = std::move(node_ids);
  out.temperatures = std::move(values);
  out.unit = text_field(dataset, kelm::kTemperatureUnitArray, operation, name);
  return out;
}

ConnectivityArrays split_polygons(vtkPolyData* surface, const std::vector<uint32_t>& node_ids,
                                  const std::vector<uint32_t>& cell_element_ids,
                                  std::vector<uint32_t>& element_ids, const std::string& operation,
                                  const std::string& body, std::vector<char>* used_points,
                                  const std::vector<char>* valued_points,
                                  std::size_t* without_value, const std::vector<char>* facing_cells,
                                  std::size_t* facing_away, const std::vector<char>* valued_cells,
                                  std::vector<vtkIdType>* kept_cells) {
  vtkCellArray* polys = surface->GetPolys();
  const vtkIdType n = polys ? polys->GetNumberOfCells() : 0;
  // Cell IDs of a polydata run over vertices, lines, polygons, strips in that order.
  const vtkIdType first_poly = surface->GetNumberOfVerts() + surface->GetNumberOfLines();
  FaceRows tria{"tria", 3, {}}, quad{"quad", 4, {}};
  std::vector<uint32_t> tria_elements, quad_elements;
  std::vector<vtkIdType> tria_cells, quad_cells;
  const vtkIdType points = vtkIdType(node_ids.size());
  auto take = [&](vtkIdType cell, vtkIdType size, auto* connectivity) {
    FaceRows* rows = size == 3 ? &tria : size == 4 ? &quad : nullptr;
    if (!rows) return;  // other polygon sizes are not loaded
    if (facing_cells && !(*facing_cells)[std::size_t(first_poly + cell)]) {
      if (facing_away) ++*facing_away;
      return;
    }
    bool valued = true;
    for (vtkIdType k = 0; k < size; ++k) {
      const vtkIdType point = vtkIdType(connectivity[k]);
      if (point < 0 || point >= points) {
        kelm::raise_value_error(operation, ": polygon ", cell, " of body '", body,
                                "' refers to point ", point, " of ", points);
      }
      if (valued_points && !(*valued_points)[std::size_t(point)]) valued = false;
    }
    if (valued_cells && !(*valued_cells)[std::size_t(first_poly + cell)]) valued = false;
    if (!valued) {
      if (without_value) ++*without_value;
      return;
    }
    for (vtkIdType k = 0; k < size; ++k) {
      const auto point = std::size_t(connectivity[k]);
      rows->nodes.push_back(node_ids[point]);
      if (used_points) (*used_points)[point] = 1;
    }
    (size == 3 ? tria_elements : quad_elements)
        .push_back(cell_element_ids[std::size_t(first_poly + cell)]);
    (size == 3 ? tria_cells : quad_cells).push_back(first_poly + cell);
  };
  auto walk = [&](auto* offsets, auto* connectivity) {
    for (vtkIdType cell = 0; cell < n; ++cell) {
      take(cell, vtkIdType(offsets[cell + 1] - offsets[cell]), connectivity + offsets[cell]);
    }
  };
  if (n > 0) {
    if (polys->IsStorage64Bit()) {
      walk(polys->GetOffsetsArray64()->GetPointer(0),
           polys->GetConnectivityArray64()->GetPointer(0));
    } else {
      walk(polys->GetOffsetsArray32()->GetPointer(0),
           polys->GetConnectivityArray32()->GetPointer(0));
    }
  }
  ConnectivityArrays arrays;
  element_ids = std::move(tria_elements);
  element_ids.insert(element_ids.end(), quad_elements.begin(), quad_elements.end());
  if (kept_cells) {
    *kept_cells = std::move(tria_cells);
    kept_cells->insert(kept_cells->end(), quad_cells.begin(), quad_cells.end());
  }
  if (!tria.nodes.empty()) arrays.push_back(std::move(tria));
  if (!quad.nodes.empty()) arrays.push_back(std::move(quad));
  return arrays;
}

std::string left_out_line(const std::string& load, const std::string& body, const LeftOut& count,
                          const std::string& places) {
  std::string line = kelm::message("Left out of the ", load, " load on body '", body,
                                   "': ", count.no_value, " ", places, " without a mapped value, ",
                                   count.beyond_tolerance, " beyond the tolerance");
  if (count.facing_away)
    line += kelm::message(", ", count.facing_away, " facing away from the source");
  return line;
}

std::size_t loadable_faces(vtkPolyData* surface) {
  vtkCellArray* polys = surface->GetPolys();
  std::size_t count = 0;
  for (vtkIdType c = 0; polys && c < polys->GetNumberOfCells(); ++c) {
    const vtkIdType size = polys->GetCellSize(c);
    if (size == 3 || size == 4) ++count;
  }
  return count;
}

PressureLeaf read_pressure_leaf(vtkDataObject* leaf, std::size_t index,
                                const std::string& field_name, const double* tolerance,
                                const std::string& operation, bool reversed) {
  PressureLeaf out;
  // The identity is read before any filtering.
  out.path = text_field(leaf, kelm::kBodyPathArray, operation, who("", index));
  const std::string name = who(out.path, index);
  out.mesh_type = text_field(leaf, kelm::kMeshTypeArray, operation, name);
  if (reversed && out.solid()) {
    kelm::raise_value_error(operation, ": reverse names the solid ", name, " (mesh type '",
                            out.mesh_type,
                            "'); a solid's faces push against their outward normals, so only a "
                            "shell body can be reversed");
  }
  vtkDataSet* dataset = as_dataset(leaf, operation, name);
  if (reversed && dataset->GetCellData()->GetAbstractArray(kelm::kWettedSidesArray)) {
    kelm::raise_value_error(operation, ": reverse names the shell ", name,
                            ", whose side comes from the source: it was mapped from a source "
                            "with faces, and each face takes the pressure of the side the fluid "
                            "is on, whichever way its normal points; reverse is for sources "
                            "without faces (point clouds)");
  }
  vtkSmartPointer<vtkPolyData> surface = vtkPolyData::SafeDownCast(dataset);
  if (tolerance) {
    surface = filter_by_distance(dataset, *tolerance, operation);
  } else if (!surface) {
    kelm::raise_type_error(operation, ": ", name, " is a ", dataset->GetClassName(),
                           "; a pressure load needs the mapped surface as vtkPolyData");
  }
  const vtkIdType points = surface->GetNumberOfPoints();
  vtkPointData* pd = surface->GetPointData();
  out.node_ids =
      id_values(one_component_array(pd, kelm::kNodeIdArray, "point", points, operation, name),
                "node", operation, name);
  const std::vector<uint32_t> cell_element_ids =
      id_values(one_component_array(surface->GetCellData(), kelm::kElementIdArray, "cell",
                                    surface->GetNumberOfCells(), operation, name),
                "element", operation, name);
  out.pressures =
      real_values(one_component_array(pd, field_name, "point", points, operation, name));
  // The polygons are walked by their offsets; a malformed cell array would be read past its end.
  kelm::require_sound_dataset(surface, operation, name);
  if (tolerance) {
    vtkSmartPointer<vtkPolyData> whole = vtkPolyData::SafeDownCast(dataset);
    if (!whole)
      whole = filter_by_distance(dataset, std::numeric_limits<double>::infinity(), operation);
    const std::size_t all = loadable_faces(whole), kept = loadable_faces(surface);
    out.left_out.beyond_tolerance = all > kept ? all - kept : 0;
  }
  // A leaf that carries the field per face too (a face average) is loaded face by face: each
  // face gets its own value at each of its nodes, so that the loaded force is the mapped one. Its
  // point values are then for viewing only; the mask still tells which points got a value.
  const vtkIdType cells = surface->GetNumberOfCells();
  std::vector<double> cell_pressures;
  std::vector<char> valued_cells;
  const bool per_face = surface->GetCellData()->GetAbstractArray(field_name.c_str()) != nullptr;
  if (per_face) {
    cell_pressures = real_values(
        one_component_array(surface->GetCellData(), field_name, "cell", cells, operation, name));
    valued_cells.resize(cell_pressures.size());
    for (std::size_t c = 0; c < cell_pressures.size(); ++c) {
      valued_cells[c] = !std::isnan(cell_pressures[c]);
    }
  }
  // A shell loaded by sides from node values carries each face's own value at each corner.
  std::vector<double> corners;
  if (per_face) corners = corner_values(surface, field_name, operation, name, valued_cells);
  const std::vector<char> valued =
      valued_points(pd, points, per_face ? nullptr : &out.pressures, operation, name);
  std::vector<char> used(out.node_ids.size(), 0);
  std::vector<char> facing;
  if (surface->GetCellData()->GetAbstractArray(kelm::kFacesSourceArray)) {
    facing.assign(std::size_t(cells), 1);
    for_each_value(one_component_array(surface->GetCellData(), kelm::kFacesSourceArray, "cell",
                                       cells, operation, name),
                   [&](vtkIdType c, auto v) { facing[std::size_t(c)] = v != 0; });
  }
  std::vector<vtkIdType> kept;
  out.polygons =
      split_polygons(surface, out.node_ids, cell_element_ids, out.element_ids, operation, out.path,
                     &used, &valued, &out.left_out.no_value, facing.empty() ? nullptr : &facing,
                     &out.left_out.facing_away, per_face ? &valued_cells : nullptr, &kept);
  if (per_face) {
    for (std::size_t i = 0; i < kept.size(); ++i) {
      const double value = cell_pressures[std::size_t(kept[i])];
      if (!std::isfinite(value)) {
        kelm::raise_value_error(operation, ": the mapped '", field_name, "' of ", name, " is ",
                                value, " on the face of element ID ", out.element_ids[i],
                                "; a load needs finite values");
      }
      out.face_pressures.push_back(value);
      const vtkIdType size = cell_size(surface, kept[i]);
      for (vtkIdType k = 0; !corners.empty() && k < size; ++k) {
        const double corner = corners[std::size_t(kCorners * kept[i] + k)];
        if (!std::isfinite(corner)) {
          kelm::raise_value_error(operation, ": the mapped '", field_name, "' of ", name, " is ",
                                  corner, " at corner ", k, " of the face of element ID ",
                                  out.element_ids[i], "; a load needs finite values");
        }
        out.corner_pressures.push_back(corner);
      }
    }
  } else {
    // Only the pressures at the corners of loaded polygons reach the host.
    for (std::size_t i = 0; i < used.size(); ++i) {
      if (used[i]) require_finite(out.pressures[i], out.node_ids[i], field_name, operation, name);
    }
  }
  // Turned where the load's values are read, so the host, the recorded text and
  // last_loaded_fields all carry the same turned pressure.
  if (reversed) {
    for (double& p : out.pressures) p = -p;
    for (double& p : out.face_pressures) p = -p;
    for (double& p : out.corner_pressures) p = -p;
  }
  out.unit = text_field(surface, kelm::kPressureUnitArray, operation, name);
  return out;
}

namespace {

// Every mesh-body leaf of `mesh` read by `read(leaf, index)`, in traversal order.
template <typename Read>
auto read_each_leaf(vtkMultiBlockDataSet* mesh, Read read) {
  const auto leaves = mapped_leaves(mesh);
  std::vector<decltype(read(leaves.front().Get(), 0))> bodies;
  for (std::size_t i = 0; i < leaves.size(); ++i) bodies.push_back(read(leaves[i], i));
  return bodies;
}

}  // namespace

std::vector<TemperatureLeaf> read_temperature_leaves(vtkMultiBlockDataSet* mesh,
                                                     const std::string& field_name,
                                                     const double* tolerance,
                                                     const std::string& operation) {
  return read_each_leaf(mesh, [&](vtkDataObject* leaf, std::size_t i) {
    return read_temperature_leaf(leaf, i, field_name, tolerance, operation);
  });
}

std::vector<PressureLeaf> read_pressure_leaves(vtkMultiBlockDataSet* mesh,
                                               const std::string& field_name,
                                               const double* tolerance,
                                               const std::string& operation,
                                               const std::vector<std::string>& reverse) {
  std::vector<std::string> paths;
  for (const auto& leaf : mapped_leaves(mesh)) {
    paths.push_back(*kelm::string_field(leaf, kelm::kBodyPathArray));
  }
  for (const std::string& name : reverse) {
    if (std::find(paths.begin(), paths.end(), name) != paths.end()) continue;
    std::string bodies;
    for (const std::string& path : paths) bodies += (bodies.empty() ? "'" : ", '") + path + "'";
    kelm::raise_value_error(operation, ": reverse names '", name,
                            "', which is no body of the mapped multiblock; its bodies: ",
                            bodies.empty() ? std::string("none") : bodies);
  }
  return read_each_leaf(mesh, [&](vtkDataObject* leaf, std::size_t i) {
    const std::string& path = *kelm::string_field(leaf, kelm::kBodyPathArray);
    const bool reversed = std::find(reverse.begin(), reverse.end(), path) != reverse.end();
    return read_pressure_leaf(leaf, i, field_name, tolerance, operation, reversed);
  });
}

}  // namespace loadscribe_core

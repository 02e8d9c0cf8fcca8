#include "pressure_fields.h"

#include <cmath>

#include "common/errors.h"
#include "common/id_lookup.h"

namespace loadscribe_core {
namespace {

std::string row_text(const uint32_t* row, int width) {
  std::string text = "(";
  for (int k = 0; k < width; ++k) text += (k ? ", " : "") + std::to_string(row[k]);
  return text + ")";
}

}  // namespace

void check_polygon_counts(const ConnectivityArrays& rows, std::size_t element_count,
                          std::size_t node_count, std::size_t pressure_count,
                          const std::string& operation, const std::string& body) {
  std::size_t polygons = 0;
  for (const FaceRows& block : rows) polygons += block.count();
  if (polygons != element_count) {
    kelm::raise_value_error(operation, ": body '", body, "' has ", element_count,
                            " element IDs for ", polygons, " polygons in connectivity_arrays");
  }
  if (node_count != pressure_count) {
    kelm::raise_value_error(operation, ": body '", body, "' has ", pressure_count,
                            " pressures for ", node_count, " node IDs");
  }
}

std::vector<std::vector<double>> face_pressures(const ConnectivityArrays& rows,
                                                const std::vector<uint32_t>& node_ids,
                                                const std::vector<double>& pressures,
                                                const std::string& operation,
                                                const std::string& body) {
  const kelm::IdLookup node_lookup(node_ids.data(), node_ids.size());
  std::vector<std::vector<double>> out;
  for (const FaceRows& block : rows) {
    std::vector<double> values(block.nodes.size());
    for (std::size_t k = 0; k < block.nodes.size(); ++k) {
      const uint32_t position = node_lookup.find(block.nodes[k]);
      if (position == kelm::IdLookup::kAbsent) {
        kelm::raise_key_error(operation, ": node ID ", block.nodes[k], " of ", block.key, " row ",
                              k / std::size_t(block.width), " is not among the node_ids of body '",
                              body, "'");
      }
      values[k] = pressures[position];
    }
    out.push_back(std::move(values));
  }
  return out;
}

std::vector<std::vector<double>> face_value_rows(const ConnectivityArrays& rows,
                                                 const std::vector<double>& face_values) {
  std::vector<std::vector<double>> out;
  std::size_t face = 0;
  for (const FaceRows& block : rows) {
    std::vector<double> values;
    values.reserve(block.nodes.size());
    for (std::size_t r = 0; r < block.count(); ++r, ++face) {
      values.insert(values.end(), std::size_t(block.width), face_values[face]);
    }
    out.push_back(std::move(values));
  }
  return out;
}

std::vector<std::vector<double>> corner_value_rows(const ConnectivityArrays& rows,
                                                   const std::vector<double>& corner_values) {
  std::vector<std::vector<double>> out;
  auto next = corner_values.begin();
  for (const FaceRows& block : rows) {
    out.emplace_back(next, next + std::ptrdiff_t(block.nodes.size()));
    next += std::ptrdiff_t(block.nodes.size());
  }
  return out;
}

SolidPressureField solid_pressure_field(const HostSolidMesh& mesh, ConnectivityArrays& rows,
                                        const std::vector<uint32_t>& node_ids,
                                        const std::vector<uint32_t>& element_ids,
                                        const std::vector<double>& pressures,
                                        const std::string& operation, const std::string& body,
                                        const std::vector<double>* face_values) {
  check_polygon_counts(rows, element_ids.size(), node_ids.size(), pressures.size(), operation,
                       body);
  // All elements in host order: an element's position in this list keys the target mapping.
  std::vector<uint32_t> all_ids;
  std::vector<std::size_t> block_start;
  for (const auto& block : mesh.blocks) {
    block_start.push_back(all_ids.size());
    all_ids.insert(all_ids.end(), block.element_ids.begin(), block.element_ids.end());
  }
  const kelm::IdLookup element_lookup(all_ids.data(), all_ids.size());

  SolidPressureField out;
  std::vector<uint32_t> slot_of_position(all_ids.size(), kelm::IdLookup::kAbsent);
  // The node IDs of each element met (its slot), read from the host once however many of its
  // faces are loaded: slot_nodes[slot_start[slot] ...], nodes_per_element entries.
  std::vector<uint32_t> slot_nodes;
  std::vector<std::size_t> slot_start;
  std::vector<uint32_t> polygon_slot(element_ids.size());
  std::vector<uint8_t> polygon_face(element_ids.size());
  std::size_t polygon = 0;
  for (FaceRows& block : rows) {
    for (std::size_t r = 0; r < block.count(); ++r, ++polygon) {
      const uint32_t element_id = element_ids[polygon];
      const uint32_t position = element_lookup.find(element_id);
      if (position == kelm::IdLookup::kAbsent) {
        kelm::raise_key_error(operation, ": element ID ", element_id, " is not in body '", body,
                              "' (polygon ", polygon, ")");
      }
      std::size_t b = mesh.blocks.size() - 1;
      while (block_start[b] > position) --b;
      const HostSolidMesh::Block& host_block = mesh.blocks[b];
      uint32_t* row = block.nodes.data() + r * std::size_t(block.width);
      if (host_block.topology == SolidTopology::kNone) {
        kelm::raise_value_error(operation, ": element ID ", element_id, " of body '", body,
                                "' is a ", host_block.name,
                                " element, which has no solid faces to load");
      }
      uint32_t slot = slot_of_position[position];
      if (slot == kelm::IdLookup::kAbsent) {
        slot = slot_of_position[position] = uint32_t(out.target.positions.size());
        out.target.positions.push_back(position);
        const int width = nodes_per_element(host_block.topology);
        slot_start.push_back(slot_nodes.size());
        slot_nodes.resize(slot_nodes.size() + std::size_t(width));
        uint32_t* nodes = slot_nodes.data() + slot_start.back();
        host_block.read_row(position - block_start[b], nodes);
        for (int k = 0; k < width; ++k) nodes[k] = mesh.node_ids[nodes[k]];
      }
      const uint32_t* element_nodes = slot_nodes.data() + slot_start[slot];
      const int face = match_face(row, block.width, element_nodes, host_block.topology);
      if (face < 0) {
        kelm::raise_value_error(operation, ": polygon ", polygon, " of body '", body,
                                "' with node IDs ", row_text(row, block.width),
                                " matches no face of ", host_block.name, " element ID ", element_id,
                                " with corner node IDs ",
                                row_text(element_nodes, corner_count(host_block.topology)));
      }
      polygon_slot[polygon] = slot;
      polygon_face[polygon] = uint8_t(face);
      out.rotated |= rotate_face_row(row, host_block.topology, face);
    }
  }
  // Face numbers grouped by element, each element's faces in polygon order (a counting sort).
  FaceTarget& target = out.target;
  target.offsets.assign(target.positions.size() + 1, 0);
  for (uint32_t slot : polygon_slot) ++target.offsets[slot + 1];
  for (std::size_t s = 0; s < target.positions.size(); ++s) {
    target.offsets[s + 1] += target.offsets[s];
  }
  target.faces.resize(element_ids.size());
  std::vector<uint32_t> fill(target.offsets.begin(), target.offsets.end() - 1);
  for (std::size_t i = 0; i < element_ids.size(); ++i) {
    target.faces[fill[polygon_slot[i]]++] = polygon_face[i];
  }

  out.field.element_ids = element_ids;
  out.field.faces = rows;
  // A face's rotation moves its nodes, not its one value.
  out.field.pressures = face_values ? face_value_rows(rows, *face_values)
                                    : face_pressures(rows, node_ids, pressures, operation, body);
  return out;
}

void require_finite_pressures(const PressureField& field, const std::string& operation,
                              const std::string& body) {
  for (std::size_t b = 0; b < field.faces.size(); ++b) {
    for (std::size_t k = 0; k < field.pressures[b].size(); ++k) {
      if (!std::isfinite(field.pressures[b][k])) {
        kelm::raise_value_error(operation, ": the pressure at node ID ", field.faces[b].nodes[k],
                                " of body '", body, "' is ", field.pressures[b][k],
                                "; a load needs finite values");
      }
    }
  }
}

}  // namespace loadscribe_core

// Host -> VTK node reordering of whole connectivity blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/topology_table.h"

namespace gridforge_core {

using kelm::Topology;

// Reorders `count` elements of `topology` in place (connectivity holds count * num_nodes entries).
// Does nothing for topologies whose host order is VTK's.
template <typename Index>
void to_vtk_node_order(const Topology& topology, Index* connectivity, std::size_t count) {
  if (!topology.host_position) return;
  const int n = topology.num_nodes;
  Index element[20];
  for (std::size_t e = 0; e < count; ++e, connectivity += n) {
    for (int k = 0; k < n; ++k) element[k] = connectivity[k];
    for (int k = 0; k < n; ++k) connectivity[k] = element[topology.host_position[k]];
  }
}

// The same on opaque entries of `item_size` bytes (any integer type), from `in` to `out`.
void to_vtk_node_order_bytes(const Topology& topology, const unsigned char* in, unsigned char* out,
                             std::size_t count, std::size_t item_size);

}  // namespace gridforge_core

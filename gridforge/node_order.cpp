#include "node_order.h"

#include <cstring>

namespace gridforge_core {

void to_vtk_node_order_bytes(const Topology& topology, const unsigned char* in, unsigned char* out,
                             std::size_t count, std::size_t item_size) {
  const std::size_t n = std::size_t(topology.num_nodes);
  const std::size_t element_bytes = n * item_size;
  for (std::size_t e = 0; e < count; ++e, in += element_bytes, out += element_bytes) {
    if (!topology.host_position) {
      std::memcpy(out, in, element_bytes);
      continue;
    }
    for (std::size_t k = 0; k < n; ++k) {
      std::memcpy(out + k * item_size, in + std::size_t(topology.host_position[k]) * item_size,
                  item_size);
    }
  }
}

}  // namespace gridforge_core

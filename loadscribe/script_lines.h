// The host-script lines recorded in `loadscribe.macro`: each load operation appends the lines
// that would recreate its load, exactly as a host script author would write them. Every line ends
// with one line feed; lists are written as the host language's str() writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pressure_fields.h"

namespace loadscribe_core {

// Temperature load: the header, one block per body, the footer. The header's first line sets the
// script unit system `label` that the direct call creates the load in: the recorded values are in
// that system's units and would be read in whatever system the replaying session has set.
void record_temperature_header(std::string& out, const std::string& label);
void record_temperature_body(std::string& out, const std::string& path,
                             const std::vector<uint32_t>& node_ids,
                             const std::vector<double>& temperatures);
void record_temperature_footer(std::string& out);

// Pressure load: the header, per body the builder's lines and the lines that file its field and
// extend the target, the footer. The header sets the script unit system `label` as above.
void record_pressure_header(std::string& out, const std::string& label);
void record_surface_field(std::string& out, const std::string& path, const PressureField& field);
void record_solid_field(std::string& out, const std::string& path, const PressureField& field,
                        const FaceTarget& target);
void record_pressure_body(std::string& out, const std::string& path, bool solid);
void record_pressure_footer(std::string& out);

}  // namespace loadscribe_core

// The unit tables of the load writer: the unit text a mapped field carries ("units_pressure" or
// "units_temperature") -> the host unit-system label the load values are scripted in. The rows are
// in the order host scripts see them in `loadscribe.pressure_unit_to_unit_system` and
// `loadscribe.temperature_unit_to_unit_system`.
#pragma once

#include <array>

namespace loadscribe_core {

struct UnitRow {
  const char* unit;   // as stored with the mapped field
  const char* label;  // host unit-system label: length-mass-time-force-temperature[-energy]
};

inline constexpr std::array<UnitRow, 13> kPressureUnits = {{
    {"Pa", "m-kg-s-N-K"},
    {"psi", "in-lb-s-lbf-degR-BTU"},
    {"psf", "ft-slug-s-lbf-degF"},
    {"bar", "cm-g-ms-daN-K"},
    {"kbar", "cm-kg-ms-dakN-K"},
    {"Gbar", "cm-kg-us-daGN-K"},
    {"hPa", "cm-kg-s-cN-K"},
    {"dyn/cm2", "cm-g-s-dyn-K"},
    {"Mbar", "cm-g-us-daMN-K"},
    {"kPa", "mm-kg-s-mN-K"},
    {"MPa", "mm-g-ms-N-K"},
    {"GPa", "mm-kg-ms-kN-K"},
    {"kgf/mm2", "mm-khyl-s-kgf-K"},
}};

inline constexpr std::array<UnitRow, 3> kTemperatureUnits = {{
    {"K", "m-kg-s-N-K"},
    {"C", "m-kg-s-N-degC"},
    {"F", "ft-lb-s-lbf-degF"},
}};

}  // namespace loadscribe_core

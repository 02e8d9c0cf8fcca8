// The arrays of a mapped leaf that the mapping writes and the load writer, the viewer and the
// report read: defined here once. A mapped leaf's identity is the body's (the tag arrays of
// tag_arrays.h); these arrays are the mapping's own, never a source array that shares a name.
#pragma once

#include <string>

namespace kelm {

// Point data, unsigned char: 1 where the mapping gave the point a value, 0 where it did not.
inline constexpr char kValidMaskArray[] = "vtkValidPointMask";
// Point data (and cell data from the cell centres for pressures): the unsigned distance to the
// source in model length units, measured by this mapping.
inline constexpr char kDistanceArray[] = "Distance";
// Cell data, unsigned char, on the mapped surface of a solid body when a pressure is mapped with a
// tolerance from a source with faces: 1 where the face faces the source (its outward normal points
// against the source's normal at the closest point; CFD normals point out of the fluid), 0 where
// it turns away (the dry side of a thin wall, the rim of a duct's end). Those are not loaded.
inline constexpr char kFacesSourceArray[] = "Faces source";
// Cell data, unsigned char, on the mapped surface of a shell body when a pressure is mapped from a
// source with faces: which sides of each face the fluid wets, in the terms of its element normal
// (1 in front, 2 behind, 3 both, 0 neither). The face's pressure is then the net one, its side
// taken from the source; the load writer refuses to turn such a body round.
inline constexpr char kWettedSidesArray[] = "Wetted sides";
// Cell data, 4 components, beside kWettedSidesArray where the method gave node values: each face's
// own net value at its first four corners (NaN past a triangle's third), which a node cannot
// carry (a node between faces turned opposite ways takes +p on one and -p on the other).
inline std::string corner_values_array(const std::string& field_name) {
  return field_name + " at corners";
}
// Field data, one double, on a surface mapped by "Face average" from a source of polygons: the area
// of the source faces that the samples of the surface's faces landed on (each counted once per
// surface), in model length units squared. Against the source's whole area it says how much of
// the source the body covers.
inline constexpr char kSourceAreaCoveredArray[] = "Source area covered";
// Field data, string: the unit of the mapped values.
inline constexpr char kPressureUnitArray[] = "units_pressure";
inline constexpr char kTemperatureUnitArray[] = "units_temperature";
// The two field names that carry a unit and make a host load.
inline constexpr char kPressureField[] = "Pressure";
inline constexpr char kTemperatureField[] = "Temperature";

// The unit array of a field ("units_pressure" / "units_temperature"), or nullptr for a field that
// carries none.
inline const char* unit_array_for(const std::string& field_name) {
  if (field_name == kPressureField) return kPressureUnitArray;
  if (field_name == kTemperatureField) return kTemperatureUnitArray;
  return nullptr;
}

}  // namespace kelm

#include "script_lines.h"

#include "python_text.h"

namespace loadscribe_core {
namespace {

void append_rows(std::string& out, const ConnectivityArrays& blocks) {
  out += '[';
  bool first = true;
  for (const FaceRows& block : blocks) {
    for (std::size_t r = 0; r < block.count(); ++r) {
      if (!first) out += ", ";
      first = false;
      append_list(out, block.nodes.data() + r * std::size_t(block.width), std::size_t(block.width));
    }
  }
  out += ']';
}

void append_value_rows(std::string& out, const PressureField& field) {
  out += '[';
  bool first = true;
  for (std::size_t b = 0; b < field.faces.size(); ++b) {
    const std::size_t width = std::size_t(field.faces[b].width);
    for (std::size_t r = 0; r < field.faces[b].count(); ++r) {
      if (!first) out += ", ";
      first = false;
      append_list(out, field.pressures[b].data() + r * width, width);
    }
  }
  out += ']';
}

void append_target(std::string& out, const FaceTarget& target) {
  out += '{';
  for (std::size_t s = 0; s < target.positions.size(); ++s) {
    if (s) out += ", ";
    append_uint(out, target.positions[s]);
    out += ": [";
    for (uint32_t k = target.offsets[s]; k < target.offsets[s + 1]; ++k) {
      if (k > target.offsets[s]) out += ", ";
      append_uint(out, target.faces[k]);
    }
    out += ']';
  }
  out += '}';
}

// Lines 4 to 7 of both builders: the pressure field dictionary.
void record_field_items(std::string& out, const PressureField& field) {
  out += "pressure_field[\"element_ids\"] = ";
  append_list(out, field.element_ids.data(), field.element_ids.size());
  out += "\npressure_field[\"identifier_type\"] = \"ELEMENT_ID_FACE_NODE_ID\"\n";
  out += "pressure_field[\"face_identifiers\"] = ";
  append_rows(out, field.faces);
  out += "\npressure_field[\"pressures\"] = ";
  append_value_rows(out, field);
  out += '\n';
}

// head, `text` as the inside of a string literal (a path name or a unit-system label), tail.
void append_with_text(std::string& out, const char* head, const std::string& text,
                      const char* tail) {
  out += head;
  append_escaped(out, text);
  out += tail;
}

}  // namespace

void record_temperature_header(std::string& out, const std::string& label) {
  append_with_text(out, "kelm.setScriptUnitSystem(\"", label, "\")\n");
  out += "load_temperature_target = kelm.EntityCollection()\n";
  out += "property_temperature_field_dict = {}\n";
}

void record_temperature_body(std::string& out, const std::string& path,
                             const std::vector<uint32_t>& node_ids,
                             const std::vector<double>& temperatures) {
  append_with_text(out, "mesh = kelm.getMesh(\"", path, "\")\n");
  out += "nodes = mesh.getNodes(ids = \"";
  append_id_text(out, node_ids.data(), node_ids.size());
  out += "\")\n";
  out += "load_temperature_target.extend(nodes)\n";
  out += "temperature_field = {}\n";
  out += "temperature_field[\"node_ids\"] = ";
  append_list(out, node_ids.data(), node_ids.size());
  out += "\ntemperature_field[\"identifier_type\"] = \"NODE_ID\"\n";
  out += "temperature_field[\"temperatures\"] = ";
  append_list(out, temperatures.data(), temperatures.size());
  out += '\n';
  append_with_text(out, "property_temperature_field_dict[\"", path, "\"] = temperature_field\n");
}

void record_temperature_footer(std::string& out) {
  out +=
      "temperature_property = kelm.environment.createTemperaturePropertyStaticVariable(\n"
      "    temperatureValues=property_temperature_field_dict,\n"
      ")\n"
      "temperature = kelm.environment.createLoadTemperature(\n"
      "    name=\"Temperature\",\n"
      "    description=\"First mapped temperature\",\n"
      "    target=load_temperature_target,\n"
      "    temperatureProperty=temperature_property,\n"
      ")\n";
}

void record_pressure_header(std::string& out, const std::string& label) {
  append_with_text(out, "kelm.setScriptUnitSystem(\"", label, "\")\n");
  out += "pressure_load_target = kelm.EntityCollection()\n";
  out += "property_pressure_field_dict = {}\n";
}

void record_surface_field(std::string& out, const std::string& path, const PressureField& field) {
  append_with_text(out, "kelm_mesh = kelm.getMesh(\"", path, "\")\n");
  out += "elements = kelm_mesh.getElements(ids=\"";
  append_id_text(out, field.element_ids.data(), field.element_ids.size());
  out += "\")\n";
  out += "pressure_field = {}\n";
  record_field_items(out, field);
}

void record_solid_field(std::string& out, const std::string& path, const PressureField& field,
                        const FaceTarget& target) {
  append_with_text(out, "mesh = kelm.getMesh(\"", path, "\")\n");
  out += "pressure_field = {}\n";
  record_field_items(out, field);
  out += "element_faces = mesh.getElementFaces(target=";
  append_target(out, target);
  out += ")\n";
}

void record_pressure_body(std::string& out, const std::string& path, bool solid) {
  append_with_text(out, "property_pressure_field_dict[\"", path, "\"] = pressure_field\n");
  out += solid ? "pressure_load_target.extend(element_faces)\n"
               : "pressure_load_target.extend(elements)\n";
}

void record_pressure_footer(std::string& out) {
  out +=
      "pressure_property = kelm.environment.createPressurePropertyStaticVariable(\n"
      "    id = 5,\n"
      "    pressureValues=property_pressure_field_dict,\n"
      ")\n"
      "pressure = kelm.environment.createLoadPressure(\n"
      "    name=\"Pressure\",\n"
      "    description=\"First mapped pressure\",\n"
      "    target=pressure_load_target,\n"
      "    loadPressureProperty=pressure_property,\n"
      ")\n";
}

}  // namespace loadscribe_core

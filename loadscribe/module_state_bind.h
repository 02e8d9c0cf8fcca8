// The module attributes of loadscribe that a load reads and writes (included by bind.cpp only):
// the recording text `macro`, the unit tables and `last_left_out_counts`.
#pragma once

#include <pybind11/pybind11.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "mapped_leaves.h"

namespace loadscribe_bind {

namespace py = pybind11;

inline py::module_ self_module() { return py::module_::import("loadscribe"); }

// The recording text of `loadscribe.macro`, worked on locally and written back once (on success
// and on failure alike, so that what was appended before an error stays appended).
class Recorder {
 public:
  explicit Recorder(const char* operation) {
    py::object macro = self_module().attr("macro");
    if (macro.is_none()) return;
    if (!py::isinstance<py::str>(macro)) {
      kelm::raise_type_error(operation, ": loadscribe.macro must be None (recording off) or text, ",
                             "not ", kelm::bind::type_name(macro));
    }
    text_ = kelm::bind::utf8_text(macro);
    on_ = true;
  }
  std::string* text() { return on_ ? &text_ : nullptr; }
  void store() {
    if (on_) self_module().attr("macro") = py::str(text_);
  }
  void print() {
    if (on_) kelm::print_line(text_);
  }

 private:
  bool on_ = false;
  std::string text_;
};

// None (when allowed) -> no filtering; otherwise a real number that is not NaN.
inline std::optional<double> read_tolerance(py::handle tolerance, const char* operation,
                                            bool none_allowed) {
  if (tolerance.is_none() && none_allowed) return std::nullopt;
  const double value = kelm::bind::real_argument(tolerance, operation, "tolerance");
  if (std::isnan(value)) kelm::raise_value_error(operation, ": tolerance is NaN");
  return value;
}

// The host unit-system label of `unit`, from the module's table (host scripts may extend it).
inline std::string unit_system_for(const char* table_name, const std::string& unit,
                                   const char* quantity, const char* operation,
                                   const std::string& body) {
  py::object table = self_module().attr(table_name);
  py::str key(unit);
  if (PyMapping_Check(table.ptr()) && table.contains(key)) {
    return kelm::bind::text_argument(table[key], operation, "the unit table's label");
  }
  std::string known;
  if (PyMapping_Check(table.ptr())) {
    for (py::handle name : table) {
      known += (known.empty() ? "" : ", ") + kelm::bind::utf8_text(py::str(name));
    }
  }
  kelm::raise_key_error(operation, ": ", quantity, " unit '", unit, "' of body '", body,
                        "' is not in loadscribe.", table_name, "; known units: ", known);
}

// Sets loadscribe.last_left_out_counts ({body path: {"no value": n, "beyond tolerance": m}})
// and prints a line for each body that lost places. `places` names what is counted: "nodes" or
// "faces".
template <typename Leaf>
void report_left_out(const std::vector<Leaf>& bodies, const char* load, const char* places) {
  const auto totals = loadscribe_core::left_out_per_body(bodies);
  py::dict counts;
  for (const auto& [path, count] : totals) {
    py::dict entry;
    entry["no value"] = count.no_value;
    entry["beyond tolerance"] = count.beyond_tolerance;
    if (count.facing_away) entry["facing away"] = count.facing_away;
    counts[py::str(path)] = entry;
  }
  self_module().attr("last_left_out_counts") = counts;
  for (const auto& [path, count] : totals) {
    if (count.no_value || count.beyond_tolerance || count.facing_away) {
      kelm::print_line(loadscribe_core::left_out_line(load, path, count, places));
    }
  }
}

}  // namespace loadscribe_bind

// Host-language literals for the recorded script text: the text Python's repr() and str() give for
// the values the loads are made of, so that a recorded line reads back to exactly the value the
// direct call passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace loadscribe_core {

// repr() of a float: the shortest digits that read back to `value`, in Python's layout
// ("300.0", "0.1", "1e-05", "1.5e+16", "nan", "-inf").
void append_float(std::string& out, double value);

void append_uint(std::string& out, uint32_t value);

// str() of a list: "[1, 2, 3]", "[0.5, 1.0]", "[]".
void append_list(std::string& out, const uint32_t* values, std::size_t n);
void append_list(std::string& out, const double* values, std::size_t n);

// The IDs in decimal joined by "," without spaces: the text the host's getNodes / getElements
// take ("3,17,101").
void append_id_text(std::string& out, const uint32_t* ids, std::size_t n);

// The inside of a double-quoted string literal holding `text`: ordinary text is copied as it is;
// a backslash, a double quote and control characters (line breaks among them) are escaped, so the
// recorded line stays one valid line whatever a body's path name holds.
void append_escaped(std::string& out, const std::string& text);

}  // namespace loadscribe_core

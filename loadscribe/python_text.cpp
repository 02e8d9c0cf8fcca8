#include "python_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace loadscribe_core {

void append_float(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  // Shortest round-trip digits in scientific form ("d.ddde+XX"), then laid out as Python does:
  // positional for decimal exponents -4 < decpt <= 16, scientific otherwise.
  char buffer[40];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const char* p = buffer;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  char digits[24];
  int ndigits = 0;
  const char* e = p;
  for (; e < result.ptr && *e != 'e'; ++e) {
    if (*e != '.') digits[ndigits++] = *e;
  }
  // "e+05" / "e-07"
  const bool negative_exponent = e + 1 < result.ptr && e[1] == '-';
  int exponent = 0;
  std::from_chars(e + 2, result.ptr, exponent);
  if (negative_exponent) exponent = -exponent;
  const int decpt = exponent + 1;  // value = 0.d1d2... x 10^decpt
  if (decpt <= -4 || decpt > 16) {
    out += digits[0];
    if (ndigits > 1) {
      out += '.';
      out.append(digits + 1, ndigits - 1);
    }
    out += 'e';
    out += exponent < 0 ? '-' : '+';
    const int magnitude = std::abs(exponent);
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
  } else if (decpt <= 0) {
    out += "0.";
    out.append(std::size_t(-decpt), '0');
    out.append(digits, ndigits);
  } else if (decpt >= ndigits) {
    out.append(digits, ndigits);
    out.append(std::size_t(decpt - ndigits), '0');
    out += ".0";
  } else {
    out.append(digits, decpt);
    out += '.';
    out.append(digits + decpt, ndigits - decpt);
  }
}

void append_uint(std::string& out, uint32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_list(std::string& out, const uint32_t* values, std::size_t n) {
  out += '[';
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ", ";
    append_uint(out, values[i]);
  }
  out += ']';
}

void append_list(std::string& out, const double* values, std::size_t n) {
  out += '[';
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ", ";
    append_float(out, values[i]);
  }
  out += ']';
}

void append_id_text(std::string& out, const uint32_t* ids, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out += ',';
    append_uint(out, ids[i]);
  }
}

void append_escaped(std::string& out, const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    // U+0085, U+2028 and U+2029 split lines for str.splitlines(): keep them out of the lines too.
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
      out += "\\x85";
      ++i;
      continue;
    }
    if (byte == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
      out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          out += "\\x";
          out += hex[byte >> 4];
          out += hex[byte & 15];
        } else {
          out += c;  // UTF-8 bytes of other characters stay as they are
        }
    }
  }
}

}  // namespace loadscribe_core

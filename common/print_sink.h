// The one place the C++ operations print through. Bindings point it at Python's sys.stdout so the
// host console and test capture see the system's messages; without a binding it writes to stdout.
#pragma once

#include <string>

namespace kelm {

using PrintSink = void (*)(const std::string& line);

void set_print_sink(PrintSink sink);

// Prints one line (the line break is added).
void print_line(const std::string& line);

}  // namespace kelm

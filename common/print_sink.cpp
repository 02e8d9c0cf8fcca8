#include "common/print_sink.h"

#include <cstdio>

namespace kelm {
namespace {

void print_to_stdout(const std::string& line) { std::printf("%s\n", line.c_str()); }

PrintSink current_sink = print_to_stdout;

}  // namespace

void set_print_sink(PrintSink sink) { current_sink = sink ? sink : print_to_stdout; }

void print_line(const std::string& line) { current_sink(line); }

}  // namespace kelm

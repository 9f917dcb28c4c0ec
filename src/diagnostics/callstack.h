// Call stack of the process, written to the log on the system channel with
// function names and source lines, for the diagnostic context of err_vlx.
#pragma once

#include <string>
#include <vector>

// One symbolised frame: "function at file:line" (or the bare address).
std::vector<std::string> call_stack(int skip);
// Writes call_stack(skip + 1) to the log, one "  #n ..." line per frame.
void log_call_stack(int skip);

// Command lines against the shipped sandbox configuration: every decision
// must come back as 0 or a negated error, nothing is ever started.
#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/spawn_sandbox.h"
#include "memory/vlxcalls.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = (ini_malloc(4096), load_system_security(), true);
  (void)ready;
  std::string line(reinterpret_cast<const char*>(data), size);
  find_syst_pattern(line.c_str(), nullptr, 0);
  sandbox_check(line.c_str());
  raz_err();
  return 0;
}

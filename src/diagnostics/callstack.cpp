#include "diagnostics/callstack.h"

#include <elfutils/libdwfl.h>
#include <libunwind.h>
#include <unistd.h>

#include <cxxabi.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "diagnostics/log.h"

namespace {

// The session reports on the live process; it is built on first use and
// kept, since symbol tables are costly to load again.
Dwfl* session() {
  static Dwfl* dwfl = [] {
    static char* debuginfo_path = nullptr;
    static const Dwfl_Callbacks callbacks = {
        .find_elf = dwfl_linux_proc_find_elf,
        .find_debuginfo = dwfl_standard_find_debuginfo,
        .section_address = nullptr,
        .debuginfo_path = &debuginfo_path,
    };
    Dwfl* d = dwfl_begin(&callbacks);
    if (d == nullptr) return d;
    if (dwfl_linux_proc_report(d, ::getpid()) != 0 || dwfl_report_end(d, nullptr, nullptr) != 0) {
      dwfl_end(d);
      return static_cast<Dwfl*>(nullptr);
    }
    return d;
  }();
  return dwfl;
}

// Readable C++ name of a symbol, or the symbol as it is.
std::string demangle(const char* symbol) {
  if (symbol == nullptr) return "??";
  int status = 0;
  char* name = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  std::string text = status == 0 && name != nullptr ? name : symbol;
  std::free(name);
  return text;
}

std::string describe(Dwfl* dwfl, std::uintptr_t ip) {
  char text[512];
  // A return address points after the call; step back into it for the line.
  Dwarf_Addr addr = ip > 0 ? ip - 1 : ip;
  Dwfl_Module* module = dwfl != nullptr ? dwfl_addrmodule(dwfl, addr) : nullptr;
  const char* function = module != nullptr ? dwfl_module_addrname(module, addr) : nullptr;
  Dwfl_Line* line = module != nullptr ? dwfl_module_getsrc(module, addr) : nullptr;
  int lineno = 0;
  const char* file = line != nullptr ? dwfl_lineinfo(line, nullptr, &lineno, nullptr, nullptr, nullptr) : nullptr;
  std::string name = demangle(function);
  if (file != nullptr)
    std::snprintf(text, sizeof text, "%s at %s:%d", name.c_str(), file, lineno);
  else
    std::snprintf(text, sizeof text, "%s [0x%" PRIxPTR "]", name.c_str(), ip);
  return text;
}

}  // namespace

std::vector<std::string> call_stack(int skip) {
  void* frames[64];
  int count = unw_backtrace(frames, 64);
  std::vector<std::string> lines;
  Dwfl* dwfl = session();
  for (int i = skip + 1; i < count; ++i) lines.push_back(describe(dwfl, reinterpret_cast<std::uintptr_t>(frames[i])));
  return lines;
}

void log_call_stack(int skip) {
  using namespace vlx;
  if (!log::enabled(log::system)) return;
  std::vector<std::string> lines = call_stack(skip + 1);
  for (std::size_t i = 0; i < lines.size(); ++i) log::trace(log::system, "  #%d %s", static_cast<int>(i), lines[i]);
}

#include "diagnostics/callstack.h"

#include <elfutils/libdwfl.h>
#include <libunwind.h>
#include <unistd.h>

#include <cxxabi.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "diagnostics/dynlib.h"
#include "diagnostics/log.h"

namespace {

// The unwinder and the debug-information reader, loaded when a call stack
// is first taken.
struct Readers {
  decltype(&unw_backtrace) backtrace;
  decltype(&dwfl_begin) begin;
  decltype(&dwfl_end) end;
  decltype(&dwfl_linux_proc_report) report;
  decltype(&dwfl_report_end) report_end;
  decltype(&dwfl_linux_proc_find_elf) find_elf;
  decltype(&dwfl_standard_find_debuginfo) find_debuginfo;
  decltype(&dwfl_addrmodule) module_at;
  decltype(&dwfl_module_addrname) name_at;
  decltype(&dwfl_module_getsrc) line_at;
  decltype(&dwfl_lineinfo) line_info;
};

// The readers, or null when a library cannot be loaded.
const Readers* readers() {
  static const Readers* loaded = []() -> const Readers* {
    static Readers r;
    void* unwinder = dl_library("libunwind.so.8");
    void* dw = dl_library("libdw.so.1");
    bool found = unwinder != nullptr && dw != nullptr && dl_entry(unwinder, r.backtrace, "unw_backtrace") &&
                 dl_entry(dw, r.begin, "dwfl_begin") && dl_entry(dw, r.end, "dwfl_end") &&
                 dl_entry(dw, r.report, "dwfl_linux_proc_report") && dl_entry(dw, r.report_end, "dwfl_report_end") &&
                 dl_entry(dw, r.find_elf, "dwfl_linux_proc_find_elf") &&
                 dl_entry(dw, r.find_debuginfo, "dwfl_standard_find_debuginfo") &&
                 dl_entry(dw, r.module_at, "dwfl_addrmodule") && dl_entry(dw, r.name_at, "dwfl_module_addrname") &&
                 dl_entry(dw, r.line_at, "dwfl_module_getsrc") && dl_entry(dw, r.line_info, "dwfl_lineinfo");
    return found ? &r : nullptr;
  }();
  return loaded;
}

// The session reports on the live process; it is built on first use and
// kept, since symbol tables are costly to load again.
Dwfl* session(const Readers& r) {
  static Dwfl* dwfl = [&r] {
    static char* debuginfo_path = nullptr;
    static const Dwfl_Callbacks callbacks = {
        .find_elf = r.find_elf,
        .find_debuginfo = r.find_debuginfo,
        .section_address = nullptr,
        .debuginfo_path = &debuginfo_path,
    };
    Dwfl* d = r.begin(&callbacks);
    if (d == nullptr) return d;
    if (r.report(d, ::getpid()) != 0 || r.report_end(d, nullptr, nullptr) != 0) {
      r.end(d);
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

std::string describe(const Readers& r, Dwfl* dwfl, std::uintptr_t ip) {
  char text[512];
  // A return address points after the call; step back into it for the line.
  Dwarf_Addr addr = ip > 0 ? ip - 1 : ip;
  Dwfl_Module* module = dwfl != nullptr ? r.module_at(dwfl, addr) : nullptr;
  const char* function = module != nullptr ? r.name_at(module, addr) : nullptr;
  Dwfl_Line* line = module != nullptr ? r.line_at(module, addr) : nullptr;
  int lineno = 0;
  const char* file = line != nullptr ? r.line_info(line, nullptr, &lineno, nullptr, nullptr, nullptr) : nullptr;
  std::string name = demangle(function);
  if (file != nullptr)
    std::snprintf(text, sizeof text, "%s at %s:%d", name.c_str(), file, lineno);
  else
    std::snprintf(text, sizeof text, "%s [0x%" PRIxPTR "]", name.c_str(), ip);
  return text;
}

}  // namespace

std::vector<std::string> call_stack(int skip) {
  std::vector<std::string> lines;
  const Readers* r = readers();
  if (r == nullptr) return lines;
  void* frames[64];
  int count = r->backtrace(frames, 64);
  Dwfl* dwfl = session(*r);
  for (int i = skip + 1; i < count; ++i) lines.push_back(describe(*r, dwfl, reinterpret_cast<std::uintptr_t>(frames[i])));
  return lines;
}

void log_call_stack(int skip) {
  using namespace vlx;
  if (!log::enabled(log::system)) return;
  std::vector<std::string> lines = call_stack(skip + 1);
  for (std::size_t i = 0; i < lines.size(); ++i) log::trace(log::system, "  #%d %s", static_cast<int>(i), lines[i]);
}

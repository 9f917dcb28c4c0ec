#include "diagnostics/dynlib.h"

#include "diagnostics/log.h"

void* dl_library(const char* soname) {
  void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) vlx::log::trace(vlx::log::system, "dl_library %s: %s", soname, ::dlerror());
  return library;
}

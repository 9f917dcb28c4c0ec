// Shared libraries that only some processes need (the crypto library of
// the front-end handshake, the unwinder and debug-information readers of
// call stacks), opened when first used: a server that never needs them
// does not map them at start, which is most of a process start's cost.
#pragma once

#include <dlfcn.h>

// Opens `soname` for the rest of the process, its symbols kept private;
// null when it cannot be loaded (the reason on the system log channel).
void* dl_library(const char* soname);

// Points `entry` at the library's function `name`; false when it has none.
template <typename Function>
bool dl_entry(void* library, Function*& entry, const char* name) {
  entry = reinterpret_cast<Function*>(::dlsym(library, name));
  return entry != nullptr;
}

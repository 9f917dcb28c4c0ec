#include "base/faults.h"

#include <cstdlib>
#include <cstring>

#if VLX_FAULTS
namespace vlx::fault {

namespace {
long Armed[nsites];
long Calls[nsites];
}  // namespace

bool hit(site s) {
  ++Calls[s];
  if (Armed[s] == 0 || Calls[s] != Armed[s]) return false;
  Armed[s] = 0;
  return true;
}

void arm(site s, long n) {
  Armed[s] = n;
  Calls[s] = 0;
}

long calls(site s) { return Calls[s]; }

void arm_from_environment() {
  // ORDER SITES
  static const char* const kNames[nsites] = {"alloc", "write", "read", "group", "open", "spawn"};
  const char* value = std::getenv("VLX_FAULT");
  if (value == nullptr) return;
  const char* colon = std::strchr(value, ':');
  if (colon == nullptr) return;
  for (int s = 0; s < nsites; ++s)
    if (std::strncmp(value, kNames[s], static_cast<std::size_t>(colon - value)) == 0 &&
        kNames[s][colon - value] == '\0')
      arm(static_cast<site>(s), std::strtol(colon + 1, nullptr, 10));
}

}  // namespace vlx::fault
#endif

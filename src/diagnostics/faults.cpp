#include "diagnostics/faults.h"

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

}  // namespace vlx::fault
#endif

// Fault injection points of the allocator and the file layer.
//
// Test builds (VLX_FAULTS) count the calls that reach each site and can be
// told to fail the n-th one from now; other builds compile every check to
// `false`. Nothing in the server arms a fault.
#pragma once

namespace vlx::fault {

enum site { alloc, write, read, nsites };

#if VLX_FAULTS
// True when this call is the armed one (the fault then disarms itself).
bool hit(site s);
// Fails the n-th call of `s` from now on (1 = the next); 0 disarms.
void arm(site s, long n);
// Calls of `s` counted since the last arm (or since start).
long calls(site s);
#else
inline constexpr bool hit(site) { return false; }
#endif

}  // namespace vlx::fault

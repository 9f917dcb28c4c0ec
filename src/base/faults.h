// Fault injection points of the allocator and the file layer.
//
// Test builds (VLX_FAULTS) count the calls that reach each site and can be
// told to fail the n-th one from now; other builds compile every check to
// `false`. The server arms a fault only from VLX_FAULT, in test builds.
#pragma once

namespace vlx::fault {

// ORDER SITES: the names of arm_from_environment.
enum site { alloc, write, read, group, nsites };

#if VLX_FAULTS
// True when this call is the armed one (the fault then disarms itself).
bool hit(site s);
// Fails the n-th call of `s` from now on (1 = the next); 0 disarms.
void arm(site s, long n);
// Calls of `s` counted since the last arm (or since start).
long calls(site s);
// Arms the fault that VLX_FAULT names as "<site>:<n>" (sites alloc, write,
// read, group: a group creation finding no free slot), so that a test can
// take the server binary where no request leads.
void arm_from_environment();
#else
inline constexpr bool hit(site) { return false; }
inline void arm_from_environment() {}
#endif

}  // namespace vlx::fault

// Fault injection points of the allocator, the file layer and the start of
// commands.
//
// Test builds (VLX_FAULTS) count the calls that reach each site and can be
// told to fail the n-th one from now; other builds compile every check to
// `false`. The server arms a fault only from VLX_FAULT, in test builds.
#pragma once

namespace vlx::fault {

// ORDER SITES: the names of arm_from_environment. A write fault also fails
// a rename; an open fault fails the opening of a file, a spawn fault the
// start of a command.
enum site { alloc, write, read, group, open, spawn, nsites };

#if VLX_FAULTS
// True when this call is the armed one (the fault then disarms itself).
bool hit(site s);
// Fails the n-th call of `s` from now on (1 = the next); 0 disarms.
void arm(site s, long n);
// Calls of `s` counted since the last arm (or since start).
long calls(site s);
// Arms the fault that VLX_FAULT names as "<site>:<n>" (sites alloc, write,
// read, group: a group creation finding no free slot, open, spawn), so
// that a test can take the server binary where no request leads.
void arm_from_environment();
#else
inline constexpr bool hit(site) { return false; }
inline void arm_from_environment() {}
#endif

}  // namespace vlx::fault

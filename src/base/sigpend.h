// Where the process waits for a peer or a child, it first acts on the
// signals caught since it last did: their handler only records them, as
// it may interrupt the allocator or stdio. The waits (the channel's reads,
// the wait for a command that spools) call Sigpend, which the session
// points at its routine when it catches signals (sigvlx); unset, as in a
// client of the library, a wait acts on nothing.
#pragma once

inline void (*Sigpend)() = nullptr;

// Buffer units on the stream, in raw form (the main buffer's bytes, for
// protocol 8 and up and units that take no extents) or in piece form (a
// count, the piece sizes, then the main buffer and each extent).
//
// The receivers raise their errors as exceptions (throwException) after
// recording them, as their callers unwind; the pieces read are released.
#pragma once

#include "memory/vlxcbu.h"

// Count and sizes of the piece form may not pass this many bytes.
inline constexpr int kPieceHeaderMax = 1501;

int ack_cbu(int slot, cbu_ref unit, int omit);
int send_cbu(int slot, int code, const char* body, int length, int omit, cbu_ref unit);
void read_cbu(int slot, cbu_ref unit);
void recv_cbu(int slot, cbu_ref unit, int unused);

// The table-request instance of the automaton: its node and transition
// tables, the handler rows of the seven drivers, and the request handler
// of the loop. State 0 serves requests on no table, state 64 requests on
// an open table (the request code is the table's handle).
#pragma once

#include "channel/afd.h"

inline constexpr int kDrivers = 7;
inline constexpr int kHandlerSlots = 64;
inline constexpr int kFsrNodes = 65;
inline constexpr int kFsrTransitions = 67;
inline constexpr int kServiceVersion = 20;

extern const s_etn Tabnoeud_fsarq[kFsrNodes];
extern const s_trs Trans_nd_fsrarq[kFsrTransitions];
extern afd_fn Trans_fn_fsrarq[kDrivers][kHandlerSlots];

// Installs a driver's handlers; null entries get the default handler.
// A driver number above 6 is ignored.
void fsr_in(int driver, const afd_fn handlers[kHandlerSlots]);

// The request loop's handler: body[0] selects the driver, the rest is
// parsed from state 0 (code 0) or 64. Negative results end the session.
int fsr_an(int code, char* body, int length);

// Reader of node 57: the client's protocol version (4 bytes); answers the
// success byte and the server's version 20, and switches the slot's header
// form from version 11 on.
int fsr_version(int object, int event, afd_fn handler);

// Limits of table slots and 16-bit characters, raised from version 11 on.
extern int Nutmsk;
extern int Nutoff;

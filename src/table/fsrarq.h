// The table-request instance of the automaton: its node and transition
// tables, the drivers' handlers, and the request handler of the loop.
// State 0 serves requests on no table, state 64 requests on an open table
// (the request code is the table's handle).
#pragma once

#include "channel/afd.h"
#include "channel/protocol.h"
#include "table/filsrv.h"

inline constexpr int kDrivers = 7;
inline constexpr int kFsrNodes = 65;
inline constexpr int kFsrTransitions = 67;

// The handlers of a driver, one member a role it may serve, each typed as
// its decoder calls it; a null member is answered as the default handler
// answers (the request's fields are read, status 0 and zero values). The
// slot of each role is its node in Tabnoeud_fsarq.
// ORDER FSRNODES
struct s_drv {
  // 2: opens a table; its slot, or a negated error. The request's group
  // is the table's from then on.
  int (*open)(s_opn* request);
  // 7: table properties by name.
  int (*properties)(int object, char* name, char* information);
  // 13: a positioned or keyed read; fills `found` (table slots, ended by
  // 0) and `foundFlags`.
  int (*read)(int slot, int key, int lock, int mode, int flags, const s_keyv* keyValue, int* found, int criterion,
              int value, int* foundFlags, char* text);
  // 21: closes the table and answers itself.
  int (*close)(int slot, int code);
  // 25: adds a filter, which owns the grammar from then on (released on
  // an error).
  int (*add_filter)(int slot, grammar_ptr g, unsigned node, int criterion);
  // 29: removes filter 1..4.
  int (*remove_filter)(int slot, int filter);
  // 31: a read with key criteria.
  int (*read_keys)(int slot, int key, int lock, int count, const s_keyv* first, const s_keyv* second, int mode,
                   int criterion, int* found, int value, int* foundFlags, char* text);
  // 38: creates a selection from the grammar, which stays the decoder's.
  int (*select)(int slot, grctx* g, unsigned node, int flags, int selection);
  // 39: deletes a selection.
  int (*remove_selection)(int slot, int selection);
};

extern const s_etn<s_drv> Tabnoeud_fsarq[kFsrNodes];
extern const s_trs Trans_nd_fsrarq[kFsrTransitions];
// The installed drivers by number; null for a driver never installed,
// whose requests run nothing and answer nothing.
extern const s_drv* Trans_fn_fsrarq[kDrivers];

// Installs a driver's handlers. A driver number above 6 is ignored.
// REQUIRES: `handlers` lives as long as the process.
void fsr_in(int driver, const s_drv* handlers);

// The request loop's handler: body[0] selects the driver, the rest is
// parsed from state 0 (code 0) or 64. Negative results end the session.
int fsr_an(int code, char* body, int length);

// Reader of node 57: the client's protocol version (4 bytes); answers the
// success byte and the server's version 20, and switches the slot's header
// form from version 11 on.
int fsr_version(int object, int event, const s_drv& driver);

// Limits of table slots and 16-bit characters, raised from version 11 on.
extern int Nutmsk;
extern int Nutoff;

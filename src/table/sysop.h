// The system driver (driver 3): a table is the output of a command, run
// once at open time and spooled into a temporary file "vlxt<pid>_<n>"
// that is deleted at close. One output line is a record, one
// blank-separated word a field, each in a slot of kFieldWidth bytes of the
// record.
#pragma once

#include "table/filsrv.h"
#include "table/fsrelf.h"

inline constexpr int kSpoolLine = 512;

struct s_tsy {
  char name[256];
  int slot;
  unsigned group;
  int flags;
  int spool;
  s_fsr* descriptor;
  int fieldCount;
  const s_fld* fields;
  bool atEnd;
  std::uint8_t* used;  // bytes written in each field's slot by the last read
};

// Contexts of the open system tables, by table slot.
extern s_tsy* Tsy[kTableSlots];

// Installs driver 3 (its handlers below), after removing the spool files that processes which
// no longer exist left in the spool folder (a process ended by a signal
// cannot delete its own).
void sysisf();
// The removal alone; the number of files removed.
int sys_clean_spools();

int op_sys(s_opn* request);
int rd_sys(int slot, int key, int lock, int mode, int flags, const s_keyv* keyValue, int* found, int criterion,
           int value, int* foundFlags, char* text);
int of_sys(int slot, int key, int lock, int count, const s_keyv* first, const s_keyv* second, int mode,
           int criterion, int* found, int value, int* foundFlags, char* text);
int cl_sys(int slot, int code);
int cw_sys(int slot, grammar_ptr g, unsigned node, int criterion);
int dw_sys(int slot, int filter);
int syscrsel(int slot, grctx* g, unsigned node, int flags, int selection);
int sysdlsel(int slot, int selection);
int pr_sys(int object, char* name, char* information);

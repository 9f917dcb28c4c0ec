// Memory groups of the process: the functions every subsystem allocates
// through, on the "HEAP" table, and the buffer-unit allocator table.
//
// Results are a group id or pointer (0 or null on failure, the error
// recorded with err_vlx), or 0 / a negative error number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memory/GroupManagement.h"

// Sets the ceiling (KiB) and rebuilds the slot lists; err_vlx dumps the
// memory table (adg_dump) when memory runs out from then on. Called once.
int ini_malloc(int kilobytes);

unsigned adg_get(adg_onfree onFree, adg_releasable isReleasable, int category, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void* adg_malloc(unsigned group, std::size_t size);
void* adg_realloc(unsigned group, void* pointer, std::size_t size);
int adg_memfree(unsigned group, void* pointer);
int adg_free(unsigned group);
int adg_if(unsigned group);
int adg_keep(unsigned group);
int adg_unkeep(unsigned group);
int adg_ikeep(unsigned group);
unsigned adg_siz(unsigned group);
ss_sgm* adg_malloc2(unsigned group, std::size_t size);
int adg_realloc2(ss_sgm* segment, std::size_t size);
int adg_sgmfree(ss_sgm* segment);
void adg_dump();

unsigned vlx_group();
void* vlx_malloc(std::size_t size);
int vlx_free(void* pointer);

// Bytes accounted to all groups of the "HEAP" table.
std::uint32_t adg_used();

// Raised when no group slot can be released (signal 15 by default); the
// process entry points it at its own signal routine.
extern void (*Adgsignal)(int signal);

// One row of the buffer-unit allocator table.
struct s_cbualloc {
  void* (*malloc)(unsigned group, std::size_t size);
  void* (*realloc)(unsigned group, void* pointer, std::size_t size);
  int (*memfree)(unsigned group, void* pointer);
  ss_sgm* (*malloc2)(unsigned group, std::size_t size);
  int (*realloc2)(ss_sgm* segment, std::size_t size);
  int (*sgmfree)(ss_sgm* segment);
  int (*if_)(unsigned group);
};
// Row 0 empty, row 1 "HEAP", row 2 "COMMON".
extern const s_cbualloc Cbualloc[3];

// Buffer units: growable byte buffers addressed by checked 64-bit
// references (index << 32 | stamp) instead of pointers.
//
// Holders keep the reference while the memory underneath moves; a unit's
// stamp grows each time it is freed, so every older reference goes stale
// and is refused instead of followed. A unit may own numbered extents,
// further segments used for chained continuations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "memory/GroupManagement.h"

using cbu_ref = std::uint64_t;

enum : std::uint32_t { kCbuInUse = 1u << 0, kCbuNoAddress = 1u << 6, kCbuNoExtent = 1u << 9 };

struct s_cbu {
  ss_sgm* cbu_sgm;
  ss_sgm** cbu_ext;
  cbu_ref cbu_sub1, cbu_sub2;
  std::uint32_t cbu_nxt, cbu_prv;
  std::uint32_t cbu_stamp;
  std::uint32_t cbu_group;
  std::uint32_t cbu_updtick;
  std::uint16_t cbu_nmx;
  std::uint16_t cbu_vobj;
  std::uint32_t cbu_flags;
  std::uint8_t cbu_mod;
};

inline constexpr std::uint32_t kCbuMaxIndex = 1048576;

// Process-wide table.
extern s_cbu* Cbu;
extern std::uint32_t Maxcbu;
extern std::uint32_t Cbuflb;

// REQUIRES: ini_malloc has run.
int cbu_ini(int max);
int cbu_new(unsigned char mod, unsigned group, unsigned size, cbu_ref* ref, const char* description);
int cbu_free(cbu_ref ref);
int cbu_if(cbu_ref ref);
unsigned char* cbu_bu(cbu_ref ref);
unsigned cbu_len(cbu_ref ref);
// cbu_bu and cbu_len of an addressable unit, checked once: its buffer and
// size, or null and 0.
unsigned char* cbu_buf(cbu_ref ref, unsigned* length);
int cbu_realloc(cbu_ref ref, unsigned size);
unsigned cbu_grp(cbu_ref ref);
// Reserves an extent number and gives it a segment of 2 zero bytes (room
// for the chain word of a text continuation).
int cbu_new_extent(cbu_ref ref, unsigned short* number);
int cbu_extent(cbu_ref ref, unsigned short number, unsigned char** address, unsigned* length);
// Grows the segment of a reserved extent to `size` bytes (zero-filled).
int cbu_realloc_extent(cbu_ref ref, unsigned short number, unsigned size);
int cbu_free_extent(cbu_ref ref, unsigned short number);
int cbu_free_tab_extent(cbu_ref ref, unsigned short number);
int cbu_free_all_extent(cbu_ref ref);
int cbu_max_ext(cbu_ref ref);
int cbu_vobj(cbu_ref ref);
unsigned cbu_get_updtick(cbu_ref ref);
int cbu_set_noextent(cbu_ref ref, int on);
int cbu_is_noextent(cbu_ref ref);
// Loads a received unit: the main buffer takes pieces[0] (growing to its
// size), every extent is replaced by pieces[1..count-1]; a null piece
// leaves that extent empty.
int cbu_load(cbu_ref ref, int count, const unsigned char* const* pieces, const unsigned* sizes);
// Units in use in an allocator row (1 or 2).
unsigned cbu_count(int mod);

// The cell store of a compiled grammar: growable tables of fixed-size
// elements ("cells") held in one memory group, the grammar record that
// gathers them, and the typed stores, lookups and checked accessors that
// the compiler writes through and the calculator reads through.
//
// Elements are numbered from 1; index 0 always means "none". Functions
// return an index or 0 on success and a negated error number on failure.
#pragma once

#include <cstdint>
#include <memory>

#include "values/vlxdcb.h"

struct s_gcl {
  std::uint32_t gc_grp;  // group holding the element array
  char* gc_ptr;          // gc_siz x gc_cmx bytes plus one spare byte
  std::uint32_t gc_cmx;  // capacity in elements
  std::uint32_t gc_nbr;  // elements in use (indices 1..gc_nbr)
  std::uint32_t gc_siz;  // element size in bytes
  std::uint32_t gc_inc;  // growth step in elements
  std::uint8_t gc_flg;   // bit 0: store reuses an identical element
};

inline constexpr std::uint8_t GCL_DEDUPE = 1;
inline constexpr std::uint8_t GCL_GRAMMAR = 2;

struct s_exp {
  std::uint32_t code, type, objectId, header, tail, next;
};
struct s_ins {
  std::uint32_t code, flag, next, elt1, elt2, elt3, last;
};
struct s_cla {
  std::uint32_t ca_class, ca_sclas;
};
struct s_cid {
  std::uint32_t ci_class, ci_iden;
  unsigned char runtime[16];  // zero after decoding
};
struct s_lab {
  std::uint32_t l_id, l_mid, l_no;
};
struct s_pos {
  std::uint32_t t_line, t_char;
};
static_assert(sizeof(s_exp) == 24 && sizeof(s_ins) == 28 && sizeof(s_cla) == 8 && sizeof(s_cid) == 24 &&
              sizeof(s_lab) == 12 && sizeof(s_pos) == 8);

struct grctx {
  std::uint32_t group;
  std::int32_t headerWord;
  char typeLetter;
  std::uint8_t marker;  // 255 when the compiled file's marker text is "xxx"
  char name[254];
  s_gcl gr_int, gr_dcb, gr_stu, gr_ide, gr_cla, gr_cid, gr_la, gr_exp, gr_est, gr_ins, gr_ist, gr_dsc, gr_i64;
  unsigned char block[16];
  s_gcl gr_com, gr_ids;
};

// Cells.
void inigcl(grctx* g);
void ini_cl(s_gcl* c, unsigned group, unsigned size, unsigned step, int dedupe, int bit1);
int gc_ext(s_gcl* c, unsigned n);
// REQUIRES: data holds n x gc_siz bytes.
int st_cel(s_gcl* c, const void* data, unsigned n);
int gcl_member(s_gcl* c, const void* data);
void* gcl_get_element_at(s_gcl* c, unsigned i);
int gcl_remove_element_at(s_gcl* c, unsigned i, void* out);
int gcl_container_length(const s_gcl* c);

// Typed stores: index of the stored or reused entry.
int stfint(grctx* g, std::int32_t value);
int stflargeint(grctx* g, std::int64_t value);
int stfdcb(grctx* g, const s_dcb* value);
int stfstu(grctx* g, const char16_t* text);
int stfstr(grctx* g, const char* utf8);
// REQUIRES: uuid holds 16 bytes.
int stfuuid(grctx* g, const unsigned char* uuid);
int stfComment(grctx* g, const char16_t* text);
int stfstrcomment(grctx* g, const char* utf8);
int stfide(grctx* g, const char* name);
int stfcla(grctx* g, unsigned classNo, unsigned subclass);
int stfcid(grctx* g, unsigned classNo, unsigned identifier);
// A label: identifier l_id names instruction l_no (l_mid: its method).
int stfelb(grctx* g, unsigned l_id, unsigned l_no, unsigned l_mid);
int stfexp(grctx* g, unsigned code, unsigned objectId, unsigned header, unsigned tail, unsigned type, unsigned next);
int stfins(grctx* g, unsigned code, unsigned elt1, unsigned elt2, unsigned elt3, unsigned flag, unsigned next);

// Lookups: index or 0.
int gtfide(grctx* g, const char* name);

// Unchecked getters. REQUIRES: 1 <= i <= the cell's gc_nbr.
inline s_exp* gt_exp(grctx* g, unsigned i) { return reinterpret_cast<s_exp*>(g->gr_exp.gc_ptr) + i; }
inline s_ins* gt_ins(grctx* g, unsigned i) { return reinterpret_cast<s_ins*>(g->gr_ins.gc_ptr) + i; }
inline s_cid* gt_cid(grctx* g, unsigned i) { return reinterpret_cast<s_cid*>(g->gr_cid.gc_ptr) + i; }
inline s_cla* gt_cla(grctx* g, unsigned i) { return reinterpret_cast<s_cla*>(g->gr_cla.gc_ptr) + i; }
inline s_pos* gt_ist(grctx* g, unsigned i) { return reinterpret_cast<s_pos*>(g->gr_ist.gc_ptr) + i; }
std::int32_t gt_int(grctx* g, unsigned i);
inline const char* gt_cide(grctx* g, unsigned i) { return g->gr_ide.gc_ptr + i; }

// Range-checked node fields (error 26 naming the caller's location).
int gtecod(grctx* g, unsigned i);
int gtephe(grctx* g, unsigned i);
int gtepta(grctx* g, unsigned i);
int gtepnx(grctx* g, unsigned i);
int upetyp(grctx* g, unsigned i, unsigned type);
int upephe(grctx* g, unsigned i, unsigned header);
int upepta(grctx* g, unsigned i, unsigned tail);
int upepnx(grctx* g, unsigned first, unsigned added);
int gticod(grctx* g, unsigned i);
int upicod(grctx* g, unsigned i, unsigned code);
int upiflg(grctx* g, unsigned i, unsigned flag);
int upinxt(grctx* g, unsigned first, unsigned added);
int gt_elen(grctx* g, unsigned first, int stopAtEmpty);
void posnod(grctx* g, unsigned instruction, int* line, int* character);

// Lifetime.
int Grammar_free(grctx* g);
int init_pt_exp(grctx* g, unsigned group);
int calclb(grctx* g);
int gramlb(grctx* g);

// A grammar record allocated in its own group (g->group) with one owner:
// dropping the owner releases the cells (gramlb), then the record.
struct gram_drop {
  void operator()(grctx* g) const;
};
using grammar_ptr = std::unique_ptr<grctx, gram_drop>;

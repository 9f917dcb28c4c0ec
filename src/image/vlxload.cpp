#include "image/vlxload.h"

#include <cstdio>
#include <cstring>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "values/varstr.h"

using namespace vlx;

#define WHERE(fn) VLX_WHERE("src/image/vlxload", __LINE__, fn)

namespace {

constexpr unsigned kMaxIdentifier = 254;

char* element(s_gcl* c, unsigned i) { return c->gc_ptr + static_cast<std::size_t>(i) * c->gc_siz; }

// Reserves room for `n` elements more; the array keeps one spare byte.
int grow(s_gcl* c, unsigned n) {
  if (c->gc_cmx > n + c->gc_nbr) return 0;
  if (c->gc_inc == 0 || c->gc_siz == 0) return err_vlx(kErrInternal, WHERE("gc_ext"));
  unsigned capacity = ((n + c->gc_nbr - c->gc_cmx + 1) / c->gc_inc + 1) * c->gc_inc + c->gc_cmx;
  std::size_t bytes = static_cast<std::size_t>(c->gc_siz) * capacity + 1;
  void* p = c->gc_ptr == nullptr ? adg_malloc(c->gc_grp, bytes) : adg_realloc(c->gc_grp, c->gc_ptr, bytes);
  if (p == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "gc_ext");
  std::size_t used = c->gc_ptr == nullptr ? 0 : static_cast<std::size_t>(c->gc_siz) * c->gc_cmx;
  std::memset(static_cast<char*>(p) + used, 0, bytes - used);
  c->gc_ptr = static_cast<char*>(p);
  c->gc_cmx = capacity;
  return 0;
}

s_exp* checked_exp(grctx* g, unsigned i, const char* fn) {
  if (g == nullptr || i == 0 || i > g->gr_exp.gc_nbr) {
    err_vlx(kErrInternal, WHERE(fn));
    return nullptr;
  }
  return gt_exp(g, i);
}

s_ins* checked_ins(grctx* g, unsigned i, const char* fn) {
  if (g == nullptr || i == 0 || i > g->gr_ins.gc_nbr) {
    err_vlx(kErrInternal, WHERE(fn));
    return nullptr;
  }
  return gt_ins(g, i);
}

// Index of the first string of a NUL-separated UCS-2 pool equal to `text`.
int find_string(s_gcl* c, const char16_t* text) {
  auto* pool = reinterpret_cast<const char16_t*>(c->gc_ptr);
  for (unsigned i = 1; i <= c->gc_nbr;) {
    unsigned j = 0;
    while (i + j <= c->gc_nbr && pool[i + j] == text[j] && text[j] != 0) j++;
    if (i + j <= c->gc_nbr && pool[i + j] == 0 && text[j] == 0) return static_cast<int>(i);
    while (i <= c->gc_nbr && pool[i] != 0) i++;
    i++;
  }
  return 0;
}

int store_string(s_gcl* c, const char16_t* text, bool reuse) {
  int found = reuse ? find_string(c, text) : 0;
  return found > 0 ? found : st_cel(c, text, static_cast<unsigned>(stulen(text)) + 1);
}

}  // namespace

void ini_cl(s_gcl* c, unsigned group, unsigned size, unsigned step, int dedupe, int bit1) {
  *c = s_gcl{group, nullptr, 0, 0, size, step,
             static_cast<std::uint8_t>((dedupe ? GCL_DEDUPE : 0) | (bit1 ? GCL_GRAMMAR : 0))};
}

void inigcl(grctx* g) {
  struct Shape {
    s_gcl grctx::*cell;
    unsigned size, step;
  };
  static const Shape shapes[] = {
      {&grctx::gr_int, 4, 32},   {&grctx::gr_dcb, sizeof(s_dcb), 16}, {&grctx::gr_stu, 2, 256},
      {&grctx::gr_ide, 1, 256},  {&grctx::gr_cla, 8, 64},             {&grctx::gr_cid, 24, 64},
      {&grctx::gr_la, 12, 32},   {&grctx::gr_exp, 24, 64},            {&grctx::gr_est, 8, 64},
      {&grctx::gr_ins, 28, 64},  {&grctx::gr_ist, 8, 64},             {&grctx::gr_dsc, 1, 256},
      {&grctx::gr_i64, 8, 16},   {&grctx::gr_com, 2, 256},            {&grctx::gr_ids, 1, 256},
  };
  for (const Shape& s : shapes) ini_cl(&(g->*s.cell), g->group, s.size, s.step, 0, 1);
}

int gc_ext(s_gcl* c, unsigned n) { return grow(c, n); }

int st_cel(s_gcl* c, const void* data, unsigned n) {
  if ((c->gc_flg & GCL_DEDUPE) && c->gc_nbr > 0) {
    std::size_t bytes = static_cast<std::size_t>(n) * c->gc_siz;
    for (unsigned i = 1; i + n - 1 <= c->gc_nbr; i++)
      if (std::memcmp(element(c, i), data, bytes) == 0) return static_cast<int>(i);
  }
  if (int st = grow(c, n); st < 0) return st;
  std::memcpy(element(c, c->gc_nbr + 1), data, static_cast<std::size_t>(n) * c->gc_siz);
  c->gc_nbr += n;
  return static_cast<int>(c->gc_nbr - n + 1);
}

int gcl_member(s_gcl* c, const void* data) {
  for (unsigned i = 1; i <= c->gc_nbr; i++)
    if (std::memcmp(element(c, i), data, c->gc_siz) == 0) return static_cast<int>(i);
  return 0;
}

void* gcl_get_element_at(s_gcl* c, unsigned i) { return i > c->gc_nbr || c->gc_ptr == nullptr ? nullptr : element(c, i); }

int gcl_remove_element_at(s_gcl* c, unsigned i, void* out) {
  if (i == 0 || i > c->gc_nbr) return err_vlx(kErrInternal, WHERE("gcl_remove_element_at"));
  if (out != nullptr) std::memcpy(out, element(c, i), c->gc_siz);
  std::memmove(element(c, i), element(c, i + 1), static_cast<std::size_t>(c->gc_nbr - i) * c->gc_siz);
  c->gc_nbr--;
  return 0;
}

int gcl_container_length(const s_gcl* c) { return static_cast<int>(c->gc_nbr); }

int stfint(grctx* g, std::int32_t value) { return st_cel(&g->gr_int, &value, 1); }
int stflargeint(grctx* g, std::int64_t value) { return st_cel(&g->gr_i64, &value, 1); }

int stfdcb(grctx* g, const s_dcb* value) {
  auto* pool = reinterpret_cast<const s_dcb*>(g->gr_dcb.gc_ptr);
  for (unsigned i = 1; i <= g->gr_dcb.gc_nbr; i++)
    if (dcbcmp(&pool[i], value) == 0) return static_cast<int>(i);
  return st_cel(&g->gr_dcb, value, 1);
}

int stfstu(grctx* g, const char16_t* text) { return store_string(&g->gr_stu, text, true); }

int stfstr(grctx* g, const char* utf8) {
  char16_t text[257];
  if (int st = utftoptu(text, utf8, 257); st < 0) return st;
  return stfstu(g, text);
}

int stfuuid(grctx* g, const unsigned char* uuid) {
  char text[37];
  char* p = text;
  for (int i = 0; i < 16; i++) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *p++ = '-';
    p += std::snprintf(p, 3, "%02x", uuid[i]);
  }
  return stfstr(g, text);
}

int stfComment(grctx* g, const char16_t* text) { return store_string(&g->gr_com, text, false); }

int stfstrcomment(grctx* g, const char* utf8) {
  char16_t text[257];
  if (int st = utftoptu(text, utf8, 257); st < 0) return st;
  return stfComment(g, text);
}

int gtfide(grctx* g, const char* name) {
  std::size_t n = std::strlen(name);
  if (n > kMaxIdentifier || g->gr_ids.gc_ptr == nullptr) return 0;
  char key[kMaxIdentifier + 3];
  key[0] = '@';
  std::memcpy(key + 1, name, n);
  key[n + 1] = '@';
  key[n + 2] = 0;
  const char* at = std::strstr(g->gr_ids.gc_ptr, key);
  return at == nullptr ? 0 : static_cast<int>(at - g->gr_ids.gc_ptr) + 1;
}

int stfide(grctx* g, const char* name) {
  std::size_t n = std::strlen(name);
  if (n > kMaxIdentifier) return err_vlx(kErrInternal, "stfide: identifier of %zu characters", n);
  if (int found = gtfide(g, name); found > 0) return found;
  s_gcl* ids = &g->gr_ids;
  if (ids->gc_ptr == nullptr) {
    if (int st = grow(ids, 1); st < 0) return st;
    ids->gc_ptr[0] = '@';
  }
  int index = st_cel(&g->gr_ide, name, static_cast<unsigned>(n) + 1);
  if (index < 0) return index;
  char mirrored[kMaxIdentifier + 1];
  std::memcpy(mirrored, name, n);
  mirrored[n] = '@';
  if (int st = st_cel(ids, mirrored, static_cast<unsigned>(n) + 1); st < 0) return st;
  ids->gc_ptr[ids->gc_nbr + 1] = 0;
  return index;
}

int stfcla(grctx* g, unsigned classNo, unsigned subclass) {
  s_cla entry{classNo, subclass};
  int found = gcl_member(&g->gr_cla, &entry);
  return found > 0 ? found : st_cel(&g->gr_cla, &entry, 1);
}

int stfcid(grctx* g, unsigned classNo, unsigned identifier) {
  for (unsigned i = 1; i <= g->gr_cid.gc_nbr; i++)
    if (gt_cid(g, i)->ci_class == classNo && gt_cid(g, i)->ci_iden == identifier) return static_cast<int>(i);
  s_cid entry{classNo, identifier, {}};
  return st_cel(&g->gr_cid, &entry, 1);
}

int stfexp(grctx* g, unsigned code, unsigned objectId, unsigned header, unsigned tail, unsigned type, unsigned next) {
  s_exp node{code, type, objectId, header, tail, next};
  return st_cel(&g->gr_exp, &node, 1);
}

int stfelb(grctx* g, unsigned l_id, unsigned l_no, unsigned l_mid) {
  s_lab entry{l_id, l_mid, l_no};
  return st_cel(&g->gr_la, &entry, 1);
}

int stfins(grctx* g, unsigned code, unsigned elt1, unsigned elt2, unsigned elt3, unsigned flag, unsigned next) {
  s_ins node{code, flag, next, elt1, elt2, elt3, 0};
  return st_cel(&g->gr_ins, &node, 1);
}

std::int32_t gt_int(grctx* g, unsigned i) {
  std::int32_t v;
  std::memcpy(&v, element(&g->gr_int, i), sizeof v);
  return v;
}

int gtecod(grctx* g, unsigned i) {
  s_exp* e = checked_exp(g, i, "gtecod");
  return e == nullptr ? -Vstat1 : static_cast<int>(e->code);
}
int gtephe(grctx* g, unsigned i) {
  s_exp* e = checked_exp(g, i, "gtephe");
  return e == nullptr ? -Vstat1 : static_cast<int>(e->header);
}
int gtepta(grctx* g, unsigned i) {
  s_exp* e = checked_exp(g, i, "gtepta");
  return e == nullptr ? -Vstat1 : static_cast<int>(e->tail);
}
int gtepnx(grctx* g, unsigned i) {
  s_exp* e = checked_exp(g, i, "gtepnx");
  return e == nullptr ? -Vstat1 : static_cast<int>(e->next);
}

int upetyp(grctx* g, unsigned i, unsigned type) {
  s_exp* e = checked_exp(g, i, "upetyp");
  return e == nullptr ? -Vstat1 : (e->type = type, 0);
}
int upephe(grctx* g, unsigned i, unsigned header) {
  s_exp* e = checked_exp(g, i, "upephe");
  return e == nullptr ? -Vstat1 : (e->header = header, 0);
}
int upepta(grctx* g, unsigned i, unsigned tail) {
  s_exp* e = checked_exp(g, i, "upepta");
  return e == nullptr ? -Vstat1 : (e->tail = tail, 0);
}

int upepnx(grctx* g, unsigned first, unsigned added) {
  unsigned count = g->gr_exp.gc_nbr;
  unsigned i = first;
  for (unsigned steps = 0;; steps++) {
    if (i == 0 || i > count || steps > count) return err_vlx(kErrInternal, "upepnx");
    s_exp* e = gt_exp(g, i);
    if (e->next == 0) {
      e->next = added;
      return static_cast<int>(i);
    }
    i = e->next;
  }
}

int gticod(grctx* g, unsigned i) {
  s_ins* n = checked_ins(g, i, "gticod");
  return n == nullptr ? -Vstat1 : static_cast<int>(n->code);
}
int upicod(grctx* g, unsigned i, unsigned code) {
  s_ins* n = checked_ins(g, i, "upicod");
  return n == nullptr ? -Vstat1 : (n->code = code, 0);
}
int upiflg(grctx* g, unsigned i, unsigned flag) {
  s_ins* n = checked_ins(g, i, "upiflg");
  return n == nullptr ? -Vstat1 : (n->flag = flag, 0);
}

int upinxt(grctx* g, unsigned first, unsigned added) {
  unsigned count = g->gr_ins.gc_nbr;
  if (first == 0 || first > count) return err_vlx(kErrInternal, "upinxt nxt:%i imx:%i bas:%i", first, count, first);
  s_ins* head = gt_ins(g, first);
  unsigned i = head->last != 0 ? head->last : first;
  for (unsigned steps = 0;; steps++) {
    if (i == 0 || i > count) return err_vlx(kErrInternal, "upinxt nxt:%i imx:%i bas:%i", i, count, first);
    if (steps > count) return err_vlx(kErrInternal, "upinxt cnt:%i imx:%i bas:%i", steps, count, first);
    s_ins* n = gt_ins(g, i);
    if (n->next == 0) {
      n->next = added;
      head->last = added;
      return static_cast<int>(i);
    }
    i = n->next;
  }
}

int gt_elen(grctx* g, unsigned first, int stopAtEmpty) {
  unsigned count = g->gr_exp.gc_nbr;
  int n = 0;
  for (unsigned i = first; i != 0; i = gt_exp(g, i)->next) {
    if (i > count || static_cast<unsigned>(n) >= count) return err_vlx(kErrInternal, WHERE("gt_elen"));
    if (stopAtEmpty && gt_exp(g, i)->code == 0) break;
    n++;
  }
  return n;
}

void posnod(grctx* g, unsigned instruction, int* line, int* character) {
  *line = *character = 0;
  if (g == nullptr || instruction == 0 || instruction > g->gr_ist.gc_nbr) return;
  *line = static_cast<int>(gt_ist(g, instruction)->t_line - gt_ist(g, 0)->t_line);
  *character = static_cast<int>(gt_ist(g, instruction)->t_char);
}

int Grammar_free(grctx* g) {
  if (g == nullptr) return 0;
  if (g->group == 0) return err_vlx(kErrInternal, "Grammar_free(%s)", g->name);
  unsigned group = g->group;
  log::trace(log::system, "Grammar_free group:%u", group);
  return adg_free(group);
}

int init_pt_exp(grctx* g, unsigned group) {
  std::memset(g, 0, sizeof *g);
  if (group == 0) group = adg_get(nullptr, nullptr, kGrpServer, "Init Analyseur Syntaxique");
  if (group == 0) return Vstat1 > 0 ? -Vstat1 : err_vlx(kErrNoMemory, "init_pt_exp");
  g->group = group;
  inigcl(g);
  return 0;
}

namespace {

int release(s_gcl* c) {
  int st = 0;
  if (c->gc_ptr != nullptr && c->gc_grp != 0 && c->gc_cmx != 0) st = adg_memfree(c->gc_grp, c->gc_ptr);
  c->gc_ptr = nullptr;
  c->gc_cmx = c->gc_nbr = 0;
  return st;
}

}  // namespace

int calclb(grctx* g) {
  int st = 0;
  for (s_gcl* c : {&g->gr_exp, &g->gr_int, &g->gr_dcb, &g->gr_stu, &g->gr_ide, &g->gr_est, &g->gr_cla, &g->gr_cid,
                   &g->gr_i64}) {
    int r = release(c);
    if (st == 0) st = r;
  }
  return st;
}

void gram_drop::operator()(grctx* g) const {
  unsigned group = g->group;
  gramlb(g);
  adg_memfree(group, g);
}

int gramlb(grctx* g) {
  int st = 0;
  // Also the cells calclb leaves and the instructions' do not name: a
  // received grammar's identifier section is decoded into gr_ids, and a
  // record released without them left those bytes in its group.
  for (s_gcl* c : {&g->gr_ins, &g->gr_ist, &g->gr_la, &g->gr_dsc, &g->gr_com, &g->gr_ids}) {
    int r = release(c);
    if (st == 0) st = r;
  }
  int r = calclb(g);
  std::memset(g, 0, sizeof *g);
  return st < 0 ? st : r;
}

#include "variables/varsys.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/bigend.h"
#include "diagnostics/vlxerr.h"

namespace {

// The run-time bytes of a gr_cid entry: where its variable was found. The
// index holds while the class has as many variables (none is removed).
struct Found {
  std::uint32_t cls, stamp, index, count;
};
static_assert(sizeof(Found) == sizeof(s_cid::runtime));

// Identifier `i` of g, at most kVarName characters, within the pool.
bool identifier(grctx* g, unsigned i, char* out) {
  if (i == 0 || i > g->gr_ide.gc_nbr || g->gr_ide.gc_ptr == nullptr) return false;
  std::size_t room = g->gr_ide.gc_nbr + 1 - i;
  std::size_t n = strnlen(gt_cide(g, i), std::min<std::size_t>(room, kVarName));
  std::memcpy(out, gt_cide(g, i), n);
  out[n] = 0;
  return true;
}

// The plain descriptor of a variable behind an accessor, for the accessor
// to reach its own bytes.
varan plain(const varan* v) {
  varan p = *v;
  p.accessor = nullptr;
  p.flags = 0;
  return p;
}

int bytes_of(varan* v, const short* indexes, int nindexes, char mode, unsigned char** at) {
  varan p = plain(v);
  *at = recup_var(&p, indexes, nindexes, mode);
  return *at != nullptr ? 0 : err_vlx(6, "%.64s", v->name);
}

}  // namespace

int io_rds(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other) {
  if (get_io_mode(value, other) != 'r') return err_vlx(62, "%.64s", v->name);
  unsigned char* at = nullptr;
  if (int st = bytes_of(v, indexes, nindexes, 'r', &at); st < 0) return st;
  return vad2rs(value, at, nullptr, LSINT, 0, 0);
}

int io_ibm(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other) {
  unsigned char* at = nullptr;
  switch (get_io_mode(value, other)) {
    case 'r':
      if (int st = bytes_of(v, indexes, nindexes, 'r', &at); st < 0) return st;
      return vad2rs(value, at, nullptr, LDCBIBM, v->size, 0);
    case 'w':
      if (int st = bytes_of(v, indexes, nindexes, 'w', &at); st < 0) return st;
      return rs2vad(at, nullptr, LDCBIBM, v->size, value, 0);
    default: {
      // Called with the dimensions when the variable is made, without
      // indexes to reset it whole.
      if (nindexes == 0 && v->ndim > 1) return err_vlx(26, "io_ibm");
      varan p = plain(v);
      if (int st = raz_var(&p); st < 0) return st;
      if (dynamic_or_static(v)) return 0;
      int width = stored_size(LDCBIBM, v->size);
      long long elements = width > 0 ? sizofvar(&p) / width : 0;
      if (elements > 0 && (at = recup_var(&p, nullptr, 0, 'w')) == nullptr) return err_vlx(6, "%.64s", v->name);
      for (long long i = 0; i < elements; ++i) at[(i + 1) * width - 1] = 12;
      return 0;
    }
  }
}

int io_updtick_f(varan* v, const short* indexes, int nindexes, res_u* value, res_u* other) {
  unsigned char* at = nullptr;
  switch (get_io_mode(value, other)) {
    case 'r':
      if (int st = bytes_of(v, indexes, nindexes, 'r', &at); st < 0) return st;
      return vad2rs(value, at, nullptr, v->type, v->size, 0);
    case 'w':
      return 0;
    default: {
      varan p = plain(v);
      return raz_var(&p);
    }
  }
}

int cre_FG(unsigned group, const char* name, int slot, const s_fgfld* fields, int count, cbu_ref record) {
  count = std::max(count, 0);
  // A field is named as declared, else (no name, or a name an earlier
  // field took) by its number; one whose number is taken too is left out.
  std::vector<std::string> names(static_cast<std::size_t>(count));
  std::vector<int> order;
  order.reserve(names.size());
  std::set<std::string, std::less<>> taken{kFgSlot, kFgFields, kFgReads};
  for (int i = 0; i < count; ++i) {
    std::string declared = fields[i].name != nullptr ? std::string(fields[i].name).substr(0, kVarName) : "";
    std::string numbered = "F" + std::to_string(i + 1);
    std::string& chosen = names[static_cast<std::size_t>(i)];
    chosen = !declared.empty() && !taken.count(declared) ? declared : !taken.count(numbered) ? numbered : "";
    if (chosen.empty()) continue;
    taken.insert(chosen);
    order.push_back(i);
  }
  // In name order every variable goes at the end of the sorted table.
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return names[static_cast<std::size_t>(a)] < names[static_cast<std::size_t>(b)];
  });
  // The properties fill the value buffer: a table class never grows.
  int cls = gen_class(group, name, slot, 8, static_cast<int>(order.size()) + 3, 0);
  if (cls < 0) return cls;
  s_varopt readOnly;
  readOnly.flags = kVarReadOnly;
  varan* v = nullptr;
  int st = cre_vet(cls, kFgSlot, LSINT, 0, io_rds, &readOnly, &v);
  if (st >= 0) {
    put_be16(cbu_bu(cls_ptr(cls)->values) + v->offset, static_cast<unsigned>(slot));
    st = cre_vet(cls, kFgFields, LSINT, 0, io_rds, &readOnly, &v);
  }
  if (st >= 0) {
    put_be16(cbu_bu(cls_ptr(cls)->values) + v->offset, static_cast<unsigned>(count));
    st = cre_vet(cls, kFgReads, LINTG, 0, io_updtick_f);
  }
  for (std::size_t k = 0; k < order.size() && st >= 0; ++k) {
    const s_fgfld& f = fields[order[k]];
    s_varopt field;
    field.buffer = record;
    field.offset = f.offset;
    field.flags = kVarReadOnly;
    field.attr1 = static_cast<std::uint16_t>(order[k] + 1);
    field.attr2 = static_cast<std::uint16_t>(f.scale);
    st = cre_var(cls, names[static_cast<std::size_t>(order[k])].c_str(), f.type, f.length, nullptr, nullptr, 0,
                 nullptr, &field);
  }
  if (st < 0) {
    cla_free(cls);
    return st;
  }
  return cls;
}

unsigned char* fg_counter(int cls) {
  varan* v = nullptr;
  if (test_var(cls, kFgReads, &v) == 0) return nullptr;
  varan p = plain(v);
  return recup_var(&p, nullptr, 0, 'w');
}

int give_var(grctx* g, unsigned cid, int deflt, varan** out) {
  if (cid == 0 || cid > g->gr_cid.gc_nbr) return err_vlx(26, "give_var cid:%u", cid);
  s_cid* entry = gt_cid(g, cid);
  Found found;
  std::memcpy(&found, entry->runtime, sizeof found);
  s_cls* c = found.cls != 0 ? cls_ptr(static_cast<int>(found.cls)) : nullptr;
  if (c != nullptr && c->stamp == found.stamp && c->varCount == found.count && found.index < c->varCount) {
    *out = &c->vars[found.index];
    return 0;
  }
  char className[kClassName + 1], name[kVarName + 1];
  unsigned reference = entry->ci_class;
  if (reference == 0 || reference > g->gr_cla.gc_nbr || !identifier(g, gt_cla(g, reference)->ca_class, className))
    return err_vlx(26, "give_var class:%u", reference);
  if (!identifier(g, entry->ci_iden, name)) return err_vlx(26, "give_var iden:%u", entry->ci_iden);
  int cls = cla_find(className);
  if (cls == 0) return err_vlx(7, "%s", className);
  c = cls_ptr(cls);
  int index = ozone(c, name);
  if (index < 0) {
    if (!deflt) return err_vlx(6, "%s", name);
    s_varopt option;
    option.flags = kVarDefault;
    if (int st = cre_var(cls, name, LDCB, 0, nullptr, nullptr, 0, nullptr, &option); st < 0) return st;
    index = ozone(c, name);
  }
  found = Found{static_cast<std::uint32_t>(cls), c->stamp, static_cast<std::uint32_t>(index), c->varCount};
  std::memcpy(entry->runtime, &found, sizeof found);
  *out = &c->vars[index];
  return 0;
}

int varia_g(res_u* result, grctx* g, s_exp* node, int code) {
  (void)code;
  varan* v = nullptr;
  if (int st = give_var(g, node->objectId, 0, &v); st < 0) return st;
  char name[kVarName + 1];
  std::memcpy(name, v->name, sizeof name);
  short indexes[kMaxDims];
  int n = 0;
  for (unsigned i = node->header; i != 0;) {
    if (n == kMaxDims) return err_vlx(55, "%s", name);
    int index = 0;
    if (int st = evaint(g, i, &index); st < 0) return st;
    if (index < SHRT_MIN || index > SHRT_MAX) return err_vlx(8, "%s(%d)", name, index);
    indexes[n++] = static_cast<short>(index);
    int next = gtepnx(g, i);
    if (next < 0) return next;
    i = static_cast<unsigned>(next);
  }
  // The indexes' own evaluation may have moved the descriptor.
  if (n > 0)
    if (int st = give_var(g, node->objectId, 0, &v); st < 0) return st;
  return get_value(v, indexes, n, result);
}

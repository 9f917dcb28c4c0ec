#include "variables/varcla.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

s_clent* Class;
unsigned Maxcls;
int Vclits = 32;
int Vclibm = 1024;

namespace {

constexpr unsigned kClassStep = 64;
constexpr unsigned kDimStep = 32;
constexpr int kMinDims = 10;

// Like the other slot tables, a process global outside the memory groups.
std::vector<s_clent> Classes;
std::uint32_t Stamps;

int name_cmp(const char* a, const char* b) { return std::strncmp(a, b, kVarName); }

bool entry_alive(const s_clent& e) { return e.cls != nullptr && adg_if(e.group) != 0; }

// The lowest number whose class is gone, the table growing when all live.
int free_number() {
  for (unsigned n = 1; n < Maxcls; ++n) {
    s_clent& e = Class[n];
    if (entry_alive(e)) continue;
    if (e.values != 0 && cbu_if(e.values) != 0) cbu_free(e.values);
    e = s_clent{};
    return static_cast<int>(n);
  }
  if (Maxcls >= kMaxClasses) return err_vlx(31, "gen_class: %u classes", Maxcls);
  unsigned first = Maxcls == 0 ? 1 : Maxcls;
  try {
    Classes.resize(std::min<unsigned>(Maxcls + kClassStep, kMaxClasses));
  } catch (const std::bad_alloc&) {
    return err_vlx(31, "gen_class");
  }
  Class = Classes.data();
  Maxcls = static_cast<unsigned>(Classes.size());
  return static_cast<int>(first);
}

// Chains records first..last onto the free list.
void free_dims(s_cls* c, unsigned first, unsigned last) {
  for (unsigned r = last; r >= first; --r) {
    c->dims[r] = s_dim{0, 0, c->dimFree};
    c->dimFree = static_cast<std::uint16_t>(r);
  }
}

// Makes room for n more dimension records on the free list.
int dim_reserve(s_cls* c, int n) {
  int free = 0;
  for (unsigned r = c->dimFree; r != 0 && free < n; r = c->dims[r].next) ++free;
  if (free >= n) return 0;
  unsigned grown = c->dimCount + kDimStep;
  if (grown > 0xFFFF) return err_vlx(31, "[%s]", c->name);
  void* table = adg_realloc(c->group, c->dims, (grown + 1) * sizeof(s_dim));
  if (table == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "[%s]", c->name);
  c->dims = static_cast<s_dim*>(table);
  free_dims(c, c->dimCount + 1u, grown);
  c->dimCount = static_cast<std::uint16_t>(grown);
  return 0;
}

// Records the dimensions of v, taking records from the free list, the last
// dimension first. REQUIRES: dim_reserve(c, ndim) when ndim > 1.
void setdim(s_cls* c, varan* v, const short* dims, const short* lowerBounds, int ndim) {
  v->ndim = static_cast<std::uint8_t>(std::max(ndim, 1));
  if (ndim <= 1) {
    v->dim = ndim == 1 ? dims[0] : 0;
    v->lowerBound = ndim == 1 && lowerBounds != nullptr ? lowerBounds[0] : 0;
    return;
  }
  std::uint16_t next = 0;
  for (int k = ndim - 1; k >= 0; --k) {
    std::uint16_t r = c->dimFree;
    c->dimFree = c->dims[r].next;
    c->dims[r] = s_dim{lowerBounds != nullptr ? lowerBounds[k] : static_cast<std::int16_t>(0),
                       static_cast<std::uint16_t>(dims[k]), next};
    next = r;
  }
  v->dim = static_cast<std::int16_t>(next);
  v->lowerBound = 0;
}

// Takes the variable at `index` out again (its initialisation failed).
void unlink_var(s_cls* c, int index) {
  varan* v = &c->vars[index];
  if (v->ndim > 1)
    for (unsigned r = static_cast<std::uint16_t>(v->dim), next; r != 0; r = next) {
      next = c->dims[r].next;
      c->dims[r] = s_dim{0, 0, c->dimFree};
      c->dimFree = static_cast<std::uint16_t>(r);
    }
  if (v->name[0] == '~' && c->tildeCount > 0) --c->tildeCount;
  std::memmove(v, v + 1, static_cast<std::size_t>(c->varCount - index - 1) * sizeof(varan));
  --c->varCount;
}

int create(int cls, const char* name, int type, int length, const short* dims, const short* lowerBounds, int ndim,
           var_accessor accessor, const s_varopt* opt, bool initialise, varan** out) {
  s_cls* c = cls_ptr(cls);
  if (c == nullptr) return err_vlx(7, VLX_WHERE("src/varcla", 226, "cre_var"));
  if (name == nullptr) return err_vlx(26, "cre_var: no name");
  int found = ozone(c, name);
  if (found >= 0) return err_vlx(61, "%.64s", name);
  int insert = -1 - found;
  // Beyond 4 dimensions only the 1-byte placeholder (text of length 0).
  bool placeholder = ndim > kMaxDims && type == LSTRG && length == 0;
  if (ndim < 0 || (ndim > kMaxDims && !placeholder) || (ndim > 0 && dims == nullptr)) return err_vlx(8, "%.64s", name);
  if (placeholder) ndim = 0;
  for (int k = 0; k < ndim; ++k)
    if (dims[k] < 0) return err_vlx(8, "%.64s", name);
  if (length < 0 || length > 0xFFFF) return err_vlx(26, "cre_var %.64s: length %d", name, length);
  bool own = opt != nullptr && opt->buffer != 0;
  if (own && cbu_if(opt->buffer) == 0) return err_vlx(133, "%.64s", name);
  bool dynamic = ndim > 0 && dims[0] == kDynamic;
  long long size = placeholder ? 1 : dynamic ? 4 : nboct(type, length, dims, ndim);
  if (size < 0) return err_vlx(31, "[%s]", c->name);
  if (own) size = 0;

  // Room in the value buffer: the one change a failure leaves behind.
  if (c->bufUsed + static_cast<unsigned long long>(size) > c->bufSize) {
    if (c->extensible == 0) return err_vlx(31, "[%s]", c->name);
    unsigned long long step = static_cast<unsigned long long>(std::max(Vclibm, 1));
    unsigned long long grown = (c->bufUsed + static_cast<unsigned long long>(size) + step - 1) / step * step;
    if (grown > 0xFFFFFFFFull) return err_vlx(31, "[%s]", c->name);
    int st = c->values == 0 ? cbu_new(1, c->group, static_cast<unsigned>(grown), &c->values, "Class (bv_ext)")
                            : cbu_realloc(c->values, static_cast<unsigned>(grown));
    if (st < 0) return st;
    Class[cls].values = c->values;
    c->bufSize = static_cast<std::uint32_t>(grown);
  }
  if (ndim > 1)
    if (int st = dim_reserve(c, ndim); st < 0) return st;
  if (c->varCount == c->varCapacity) {
    if (c->extensible == 0) return err_vlx(31, "%s", c->name);
    unsigned grown = c->varCapacity + static_cast<unsigned>(std::max(Vclits, 1));
    if (grown > 0xFFFF) return err_vlx(31, "%s", c->name);
    void* table = c->vars == nullptr ? adg_malloc(c->group, grown * sizeof(varan))
                                     : adg_realloc(c->group, c->vars, grown * sizeof(varan));
    if (table == nullptr) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "%s", c->name);
    c->vars = static_cast<varan*>(table);
    c->varCapacity = static_cast<std::uint16_t>(grown);
  }

  varan* v = &c->vars[insert];
  std::memmove(v + 1, v, static_cast<std::size_t>(c->varCount - insert) * sizeof(varan));
  *v = varan{};
  std::snprintf(v->name, sizeof v->name, "%s", name);
  v->type = static_cast<std::uint16_t>(type);
  v->length = static_cast<std::uint8_t>(std::min(length, 255));
  v->size = static_cast<std::uint16_t>(placeholder ? 1 : length);
  v->classNo = static_cast<std::uint16_t>(cls);
  v->accessor = accessor;
  setdim(c, v, dims, lowerBounds, ndim);
  if (own) {
    v->buffer = opt->buffer;
    v->offset = opt->offset;
  } else {
    v->offset = c->bufUsed;
  }
  if (opt != nullptr) v->flags = opt->flags, v->attr1 = opt->attr1, v->attr2 = opt->attr2;
  ++c->varCount;
  c->bufUsed += static_cast<std::uint32_t>(size);
  if (v->name[0] == '~' && c->tildeCount < 255) ++c->tildeCount;

  if (!own && size > 0) std::memset(cbu_bu(c->values) + v->offset, 0, static_cast<std::size_t>(size));
  if (accessor != nullptr && initialise) {
    int st = accessor(v, dims, ndim, nullptr, nullptr);
    if (st < 0) {
      unlink_var(c, insert);
      c->bufUsed -= static_cast<std::uint32_t>(size);
      return st;
    }
  }
  if (out != nullptr) *out = v;
  return 0;
}

}  // namespace

int gen_class(unsigned group, const char* name, int family, unsigned bufSize, int varCapacity, int extensible,
              int parent) {
  if (adg_if(group) == 0 || name == nullptr) return err_vlx(26, "gen_class: group %u", group);
  if (varCapacity > 0xFFFF) return err_vlx(26, "gen_class: %d variables", varCapacity);
  int number = free_number();
  if (number < 0) return number;
  auto* c = static_cast<s_cls*>(adg_malloc(group, sizeof(s_cls)));
  int capacity = std::max(varCapacity, 0);
  unsigned dimCount = static_cast<unsigned>(std::max(kMinDims, capacity));
  if (c != nullptr) {
    *c = s_cls{};
    c->vars = capacity > 0 ? static_cast<varan*>(adg_malloc(group, static_cast<std::size_t>(capacity) * sizeof(varan))) : nullptr;
    c->dims = static_cast<s_dim*>(adg_malloc(group, (dimCount + 1) * sizeof(s_dim)));
  }
  int st = c == nullptr || (capacity > 0 && c->vars == nullptr) || c->dims == nullptr
               ? (Vstat1 > 0 ? -Vstat1 : err_vlx(31, "gen_class"))
               : 0;
  if (st == 0 && bufSize > 0) {
    char description[128];
    std::snprintf(description, sizeof description, "Class %.64s,fam:%i", name, family);
    st = cbu_new(1, group, bufSize, &c->values, description);
  }
  if (st < 0) {
    if (c != nullptr) {
      if (c->vars != nullptr) adg_memfree(group, c->vars);
      if (c->dims != nullptr) adg_memfree(group, c->dims);
      adg_memfree(group, c);
    }
    return st;
  }
  std::snprintf(c->name, sizeof c->name, "%s", name);
  c->group = group;
  c->number = static_cast<std::uint16_t>(number);
  c->family = static_cast<std::uint32_t>(family);
  c->stamp = ++Stamps;
  c->parent = static_cast<std::uint16_t>(parent > 0 && parent < kMaxClasses ? parent : 0);
  c->extensible = extensible != 0;
  c->bufSize = c->values != 0 ? bufSize : 0;
  c->varCapacity = static_cast<std::uint16_t>(capacity);
  c->dimCount = static_cast<std::uint16_t>(dimCount);
  free_dims(c, 1, dimCount);
  Class[number] = s_clent{c, group, c->values};
  return number;
}

int cla_free(int cls) {
  s_cls* c = cls_ptr(cls);
  if (c == nullptr) return err_vlx(7, "cla_free %d", cls);
  unsigned group = c->group;
  if (c->values != 0) cbu_free(c->values);
  if (c->vars != nullptr) adg_memfree(group, c->vars);
  adg_memfree(group, c->dims);
  adg_memfree(group, c);
  Class[cls] = s_clent{};
  return 0;
}

s_cls* cls_ptr(int number) {
  if (number <= 0 || static_cast<unsigned>(number) >= Maxcls) return nullptr;
  const s_clent& e = Class[number];
  return entry_alive(e) && adg_ikeep(e.group) > 0 ? e.cls : nullptr;
}

int cla_find(const char* name) {
  for (unsigned n = 1; n < Maxcls; ++n) {
    s_cls* c = cls_ptr(static_cast<int>(n));
    if (c != nullptr && std::strncmp(c->name, name, kClassName) == 0) return static_cast<int>(n);
  }
  return 0;
}

int cre_var(int cls, const char* name, int type, int length, const short* dims, const short* lowerBounds, int ndim,
            var_accessor accessor, const s_varopt* opt, varan** out) {
  return create(cls, name, type, length, dims, lowerBounds, ndim, accessor, opt, true, out);
}

int cre_vet(int cls, const char* name, int type, int length, var_accessor accessor, const s_varopt* opt, varan** out) {
  return create(cls, name, type, length, nullptr, nullptr, 0, accessor, opt, false, out);
}

int ozone(const s_cls* c, const char* name) {
  int low = 0, high = c->varCount;
  while (low < high) {
    int middle = (low + high) / 2;
    int order = name_cmp(c->vars[middle].name, name);
    if (order == 0) return middle;
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return -1 - low;
}

int test_var(int cls, const char* name, varan** out) {
  s_cls* c = cls_ptr(cls);
  int found = c != nullptr && name != nullptr ? ozone(c, name) : -1;
  if (found < 0) return 0;
  *out = &c->vars[found];
  return 1;
}

varan* cher_var(int cls, const char* name) {
  varan* v = nullptr;
  if (test_var(cls, name, &v) == 0) err_vlx(6, "%.64s", name != nullptr ? name : "");
  return v;
}

int raz_class(int cls) {
  s_cls* c = cls_ptr(cls);
  if (c == nullptr) return err_vlx(26, "raz_class");
  int first = 0;
  for (int i = 0; i < c->varCount; ++i) {
    if (c->vars[i].flags & kVarReadOnly) continue;
    int st = raz_var(&c->vars[i]);
    if (st < 0 && first == 0) first = st;
  }
  return first;
}

long long cl_inf(int cls, int what) {
  s_cls* c = cls < kInfoClasses ? cls_ptr(cls) : nullptr;
  if (c == nullptr) return 0;
  switch (what) {
    case 1: return c->varCount;
    case 2: return c->varCapacity;
    case 4: return adg_siz(c->group);
    case 5: return c->bufUsed;
    case 6: return c->bufSize;
    case 7: return c->family;
    case 8: return c->tildeCount;
    case 9: return c->extensible;
    case 10: return c->parent;
    default: return 0;
  }
}

const char* cla_abv(int cls) {
  s_cls* c = cls < kInfoClasses ? cls_ptr(cls) : nullptr;
  return c != nullptr ? c->name : "";
}

int cla_ref(int cls, res_u* out) {
  s_cls* c = cls_ptr(cls);
  if (c == nullptr) return err_vlx(7, "cla_ref %d", cls);
  res_drop(out);
  out->rs_type = LREF;
  out->rs_ref = c;
  out->rs_refx = static_cast<std::uint64_t>(c->group) << 32 | static_cast<unsigned>(cls);
  return 0;
}

s_cls* cla_of_word(std::uint64_t word) {
  unsigned number = static_cast<unsigned>(word & 0xFFFFFFFF);
  if (number == 0 || number >= Maxcls || Class[number].group != static_cast<std::uint32_t>(word >> 32)) return nullptr;
  return cls_ptr(static_cast<int>(number));
}

int cla_of_ref(const res_u* v) {
  s_cls* c = v->rs_type == LREF ? cla_of_word(v->rs_refx) : nullptr;
  return c != nullptr ? c->number : 0;
}

bool cla_derives(int number, int base) {
  for (unsigned steps = 0; number != 0 && steps <= Maxcls; ++steps) {
    if (number == base) return true;
    s_cls* c = cls_ptr(number);
    if (c == nullptr) return false;
    number = c->parent;
  }
  return false;
}

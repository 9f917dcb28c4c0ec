#include "functions/afnsum.h"

#include <climits>

#include "diagnostics/vlxerr.h"
#include "functions/fnargs.h"
#include "memory/vlxcalls.h"
#include "variables/varsys.h"

#define MISPLACED(fn) err_vlx(kErrInternal, VLX_WHERE("src/functions/afnsum", __LINE__, fn))

namespace {

// The code of the "=" in sigma's "variable = first".
constexpr unsigned kBinding = 271;
// uni's table of the values seen grows by this many entries.
constexpr int kUniGrowth = 50;

// The order of a against b as cmp_exp gives it, without converting either.
int order_of(const res_u* a, const res_u* b, int* order) {
  // Values of one type compare as they are.
  if (a->rs_type == b->rs_type) return cmp_exp(const_cast<res_u*>(a), const_cast<res_u*>(b), order);
  res_u x, y;
  res_temp(&x);
  res_temp(&y);
  int st = rescpy(&x, a);
  if (st >= 0) st = rescpy(&y, b);
  if (st >= 0) st = cmp_exp(&x, &y, order);
  fn_drop(&x);
  fn_drop(&y);
  return st;
}

// The state of an aggregate over its list. A step returns 0 to go on, 1 to
// stop, or a negated error.
struct s_sum {
  int code;
  int count = 0;     // values seen
  int found = 0;     // find, uni: the position found
  res_u acc;         // sum, product, smallest, largest, find's key
  res_u squares;     // var
  unsigned group = 0;  // uni's table of the values seen
  res_u** seen = nullptr;
  int room = 0;

  explicit s_sum(int c) : code(c) {
    res_zero(&acc);
    res_zero(&squares);
  }
  ~s_sum() {
    fn_drop(&acc);
    fn_drop(&squares);
    for (int i = 0; seen != nullptr && i < count; ++i) fn_drop(seen[i]);
    if (group != 0) adg_free(group);
  }
};

int sumcalc(s_sum* s, res_u* v) { return s->count == 0 ? rescpy(&s->acc, v) : add_exp(&s->acc, v); }
int prdcalc(s_sum* s, res_u* v) { return s->count == 0 ? rescpy(&s->acc, v) : mul_exp(&s->acc, v); }

int extremecalc(s_sum* s, res_u* v, int keep) {
  if (s->count == 0) return rescpy(&s->acc, v);
  int order = 0;
  if (int st = order_of(v, &s->acc, &order); st < 0) return st;
  return order == keep ? rescpy(&s->acc, v) : 0;
}

// Sums of the values and of their squares, in decimals or doubles.
int varcalc(s_sum* s, res_u* v) {
  if (!is_number(v->rs_type)) return fn_fail(kErrCalcMode, s->code);
  int st = v->rs_type == LFLT || v->rs_type == LDBLE ? convdbl(v) : convdcb(v);
  res_u square;
  res_temp(&square);
  if (st >= 0) st = rescpy(&square, v);
  if (st >= 0) st = mul_exp(&square, v);
  if (st >= 0) st = s->count == 0 ? rescpy(&s->squares, &square) : add_exp(&s->squares, &square);
  if (st >= 0) st = sumcalc(s, v);
  fn_drop(&square);
  return st;
}

int findcalc(s_sum* s, res_u* v) {
  if (s->count == 0) return rescpy(&s->acc, v);
  int order = 0;
  if (int st = order_of(&s->acc, v, &order); st < 0) return st;
  if (order != 0) return 0;
  s->found = s->count;
  return 1;
}

int unicalc(s_sum* s, res_u* v) {
  for (int i = 0; i < s->count; ++i) {
    int order = 0;
    if (int st = order_of(s->seen[i], v, &order); st < 0) return st;
    if (order == 0) {
      s->found = s->count + 1;
      return 1;
    }
  }
  if (s->count == s->room) {
    if (s->group == 0) s->group = adg_get(nullptr, nullptr, 6, "uni");
    if (s->group == 0) return -Vstat1;
    std::size_t bytes = sizeof(res_u*) * static_cast<std::size_t>(s->room + kUniGrowth);
    void* table = s->seen == nullptr ? adg_malloc(s->group, bytes) : adg_realloc(s->group, s->seen, bytes);
    if (table == nullptr) return -Vstat1;
    s->seen = static_cast<res_u**>(table);
    s->room += kUniGrowth;
  }
  // Each entry stays where it is made: a value holding a string points
  // into itself.
  auto* entry = static_cast<res_u*>(adg_malloc(s->group, sizeof(res_u)));
  if (entry == nullptr) return -Vstat1;
  res_zero(entry);
  if (int st = rescpy(entry, v); st < 0) {
    fn_drop(entry);
    return st;
  }
  s->seen[s->count] = entry;
  return 0;
}

int step(s_sum* s, res_u* v) {
  int st;
  switch (s->code) {
    case kFnSum: case kFnAvg: st = sumcalc(s, v); break;
    case kFnPrd: st = prdcalc(s, v); break;
    case kFnMin: st = extremecalc(s, v, -1); break;
    case kFnMax: st = extremecalc(s, v, 1); break;
    case kFnVar: st = varcalc(s, v); break;
    case kFnFind: st = findcalc(s, v); break;
    default: st = unicalc(s, v); break;
  }
  if (st == 0) s->count++;
  return st;
}

// The elements of the variable that gr_cid entry `cid` names, in order.
int each_element(grctx* g, unsigned cid, s_sum* s) {
  varan* var = nullptr;
  if (int st = give_var(g, cid, 0, &var); st < 0) return st;
  int count = var_elements(var);
  if (count < 0) return count;
  for (int i = 0; i < count; ++i) {
    res_u value;
    res_zero(&value);
    int st = get_element(var, i, &value);
    if (st >= 0) st = step(s, &value);
    fn_drop(&value);
    if (st != 0) return st;
  }
  return 0;
}

// Runs the aggregate's step over every value of the list that starts at
// node `first`.
int lispro(grctx* g, unsigned first, s_sum* s) {
  unsigned links = 0;
  for (unsigned i = first; i != 0; i = gt_exp(g, i)->next) {
    // A list longer than the grammar's nodes loops.
    if (i > g->gr_exp.gc_nbr || ++links > g->gr_exp.gc_nbr) return err_vlx(kErrInternal, "lispro %u", i);
    const s_exp* e = gt_exp(g, i);
    int st;
    if (e->code == kVariaCode && e->header == 0) {
      st = each_element(g, e->objectId, s);
    } else {
      res_u value;
      res_temp(&value);
      st = calcul(&value, g, i);
      if (st >= 0) st = step(s, &value);
      fn_drop(&value);
    }
    if (st != 0) return st < 0 ? st : 0;
  }
  return 0;
}

// var from the two sums: mean of the squares less the square of the mean,
// never below 0 (rounding).
int variance(s_sum* s, res_u* result) {
  res_u n, mean;
  res_temp(&n);
  res_temp(&mean);
  n.rs_type = LINTG;
  n.rs_int = s->count;
  int st = div_exp(&s->squares, &n);
  if (st >= 0) st = rescpy(&mean, &s->acc);
  if (st >= 0) st = div_exp(&mean, &n);
  if (st >= 0) st = rescpy(&s->acc, &mean);
  if (st >= 0) st = mul_exp(&mean, &s->acc);
  if (st >= 0) st = sub_exp(&s->squares, &mean);
  if (st >= 0) {
    bool negative = s->squares.rs_type == LDCB ? dcbsgn(&s->squares.rs_dcb) < 0 : s->squares.rs_dbl < 0;
    if (negative) fn_int(&s->squares, 0);
    st = rescpy(result, &s->squares);
  }
  fn_drop(&mean);
  return st;
}

}  // namespace

int fnsum(res_u* result, grctx* g, s_exp* call, int code) {
  if (code < kFnMin || code > kFnVar) return MISPLACED("fnsum");
  s_sum s(code);
  if (int st = lispro(g, call->header, &s); st < 0) return st;
  if (s.count == 0) {
    fn_int(result, code == kFnPrd ? 1 : 0);
    return 0;
  }
  if (code == kFnVar) return variance(&s, result);
  if (code == kFnAvg) {
    res_u n;
    res_temp(&n);
    n.rs_type = LINTG;
    n.rs_int = s.count;
    if (int st = div_exp(&s.acc, &n); st < 0) return st;
  }
  return rescpy(result, &s.acc);
}

int fnfind(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnFind && code != kFnUni) return MISPLACED("fnfind");
  s_sum s(code);
  if (int st = lispro(g, call->header, &s); st < 0) return st;
  fn_int(result, s.found);
  return 0;
}

int fnsigma(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnSigma) return MISPLACED("fnsigma");
  unsigned args[4];
  int n = fn_args(g, call, code, 3, 4, args);
  if (n < 0) return n;
  unsigned variable = 0, bounds[2], term = args[n - 1];
  const s_exp* first = gt_exp(g, args[0]);
  if (n == 3 && first->code == kBinding && first->header >= 1 && first->header <= g->gr_exp.gc_nbr) {
    variable = first->header;
    bounds[0] = first->tail;
    bounds[1] = args[1];
  } else if (n == 4) {
    variable = args[0];
    bounds[0] = args[1];
    bounds[1] = args[2];
  }
  // A variable without indexes.
  if (variable == 0 || gt_exp(g, variable)->code != kVariaCode || gt_exp(g, variable)->header != 0)
    return fn_fail(kErrCalcMode, code);
  unsigned cid = gt_exp(g, variable)->objectId;
  std::int64_t from = 0, to = 0;
  bool fits = true;
  if (int st = fn_count(g, bounds[0], code, &from, &fits); st < 0) return st;
  if (fits)
    if (int st = fn_count(g, bounds[1], code, &to, &fits); st < 0) return st;
  if (!fits || from < INT_MIN || from > INT_MAX || to < INT_MIN || to > INT_MAX)
    return err_vlx(kErrOverflow, "%s", fn_name(code));
  if (to - from >= kSigmaSteps) return err_vlx(kErrOverflow, "%s: %lld steps", fn_name(code), static_cast<long long>(to - from + 1));
  s_sum s(kFnSum);
  for (std::int64_t i = from; i <= to; ++i) {
    varan* var = nullptr;
    if (int st = give_var(g, cid, 1, &var); st < 0) return st;
    res_u counter;
    res_temp(&counter);
    counter.rs_type = LINTG;
    counter.rs_int = i;
    if (int st = assign(var, nullptr, 0, &counter); st < 0) return st;
    res_u value;
    res_temp(&value);
    int st = calcul(&value, g, term);
    if (st >= 0) st = step(&s, &value);
    fn_drop(&value);
    if (st < 0) return st;
  }
  if (s.count == 0) {
    fn_int(result, 0);
    return 0;
  }
  return rescpy(result, &s.acc);
}

#include "calc/acalc.h"

#include <cstring>

#include "diagnostics/vlxerr.h"
#include "grammar/toktab.h"

#define WHERE(fn) VLX_WHERE("src/calc/acalc", __LINE__, fn)

calc_fn Obef[kCodes];
calc_fn* Calculator = Obef;

namespace {

// Nesting of calcul. A well-formed tree is never deeper than its node count;
// a received grammar whose operands loop back is stopped here.
constexpr int kMaxDepth = 512;
int Depth = 0;

struct DepthGuard {
  DepthGuard() { ++Depth; }
  ~DepthGuard() { --Depth; }
};

int dispatch(res_u* result, grctx* g, s_exp* node) {
  unsigned code = node->code;
  calc_fn f = code < kCodes ? Calculator[code] : nullptr;
  // Before fsring every code is unknown.
  return (f != nullptr ? f : err_f)(result, g, node, static_cast<int>(code));
}

void set_bool(res_u* v, bool b) {
  v->rs_type = LBOOL;
  v->rs_bool = b ? 1 : 0;
}

template <int kKind>
int compare(res_u* l, res_u* r) {
  int order = 0;
  if (int st = cmp_exp(l, r, &order); st < 0) return st;
  bool truth = kKind == 0 ? order > 0 : kKind == 1 ? order >= 0 : kKind == 2 ? order < 0
             : kKind == 3 ? order <= 0 : kKind == 4 ? order == 0 : order != 0;
  set_bool(l, truth);
  return 0;
}

// The literal's pool entry, checked against the pool's count.
bool in_pool(const s_gcl& pool, const s_exp* e) { return e->objectId >= 1 && e->objectId <= pool.gc_nbr; }

// Evaluates the operand and replaces it by its boolean view.
int boolean_operand(res_u* r, grctx* g, unsigned node) {
  if (int st = calcul(r, g, node); st < 0) return st;
  if (r->rs_type == LBOOL) return r->rs_bool != 0;
  int b = to_boolean(r);
  if (b < 0) return b;
  set_bool(r, b != 0);
  return b;
}

}  // namespace

int calcul(res_u* result, grctx* g, unsigned node) {
  if (node == 0 || node > g->gr_exp.gc_nbr) return err_vlx(kErrInternal, "calcul nod:%d gc_cmx:%d", node, g->gr_exp.gc_nbr);
  if (Depth >= kMaxDepth || static_cast<unsigned>(Depth) >= g->gr_exp.gc_nbr)
    return err_vlx(kErrInternal, "calcul nod:%d depth:%d", node, Depth);
  DepthGuard guard;
  int st = dispatch(result, g, gt_exp(g, node));
  return st < 0 ? st : 0;
}

int evafsr(res_u* result, grctx* g, unsigned node) { return evafsr_at(result, g, node, 0); }

int evafsr_at(res_u* result, grctx* g, unsigned node, int depth) {
  if (g == nullptr || node == 0 || node > g->gr_exp.gc_nbr) return err_vlx(kErrInternal, "evafsr");
  calc_fn* saved = Calculator;
  Calculator = Obef;
  int saved_depth = Depth;
  Depth = depth;
  int st;
  {
    DepthGuard guard;
    st = dispatch(result, g, gt_exp(g, node));
  }
  Depth = saved_depth;
  Calculator = saved;
  return st;
}

int evalue(res_u* result, grctx* g, unsigned node) {
  if (int st = calcul(result, g, node); st < 0) return st;
  if (result->rs_type == LDCB) {
    if (result->rs_dcb.exponent < -40) {
      result->rs_type = LINTG;
      result->rs_int = 0;
    } else if (result->rs_dcb.exponent >= 41) {
      return err_vlx(kErrOverflow, "evalue");
    }
  } else if ((result->rs_type == LDBLE || result->rs_type == LFLT) &&
             !(result->rs_dbl < 1e80 && result->rs_dbl > -1e80)) {
    return err_vlx(kErrOverflow, "evalue");
  }
  return result->rs_type;
}

int evaint(grctx* g, unsigned node, int* out) {
  res_u value;
  res_zero(&value);
  int st = evalue(&value, g, node);
  if (st >= 0) st = exintg(&value, out);
  res_drop(&value);
  return st < 0 ? st : 0;
}

int executeOperation(res_u* result, grctx* g, s_exp* node, int (*op)(res_u*, res_u*)) {
  unsigned header = node->header, tail = node->tail;
  if (int st = calcul(result, g, header); st < 0) return st;
  res_u right;
  res_temp(&right);
  int st = calcul(&right, g, tail);
  if (st >= 0) st = op(result, &right);
  if (right.rs_grp != 0) res_drop(&right);
  return st;
}

// The code in decimal, and the function's name when the code has one.
int err_f(res_u*, grctx*, s_exp*, int code) {
  const char* name = recup_tok(1, code);
  return name[0] != '\0' ? err_vlx(kErrUnknownFunction, "%d %s", code, name) : err_vlx(kErrUnknownFunction, "%d", code);
}

int uminu(res_u* r, grctx* g, s_exp* e, int) {
  if (int st = calcul(r, g, e->header); st < 0) return st;
  switch (r->rs_type) {
    case LDBLE: case LFLT: r->rs_dbl = -r->rs_dbl; return 0;
    case LDCB: dcbumn(&r->rs_dcb); return 0;
    case LBOOL:
      r->rs_type = LINTG;
      r->rs_int = -static_cast<int>(r->rs_bool);
      return 0;
    case LLIBE: case LSINT: case LINTG: case LINT64:
      if ((r->rs_int == INT32_MIN && r->rs_type != LINT64) || r->rs_int == INT64_MIN) return err_vlx(kErrOverflow, "uminf");
      r->rs_int = -r->rs_int;
      return 0;
    default: return err_vlx(kErrCalcMode, WHERE("uminf"));
  }
}

int unot(res_u* r, grctx* g, s_exp* e, int) {
  if (int st = calcul(r, g, e->header); st < 0) return st;
  int null = ifnull(r);
  if (null < 0) return null;
  set_bool(r, null != 0);
  return 0;
}

int sum(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, add_exp); }
int sub(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, sub_exp); }
int prd(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, mul_exp); }
int vlxdiv(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, div_exp); }
int dpow(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, pow_exp); }
int cgrth(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, compare<0>); }
int cgreq(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, compare<1>); }
int clsth(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, compare<2>); }
int clseq(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, compare<3>); }
int cequa(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, compare<4>); }
int cdiff(res_u* r, grctx* g, s_exp* e, int) { return executeOperation(r, g, e, compare<5>); }

int dor(res_u* r, grctx* g, s_exp* e, int) {
  unsigned tail = e->tail;
  int b = boolean_operand(r, g, e->header);
  return b != 0 ? (b < 0 ? b : 0) : (b = boolean_operand(r, g, tail)) < 0 ? b : 0;
}

int dand(res_u* r, grctx* g, s_exp* e, int) {
  unsigned tail = e->tail;
  int b = boolean_operand(r, g, e->header);
  return b != 1 ? (b < 0 ? b : 0) : (b = boolean_operand(r, g, tail)) < 0 ? b : 0;
}

int dxor(res_u* r, grctx* g, s_exp* e, int) {
  return executeOperation(r, g, e, [](res_u* l, res_u* right) {
    int a = to_boolean(l);
    if (a < 0) return a;
    int b = to_boolean(right);
    if (b < 0) return b;
    set_bool(l, a != b);
    return 0;
  });
}

int loadbool(res_u* r, grctx*, s_exp* e, int) {
  if (e->objectId != 209 && e->objectId != 210) return err_vlx(kErrInternal, "loadbool");
  set_bool(r, e->objectId == 210);
  return 0;
}

int loadint(res_u* r, grctx* g, s_exp* e, int) {
  if (!in_pool(g->gr_int, e)) return err_vlx(kErrInternal, "loadint");
  r->rs_type = LINTG;
  r->rs_int = gt_int(g, e->objectId);
  return 0;
}

int loaddte(res_u* r, grctx* g, s_exp* e, int) {
  if (!in_pool(g->gr_int, e)) return err_vlx(kErrInternal, "loaddte");
  r->rs_type = LDATE;
  r->rs_date = static_cast<std::uint32_t>(gt_int(g, e->objectId));
  return 0;
}

int loaddcb(res_u* r, grctx* g, s_exp* e, int) {
  if (!in_pool(g->gr_dcb, e)) return err_vlx(kErrInternal, "loaddcb");
  r->rs_type = LDCB;
  std::memcpy(&r->rs_dcb, g->gr_dcb.gc_ptr + sizeof(s_dcb) * e->objectId, sizeof(s_dcb));
  return 0;
}

int loaddtm(res_u* r, grctx* g, s_exp* e, int) {
  if (!in_pool(g->gr_i64, e)) return err_vlx(kErrInternal, "loaddtm");
  r->rs_type = LDATETIME;
  std::memcpy(&r->rs_dtm, g->gr_i64.gc_ptr + 8 * static_cast<std::size_t>(e->objectId), 8);
  return 0;
}

int loadstu(res_u* r, grctx* g, s_exp* e, int) {
  if (!in_pool(g->gr_stu, e)) return err_vlx(kErrInternal, "loadstu");
  auto* text = reinterpret_cast<const char16_t*>(g->gr_stu.gc_ptr) + e->objectId;
  unsigned room = g->gr_stu.gc_nbr - e->objectId + 1;
  unsigned n = 0;
  while (n < room && text[n] != 0) n++;
  if (n == room) return err_vlx(kErrInternal, "loadstu");
  return res_setstu(r, text, n);
}

int loaduuid(res_u* r, grctx* g, s_exp* e, int code) {
  if (int st = loadstu(r, g, e, code); st < 0) return st;
  vsucut(r->rs_str, 36);
  return rsconv(r, LUUID);
}

#include "functions/fnargs.h"

#include <cstdio>

#include "diagnostics/vlxerr.h"
#include "grammar/toktab.h"
#include "values/date.h"

const char* fn_name(int code) {
  static char number[16];
  const char* name = recup_tok(1, code);
  if (name[0] != '\0') return name;
  std::snprintf(number, sizeof number, "%d", code);
  return number;
}

int fn_fail(vlx_error number, int code) { return err_vlx(number, "%s", fn_name(code)); }

int fn_args(grctx* g, const s_exp* call, int code, int min, int max, unsigned* nodes) {
  int n = 0;
  for (unsigned i = call->header; i != 0; i = gt_exp(g, i)->next) {
    if (i > g->gr_exp.gc_nbr) return err_vlx(kErrInternal, "%s: argument %u", fn_name(code), i);
    if (n == max) return err_vlx(kErrParameterCount, "%s", fn_name(code));
    nodes[n++] = i;
  }
  if (n < min) return err_vlx(kErrInternal, "%s: %d arguments", fn_name(code), n);
  return n;
}

int convertResu2Clob(res_u* v) { return v->rs_type == LDATE ? rsconv(v, LCLOB) : 0; }

int fn_text(res_u* v, grctx* g, unsigned node, int code) {
  if (int st = calcul(v, g, node); st < 0) return st;
  if (int st = convertResu2Clob(v); st < 0) return st;
  if (v->rs_type != LCLOB) return fn_fail(kErrCalcMode, code);
  if (v->rs_str == nullptr && res_setstr(v, 0) == nullptr) return -Vstat1;
  return 0;
}

int fn_count(grctx* g, unsigned node, int code, std::int64_t* out, bool* fits) {
  res_u value;
  res_temp(&value);
  int st = calcul(&value, g, node);
  if (st >= 0) {
    st = is_number(value.rs_type) ? convlong(&value) : fn_fail(kErrCalcMode, code);
    *fits = st != -kErrOverflow;
    if (st == -kErrOverflow) st = 0;
    *out = *fits ? value.rs_int : 0;
  }
  fn_drop(&value);
  return st;
}

int calcdate(res_u* v, grctx* g, const unsigned* nodes, int n, int code, int* used) {
  if (int st = calcul(v, g, nodes[0]); st < 0) return st;
  return date_value(v, g, nodes, n, code, used);
}

int date_value(res_u* v, grctx* g, const unsigned* nodes, int n, int code, int* used) {
  *used = 1;
  switch (v->rs_type) {
    case LDATE: return 0;
    case LDATETIME: {
      std::int64_t day = v->rs_dtm / kSecondsPerDay;
      if (v->rs_dtm < 0 || day > MAXDATE) return err_vlx(kErrDate, "%s", fn_name(code));
      fn_date(v, static_cast<int>(day));
      return 0;
    }
    default: break;
  }
  if (!is_number(v->rs_type) || n < 3) return fn_fail(kErrCalcMode, code);
  // Day, month and year.
  std::int64_t parts[3] = {};
  bool fits = convlong(v) == 0;
  parts[0] = fits ? v->rs_int : 0;
  for (int i = 1; i < 3 && fits; ++i)
    if (int st = fn_count(g, nodes[i], code, &parts[i], &fits); st < 0) return st;
  for (std::int64_t part : parts)
    if (!fits || part < INT32_MIN || part > INT32_MAX) return err_vlx(kErrDate, "%s", fn_name(code));
  int day = 0;
  if (int st = ltodate(&day, static_cast<int>(parts[2]), static_cast<int>(parts[1]), static_cast<int>(parts[0]), 0);
      st < 0)
    return st;
  *used = 3;
  fn_date(v, day);
  return 0;
}

void fn_drop(res_u* v) {
  if (v->rs_grp != 0) res_drop(v);
}

void fn_int(res_u* v, std::int64_t n) {
  fn_drop(v);
  v->rs_type = LINTG;
  v->rs_int = n;
}

void fn_date(res_u* v, int day) {
  fn_drop(v);
  v->rs_type = LDATE;
  v->rs_date = static_cast<std::uint32_t>(day);
}

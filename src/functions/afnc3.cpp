#include "functions/afnc3.h"

#include <climits>
#include <cmath>

#include "files/mess.h"
#include "diagnostics/vlxerr.h"
#include "functions/fnargs.h"
#include "values/date.h"

#define MISPLACED(fn) err_vlx(kErrInternal, VLX_WHERE("src/functions/afnc3", __LINE__, fn))

namespace {

// Chapter 1 of the message file: the weekdays from Sunday at line 1, the
// months from January at line 9.
constexpr int kNamesChapter = 1, kFirstWeekday = 1, kFirstMonth = 9;
constexpr int kMaxDigits = 16;

// The date of a call's arguments, which calcdate must take all of.
int date_arg(res_u* result, grctx* g, s_exp* call, int code, int* day) {
  unsigned args[3];
  int n = fn_args(g, call, code, 1, 3, args), used = 0;
  if (n < 0) return n;
  if (int st = calcdate(result, g, args, n, code, &used); st < 0) return st;
  if (used != n) return err_vlx(kErrParameterCount, "%s", fn_name(code));
  // Beyond INT_MAX: negative, which the date routines refuse.
  *day = static_cast<int>(result->rs_date);
  return 0;
}

// A number argument that the date routines take as an int; one that does
// not fit is an impossible date.
int int_arg(grctx* g, unsigned node, int code, int* out) {
  std::int64_t n = 0;
  bool fits = true;
  if (int st = fn_count(g, node, code, &n, &fits); st < 0) return st;
  if (!fits || n < INT_MIN || n > INT_MAX) return err_vlx(kErrDate, "%s", fn_name(code));
  *out = static_cast<int>(n);
  return 0;
}

// Sets a date result from a routine's status and output.
int date_result(res_u* result, int st, int day) {
  if (st < 0) return st;
  fn_date(result, day);
  return 0;
}

int message_result(res_u* result, int line) {
  fn_drop(result);
  return res_setascii(result, message(0, kNamesChapter, line));
}

// Rounds a decimal half away from zero at the second decimal. Its
// base-100 digits down to the hundredths are kept behind one place for a
// carry; with none kept (a magnitude below 0.01) that place is the
// hundredths.
void round_hundredths(s_dcb* d) {
  int kept = d->exponent + 1;
  if (d->ndigits == 0 || kept >= d->ndigits) return;
  if (kept < 0) {
    lngdcb(d, 0);
    return;
  }
  unsigned char digits[kMaxDigits + 1] = {0};
  for (int i = 0; i < kept; ++i) digits[i + 1] = d->digits[i];
  if (d->digits[kept] >= 50)
    for (int i = kept; i >= 0 && ++digits[i] == 100; --i) digits[i] = 0;
  dcblod(d, d->sign, d->exponent + 1, digits, kept + 1);
}

}  // namespace

int fnint(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnInt) return MISPLACED("fnint");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  int t = result->rs_type;
  if (is_int(t)) return 0;
  if (is_dbl(t)) {
    double d = std::floor(result->rs_dbl);
    if (std::fabs(d) < 2147483647.0) {
      fn_int(result, static_cast<std::int64_t>(d));
    } else {
      result->rs_type = LDBLE;
      result->rs_dbl = d;
    }
    return 0;
  }
  if (t != LDCB) return fn_fail(kErrCalcMode, code);
  s_dcb d = result->rs_dcb;
  bool negative = dcbsgn(&d) < 0;
  if (dcbfix(&d) && negative) {
    s_dcb one;
    lngdcb(&one, 1);
    if (int st = dcb_as(&d, &d, &one, 1); st < 0) return st;
  }
  result->rs_dcb = d;
  res_u whole;
  res_temp(&whole);
  whole.rs_type = LDCB;
  whole.rs_dcb = d;
  if (convlong(&whole) == 0 && whole.rs_int >= INT32_MIN && whole.rs_int <= INT32_MAX) fn_int(result, whole.rs_int);
  return 0;
}

int fnabs(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnAbs) return MISPLACED("fnabs");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  int t = result->rs_type;
  if (is_int(t)) {
    std::int64_t n = result->rs_int;
    if ((t != LINT64 && n == INT32_MIN) || n == INT64_MIN) return err_vlx(kErrOverflow, "%s", fn_name(code));
    result->rs_int = n < 0 ? -n : n;
  } else if (is_dbl(t)) {
    result->rs_dbl = std::fabs(result->rs_dbl);
  } else if (t == LDCB) {
    if (dcbsgn(&result->rs_dcb) < 0) dcbumn(&result->rs_dcb);
  } else {
    return fn_fail(kErrCalcMode, code);
  }
  return 0;
}

int fnar2(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnAr2) return MISPLACED("fnar2");
  unsigned args[1];
  if (int n = fn_args(g, call, code, 1, 1, args); n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  int t = result->rs_type;
  if (is_dbl(t)) result->rs_dbl = std::floor(result->rs_dbl * 100 + 0.5) / 100;
  else if (t == LDCB) round_hundredths(&result->rs_dcb);
  else if (!is_int(t)) return fn_fail(kErrCalcMode, code);
  return 0;
}

int fnymd(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnYear && code != kFnMonth && code != kFnDay) return MISPLACED("fnymd");
  int day = 0;
  if (int st = date_arg(result, g, call, code, &day); st < 0) return st;
  int part = code == kFnYear ? year(day) : code == kFnMonth ? month(day) : ::day(day);
  if (part < 0) return part;
  fn_int(result, part);
  return 0;
}

int fnnday(res_u* result, grctx* g, s_exp* call, int code) {
  if (code == kFnNdayD) {
    unsigned args[1];
    int n = 0;
    if (int st = fn_args(g, call, code, 1, 1, args); st < 0) return st;
    if (int st = int_arg(g, args[0], code, &n); st < 0) return st;
    if (n < -1 || n >= MAXDATE) return err_vlx(kErrDate, "%s", fn_name(code));
    fn_date(result, ndayd(n));
    return 0;
  }
  if (code != kFnNday) return MISPLACED("fnnday");
  unsigned args[3];
  int n = fn_args(g, call, code, 1, 3, args), used = 1;
  if (n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  int st = result->rs_type == LCLOB ? old_date(result) : date_value(result, g, args, n, code, &used);
  if (st < 0) return st;
  if (used != n) return err_vlx(kErrParameterCount, "%s", fn_name(code));
  fn_int(result, nday(static_cast<int>(result->rs_date)));
  return 0;
}

int fndayn(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnDayn) return MISPLACED("fndayn");
  int day = 0;
  if (int st = date_arg(result, g, call, code, &day); st < 0) return st;
  int weekday = dayn(day);
  if (weekday < 0) return weekday;
  fn_int(result, weekday);
  return 0;
}

namespace {

// The argument of day$ and month$: a number alone (*numbered), or the
// date of calcdate; its value, or the date's day number.
int name_arg(res_u* result, grctx* g, s_exp* call, int code, bool* numbered, std::int64_t* value) {
  unsigned args[3];
  int n = fn_args(g, call, code, 1, 3, args), used = 1;
  if (n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  int t = result->rs_type;
  *numbered = n == 1 && t != LDATE && t != LDATETIME && t != LCLOB;
  if (*numbered) {
    if (!is_number(t)) return fn_fail(kErrCalcMode, code);
    // One beyond 64 bits names nothing.
    if (convlong(result) < 0) return fn_fail(kErrDomain, code);
    *value = result->rs_int;
    return 0;
  }
  if (int st = date_value(result, g, args, n, code, &used); st < 0) return st;
  if (used != n) return err_vlx(kErrParameterCount, "%s", fn_name(code));
  *value = result->rs_date;
  return 0;
}

}  // namespace

int fndayd(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnDayD) return MISPLACED("fndayd");
  std::int64_t weekday = 0;
  bool numbered = false;
  if (int st = name_arg(result, g, call, code, &numbered, &weekday); st < 0) return st;
  if (numbered) {
    weekday = (weekday % 7 + 7) % 7;
  } else {
    int d = dayn(static_cast<int>(weekday));
    if (d < 0) return d;
    weekday = d % 7;
  }
  return message_result(result, kFirstWeekday + static_cast<int>(weekday));
}

int fnmonthd(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnMonthD) return MISPLACED("fnmonthd");
  std::int64_t m = 0;
  bool numbered = false;
  if (int st = name_arg(result, g, call, code, &numbered, &m); st < 0) return st;
  if (!numbered) {
    m = month(static_cast<int>(m));
    if (m < 0) return static_cast<int>(m);
  }
  // The null date has no month.
  if (m < 1 || m > 12) return fn_fail(kErrDomain, code);
  return message_result(result, kFirstMonth + static_cast<int>(m) - 1);
}

int fnweek(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnWeek) return MISPLACED("fnweek");
  unsigned args[3];
  int n = fn_args(g, call, code, 1, 3, args), used = 1;
  if (n < 0) return n;
  if (int st = calcul(result, g, args[0]); st < 0) return st;
  std::int64_t day = -1;
  if (result->rs_type == LDATE) {
    day = result->rs_date;
  } else if (result->rs_type == LDATETIME) {
    if (result->rs_dtm >= 0) day = result->rs_dtm / kSecondsPerDay;
  } else {
    if (int st = date_value(result, g, args, n, code, &used); st < 0) return st;
    day = result->rs_date;
  }
  if (used != n) return err_vlx(kErrParameterCount, "%s", fn_name(code));
  // A date that cannot be placed in a week is -1, not an error.
  fn_int(result, day < 0 || day > MAXDATE ? -1 : week(static_cast<int>(day)));
  return 0;
}

int fnaweek(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnAweek) return MISPLACED("fnaweek");
  unsigned args[2];
  int wk = 0, y = 0, day = 0;
  if (int n = fn_args(g, call, code, 2, 2, args); n < 0) return n;
  if (int st = int_arg(g, args[0], code, &wk); st < 0) return st;
  if (int st = int_arg(g, args[1], code, &y); st < 0) return st;
  int st = aweek(&day, wk, y);
  return date_result(result, st, day);
}

int fneomonth(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnEomonth) return MISPLACED("fneomonth");
  int day = 0, last = 0;
  if (int st = date_arg(result, g, call, code, &day); st < 0) return st;
  int st = eomonth(&last, day);
  return date_result(result, st, last);
}

int fnaddmonth(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnAddmonth) return MISPLACED("fnaddmonth");
  unsigned args[4];
  int n = fn_args(g, call, code, 2, 4, args), used = 0, months = 0, day = 0;
  if (n < 0) return n;
  if (int st = calcdate(result, g, args, n - 1, code, &used); st < 0) return st;
  if (used != n - 1) return err_vlx(kErrParameterCount, "%s", fn_name(code));
  if (int st = int_arg(g, args[n - 1], code, &months); st < 0) return st;
  int st = addmonth(&day, static_cast<int>(result->rs_date), months);
  return date_result(result, st, day);
}

int fngdat(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnGdatD) return MISPLACED("fngdat");
  int day = 0;
  return date_arg(result, g, call, code, &day);
}

int fntime(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnTime) return MISPLACED("fntime");
  if (int n = fn_args(g, call, code, 0, 0, nullptr); n < 0) return n;
  fn_int(result, timestring(nullptr));
  return 0;
}

int fntimed(res_u* result, grctx* g, s_exp* call, int code) {
  if (code != kFnTimeD) return MISPLACED("fntimed");
  if (int n = fn_args(g, call, code, 0, 0, nullptr); n < 0) return n;
  char text[9];
  timestring(text);
  return res_setascii(result, text);
}

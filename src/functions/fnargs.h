// Argument helpers of the built-in functions: the argument list of a call
// node, and the readings every family shares (texts, counts, dates).
//
// A call node's `header` is its first argument; each argument's `next` is
// the following one. Errors name the function by its display name
// (recup_tok(1, code)). Functions return 0 or a negated error number.
#pragma once

#include <cstdint>

#include "calc/acalc.h"
#include "diagnostics/vlxerr.h"

// The codes of the functions the filter evaluator serves: their codes in
// the token table, hence their slots in the dispatch table.
// ORDER FNCODES: the handlers' table in src/table/afncompi.cpp.
enum : int {
  kFnTime = 2, kFnTimeD = 6, kFnInt = 28, kFnAbs = 30, kFnAr2 = 31, kFnLen = 37, kFnVal = 38, kFnAscii = 39,
  kFnYear = 40, kFnMonth = 41, kFnDay = 42, kFnNday = 43, kFnDayn = 44, kFnNumD = 45, kFnSpaceD = 46, kFnChrD = 47,
  kFnNdayD = 48, kFnDayD = 49, kFnMonthD = 50, kFnStringD = 53, kFnInstr = 54, kFnLeftD = 55, kFnRightD = 56,
  kFnMidD = 57, kFnSegD = 58, kFnGdatD = 59, kFnPat = 65, kFnMin = 73, kFnMax = 74, kFnSum = 75, kFnPrd = 76,
  kFnAvg = 77, kFnVar = 78, kFnUni = 79, kFnSigma = 90, kFnVireblc = 94, kFnToupper = 95, kFnTolower = 96,
  kFnFind = 98, kFnWeek = 99, kFnEomonth = 100, kFnAddmonth = 101, kFnAweek = 102, kFnCtrans = 115, kFnLike = 190,
};

// The most arguments a function of fixed arity takes.
inline constexpr int kMaxArgs = 4;

// The function's display name, or its code in decimal when the token
// table has no name for it (like, 190). Valid until the next call.
const char* fn_name(int code);
// The error `number` with that name as detail.
int fn_fail(vlx_error number, int code);

// The argument nodes of `call`, which takes `min` to `max` of them (max
// at most kMaxArgs): their number. Fewer is error 26, more is error 69
// ("Invalid parameters number"), a link outside the grammar error 26.
int fn_args(grctx* g, const s_exp* call, int code, int min, int max, unsigned* nodes);

// Evaluates a text argument into v: a string, or a date in its string
// form; any other type is error 10. v->rs_str is then set.
int fn_text(res_u* v, grctx* g, unsigned node, int code);
// A date value in place becomes its string form (YYYYMMDD).
int convertResu2Clob(res_u* v);

// Evaluates a count or position: *fits is false, and no error recorded,
// when the number does not fit in 64 bits; a value that is no number is
// error 10.
int fn_count(grctx* g, unsigned node, int code, std::int64_t* out, bool* fits);

// Evaluates the date that the arguments nodes[0..n-1] give into v (type
// 307): a date, the date part of a date-time, or three numbers day, month
// and year. *used receives how many arguments it took. Error 10 for
// anything else, 56 for an impossible date.
int calcdate(res_u* v, grctx* g, const unsigned* nodes, int n, int code, int* used);
// The same with the first argument already evaluated into v.
int date_value(res_u* v, grctx* g, const unsigned* nodes, int n, int code, int* used);

// Releases what a temporary value holds.
void fn_drop(res_u* v);
// Value setters that first release what the value held.
void fn_int(res_u* v, std::int64_t n);
void fn_date(res_u* v, int day);

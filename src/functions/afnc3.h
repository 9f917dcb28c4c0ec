// Built-in functions of the numeric and date families, handlers of the
// calculator's dispatch table (installed by fsring under their codes,
// fnargs.h).
//
// Date arguments are read by calcdate: a date, the date part of a
// date-time, or three numbers day, month and year. Wrong types are error
// 10, impossible dates 56, each with the function's display name as
// detail unless the date routines name their own.
#pragma once

#include "calc/acalc.h"

// int(x): integers unchanged; doubles rounded down (an integer when the
// magnitude is below 2147483647); decimals rounded down (an integer when
// the result fits in 32 bits).
int fnint(res_u* result, grctx* g, s_exp* call, int code);
// abs(x), ar2(x): absolute value; rounding to two decimals (half away
// from zero for decimals, floor(x * 100 + 0.5) / 100 for doubles).
int fnabs(res_u* result, grctx* g, s_exp* call, int code);
int fnar2(res_u* result, grctx* g, s_exp* call, int code);
// year, month, day (codes 40, 41, 42): the date's components.
int fnymd(res_u* result, grctx* g, s_exp* call, int code);
// nday (43): the date's count of days since 1600-01-01 (a string is read
// as old-format date text); nday$ (48): the date of such a count.
int fnnday(res_u* result, grctx* g, s_exp* call, int code);
// dayn(date): day of the week, 1 Monday to 7 Sunday.
int fndayn(res_u* result, grctx* g, s_exp* call, int code);
// day$(date or weekday number), month$(date or month number 1..12): the
// names of chapter 1 of the message file, Sunday (weekday 0, also 7) at
// line 1, January at line 9.
int fndayd(res_u* result, grctx* g, s_exp* call, int code);
int fnmonthd(res_u* result, grctx* g, s_exp* call, int code);
// week(date): the week number, -1 for a date that cannot be placed.
int fnweek(res_u* result, grctx* g, s_exp* call, int code);
// aweek(week, year): the Monday that starts the ISO week.
int fnaweek(res_u* result, grctx* g, s_exp* call, int code);
// eomonth(date), addmonth(date, months), gdat$(date arguments).
int fneomonth(res_u* result, grctx* g, s_exp* call, int code);
int fnaddmonth(res_u* result, grctx* g, s_exp* call, int code);
int fngdat(res_u* result, grctx* g, s_exp* call, int code);
// time, time$: the local time of day, in seconds and as "hh:mm:ss".
int fntime(res_u* result, grctx* g, s_exp* call, int code);
int fntimed(res_u* result, grctx* g, s_exp* call, int code);

// Built-in functions of the string family, handlers of the calculator's
// dispatch table (installed by fsring under their codes, fnargs.h).
//
// Arguments are strings unless said otherwise; a date is accepted wherever
// a string is and is used in its string form (YYYYMMDD). A count or
// position that does not fit in 64 bits is no error: it becomes the
// function's substitute (255, or the string's length for mid$ and instr).
// Wrong types are error 10 and values outside a function's domain error
// 50, each with the function's display name as detail.
#pragma once

#include "calc/acalc.h"

// mid$(string, start, count), left$(string, count), right$(string, count),
// seg$(string, from, to): parts of the string; a negative count is 50.
int fnmid(res_u* result, grctx* g, s_exp* call, int code);
int fnleft(res_u* result, grctx* g, s_exp* call, int code);
int fnright(res_u* result, grctx* g, s_exp* call, int code);
int fnseg(res_u* result, grctx* g, s_exp* call, int code);
// instr(start, string, substring): first position at or after start, 0
// when absent.
int fninstr(res_u* result, grctx* g, s_exp* call, int code);
// len(string or binary object): characters, or the object's byte count.
int fnlen(res_u* result, grctx* g, s_exp* call, int code);
// val(string): the number written in the string (decimal reading).
int fnval(res_u* result, grctx* g, s_exp* call, int code);
// num$(number): the number's text.
int fnnum(res_u* result, grctx* g, s_exp* call, int code);
// ascii(string): the first UCS-2 unit, 0 for the empty string.
int fnascii(res_u* result, grctx* g, s_exp* call, int code);
// chr$(code): one character; outside 0..65535 is 50.
int fnchr(res_u* result, grctx* g, s_exp* call, int code);
// space$(count): at most 255 spaces.
int fnspace(res_u* result, grctx* g, s_exp* call, int code);
// string$(count, pattern): the pattern (a text, or a character code)
// count times; a result of more than 2^24 characters is 50.
int fnstring(res_u* result, grctx* g, s_exp* call, int code);
// toupper, tolower (both codes): case mapping of every character.
int fncase(res_u* result, grctx* g, s_exp* call, int code);
// vireblc(string, mode): blank removal in mode 0..5.
int fnvireblc(res_u* result, grctx* g, s_exp* call, int code);
// ctrans(string [, from [, to]]): character translation; without `from`
// the ASCII folding of 8-bit characters.
int fnctrans(res_u* result, grctx* g, s_exp* call, int code);
// pat(string, pattern): 1 when the whole string matches (* ? # !), the
// answer inverted when bit 0 of the call node's `type` is set; like
// (code 190): the same with the patterns % and _.
int fnpat(res_u* result, grctx* g, s_exp* call, int code);
int fnlike(res_u* result, grctx* g, s_exp* call, int code);

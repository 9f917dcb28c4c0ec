// Built-in functions of the string family, handlers of the calculator's
// dispatch table (installed by fsring under their function codes).
#pragma once

#include "calc/acalc.h"

inline constexpr int kValCode = 38;

// val(string): the number written in the string, read as the decimal
// reading does (a date is read in its text form); any other type: 10.
int fnval(res_u* result, grctx* g, s_exp* call, int code);

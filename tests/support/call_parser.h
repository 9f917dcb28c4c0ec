// Reads 4GL call expressions into expression grammars, for the tests of
// the built-in functions, in place of the compiler: it knows only
// function calls whose arguments are literals, variables and further
// calls, written as 4GL text:
//   mid$("ABCDEF", 2, 3)   left$(toupper('abc'), -1)   day$([14/03/2024])
//   sum(T)   max(T(2), 1.5)   sigma(I = 1, 10, T(I))   time
// A number without "." or exponent that fits in 32 bits loads as an
// integer, any other as a decimal; a leading "-" is the unary minus;
// [day/month/year] is a date; a name that is no function is a variable of
// the class named `cls`, its indexes in parentheses; "a = b" as an
// argument is a comparison node (sigma's binding).
#pragma once

#include <string>

#include "image/vlxload.h"

namespace builder {

// The root node, or 0 when the text does not read.
unsigned parse_call(grctx* g, const std::string& text, const char* cls);

}  // namespace builder

// Builds expression grammars for tests from a small prefix notation:
//   (op a b)  op: + - * / ^ ** or xor and not neg > >= < <= = <>
//   (code N a b ...)  a node of code N (operands in header, tail)
//   123  integer      3.5  decimal      1.5r  double (code 305)
//   'text'  string    @2024-03-01  date  true false
// Doubles have no literal load in the engine: tests that use them install
// builder::load_double at code 305.
#pragma once

#include <string>

#include "calc/acalc.h"

namespace builder {

// Parses `text` into g (initialised by the caller); returns the root node
// or 0 when the text does not parse.
unsigned parse(grctx* g, const std::string& text);

int load_double(res_u* r, grctx* g, s_exp* e, int code);

// "int 2", "dcb 3.5", "dbl 0", "bool 1", "str ab", "date 2024-03-02",
// "dtm <seconds>", "uuid <text>" of a value.
std::string describe(const res_u* v);

// The first element of variable `name` of class `cls`: describe() of it,
// "error N", or "none" when the class has no such variable.
std::string variable(int cls, const char* name);

// Evaluates node `root` of g with evafsr: show() of the result or "error
// N" (the first error), the value dropped afterwards.
std::string evaluate(grctx* g, unsigned root, std::string (*show)(const res_u*) = describe);

}  // namespace builder

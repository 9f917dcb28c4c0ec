// Built-in functions of the aggregate family, handlers of the calculator's
// dispatch table (installed by fsring under their codes, fnargs.h).
//
// The arguments of an aggregate form a list: each is an expression, or a
// variable named without indexes, whose elements all take part in storage
// order (lispro). Values are added, multiplied and compared by the
// calculator's own rules (add_exp, mul_exp, cmp_exp); a value of another
// type than the others is compared as cmp_exp orders the pair, without
// changing either.
#pragma once

#include "calc/acalc.h"

// The most steps sigma takes; more is error 13.
inline constexpr long long kSigmaSteps = 1000000;

// sum, prd, min, max, avg, var (codes 73 to 78): an empty list gives the
// integer 0 (prd: 1). sum and prd start from the first value, so that its
// type leads; avg is the sum divided by the count; var is the population
// variance (the mean of the squares less the square of the mean, computed
// in decimals, or in doubles once a double takes part).
int fnsum(res_u* result, grctx* g, s_exp* call, int code);
// find(key, values...) (code 98): the position among the values of the
// first one equal to the key, 0 when none; uni(values...) (79): the
// position of the first value equal to an earlier one, 0 when all differ.
// The values after the one found are not evaluated.
int fnfind(res_u* result, grctx* g, s_exp* call, int code);
// sigma(variable = first, last, expression), also with the variable, first
// and last as three arguments: the sum of the expression's values while
// the variable (created when its class lacks it) takes the integers from
// first to last; 0 when last is below first. Bounds beyond 32 bits, or
// more than kSigmaSteps steps, are error 13.
int fnsigma(res_u* result, grctx* g, s_exp* call, int code);

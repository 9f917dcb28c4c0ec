// Filter plans: a filter evaluated once per record of a scan, made cheap.
//
// The calculator walks a filter node by node, through the dispatch table,
// with a full value at every node. Most filters are comparisons of a field
// with a literal joined by and, or and not. A plan flattens that shape once
// into a few tests with jump targets: each test loads its field into one
// scratch value and compares it with the literal decoded in advance; the
// and/or/not nodes become jumps. Any other node is a test that evaluates
// it with the calculator, at the depth it has in the tree.
//
// A plan gives exactly the answer of evafsr followed by ifnull: the same
// handlers run in the same order, and a field whose type does not match
// its literal's is compared by cmp_exp, as the operator would. One thing
// is done once: a field compared by several tests in a row is loaded for
// the first, since the record does not change while its filter runs.
//
// When the field loads have a record view (Plan_view), a field whose
// stored form the plan knows (integers, dates, 8-bit text, decimals in
// their record form) is compared where it lies in the record, as its load
// would have read it, without making a value of it. So are the calls that
// filters make most of a field of 8-bit text, compared with a literal:
// val(field), len(field), left$(field, n) and toupper(field), computed
// from the record's bytes as those functions would from the loaded value.
#pragma once

#include <cstdint>
#include <string>

#include "calc/acalc.h"
#include "values/vlxdcb.h"

inline constexpr int kPlanTests = 16;

struct plan_test {
  std::uint8_t kind;     // any node, or a comparison with a literal of a type
  std::uint8_t accept;   // comparison: bit order+1 set for each order of the
                         // field against the literal that passes; any node:
                         // which view of its value passes
  std::uint8_t swapped;  // the literal is the left operand
  std::int8_t onTrue, onFalse;  // next test, or kPlanPass / kPlanFail
  std::uint16_t depth;   // of the node in the filter's tree
  std::uint16_t textLength;  // of a string literal
  std::uint8_t stored;   // the field's stored form, when the plan reads it
  std::uint8_t call;     // the function applied to the field, if any
  std::uint32_t count;   // left$'s count; len: the bytes that tell the
                         // length against the literal
  std::uint32_t node;    // the field or the call over it, or the node evaluated
  std::uint32_t literal;
  std::uint32_t table;   // the field's table (its node's object id)
  std::uint32_t offset;  // and its place in that table's record
  std::uint32_t size;
  union {
    std::int64_t integer;
    std::uint32_t date;
    std::uint32_t text;  // start of the text in the string pool
    s_dcb decimal;
  } value;
};

struct fplan {
  int start;  // first test; 0 tests when no plan could be made
  int count;
  // Every test reads its field in the stored form, all in one table's
  // record (`table`): the plan runs without values.
  bool stored;
  std::uint8_t form;  // the stored form all tests share, if one
  std::uint32_t table;
  std::uint64_t extent;  // the record bytes its fields reach
  plan_test tests[kPlanTests];
};

// The record that the field loads at kFieldLoad read for `table` (a field
// node's object id), and its length; null when there is none. Set by the
// service that installs those loads; null: fields are always loaded.
// REQUIRES: a field's bytes there are what its load converts.
using plan_view_fn = const unsigned char* (*)(unsigned table, unsigned* length);
extern plan_view_fn Plan_view;

// The functions a plan computes from a field's stored form, by the codes
// and handlers under which the calculator's table holds them; set by the
// service that installs those handlers (fsring). A call whose code holds
// another handler is left to the calculator.
struct plan_function {
  unsigned code;
  calc_fn handler;
};
struct plan_functions {
  plan_function val, len, left, upper;
};
extern plan_functions Plan_functions;

// Makes the plan of the filter `node` of g. False when the filter has no
// plan (a malformed or large tree): evaluate it with evafsr then.
bool plan_make(fplan* plan, grctx* g, unsigned node);

// 1 when the current values pass the filter, 0 when not, or a negated error.
// REQUIRES: plan_make succeeded on g, and neither g nor Obef changed since.
int plan_eval(const fplan* plan, grctx* g);

// A text that a record must hold for the plan to pass: when the plan's
// first test compares a field for equality with a non-empty literal of
// 8-bit characters and its failure fails the plan, that field node and the
// literal in 8-bit form (at most 255 characters). False otherwise. A driver
// whose record holds that field as a run of its line's bytes can skip the
// lines that lack the text without loading them.
bool plan_required_text(const fplan* plan, grctx* g, const s_exp** field, std::string* text);

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
// Plans of at most this many tests may run them all (fplan::tabled).
inline constexpr int kPlanTabled = 6;

// The values of an integer or date field that pass a test: those whose
// difference from `low` (modulo 2^64) is at most `span`, or, when
// `outside`, all the others.
struct plan_range {
  std::uint64_t low, span;
  bool outside;
};

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
  union {
    plan_range range;  // of an integer or date field
    dcb_bound bound;   // a decimal literal, to compare fields with
  } against;
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

// The record that the field loads at kFieldLoad read for `table` (a field
// node's object id), and its length; bytes null when there is none. The
// service that installs those loads sets Plan_view, which never answers
// null, and keeps the record of each table where Plan_view said, up to
// date, for as long as the process runs: a plan finds it once and reads
// it for every record. Plan_view null: fields are always loaded.
// REQUIRES: a field's bytes there are what its load converts.
struct plan_record {
  const unsigned char* bytes;
  unsigned length;
};
using plan_view_fn = const plan_record* (*)(unsigned table);

struct fplan;
// A tabled plan's run over the record of its table.
using plan_run_fn = int (*)(const fplan* plan, const grctx* g, const unsigned char* record);

struct fplan {
  int start;  // first test; 0 tests when no plan could be made
  int count;
  // Every test reads its field in the stored form, all in one table's
  // record (`table`): the plan runs without values.
  bool stored;
  std::uint8_t form;  // the stored form all tests share, if one
  std::uint32_t table;
  std::uint64_t extent;  // the record bytes its fields reach
  // Every test also answers from the record alone, cheaply: `run` runs
  // them all, and bit r of `truth` tells whether the results r (bit i:
  // test i's) pass the plan. A scan evaluates its filter for every line:
  // the fewer instructions and jumps on that path, the better.
  bool tabled;
  std::uint64_t truth;
  plan_run_fn run;
  const plan_record* record;  // of `table`, when stored and there is a view
  // A tabled plan of two tests of one integer or date field joined by and
  // (a field between two bounds, the commonest filter of a scan) runs as
  // this one test: the range the two leave.
  plan_test between;
  plan_test tests[kPlanTests];
};

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

// plan_eval by the general evaluation, which it leaves the plans that are
// not tabled, and those whose record lacks their fields, to.
int plan_eval_any(const fplan* plan, grctx* g);

// 1 when the current values pass the filter, 0 when not, or a negated error.
// REQUIRES: plan_make succeeded on g, and none of g, Obef and Plan_view
// changed since.
inline int plan_eval(const fplan* plan, grctx* g) {
  // Inline, the path of most scans keeps the plan and g where its caller
  // keeps them, and the run has no frame.
  if (plan->tabled) [[likely]] {
    const plan_record* record = plan->record;
    if (record->bytes != nullptr && plan->extent <= record->length) [[likely]]
      return plan->run(plan, g, record->bytes);
  }
  return plan_eval_any(plan, g);
}

// A text that a record must hold for the plan to pass: when the plan's
// first test compares a field for equality with a non-empty literal of
// 8-bit characters and its failure fails the plan, that field node and the
// literal in 8-bit form (at most 255 characters). False otherwise. A driver
// whose record holds that field as a run of its line's bytes can skip the
// lines that lack the text without loading them.
bool plan_required_text(const fplan* plan, grctx* g, const s_exp** field, std::string* text);

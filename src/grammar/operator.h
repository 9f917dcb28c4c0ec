// Operators of the current compiler's expressions: what each spelling means
// (code name, binding level, the positions it may take) and the table of
// the 4GL's operators. A parser installs a table into its three indexes
// (Parser::setOperators): by spelling, by code name, and the code names
// that rebalance to the left.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace grammar {

struct Operator {
  std::string name;         // code name, as syntax-tree nodes and generators know it
  std::int32_t precedence;  // binding level: a smaller number binds tighter
  std::uint8_t unary;       // may stand before a single operand
  std::uint8_t binary;      // infix
  std::uint8_t chains;      // the expression may go on after it with a further operator
  std::uint8_t assigns;     // may be the operator of an assignment statement
  std::uint8_t rebalance;   // this spelling enters the name in the rebalancing list
};

// One operator and its spellings (one or two; the second may be null).
struct OperatorRow {
  const char* spellings[2];
  Operator op;
};

// The 4GL's operators.
extern const std::span<const OperatorRow> Velmor_operators;

}  // namespace grammar

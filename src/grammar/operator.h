// Operators of the current compiler's expressions: what each spelling means
// (code name, binding level, the positions it may take), and the operator
// tables of the 4GL and of the SData filter language with their three
// indexes: by spelling, by code name, and the code names that rebalance to
// the left. A table's indexes are built once and shared by every parser.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

class OperatorTable {
 public:
  explicit OperatorTable(std::span<const OperatorRow> rows);

  // REQUIRES: spelling is upper case.
  const Operator* bySpelling(std::string_view spelling) const;
  const Operator* byName(std::string_view name) const;
  bool rebalances(std::string_view name) const;

 private:
  // Keys are views of the spellings (static) and of the operators' own
  // names.
  std::vector<std::unique_ptr<Operator>> operators_;
  std::unordered_map<std::string_view, const Operator*> bySpelling_, byName_;
  std::unordered_set<std::string_view> rebalancing_;
};

// The 4GL's operators, and the SData filter language's (its words, "+"
// and "-").
const OperatorTable& velmorOperators();
const OperatorTable& sdataOperators();

}  // namespace grammar

#include "grammar/operator.h"

namespace grammar {

namespace {

// spellings: name, precedence, unary, binary, chains, assigns, rebalance
const OperatorRow kVelmor[] = {
    {{".", nullptr}, {"DOT", 1, 0, 1, 1, 0, 0}},
    {{"^", nullptr}, {"POW", 2, 0, 1, 1, 0, 1}},
    {{"^^", nullptr}, {"POW", 2, 0, 1, 1, 0, 0}},
    {{"NOT", "!"}, {"NOT", 3, 1, 0, 0, 0, 0}},
    {{"*", nullptr}, {"MUL", 4, 0, 1, 1, 0, 1}},
    {{"/", nullptr}, {"DIV", 4, 0, 1, 1, 0, 1}},
    {{"%", nullptr}, {"MOD", 4, 0, 1, 1, 0, 0}},
    {{"+", nullptr}, {"ADD", 5, 1, 1, 1, 0, 1}},
    {{"-", nullptr}, {"SUB", 5, 1, 1, 1, 0, 1}},
    {{"++", nullptr}, {"UADD", 5, 1, 1, 1, 0, 0}},
    {{"--", nullptr}, {"USUB", 5, 1, 1, 1, 0, 0}},
    {{"..", nullptr}, {"RANGE", 6, 0, 1, 0, 0, 1}},
    {{"=", nullptr}, {"EQ", 7, 0, 1, 0, 1, 1}},
    {{"<>", nullptr}, {"NE", 7, 0, 1, 0, 0, 1}},
    {{"<", nullptr}, {"LT", 7, 0, 1, 0, 0, 1}},
    {{"<=", nullptr}, {"LE", 7, 0, 1, 0, 0, 1}},
    {{">", nullptr}, {"GT", 7, 0, 1, 0, 0, 1}},
    {{">=", nullptr}, {"GE", 7, 0, 1, 0, 0, 1}},
    {{"&", nullptr}, {"AND", 8, 0, 1, 1, 0, 0}},
    {{"AND", nullptr}, {"AND", 8, 0, 1, 1, 0, 1}},
    {{"|", nullptr}, {"OR", 9, 0, 1, 1, 0, 0}},
    {{"OR", nullptr}, {"OR", 9, 0, 1, 1, 0, 1}},
    {{"?", "XOR"}, {"XOR", 9, 0, 1, 1, 0, 1}},
    {{"+=", nullptr}, {"PLUSEQ", 10, 0, 1, 0, 1, 0}},
    {{"-=", nullptr}, {"MINUSEQ", 10, 0, 1, 0, 1, 0}},
    {{"*=", nullptr}, {"MULEQ", 10, 0, 1, 0, 1, 0}},
    {{"/=", nullptr}, {"DIVEQ", 10, 0, 1, 0, 1, 0}},
};

// The SData parser climbs precedence itself and never rebalances.
const OperatorRow kSdata[] = {
    {{"NOT", nullptr}, {"NOT", 3, 1, 0, 0, 0, 0}},
    {{"MUL", nullptr}, {"MUL", 4, 0, 1, 1, 0, 0}},
    {{"DIV", nullptr}, {"DIV", 4, 0, 1, 1, 0, 0}},
    {{"MOD", nullptr}, {"MOD", 4, 0, 1, 1, 0, 0}},
    {{"ADD", "+"}, {"ADD", 5, 1, 1, 1, 0, 0}},
    {{"SUB", "-"}, {"SUB", 5, 1, 1, 1, 0, 0}},
    {{"EQ", nullptr}, {"EQ", 7, 0, 1, 1, 0, 0}},
    {{"NE", nullptr}, {"NE", 7, 0, 1, 1, 0, 0}},
    {{"LT", nullptr}, {"LT", 7, 0, 1, 1, 0, 0}},
    {{"LE", nullptr}, {"LE", 7, 0, 1, 1, 0, 0}},
    {{"GT", nullptr}, {"GT", 7, 0, 1, 1, 0, 0}},
    {{"GE", nullptr}, {"GE", 7, 0, 1, 1, 0, 0}},
    {{"LIKE", nullptr}, {"LIKE", 7, 0, 1, 1, 0, 0}},
    {{"BETWEEN", nullptr}, {"BETWEEN", 7, 0, 1, 1, 0, 0}},
    {{"IN", nullptr}, {"IN", 7, 0, 1, 1, 0, 0}},
    {{"AND", nullptr}, {"AND", 8, 0, 1, 1, 0, 0}},
    {{"OR", nullptr}, {"OR", 9, 0, 1, 1, 0, 0}},
};

}  // namespace

OperatorTable::OperatorTable(std::span<const OperatorRow> rows) {
  for (const OperatorRow& row : rows) {
    operators_.push_back(std::make_unique<Operator>(row.op));
    const Operator* op = operators_.back().get();
    for (const char* spelling : row.spellings)
      if (spelling != nullptr) bySpelling_.emplace(spelling, op);
    byName_.emplace(op->name, op);
    if (op->rebalance) rebalancing_.insert(op->name);
  }
}

const Operator* OperatorTable::bySpelling(std::string_view spelling) const {
  auto it = bySpelling_.find(spelling);
  return it == bySpelling_.end() ? nullptr : it->second;
}

const Operator* OperatorTable::byName(std::string_view name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

bool OperatorTable::rebalances(std::string_view name) const { return rebalancing_.contains(name); }

const OperatorTable& velmorOperators() {
  static const OperatorTable table(kVelmor);
  return table;
}

const OperatorTable& sdataOperators() {
  static const OperatorTable table(kSdata);
  return table;
}

}  // namespace grammar

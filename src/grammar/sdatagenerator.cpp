#include "grammar/sdatagenerator.h"

#include "grammar/calltab.h"
#include "grammar/sdataparser.h"

namespace grammar {

const Generator::WalkTable& SDataGenerator::walkTable() {
  static const WalkTable table = [] {
    using G = SDataGenerator;
    WalkTable t;
    for (const char* tag : {"STRING", "INTEGER", "DECIMAL", "DATE", "DATETIME", "BOOLEAN"})
      t.setWalkNodeFunction(tag, &G::manageLiteral);
    t.setWalkNodeFunction("OP", &Generator::manageOperator);
    t.setWalkNodeFunction("EXPRESSION", static_cast<WalkFn>(&G::expression));
    t.setWalkNodeFunction("IDENT", static_cast<WalkFn>(&G::manageField));
    t.setWalkNodeFunction("NULL", static_cast<WalkFn>(&G::manageNull));
    t.setWalkNodeFunction("FCALL", static_cast<WalkFn>(&G::manageFunction));
    return t;
  }();
  return table;
}

SDataGenerator::SDataGenerator() : Generator(std::make_unique<SDataParser>(), walkTable()) {}

void SDataGenerator::open() {
  Generator::open();
  result_ = 0;
}

unsigned SDataGenerator::close(Node&) { return result_; }

unsigned SDataGenerator::expression(Node& node) { return result_ = walkNode(*node.args[0]); }

unsigned SDataGenerator::manageOperator(Node& node) {
  SourcePos at = position_of(&node);
  if (node.op == "LIKE") return manageCall(node, code::kLike);
  if (node.op == "BETWEEN") {
    unsigned value = walkNode(*node.args[0]);
    unsigned low = walkNode(*node.args[1]);
    unsigned high = walkNode(*node.args[2]);
    unsigned bounds = grammar().addExpression(code::kAnd, at, 0, 0, low, high);
    return grammar().addExpression(code::kBetween, at, 0, 0, grammar().chainExpressions({value, bounds}), 0);
  }
  if (node.op == "IN") {
    std::vector<unsigned> arguments{walkNode(*node.args[0])};
    for (unsigned index : walkNodes(node.list)) arguments.push_back(index);
    unsigned found = grammar().addExpression(code::kFind, at, 0, 0, grammar().chainExpressions(arguments), 0);
    unsigned zero = grammar().addExpression(code::kInteger, at, grammar().addInteger(0), 0, 0, 0);
    return grammar().addExpression(code::kNe, at, 0, 0, found, zero);
  }
  return Generator::manageOperator(node);
}

unsigned SDataGenerator::manageField(Node& node) {
  return grammar().addExpression(code::kVariable, position_of(&node), grammar().addIdentifier(node.value.text), 0,
                                 0, 0);
}

unsigned SDataGenerator::manageNull(Node& node) {
  return grammar().addExpression(code::kDatetime, position_of(&node), grammar().addLargeInteger(0), 1, 0, 0);
}

unsigned SDataGenerator::manageFunction(Node& node) {
  const s_fnc* function = findSdataFunction(node.value.text);
  if (function == nullptr) raise("The function " + node.value.text + " isn't managed");
  if (function->code != 262) return manageCall(node, function->code);
  // pow(a, b) is the power operator.
  unsigned base = walkNode(*node.args[0]);
  unsigned exponent = walkNode(*node.args[1]);
  return grammar().addExpression(function->code, position_of(&node), 0, 0, base, exponent);
}

}  // namespace grammar

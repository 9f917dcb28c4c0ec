#include "grammar/grammargenerator.h"

#include "grammar/grammarparser.h"

namespace grammar {

const Generator::WalkTable& GrammarGenerator::walkTable() {
  static const Generator::WalkTable table = [] {
    using G = GrammarGenerator;
    Generator::WalkTable t;
    G::setExpressionFunctions(t);
    // ORDER MARKERS: the kinds of GrammarParser.
    auto set = [&t](const char* tag, unsigned (G::*member)(Node&)) {
      t.setWalkNodeFunction(tag, static_cast<Generator::WalkFn>(member));
    };
    set("FORMULA", &G::formula);
    set("OPTIMIZATIONKEY", &G::optimizationKey);
    set("DEFAULTEXPRESSION", &G::defaultExpression);
    set("COLUMNSLIST", &G::defaultExpression);
    set("INSLIEXPR", &G::insliExpression);
    set("TABLEKEY", &G::tableKey);
    set("CFGFILE_LABEL", &G::cfgFileLabel);
    set("CFGFILE_PROPERTY", &G::cfgFileProperty);
    set("CFGFILE_END", &G::cfgFileEnd);
    set("STATEMENT", &G::statement);
    set("LABEL", &G::label);
    set("COMMENT", &G::comment);
    set("ENDOFFILE", &G::endOfFile);
    return t;
  }();
  return table;
}

GrammarGenerator::GrammarGenerator() : VelmorGenerator(std::make_unique<GrammarParser>(), walkTable()) {}

void GrammarGenerator::open() {
  Generator::open();
  first_ = last_ = 0;
}

unsigned GrammarGenerator::close(Node&) { return first_; }

void GrammarGenerator::produced(unsigned index) {
  if (first_ == 0) first_ = index;
  else grammar().chainExpressions(last_, index);
  last_ = index;
}

unsigned GrammarGenerator::formula(Node& node) {
  produced(walkNode(*node.args[0]));
  return first_;
}

unsigned GrammarGenerator::optimizationKey(Node& node) {
  Node& key = *node.args[0];
  unsigned values = grammar().chainExpressions(walkNodes(key.args));
  unsigned name = grammar().addIdentifier(key.value.text);
  produced(grammar().addExpression(code::kKey, position_of(&key), name, 0, values, 0));
  return first_;
}

unsigned GrammarGenerator::defaultExpression(Node& node) {
  for (const std::unique_ptr<Node>& expression : node.expressions) produced(walkNode(*expression));
  return first_;
}

unsigned GrammarGenerator::insliExpression(Node& node) {
  produced(walkNode(*node.args[0]));
  return defaultExpression(node);
}

unsigned GrammarGenerator::tableKey(Node& node) {
  for (const std::unique_ptr<Node>& column : node.items) {
    unsigned reference = grammar().addExpression(code::kVariable, position_of(column.get()),
                                                 grammar().addIdentifier(column->value.text), 0, 0, 0);
    if (column->mode == "-")
      reference = grammar().addExpression(code::kDescending, position_of(column.get()), 0, 0, reference, 0);
    produced(reference);
  }
  return first_;
}

unsigned GrammarGenerator::cfgFileLabel(Node& node) {
  unsigned name = grammar().addIdentifier(node.value.text);
  produced(grammar().addExpression(code::kSymbol, position_of(&node), name, 0, 0, 0));
  return first_;
}

unsigned GrammarGenerator::cfgFileProperty(Node& node) {
  if (node.argsSize() != 0) {
    produced(walkNode(*node.args[0]));
  } else {
    unsigned empty = grammar().addString("");
    produced(grammar().addExpression(code::kString, position_of(&node), empty, 0, 0, 0));
  }
  return first_;
}

unsigned GrammarGenerator::cfgFileEnd(Node& node) {
  produced(grammar().addExpression(code::kCfgEnd, position_of(&node), 0, 0, 0, 0));
  return first_;
}

unsigned GrammarGenerator::statement(Node& node) {
  unsigned target = manageAssign(node);
  if (first_ == 0) first_ = target;
  return target;
}

unsigned GrammarGenerator::label(Node& node) {
  grammar().addLabel(grammar().addIdentifier(node.value.text));
  return 0;
}

unsigned GrammarGenerator::comment(Node& node) {
  // Only "#!" comments are kept in the compiled form.
  if (node.value.text.compare(0, 2, "#!") == 0) grammar().addComment(node.value.text);
  return 0;
}

unsigned GrammarGenerator::endOfFile(Node&) { return 0; }

}  // namespace grammar

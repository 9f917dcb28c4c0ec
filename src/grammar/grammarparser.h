// The parser of the engine's expression sources: a source whose first
// character is a marker is one construct of that kind (a formula, a
// configuration line, a table key, a default expression, a column list, an
// insertion expression, an optimisation key); any other source is 4GL
// statements.
//
// The kind's node is the root's only statement: FORMULA holds its
// expression in `args`; DEFAULTEXPRESSION and COLUMNSLIST their expressions
// in `expressions`; TABLEKEY its COLUMN nodes (name in `value`, "+" or "-"
// in `mode`) in `items`; INSLIEXPR its term in `args` and its list in
// `expressions`; OPTIMIZATIONKEY a KEY node (name in `value`, values in
// `args`) in `args`; CFGFILE_LABEL the label in `value`; CFGFILE_PROPERTY
// its optional STRING in `args`.
#pragma once

#include <memory>

#include "grammar/velmorparser.h"

namespace grammar {

class GrammarParser : public VelmorParser {
 protected:
  void parseGrammarImpl() override;
  std::unique_ptr<Node> parseHeader() override { return nullptr; }

 private:
  // After the construct only blanks and line ends: "operator missing".
  void requireEnd();
  void parseFormula(Node& node);
  void parseCfgFile(Node& node);
  void parseTableKey(Node& node);
  void parseDefaultExpression(Node& node);
  void parseInsli(Node& node);
  void parseOptimizationKey(Node& node);
};

}  // namespace grammar

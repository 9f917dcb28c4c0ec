// The generator of the engine's expression sources (grammarparser.h): each
// kind gives the index of its expression; a list kind generates its
// expressions in order, chained through `next`, and gives the first.
// Statement sources give their first expression and store their
// assignments as instructions.
//
// A table key's column is a variable reference, a descending one wrapped in
// a node 332; an optimisation key is a node 327 naming the key's identifier
// over its chained values; a configuration label is a symbol (313), a
// property the load of its string ("" when none), the end a node 355.
#pragma once

#include "grammar/velmorgenerator.h"

namespace grammar {

class GrammarGenerator : public VelmorGenerator {
 public:
  GrammarGenerator();

 protected:
  void open() override;
  unsigned close(Node& root) override;

 private:
  static const WalkTable& walkTable();
  // Records the first expression produced, and chains each later one.
  void produced(unsigned index);

  unsigned formula(Node& node);
  unsigned optimizationKey(Node& node);
  unsigned defaultExpression(Node& node);
  unsigned insliExpression(Node& node);
  unsigned tableKey(Node& node);
  unsigned cfgFileLabel(Node& node);
  unsigned cfgFileProperty(Node& node);
  unsigned cfgFileEnd(Node& node);
  unsigned statement(Node& node);
  unsigned label(Node& node);
  unsigned comment(Node& node);
  unsigned endOfFile(Node& node);

  unsigned first_ = 0;
  unsigned last_ = 0;
};

}  // namespace grammar

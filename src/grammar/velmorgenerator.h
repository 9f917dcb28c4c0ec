// The generator of 4GL expressions and of the statements that expression
// sources hold (assignments, labels, kept comments).
//
// Expression layouts (what the calculator and the table service read):
// a literal is a load of its pool entry; a name is a variable (309, its
// identifier), a system variable (310, its code) or, qualified by a class,
// a class identifier (311, its class-identifier entry); a call is one node
// of the function's code whose header is the first argument, the arguments
// chained through `next`; an index is a node 312 over the indexed term
// (header) and the first index (tail, the indexes chained); a member access
// a node 315 over the object, naming the member's identifier; a range a
// node 316 over its bounds (tail 0 when open); NULL a call of null (148).
#pragma once

#include "grammar/generator.h"

namespace grammar {

class VelmorGenerator : public Generator {
 protected:
  VelmorGenerator(std::unique_ptr<Parser> parser, const WalkTable& table) : Generator(std::move(parser), table) {}
  // The 4GL's expression handlers, for a derived generator's table.
  static void setExpressionFunctions(WalkTable& table);

  // An assignment instruction: the target, the value, the operator
  // character; returns the target's index.
  unsigned manageAssign(Node& node) override;

  unsigned manageIdent(Node& node);
  unsigned manageFcall(Node& node);
  unsigned manageIndex(Node& node);
  unsigned manageAtt(Node& node);
  unsigned manageNull(Node& node);
};

}  // namespace grammar

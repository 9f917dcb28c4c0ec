// The parser of 4GL statements and expressions. Its scanning part: the
// 4GL's operators, and the literals that only the 4GL has (dates written
// [day/month/year], comments kept in the tree).
#pragma once

#include <memory>

#include "grammar/parser.h"

namespace grammar {

class VelmorParser : public Parser {
 public:
  VelmorParser();

  // REQUIRES: the opening "[" has been consumed. A DATE node: day, month
  // from 0, year; "day expected", "month expected", "year expected".
  std::unique_ptr<Node> parseDate();
  // REQUIRES: "#" comes next. A COMMENT node holding the text from "#" to
  // the end of the line.
  std::unique_ptr<Node> parseComment();
};

}  // namespace grammar

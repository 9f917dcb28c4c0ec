// The parser of SData filter expressions, the filter language of the
// front-end server's data requests: "@" and one expression of word
// operators (EQ, AND, LIKE, BETWEEN a AND b, IN (list) ...), field names,
// the SData functions, string and number literals, NULL, TRUE, FALSE and
// date or date-time literals between "@" (2024-03-01, 2024-03-01T10:20:30Z).
//
// The root's only statement is an EXPRESSION node holding the expression
// in `args`. A BETWEEN node holds the tested value and the two bounds in
// `args`; an IN node the tested value in `args` and the values in `list`.
#pragma once

#include <memory>
#include <string>

#include "grammar/parser.h"

namespace grammar {

class SDataParser : public Parser {
 public:
  SDataParser();

  // Left associative precedence climbing: operators of equal precedence
  // group to the left.
  std::unique_ptr<Node> parseExp(bool required, int level = 0, TermParser term = nullptr) override;
  std::unique_ptr<Node> parseFunction(const std::string& word) override;
  bool isKeyword(std::string_view keyword) const override;

 protected:
  void parseGrammarImpl() override;

 private:
  std::unique_ptr<Node> parseTerm(bool required);
  // REQUIRES: the opening "@" has been consumed.
  std::unique_ptr<Node> parseDatetime();
  int datePart(const char* missing);
};

}  // namespace grammar

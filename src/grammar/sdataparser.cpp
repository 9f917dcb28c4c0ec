#include "grammar/sdataparser.h"

#include "grammar/calltab.h"

namespace grammar {

SDataParser::SDataParser() { setOperators(sdataOperators()); }

bool SDataParser::isKeyword(std::string_view keyword) const {
  return Parser::isKeyword(keyword) || findOperator(keyword) != nullptr || keyword == "NULL" ||
         keyword == "TRUE" || keyword == "FALSE" || findSdataFunction(keyword) != nullptr;
}

void SDataParser::parseGrammarImpl() {
  if (at(0) != '@') fail("Bad sdata expression");
  incPos();
  auto expression = newNode("EXPRESSION");
  expression->args.push_back(parseExp(true, 0));
  for (;;) {
    eatSpaces();
    if (at(offset_) != '\n') break;
    advance();
  }
  if (at(offset_) >= 0) fail("operator missing");
  root().statements.push_back(std::move(expression));
}

std::unique_ptr<Node> SDataParser::parseExp(bool required, int level, TermParser term) {
  Nesting nesting(*this);
  if (level == 0) level = 10;
  std::unique_ptr<Node> left = term != nullptr ? (this->*term)(false) : parseTerm(false);
  if (left == nullptr) {
    if (required) fail("missing expression");
    return nullptr;
  }
  while (const Operator* op = parseBinaryOperator(level)) {
    auto node = newNode("OP");
    node->op = op->name;
    node->args.push_back(std::move(left));
    if (op->name == "BETWEEN") {
      node->args.push_back(parseTerm(true));
      const Operator* conjunction = parseOperator();
      if (conjunction == nullptr || conjunction->name != "AND") fail("AND missing");
      node->args.push_back(parseTerm(true));
    } else if (op->name == "IN") {
      parseParExps(node->list);
    } else {
      node->args.push_back(parseExp(true, op->precedence - 1, term));
    }
    left = std::move(node);
  }
  return left;
}

std::unique_ptr<Node> SDataParser::parseFunction(const std::string& word) {
  const s_fnc* function = findSdataFunction(word);
  if (function == nullptr) return nullptr;
  auto call = newNode("FCALL");
  call->value.setString(word);
  parseParExps(call->args);
  if (call->argsSize() != static_cast<std::size_t>(function->arity)) fail("bad number of arguments for " + word);
  return call;
}

std::unique_ptr<Node> SDataParser::parseTerm(bool required) {
  Nesting nesting(*this);
  eatSpaces();
  int c = at(offset_);
  if (c == '(') return parseParenthesized();
  if (c == '"' || c == '\'') {
    incPos();
    return parseString(static_cast<char>(c));
  }
  if (c == '@') {
    incPos();
    return parseDatetime();
  }
  if (isLetter(c) || c == '_') {
    std::string word = parseWord(true);
    std::string upper = toUpper(word);
    if (std::unique_ptr<Node> call = parseFunction(upper)) return call;
    if (upper == "NULL") return newNode("NULL");
    if (upper == "TRUE" || upper == "FALSE") {
      auto boolean = newNode("BOOLEAN");
      boolean->value.setBoolean(upper == "TRUE");
      return boolean;
    }
    if (upper == "NOT") {
      auto negation = newNode("OP");
      negation->op = "NOT";
      negation->args.push_back(parseTerm(true));
      return negation;
    }
    if (findOperator(upper) != nullptr) fail("unexpected keyword " + upper);
    for (char ch : word)
      if (ch == '$') fail("invalid character in " + word);
    auto ident = newNode("IDENT");
    ident->value.setString(word);
    return ident;
  }
  if (isDigit(c) || (c == '.' && isDigit(at(offset_ + 1)))) return parseNumber(true);
  if (c == '-' || c == '+') {
    incPos();
    auto prefix = newNode("OP");
    prefix->op = c == '-' ? "USUB" : "UADD";
    prefix->args.push_back(parseTerm(true));
    return prefix;
  }
  if (required) fail("missing term");
  return nullptr;
}

int SDataParser::datePart(const char* missing) {
  std::unique_ptr<Node> number = parseNumber(false);
  if (number == nullptr || number->value.kind != NodeValue::INTEGER) fail(missing);
  return number->value.integer;
}

std::unique_ptr<Node> SDataParser::parseDatetime() {
  auto date = newNode("DATE");
  int year = datePart("year expected");
  parseChar('-', true);
  int month = datePart("month expected");
  parseChar('-', true);
  int day = datePart("day expected");
  if (parseChar('T', false)) {
    int hour = datePart("hour expected");
    parseChar(':', true);
    int minute = datePart("minute expected");
    parseChar(':', true);
    int second = datePart("second expected");
    parseChar('Z', true);
    date->setTag("DATETIME");
    date->value.setDatetime(year, month, day, hour, minute, second);
  } else {
    date->value.setDate(day, month - 1, year);
  }
  parseChar('@', true);
  return date;
}

}  // namespace grammar

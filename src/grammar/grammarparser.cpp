#include "grammar/grammarparser.h"

namespace grammar {

void GrammarParser::parseGrammarImpl() {
  // ORDER MARKERS: the kinds of GrammarGenerator.
  static const struct {
    char marker;
    const char* kind;
    void (GrammarParser::*member)(Node&);
  } kMarkers[] = {
      {'@', "FORMULA", &GrammarParser::parseFormula},
      {'>', "CFGFILE", &GrammarParser::parseCfgFile},
      {'<', "TABLEKEY", &GrammarParser::parseTableKey},
      {'#', "DEFAULTEXPRESSION", &GrammarParser::parseDefaultExpression},
      {'!', "COLUMNSLIST", &GrammarParser::parseDefaultExpression},
      {'%', "INSLIEXPR", &GrammarParser::parseInsli},
      {'*', "OPTIMIZATIONKEY", &GrammarParser::parseOptimizationKey},
  };
  for (const auto& m : kMarkers) {
    if (at(0) != m.marker) continue;
    incPos();
    auto node = newNode(m.kind);
    (this->*m.member)(*node);
    requireEnd();
    root().statements.push_back(std::move(node));
    return;
  }
  VelmorParser::parseGrammarImpl();
}

void GrammarParser::requireEnd() {
  for (;;) {
    eatSpaces();
    if (at(offset_) != '\n') break;
    advance();
  }
  if (at(offset_) >= 0) fail("operator missing");
}

void GrammarParser::parseFormula(Node& node) { node.args.push_back(parseExp(true, 0)); }

void GrammarParser::parseCfgFile(Node& node) {
  if (parseChar('$', false)) {
    node.setTag("CFGFILE_LABEL");
    node.value.setString(parseWord(true));
  } else if (parseChar('{', false)) {
    node.setTag("CFGFILE_PROPERTY");
    eatSpaces();
    int quote = at(offset_);
    if (quote == '"' || quote == '\'') {
      incPos();
      node.args.push_back(parseString(static_cast<char>(quote)));
    }
    parseChar('}', true);
  } else if (toUpper(parseWord(false)) == "END") {
    node.setTag("CFGFILE_END");
  } else {
    fail("bad line");
  }
}

void GrammarParser::parseTableKey(Node& node) {
  do {
    bool descending = parseChar('-', false);
    if (!descending) parseChar('+', false);
    std::string name = parseWord(false);
    if (name.empty()) fail("mandatory identifier missing");
    auto column = newNode("COLUMN");
    column->mode = descending ? "-" : "+";
    column->value.setString(name);
    node.items.push_back(std::move(column));
  } while (parseChar(',', false));
}

void GrammarParser::parseDefaultExpression(Node& node) {
  do {
    node.expressions.push_back(parseExp(true, 0));
  } while (parseChar(',', false));
}

void GrammarParser::parseInsli(Node& node) {
  node.args.push_back(parseSimpleTerm(true));
  parseParExps(node.expressions);
}

void GrammarParser::parseOptimizationKey(Node& node) {
  std::string name = parseWord(false);
  if (name.empty()) fail("mandatory identifier missing");
  auto key = newNode("KEY");
  key->value.setString(name);
  if (peekChar('(')) parseParExps(key->args);
  node.args.push_back(std::move(key));
}

}  // namespace grammar

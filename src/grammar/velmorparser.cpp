#include "grammar/velmorparser.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "grammar/calltab.h"
#include "grammar/srcread.h"

namespace grammar {

namespace {

// Further reserved words: type names and clause words.
const char* const kReserved[] = {
    "BLBFILE", "BOOLEAN", "CHAR",  "CLBFILE", "DATE", "DATETIME",  "DECIMAL",  "DOUBLE",  "FLOAT",
    "INTEGER", "LIBELLE", "SCHAR", "SHORTINT", "STRUCT", "TINYINT", "UUIDENT", "ALLOCGROUP", "ASC",
    "AT",      "BY",      "DESC",  "EXTENDED", "KEY",  "MAXROWS",  "NOHINT",   "SIZED",   "SQL",
    "STARTING", "STEP",   "THEN",  "STABILITY",
};

// The type names a declaration takes (INSTANCE and FILE have statements of
// their own, and declare too).
const char* const kTypes[] = {
    "BLBFILE", "BOOLEAN", "CHAR",    "CLBFILE", "DATE",    "DATETIME", "DECIMAL", "DOUBLE", "FLOAT",
    "INTEGER", "LIBELLE", "SCHAR",   "SHORTINT", "STRUCT", "TINYINT",  "UUIDENT", "INSTANCE", "FILE",
};

bool is_identifier(const std::string& word) {
  if (word.empty() || !(Parser::isLetter(word[0]) || word[0] == '_')) return false;
  return std::all_of(word.begin(), word.end(), [](char c) { return Parser::isLetter(c) || Parser::isDigit(c) || c == '_'; });
}

template <std::size_t N>
const std::unordered_set<std::string_view>& word_set(const char* const (&words)[N]) {
  static const std::unordered_set<std::string_view> set(std::begin(words), std::end(words));
  return set;
}

}  // namespace

VelmorParser::VelmorParser() { setOperators(velmorOperators()); }

VelmorParser::Member VelmorParser::languageMember(const std::string& upper, bool* found) {
  using P = VelmorParser;
  static const std::unordered_map<std::string_view, Member> table = {
      // Reserved clause words: no member.
      {"AS", nullptr}, {"BUTTON", nullptr}, {"CODED", nullptr}, {"CURR", nullptr}, {"FIRST", nullptr},
      {"FOLDER", nullptr}, {"FROM", nullptr}, {"FUNC", nullptr}, {"FUNCIU", nullptr}, {"HINT", nullptr},
      {"LAST", nullptr}, {"NEWINSTANCE", nullptr}, {"NEWSTC", nullptr}, {"NOT", nullptr}, {"ORDER", nullptr},
      {"PREV", nullptr}, {"TO", nullptr}, {"TREEBOX", nullptr}, {"USING", nullptr}, {"WHERE", nullptr},
      {"WITH", nullptr},
      // An optional "=" and an expression.
      {"BOXCLR", &P::parseResultNode}, {"DBGETNA", &P::parseResultNode}, {"DISLBOX", &P::parseResultNode},
      {"FREE", &P::parseResultNode}, {"FREEGROUP", &P::parseResultNode}, {"FREEZEINSTANCE", &P::parseResultNode},
      {"HLPBOX", &P::parseResultNode}, {"INTER", &P::parseResultNode}, {"NOINTER", &P::parseResultNode},
      {"SETFCT", &P::parseResultNode}, {"SETGUS", &P::parseResultNode}, {"SETMDU", &P::parseResultNode},
      {"SLEEP", &P::parseResultNode},
      {"ASKUI", &P::parseRetEqExpWith}, {"CALLILOG", &P::parseRetEqExpWith}, {"CALLOCX", &P::parseRetEqExpWith},
      {"CALLUI", &P::parseRetEqExpWith}, {"GETUI", &P::parseRetEqExpWith}, {"LISTIMP", &P::parseRetEqExpWith},
      {"REPORT", &P::parseRetEqExpWith}, {"SELDEST", &P::parseRetEqExpWith}, {"SELIMP", &P::parseRetEqExpWith},
      {"EDI", &P::parseDynNameStatement}, {"MEN", &P::parseDynNameStatement}, {"NAP", &P::parseDynNameStatement},
      {"PMT", &P::parseDynNameStatement}, {"REB", &P::parseDynNameStatement}, {"RUN", &P::parseDynNameStatement},
      {"CHGFMT", &P::parseClassIdWith}, {"CHGTBK", &P::parseClassIdWith}, {"CHGTZN", &P::parseClassIdWith},
      {"INSLI", &P::parseClassIdWith}, {"SAIZO", &P::parseClassIdWith},
      {"BLK", &P::obsolete}, {"LEFTBOX", &P::obsolete}, {"PIKLTB", &P::obsolete}, {"POKLTB", &P::obsolete},
      {"COMMIT", &P::parseEmpty}, {"DBGAFF", &P::parseEmpty}, {"RESUME", &P::parseEmpty},
      {"ROLLBACK", &P::parseEmpty},
      {"GOSUB", &P::parseGo}, {"GOTO", &P::parseGo}, {"ONINTGO", &P::parseGo}, {"ONERRGO", &P::parseGo},
      {"CONST", &P::parseVarDecl}, {"VALUE", &P::parseVarDecl}, {"VARIABLE", &P::parseVarDecl},
      {"EXTERN", &P::parseVarDecl}, {"GLOBAL", &P::parseVarDecl}, {"LOCAL", &P::parseVarDecl},
      {"END", &P::parseEnd}, {"RETURN", &P::parseEnd}, {"BREAK", &P::parseEnd},
      {"KILL", &P::parseExpsStatement}, {"RAZ", &P::parseExpsStatement}, {"DELA", &P::parseExpsStatement},
      {"INSA", &P::parseExpsStatement},
      {"FUNPROG", &P::parseProg}, {"SUBPROG", &P::parseProg},
      {"IF", &P::parseIf}, {"ELSIF", &P::parseElsif}, {"ELSE", &P::parseElse}, {"ENDIF", &P::parseEndif},
      {"CASE", &P::parseCase}, {"WHEN", &P::parseWhen}, {"DEFAULT", &P::parseDefault},
      {"ENDCASE", &P::parseEndcase}, {"WHILE", &P::parseWhile}, {"WEND", &P::parseWend},
      {"REPEAT", &P::parseRepeat}, {"UNTIL", &P::parseUntil}, {"FOR", &P::parseFor}, {"NEXT", &P::parseNext},
      {"CALL", &P::parseCall},
      // Table, file, SQL and object statements: operands and clauses.
      {"LOOK", &P::parseClauses}, {"READ", &P::parseClauses}, {"READLOCK", &P::parseClauses},
      {"SETINSTANCE", &P::parseClauses}, {"SETINSTANCENOSYS", &P::parseClauses}, {"SETSTC", &P::parseClauses},
      {"ANASQL", &P::parseClauses}, {"EXECSQL", &P::parseClauses}, {"ASSIGN", &P::parseClauses},
      {"SETLOB", &P::parseClauses}, {"CHOOSE", &P::parseClauses}, {"FILTER", &P::parseClauses},
      {"LOCK", &P::parseClauses}, {"UNLOCK", &P::parseClauses}, {"GETSEQ", &P::parseClauses},
      {"PUTSEQ", &P::parseClauses}, {"APPEND", &P::parseClauses}, {"CLOSE", &P::parseClauses},
      {"COLUMNS", &P::parseClauses}, {"CONVXML", &P::parseClauses}, {"CHGTFD", &P::parseClauses},
      {"CLBEXECUTE", &P::parseClauses}, {"DELETE", &P::parseClauses}, {"DELETEBYKEY", &P::parseClauses},
      {"FLUSH", &P::parseClauses}, {"FILE", &P::parseClauses}, {"FREEINSTANCE", &P::parseClauses},
      {"IOMODE", &P::parseClauses}, {"PARSEINSTANCE", &P::parseClauses}, {"LINK", &P::parseClauses},
      {"LOGICCLOSE", &P::parseClauses}, {"OPENI", &P::parseClauses}, {"OPENIO", &P::parseClauses},
      {"OPENO", &P::parseClauses}, {"RDSEQ", &P::parseClauses}, {"REWRITE", &P::parseClauses},
      {"REWRITEBYKEY", &P::parseClauses}, {"SEEK", &P::parseClauses}, {"SETMODE", &P::parseClauses},
      {"SORTA", &P::parseClauses}, {"SYSTEM", &P::parseClauses}, {"TRBEGIN", &P::parseClauses},
      {"UPDATE", &P::parseClauses}, {"WRITE", &P::parseClauses}, {"WRITEB", &P::parseClauses},
      {"WRSEQ", &P::parseClauses}, {"CALLMET", &P::parseClauses}, {"INSTANCE", &P::parseClauses},
  };
  auto it = table.find(upper);
  *found = it != table.end();
  return *found ? it->second : nullptr;
}

VelmorParser::Member VelmorParser::expressionMember(const std::string& upper) {
  using P = VelmorParser;
  static const std::unordered_map<std::string_view, Member> table = {
      {"FUNC", &P::parseFunc}, {"FMET", &P::parseFunc}, {"FUNCIU", &P::parseFunc},
      {"NEWSTC", &P::parseNewInstance}, {"NEWINSTANCE", &P::parseNewInstance}, {"NOT", &P::parseNOT},
      {"DEFAULT", &P::parseEmpty}, {"NULL", &P::parseEmpty}, {"TYPE", &P::parseTYPE},
  };
  auto it = table.find(upper);
  return it == table.end() ? nullptr : it->second;
}

bool VelmorParser::isReserved(const std::string& upper) const {
  bool found = false;
  languageMember(upper, &found);
  return found || expressionMember(upper) != nullptr || word_set(kReserved).contains(upper);
}

bool VelmorParser::isKeyword(std::string_view keyword) const {
  return Parser::isKeyword(keyword) || isReserved(std::string(keyword));
}

// ---- Statements ----

void VelmorParser::parseGrammarImpl() {
  blocks_.clear();
  if (header_) root().statements.push_back(parseHeader());
  while (!atEnd()) {
    Position before = position();
    const std::string& word = parseWord(false);
    if (word.empty()) {
      if (!parseStatementSep(false)) parseStatement();
      continue;
    }
    std::string upper = toUpper(word);
    bool found = false;
    Member member = languageMember(upper, &found);
    if (member == nullptr) {
      restore(before);
      parseStatement();
      continue;
    }
    if (std::unique_ptr<Node> statement = parseLanguageKey(member, newNode(upper)))
      root().statements.push_back(std::move(statement));
  }
  if (!blocks_.empty()) fail("unterminated block: " + blocks_.back().tag);
  root().statements.push_back(newNode("ENDOFFILE"));
}

std::unique_ptr<Node> VelmorParser::parseLanguageKey(Member member, std::unique_ptr<Node> node) {
  node = (this->*member)(std::move(node));
  parseStatementSep(true);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseHeader() { return newNode("HEADER"); }

void VelmorParser::parseStatement() {
  auto statement = newNode("STATEMENT");
  std::unique_ptr<Node> target = parseTerm(true);
  bool colon = at(offset_) == ':' && at(offset_ - 1) != ' ' && at(offset_ - 1) != '\t';
  if (const Operator* op = parseOperator()) {
    if (!op->assigns) fail("assignment operator expected");
    statement->op = op->name;
    statement->assign = op->assigns;
    statement->args.push_back(std::move(target));
    statement->args.push_back(parseExp(true, 0));
    root().statements.push_back(std::move(statement));
    parseStatementSep(true);
    return;
  }
  if (target->tag() != "IDENT" || !target->className.empty() || !colon)
    fail("invalid statement syntax: " + target->tag());
  incPos();
  statement->setTag("LABEL");
  statement->value.setString(target->value.text);
  root().statements.push_back(std::move(statement));
}

bool VelmorParser::parseStatementSep(bool required) {
  bool found = false;
  for (;;) {
    eatSpaces();
    int c = at(offset_);
    if (c < 0) return true;
    if (c == '\n' || c == ':') {
      advance();
    } else if (c == '#') {
      root().statements.push_back(parseComment());
    } else {
      break;
    }
    found = true;
  }
  if (!found && required) fail("end of line or colon(:) expected");
  return found;
}

bool VelmorParser::atStatementEnd() {
  eatSpaces();
  int c = at(offset_);
  return c < 0 || c == '\n' || c == ':' || c == '#';
}

void VelmorParser::expressionList(Node::List& into) {
  do {
    into.push_back(parseExp(true, 0));
  } while (parseChar(',', false));
}

std::string VelmorParser::requiredName() {
  std::string name = parseWord(false);
  if (name.empty()) fail("mandatory identifier missing");
  if (!is_identifier(name)) fail("invalid character in " + name);
  return name;
}

void VelmorParser::openBlock(const Node& node) { blocks_.push_back({node.tag()}); }

void VelmorParser::inBlock(const Node& node, std::string_view opener) {
  if (blocks_.empty() || blocks_.back().tag != opener)
    fail(node.tag() + " unexpected outside of " + std::string(opener));
}

void VelmorParser::closeBlock(const Node& node, std::string_view opener) {
  inBlock(node, opener);
  blocks_.pop_back();
}

std::unique_ptr<Node> VelmorParser::parseResultNode(std::unique_ptr<Node> node) {
  bool equals = parseChar('=', false);
  if (std::unique_ptr<Node> value = parseExp(equals, 0)) node->args.push_back(std::move(value));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseRetEqExpWith(std::unique_ptr<Node> node) {
  // [result =] expression [WITH expressions]: the leading equality names
  // the result.
  std::unique_ptr<Node> first = parseExp(true, 0);
  if (first->tag() == "OP" && first->op == "EQ" && first->level() == level_) {
    node->to.push_back(std::move(first->args[0]));
    node->args.push_back(std::move(first->args[1]));
  } else {
    node->args.push_back(std::move(first));
  }
  if (parseKeyword("WITH", false)) {
    if (atStatementEnd()) fail("bad 'WITH' clause: " + node->tag());
    expressionList(node->values);
  }
  return node;
}

std::unique_ptr<Node> VelmorParser::parseDynNameStatement(std::unique_ptr<Node> node) {
  expressionList(node->args);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseClassIdWith(std::unique_ptr<Node> node) {
  node->args.push_back(parseTerm(true));
  if (parseKeyword("WITH", false)) {
    if (atStatementEnd()) fail("bad 'WITH' clause: " + node->tag());
    expressionList(node->values);
  }
  return node;
}

std::unique_ptr<Node> VelmorParser::obsolete(std::unique_ptr<Node> node) {
  // The rest of the statement is skipped; strings are skipped whole.
  for (int c; (c = at(offset_)) >= 0 && c != '\n' && c != ':';) {
    if (c == '"' || c == '\'') {
      incPos();
      parseString(static_cast<char>(c));
    } else {
      incPos();
    }
  }
  return node;
}

std::unique_ptr<Node> VelmorParser::parseEmpty(std::unique_ptr<Node> node) { return node; }

std::unique_ptr<Node> VelmorParser::parseGo(std::unique_ptr<Node> node) {
  node->value.setString(requiredName());
  if (parseKeyword("FROM", false)) node->from.push_back(parseExp(true, 0));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseEnd(std::unique_ptr<Node> node) {
  if (!atStatementEnd()) node->args.push_back(parseExp(true, 0));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseExpsStatement(std::unique_ptr<Node> node) {
  expressionList(node->args);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseVarDecl(std::unique_ptr<Node> node) {
  std::string type = toUpper(parseWord(false));
  if (type.empty() || !isReserved(type)) fail("type keyword expected");
  if (!word_set(kTypes).contains(type)) fail("invalid type " + type);
  node->mode = type;
  std::unordered_set<std::string> names;
  do {
    auto variable = newNode("VARIABLE");
    std::string name = requiredName();
    if (!names.insert(toUpper(name)).second) fail("duplicate " + name);
    variable->value.setString(name);
    // A character string's length, then the dimensions.
    if (type == "CHAR" && peekChar('(')) parseParExps(variable->lens);
    if (peekChar('(')) parseParExps(variable->ranges);
    node->args.push_back(std::move(variable));
  } while (parseChar(',', false));
  if (type == "INSTANCE") {
    parseKeyword("USING", true);
    node->classes.push_back(parseTerm(true));
  }
  return node;
}

std::unique_ptr<Node> VelmorParser::parseProg(std::unique_ptr<Node> node) {
  node->value.setString(requiredName());
  if (parseChar('(', false) && !parseChar(')', false)) {
    do {
      auto parameter = newNode("VARIABLE");
      parameter->value.setString(requiredName());
      node->args.push_back(std::move(parameter));
    } while (parseChar(',', false));
    parseChar(')', true);
  }
  return node;
}

std::unique_ptr<Node> VelmorParser::parseClauses(std::unique_ptr<Node> node) {
  Node* clause = nullptr;
  std::unordered_set<std::string> seen;
  while (!atStatementEnd()) {
    Position before = position();
    std::string word = toUpper(parseWord(false));
    bool found = false;
    if (!word.empty() && languageMember(word, &found) == nullptr && (found || word_set(kReserved).contains(word))) {
      if (!seen.insert(word).second) fail("duplicate " + word);
      if (word == "ORDER" && !parseKeyword("BY", false)) fail("'BY' expected");
      node->items.push_back(newNode(word));
      clause = node->items.back().get();
      continue;
    }
    restore(before);
    if (parseChar(',', false)) continue;
    std::unique_ptr<Node> operand = parseExp(false, 0);
    if (operand == nullptr) fail("bad line");
    (clause != nullptr ? clause->args : node->args).push_back(std::move(operand));
  }
  return node;
}

std::unique_ptr<Node> VelmorParser::parseIf(std::unique_ptr<Node> node) {
  node->args.push_back(parseExp(true, 0));
  parseKeyword("THEN", false);
  openBlock(*node);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseElsif(std::unique_ptr<Node> node) {
  inBlock(*node, "IF");
  node->args.push_back(parseExp(true, 0));
  parseKeyword("THEN", false);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseElse(std::unique_ptr<Node> node) {
  inBlock(*node, "IF");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseEndif(std::unique_ptr<Node> node) {
  closeBlock(*node, "IF");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseCase(std::unique_ptr<Node> node) {
  node->args.push_back(parseExp(true, 0));
  openBlock(*node);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseWhen(std::unique_ptr<Node> node) {
  inBlock(*node, "CASE");
  expressionList(node->args);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseDefault(std::unique_ptr<Node> node) {
  inBlock(*node, "CASE");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseEndcase(std::unique_ptr<Node> node) {
  closeBlock(*node, "CASE");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseWhile(std::unique_ptr<Node> node) {
  node->args.push_back(parseExp(true, 0));
  openBlock(*node);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseWend(std::unique_ptr<Node> node) {
  closeBlock(*node, "WHILE");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseRepeat(std::unique_ptr<Node> node) {
  openBlock(*node);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseUntil(std::unique_ptr<Node> node) {
  closeBlock(*node, "REPEAT");
  node->args.push_back(parseExp(true, 0));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseFor(std::unique_ptr<Node> node) {
  // FOR counter = from TO to [STEP step]; any other FOR is a loop over a
  // table, with its clauses.
  Position before = position();
  std::unique_ptr<Node> counter = parseTerm(false);
  const Operator* op = counter != nullptr ? parseOperator() : nullptr;
  if (op != nullptr && op->name == "EQ") {
    node->args.push_back(std::move(counter));
    node->from.push_back(parseExp(true, 0));
    parseKeyword("TO", true);
    node->to.push_back(parseExp(true, 0));
    if (parseKeyword("STEP", false)) node->values.push_back(parseExp(true, 0));
  } else {
    restore(before);
    node = parseClauses(std::move(node));
  }
  openBlock(*node);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseNext(std::unique_ptr<Node> node) {
  closeBlock(*node, "FOR");
  if (!atStatementEnd()) node->args.push_back(parseTerm(true));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseCall(std::unique_ptr<Node> node) {
  node->value.setString(requiredName());
  if (peekChar('(')) parseParExps(node->args);
  if (parseKeyword("FROM", false)) node->from.push_back(parseExp(true, 0));
  return node;
}

// ---- Expressions ----

std::unique_ptr<Node> VelmorParser::parseExp(bool required, int level, TermParser term) {
  Nesting nesting(*this);
  if (level == 0) level = 10;
  if (term == nullptr) term = static_cast<TermParser>(&VelmorParser::parseTerm);
  std::unique_ptr<Node> left = (this->*term)(false);
  if (left == nullptr) {
    if (required) fail("missing expression");
    return nullptr;
  }
  while (const Operator* op = parseBinaryOperator(level)) {
    auto node = newNode("OP");
    node->op = op->name;
    node->assign = op->assigns;
    if (op->name == "RANGE" && (peekChar(')') || peekChar(','))) {
      node->args.push_back(std::move(left));
    } else {
      std::unique_ptr<Node> right = parseExp(true, level, term);
      if (op->name == "POW" && left->tag() == "OP" && left->op == "USUB" && left->level() == level_) {
        // -a ^ b is -(a ^ b): the negation takes the whole power chain that
        // the new power ends up in once rebalanced.
        std::unique_ptr<Node> negation = std::move(left);
        const Node* power = node.get();
        node->args.push_back(std::move(negation->args[0]));
        node->args.push_back(std::move(right));
        negation->args.clear();
        node = balanceOperators(std::move(node));
        std::unique_ptr<Node>* slot = &node;
        std::unique_ptr<Node>* chain = nullptr;
        for (;; slot = &(*slot)->args[0]) {
          bool isPower = (*slot)->tag() == "OP" && (*slot)->op == "POW" && (*slot)->level() == level_;
          if (!isPower) chain = nullptr;
          else if (chain == nullptr) chain = slot;
          if (slot->get() == power) break;
        }
        negation->args.push_back(std::move(*chain));
        *chain = std::move(negation);
      } else {
        node->args.push_back(std::move(left));
        node->args.push_back(std::move(right));
      }
    }
    if (!op->chains && op->precedence == level) return balanceOperators(std::move(node));
    left = std::move(node);
  }
  return balanceOperators(std::move(left));
}

std::unique_ptr<Node> VelmorParser::parseTerm(bool required) {
  Nesting nesting(*this);
  std::unique_ptr<Node> term = parseSimpleTerm(required);
  if (term == nullptr) return nullptr;
  term = parseOptIndex(std::move(term));
  // "a.b" is a member; "a..b" a range and "a.5" no member.
  while (peekChar('.') && at(offset_ + 1) != '.' && !isDigit(at(offset_ + 1))) {
    incPos();
    std::string member = parseWord(false);
    if (member.empty()) fail("unexpected . character");
    if (!is_identifier(member)) fail("invalid character in " + member);
    auto access = newNode("ATT");
    access->value.setString(member);
    access->args.push_back(std::move(term));
    term = parseOptIndex(std::move(access));
  }
  return term;
}

std::unique_ptr<Node> VelmorParser::parseOptIndex(std::unique_ptr<Node> term) {
  if (!peekChar('(')) return term;
  auto index = newNode("INDEX");
  index->args.push_back(std::move(term));
  parseParExps(index->list);
  return index;
}

std::unique_ptr<Node> VelmorParser::parseSimpleTerm(bool required) {
  eatSpaces();
  int c = at(offset_);
  if (c == '[') {
    incPos();
    if (isDigit(at(offset_))) return parseDate();
    std::string className = parseWord(false);
    if (className.empty() || !parseChar(']', false)) fail("[class] expected");
    std::string name = requiredName();
    auto ident = newNode("IDENT");
    ident->value.setString(name);
    ident->className = className;
    return ident;
  }
  if (c == '(') return parseParenthesized();
  if (c == '"' || c == '\'') {
    incPos();
    return parseString(static_cast<char>(c));
  }
  if (c == '=') {
    incPos();
    auto dynamic = newNode("DYN");
    dynamic->args.push_back(parseExp(true, 0));
    return dynamic;
  }
  if (isLetter(c) || c == '_') {
    std::string word = parseWord(true);
    std::string upper = toUpper(word);
    if (std::unique_ptr<Node> construct = parseFunction(upper)) return construct;
    if (upper == "TRUE" || upper == "FALSE") {
      auto boolean = newNode("BOOLEAN");
      boolean->value.setBoolean(upper == "TRUE");
      return boolean;
    }
    if (upper == "DIM") return parseDim(newNode(upper));
    if (isReserved(upper)) fail("unexpected keyword " + upper);
    if (!is_identifier(word)) fail("invalid character in " + word);
    auto ident = newNode("IDENT");
    ident->value.setString(word);
    return ident;
  }
  if (isDigit(c) || (c == '.' && isDigit(at(offset_ + 1)))) return parseNumber(true);
  if (c == '-' || c == '+' || c == '!') {
    incPos();
    auto prefix = newNode("OP");
    prefix->op = c == '-' ? "USUB" : c == '+' ? "UADD" : "NOT";
    prefix->args.push_back(parseTerm(true));
    return prefix;
  }
  if (required) fail("missing term");
  return nullptr;
}

std::unique_ptr<Node> VelmorParser::parseFunction(const std::string& word) {
  if (Member member = expressionMember(word)) return (this->*member)(newNode(word));
  const s_fnc* function = findFunction(word);
  if (function == nullptr) return nullptr;
  if (word == "SIGMA") return parseSigma(newNode("SIGMA"));
  if (word == "EVALUE") return parseEvalue(newNode("EVALUE"));
  auto call = newNode("FCALL");
  call->value.setString(word);
  if (function->arity != 0) parseParExps(call->args);
  return call;
}

std::unique_ptr<Node> VelmorParser::parseFunc(std::unique_ptr<Node> node) {
  // FUNC [script.]label[(arguments)]
  std::string name = requiredName();
  if (peekChar('.') && at(offset_ + 1) != '.') {
    incPos();
    node->symbol = name;
    name = requiredName();
  }
  node->value.setString(name);
  if (peekChar('(')) parseParExps(node->args);
  return node;
}

std::unique_ptr<Node> VelmorParser::parseNewInstance(std::unique_ptr<Node> node) {
  node->classes.push_back(parseSimpleTerm(true));
  if (parseKeyword("ALLOCGROUP", false)) node->args.push_back(parseExp(true, 0));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseNOT(std::unique_ptr<Node> node) {
  node->setTag("OP");
  node->op = "NOT";
  node->args.push_back(parseTerm(true));
  return node;
}

std::unique_ptr<Node> VelmorParser::parseTYPE(std::unique_ptr<Node> node) {
  parseParExps(node->args);
  if (node->argsSize() != 1) fail("invalid arg count for type function");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseSigma(std::unique_ptr<Node> node) {
  // sigma(counter = from, to, expression)
  parseParExps(node->args);
  if (node->argsSize() != 3) fail("bad number of arguments for sigma");
  const Node& counter = *node->args[0];
  if (counter.tag() != "OP" || counter.op != "EQ" || counter.args[0]->tag() != "IDENT")
    fail("bad sigma syntax: identifier expected before = sign");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseEvalue(std::unique_ptr<Node> node) {
  parseParExps(node->args);
  if (node->argsSize() == 0) fail("bad number of arguments for evalue");
  return node;
}

std::unique_ptr<Node> VelmorParser::parseDim(std::unique_ptr<Node> node) {
  parseParExps(node->args);
  return node;
}

// ---- Literals ----

std::unique_ptr<Node> VelmorParser::parseDate() {
  auto date = newNode("DATE");
  int parts[3];
  const char* const missing[3] = {"day expected", "month expected", "year expected"};
  for (int i = 0; i < 3; i++) {
    std::unique_ptr<Node> number = parseNumber(false);
    if (number == nullptr || number->value.kind != NodeValue::INTEGER) fail(missing[i]);
    parts[i] = number->value.integer;
    parseChar(i < 2 ? '/' : ']', true);
  }
  date->value.setDate(parts[0], parts[1] - 1, parts[2]);
  return date;
}

std::unique_ptr<Node> VelmorParser::parseComment() {
  eatSpaces();
  auto comment = newNode("COMMENT");
  std::size_t end = offset_;
  while (at(end) >= 0 && at(end) != '\n') end++;
  std::string text = source_.substr(offset_, end - offset_);
  if (utf8_count(text.data(), text.size()) < 0) fail("invalid UTF-8 in comment");
  comment->value.setString(std::move(text));
  column_ += static_cast<std::uint32_t>(end - offset_);
  offset_ = end;
  return comment;
}

}  // namespace grammar

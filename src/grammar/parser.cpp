#include "grammar/parser.h"

#include <unistd.h>

#include <algorithm>

#include "grammar/srcread.h"

namespace grammar {

int Exception_fd = STDOUT_FILENO;

namespace {

const std::string kNoWord;
// A word longer than this cannot be stored as an identifier.
constexpr std::size_t kMaxWord = 254;
// Characters of a string literal (as the classic scanner counts them).
constexpr int kMaxString = 255;
// Bytes of source text that an error message quotes on each side.
constexpr std::size_t kContext = 40;

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }


bool equals_upper(std::string_view word, std::string_view keyword) {
  if (word.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < word.size(); i++)
    if (upper(word[i]) != keyword[i]) return false;
  return true;
}

// At most kContext bytes of `text` from `from` (and before `end`), whole
// characters only.
std::string excerpt(const std::string& text, std::size_t from, std::size_t end = std::string::npos) {
  std::size_t to = std::min({text.size(), end, from + kContext});
  while (to > from && to < text.size() && is_continuation_byte(text[to])) to--;
  return text.substr(from, to - from);
}

}  // namespace

std::string Parser::toUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upper(c);
  return out;
}

Parser::Nesting::Nesting(Parser& p) : parser_(p) {
  if (++parser_.nesting_ > kMaxNesting) {
    parser_.nesting_--;
    parser_.fail("expression nested too deeply");
  }
}

Node& Parser::parseGrammar(std::string source) {
  root_.reset();
  setSource(std::move(source));
  nesting_ = 0;
  root_ = newNode("SCRIPT");
  parseGrammarImpl();
  return *root_;
}

bool Parser::atEnd() {
  eatSpaces();
  return at(offset_) < 0;
}

void Parser::parseParExps(Node::List& into) {
  parseChar('(', true);
  if (parseChar(')', false)) return;
  do {
    into.push_back(parseExp(true, 0));
  } while (parseChar(',', false));
  parseChar(')', true);
}

std::unique_ptr<Node> Parser::parseParenthesized() {
  incPos();
  level_++;
  std::unique_ptr<Node> inner = parseExp(true, 0);
  parseChar(')', true);
  level_--;
  return inner;
}

std::unique_ptr<Node> Parser::balanceOperators(std::unique_ptr<Node> node) const {
  auto rebalancing = [&](const Node* n) {
    return n->tag() == "OP" && n->level() == node->level() && rebalances(n->op);
  };
  auto precedence = [&](const Node* n) { return findOperatorByName(n->op)->precedence; };
  if (node == nullptr || node->argsSize() < 2 || !rebalancing(node.get()) || !rebalancing(node->args[1].get()))
    return node;
  int p = precedence(node.get());
  if (p > precedence(node->args[1].get())) return node;
  // Down the left operands of the right operand, through the binary
  // operators that do not bind tighter; a prefix operator is a term.
  Node* leftmost = node->args[1].get();
  for (;;) {
    const Node* next = leftmost->args[0].get();
    if (next->tag() != "OP" || next->level() != node->level() || next->argsSize() < 2 || precedence(next) < p) break;
    leftmost = leftmost->args[0].get();
  }
  std::unique_ptr<Node> root = std::move(node->args[1]);
  node->args[1] = std::move(leftmost->args[0]);
  leftmost->args[0] = std::move(node);
  return root;
}

void Parser::setSource(std::string source) {
  source_ = std::move(source);
  offset_ = lineStart_ = 0;
  line_ = 0;
  column_ = 1;
  level_ = 0;
  wordStart_ = SIZE_MAX;
}

void Parser::incPos() {
  offset_++;
  column_++;
}

void Parser::incLine() {
  line_++;
  column_ = 1;
}

void Parser::advance() {
  if (at(offset_) == '\n') {
    offset_++;
    incLine();
    lineStart_ = offset_;
  } else {
    incPos();
  }
}

void Parser::restore(const Position& p) {
  offset_ = p.offset;
  lineStart_ = p.lineStart;
  line_ = p.line;
  column_ = p.column;
}

void Parser::eatSpaces() {
  for (;;) {
    int c = at(offset_);
    if (is_blank(c)) {
      incPos();
    } else if (c == '\n' && at(offset_ + 1) == '&') {
      advance();
      incPos();
    } else {
      return;
    }
  }
}

bool Parser::peekChar(char c) {
  eatSpaces();
  return at(offset_) == static_cast<unsigned char>(c);
}

bool Parser::parseChar(char c, bool required) {
  if (peekChar(c)) {
    advance();
    return true;
  }
  if (required) fail(std::string("missing ") + c);
  return false;
}

const std::string& Parser::parseWord(bool required) {
  eatSpaces();
  if (offset_ == wordStart_) {
    restore(wordEnd_);
    return word_;
  }
  int c = at(offset_);
  if (!isLetter(c) && c != '_') {
    if (required) fail("identifier or keyword missing");
    return kNoWord;
  }
  std::size_t end = offset_ + 1;
  while (isWordChar(at(end))) end++;
  if (end - offset_ > kMaxWord) fail("identifier too long: " + excerpt(source_, offset_));
  wordStart_ = offset_;
  word_.assign(source_, offset_, end - offset_);
  column_ += static_cast<std::uint32_t>(end - offset_);
  offset_ = end;
  wordEnd_ = position();
  return word_;
}

void Parser::unparseWord(const std::string& word) {
  offset_ -= word.size();
  column_ -= static_cast<std::uint32_t>(word.size());
}

void Parser::reserveKeyword(std::string keyword) { keywords_.insert(std::move(keyword)); }

bool Parser::isKeyword(std::string_view keyword) const { return keywords_.contains(std::string(keyword)); }

bool Parser::parseKeyword(std::string_view keyword, bool required) {
  if (!isKeyword(keyword)) fail("internal Parser error: not a keyword: " + std::string(keyword));
  Position before = position();
  if (equals_upper(parseWord(false), keyword)) return true;
  restore(before);
  if (required) fail(std::string(keyword) + " missing");
  return false;
}

bool Parser::peekKeyword(std::string_view keyword) {
  if (!isKeyword(keyword)) return false;
  Position before = position();
  bool found = equals_upper(parseWord(false), keyword);
  restore(before);
  return found;
}

std::unique_ptr<Node> Parser::parseNumber(bool required) {
  eatSpaces();
  std::size_t end = offset_;
  while (isDigit(at(end))) end++;
  bool digits = end > offset_, decimal = false;
  // A second dot makes a range (1..5), and a dot alone is no number.
  if (at(end) == '.' && at(end + 1) != '.' && (digits || isDigit(at(end + 1)))) {
    decimal = true;
    for (end++; isDigit(at(end));) end++;
  }
  if (!digits && !decimal) {
    if (required) fail("number expected");
    return nullptr;
  }
  if (at(end) == 'E' || at(end) == 'e') {
    std::size_t exponent = end + 1;
    if (at(exponent) == '+' || at(exponent) == '-') exponent++;
    if (isDigit(at(exponent))) {
      decimal = true;
      for (end = exponent; isDigit(at(end));) end++;
    }
  }
  std::string text = source_.substr(offset_, end - offset_);
  // The value, saturated: leading zeros count for nothing.
  long long value = 0;
  for (std::size_t i = 0; !decimal && i < text.size() && value < 2147483647LL; i++) value = value * 10 + (text[i] - '0');
  std::unique_ptr<Node> node;
  if (!decimal && value < 2147483647LL) {
    node = newNode("INTEGER");
    node->value.setInteger(static_cast<std::int32_t>(value));
  } else {
    node = newNode("DECIMAL");
    node->value.setDecimal(text);
  }
  column_ += static_cast<std::uint32_t>(end - offset_);
  offset_ = end;
  if (node->value.isnan()) fail("bad number: " + excerpt(text, 0));
  return node;
}

std::unique_ptr<Node> Parser::parseString(char quote) {
  std::size_t start = offset_ - 1, end = offset_;
  while (at(end) >= 0 && at(end) != '\n' && at(end) != static_cast<unsigned char>(quote)) end++;
  auto node = std::make_unique<Node>("STRING", line_,
                                     static_cast<std::uint16_t>(std::min<std::uint32_t>(column_ - 1, 65535)), level_);
  column_ += static_cast<std::uint32_t>(end - offset_);
  offset_ = end;
  if (at(end) != static_cast<unsigned char>(quote))
    fail("unterminated string literal: " + excerpt(source_, start, end));
  int chars = utf8_count(source_.data() + start + 1, end - start - 1);
  if (chars < 0) fail("invalid UTF-8 in string literal: " + excerpt(source_, start));
  if (chars > kMaxString) fail("string literal too long: " + excerpt(source_, start));
  node->value.setString(source_.substr(start + 1, end - start - 1));
  incPos();
  return node;
}

const Operator* Parser::parseOperator() {
  eatSpaces();
  int c = at(offset_), next = at(offset_ + 1);
  if (c == '.' && isDigit(next)) return nullptr;
  if (isLetter(c) || c == '_') {
    Position before = position();
    if (const Operator* op = findOperator(parseWord(false))) return op;
    restore(before);
    return nullptr;
  }
  if (c <= 0 || std::string_view("!.*/%+-=<>&|^?").find(static_cast<char>(c)) == std::string_view::npos) return nullptr;
  const char pair[2] = {static_cast<char>(c), '='};
  // "+ =" is "+=", and nothing when the pair is no operator.
  if (is_blank(next) && at(offset_ + 2) == '=') {
    const Operator* op = findOperator(std::string_view(pair, 2));
    if (op != nullptr) {
      for (int i = 0; i < 3; i++) incPos();
    }
    return op;
  }
  if (next > 0 && std::string_view(".>=^").find(static_cast<char>(next)) != std::string_view::npos) {
    const char two[2] = {static_cast<char>(c), static_cast<char>(next)};
    if (const Operator* op = findOperator(std::string_view(two, 2))) {
      incPos();
      incPos();
      return op;
    }
  }
  const Operator* op = findOperator(std::string_view(pair, 1));
  if (op != nullptr) incPos();
  return op;
}

const Operator* Parser::parseBinaryOperator(int level) {
  Position before = position();
  const Operator* op = parseOperator();
  if (op != nullptr && op->binary && op->precedence <= level) return op;
  restore(before);
  return nullptr;
}

const Operator* Parser::findOperator(std::string_view spelling) const {
  // No spelling is longer than a word operator.
  char upper_case[8];
  if (operators_ == nullptr || spelling.size() > sizeof upper_case) return nullptr;
  for (std::size_t i = 0; i < spelling.size(); i++) upper_case[i] = upper(spelling[i]);
  return operators_->bySpelling(std::string_view(upper_case, spelling.size()));
}

const Operator* Parser::findOperatorByName(std::string_view name) const {
  return operators_ == nullptr ? nullptr : operators_->byName(name);
}

bool Parser::rebalances(std::string_view name) const { return operators_ != nullptr && operators_->rebalances(name); }

void Parser::setOperators(const OperatorTable& table) { operators_ = &table; }

void Parser::error(grammar_exception& exception, std::string_view message) const {
  std::size_t lineEnd = std::min(source_.find('\n', lineStart_), source_.size());
  std::size_t from = std::max(lineStart_, offset_ > kContext ? offset_ - kContext : 0);
  std::size_t to = std::max(from, std::min(lineEnd, offset_ + kContext));
  while (from < to && is_continuation_byte(source_[from])) from++;
  while (to > from && to < source_.size() && is_continuation_byte(source_[to])) to--;
  exception.message = message;
  exception.line = line_ + 1;
  exception.column = column_;
  exception.text = std::string(message) + " pos " + std::to_string(offset_) + " near line " +
                   std::to_string(line_ + 1) + ":" + source_.substr(from, to - from);
}

void Parser::fail(std::string_view message) const {
  grammar_exception exception;
  error(exception, message);
  if (Exception_fd >= 0) {
    ssize_t written = ::write(Exception_fd, "\nException:", 11);
    (void)written;
  }
  throw exception;
}

std::unique_ptr<Node> Parser::newNode(std::string tag) const {
  return std::make_unique<Node>(std::move(tag), line_,
                                static_cast<std::uint16_t>(std::min<std::uint32_t>(column_, 65535)), level_);
}

}  // namespace grammar

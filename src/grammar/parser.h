// The current compiler's recursive-descent parsers share this base: the
// source text and the position in it, the character-level scanning methods
// (blanks and continuation lines, words and keywords, numbers, strings,
// operators), the tree being built with its operator rebalancing, and the
// error that stops a parse.
//
// Positions: the offset in the source, the line (from 0; messages report it
// from 1), the column (from 1) and the offset where the line starts. A
// newline directly followed by "&" continues the line before it: blanks
// skip both. Errors leave by grammar_exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "grammar/node.h"
#include "grammar/operator.h"

namespace grammar {

// Text: the message, " pos ", the offset, " near line ", the line, ":" and
// the source line around the position. A parser's error also keeps the
// message alone and where it stopped: the line and the column, both from
// 1 (0 for the errors that have no position in the text).
class grammar_exception : public std::exception {
 public:
  const char* what() const noexcept override { return text.c_str(); }
  std::string text;
  std::string message;
  std::uint32_t line = 0, column = 0;
};

// Descriptor that receives "\nException:" before every parse error, -1 for
// none. Standard output by default; the process entry turns it off when
// standard output carries its channel.
extern int Exception_fd;

// Nesting of the parse (expressions, terms, blocks of parentheses) beyond
// which it fails: the tree could not be evaluated, and the parser's own
// recursion stays bounded.
inline constexpr int kMaxNesting = 1000;

class Parser {
 public:
  // A member that parses one term: null when none comes and it is not
  // required.
  using TermParser = std::unique_ptr<Node> (Parser::*)(bool required);

  Parser() = default;
  virtual ~Parser() = default;
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Parses `source`: drops the previous tree, starts over at its beginning
  // and returns the root SCRIPT node, whose statements the parser's
  // parseGrammarImpl adds. The tree stays the parser's until the next
  // parse.
  Node& parseGrammar(std::string source);

  // An expression of operators whose precedence is at most `level` (0: the
  // loosest, 10), over terms read by `term` (the parser's own when null);
  // null when no term comes and it is not required ("missing expression").
  virtual std::unique_ptr<Node> parseExp(bool required, int level = 0, TermParser term = nullptr) = 0;
  // The call or keyword construct that an upper-case word starts, or null
  // when the word starts none.
  virtual std::unique_ptr<Node> parseFunction(const std::string& word) = 0;
  // "(", a comma-separated list of expressions (possibly empty), ")",
  // appended to `into`.
  void parseParExps(Node::List& into);
  // Restores left associativity and precedence in a tree that parseExp
  // built leaning to the right; returns the new root.
  std::unique_ptr<Node> balanceOperators(std::unique_ptr<Node> node) const;

  // Starts over on `source`: offset 0, line 0, column 1, depth 0.
  void setSource(std::string source);

  std::size_t offset() const { return offset_; }
  std::uint32_t line() const { return line_; }
  std::uint32_t column() const { return column_; }

  // ASCII letters to upper case.
  static std::string toUpper(std::string_view s);
  static bool isLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
  static bool isDigit(int c) { return c >= '0' && c <= '9'; }
  static bool isWordChar(int c) { return isLetter(c) || isDigit(c) || c == '_' || c == '$'; }

  void incPos();
  void incLine();
  // Skips blanks (space, tab, carriage return) and continuation marks.
  void eatSpaces();
  bool peekChar(char c);
  // Consumes `c` when it comes next (a newline counts a line); when it does
  // not and `required` is set, fails with "missing " and the character.
  bool parseChar(char c, bool required);

  // The next word: a letter or "_", then letters, digits, "_" or "$", its
  // case kept; "" when none (with `required`: "identifier or keyword
  // missing"). The reference is valid until the next parseWord.
  const std::string& parseWord(bool required);
  void unparseWord(const std::string& word);

  // Words the parser reserves, in upper case; parseKeyword takes only these.
  // A parser class adds its own tables by overriding isKeyword.
  void reserveKeyword(std::string keyword);
  virtual bool isKeyword(std::string_view keyword) const;
  // REQUIRES: keyword is upper case.
  bool parseKeyword(std::string_view keyword, bool required);
  bool peekKeyword(std::string_view keyword);

  // An INTEGER node (a value below 2147483647 without fraction or
  // exponent) or a DECIMAL node holding the text; none when no digit comes
  // (with `required`: "number expected").
  std::unique_ptr<Node> parseNumber(bool required);
  // REQUIRES: the opening `quote` has been consumed. A STRING node.
  std::unique_ptr<Node> parseString(char quote);

  // The operator that comes next, consumed; null (nothing consumed) when
  // none of the installed spellings does.
  const Operator* parseOperator();
  // The binary operator that comes next when it binds at `level` or
  // tighter, consumed; else null, nothing consumed.
  const Operator* parseBinaryOperator(int level);
  const Operator* findOperator(std::string_view spelling) const;
  const Operator* findOperatorByName(std::string_view name) const;
  bool rebalances(std::string_view name) const;
  void setOperators(const OperatorTable& table);

  void error(grammar_exception& exception, std::string_view message) const;

 protected:
  // Counts one level of nesting while it lives; beyond kMaxNesting the
  // parse fails.
  class Nesting {
   public:
    explicit Nesting(Parser& p);
    ~Nesting() { parser_.nesting_--; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    Parser& parser_;
  };

  virtual void parseGrammarImpl() = 0;
  // REQUIRES: "(" comes next. The expression up to the matching ")", one
  // grouping depth deeper.
  std::unique_ptr<Node> parseParenthesized();
  // The root of the tree being built.
  Node& root() { return *root_; }
  // True at the end of the text, blanks skipped.
  bool atEnd();
  // Writes the mark and throws the error built at the current position.
  [[noreturn]] void fail(std::string_view message) const;
  // A node at the current position and grouping depth.
  std::unique_ptr<Node> newNode(std::string tag) const;
  // The byte at `i`, -1 past the end.
  int at(std::size_t i) const { return i < source_.size() ? static_cast<unsigned char>(source_[i]) : -1; }

  std::string source_;
  std::size_t offset_ = 0;
  std::uint32_t line_ = 0;
  std::uint32_t column_ = 1;
  std::size_t lineStart_ = 0;
  std::uint32_t level_ = 0;  // grouping depth

  struct Position {
    std::size_t offset, lineStart;
    std::uint32_t line, column;
  };
  Position position() const { return {offset_, lineStart_, line_, column_}; }
  void restore(const Position& p);
  // Consumes one byte, counting a line for a newline.
  void advance();

 private:
  std::unique_ptr<Node> root_;
  int nesting_ = 0;

  // The last word read: where it started, and the position after it.
  std::size_t wordStart_ = SIZE_MAX;
  std::string word_;
  Position wordEnd_{};

  std::unordered_set<std::string> keywords_;
  const OperatorTable* operators_ = nullptr;
};

}  // namespace grammar

// The current compiler's recursive-descent parsers share this base: the
// source text and the position in it, the character-level scanning methods
// (blanks and continuation lines, words and keywords, numbers, strings,
// operators) and the error that stops a parse.
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
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "grammar/node.h"
#include "grammar/operator.h"

namespace grammar {

// Text: the message, " pos ", the offset, " near line ", the line, ":" and
// the source line around the position.
class grammar_exception : public std::exception {
 public:
  const char* what() const noexcept override { return text.c_str(); }
  std::string text;
};

// Descriptor that receives "\nException:" before every parse error, -1 for
// none. Standard output by default; the process entry turns it off when
// standard output carries its channel.
extern int Exception_fd;

class Parser {
 public:
  Parser() = default;
  virtual ~Parser() = default;
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Starts over on `source`: offset 0, line 0, column 1, depth 0.
  void setSource(std::string source);

  std::size_t offset() const { return offset_; }
  std::uint32_t line() const { return line_; }
  std::uint32_t column() const { return column_; }

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
  void reserveKeyword(std::string keyword);
  bool isKeyword(std::string_view keyword) const;
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
  const Operator* findOperator(std::string_view spelling) const;
  const Operator* findOperatorByName(std::string_view name) const;
  bool rebalances(std::string_view name) const;
  void setOperators(std::span<const OperatorRow> table);

  void error(grammar_exception& exception, std::string_view message) const;

 protected:
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

 private:
  struct Position {
    std::size_t offset, lineStart;
    std::uint32_t line, column;
  };
  Position position() const { return {offset_, lineStart_, line_, column_}; }
  void restore(const Position& p);
  // Consumes one byte, counting a line for a newline.
  void advance();

  // The last word read: where it started, and the position after it.
  std::size_t wordStart_ = SIZE_MAX;
  std::string word_;
  Position wordEnd_{};

  std::unordered_set<std::string> keywords_;
  std::vector<std::unique_ptr<Operator>> operators_;
  std::unordered_map<std::string, const Operator*> bySpelling_, byName_;
  std::unordered_set<std::string> rebalancing_;
};

}  // namespace grammar

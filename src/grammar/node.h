// Nodes of the current compiler's syntax tree and the literal values they
// carry. The scanning methods of the parser make the literal nodes; the
// parsers build the rest of the tree on them.
#pragma once

#include <cstdint>
#include <string>

#include "values/vlxdcb.h"

namespace grammar {

// A literal or a name. Kinds are those the generator stores: 0 string,
// 1 integer, 2 decimal (held as its text), 3 date, 4 date-time, 5 large
// integer, 6 boolean; -1 carries nothing.
class NodeValue {
 public:
  enum : int { NONE = -1, STRING = 0, INTEGER = 1, DECIMAL = 2, DATE = 3, DATETIME = 4, LARGEINTEGER = 5, BOOLEAN = 6 };

  int kind = NONE;
  std::string text;
  std::int32_t integer = 0;
  std::int64_t large = 0;
  bool boolean = false;
  // Date and date-time parts; a DATE's month counts from 0.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;

  void setString(std::string s);
  void setInteger(std::int32_t v);
  void setDecimal(std::string digits);
  // The decimal's value: 0 or a negative error (the text does not convert).
  int getDecimal(s_dcb* out) const;
  // REQUIRES: month counts from 0.
  void setDate(int d, int m, int y);
  // A decimal whose text does not convert.
  bool isnan() const;
  std::string toString() const;
};

class Node {
 public:
  // Numbers every node of the process, for traces.
  static std::uint32_t Count;

  Node(std::string tag, std::uint32_t line, std::uint16_t column, std::uint32_t level);

  const std::string& tag() const { return tag_; }
  void setTag(std::string tag) { tag_ = std::move(tag); }
  std::uint32_t line() const { return line_; }
  std::uint16_t column() const { return column_; }
  std::uint32_t level() const { return level_; }
  std::uint32_t id() const { return id_; }

  NodeValue value;

 private:
  std::string tag_;
  std::uint32_t line_;    // from 0
  std::uint16_t column_;  // from 1
  std::uint32_t level_;   // parenthesis nesting at creation
  std::uint32_t id_;
};

}  // namespace grammar

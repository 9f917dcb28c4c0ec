// The current compiler's syntax tree: one heap object per node, owning its
// children, and the literal or name that a node carries. The parsers build
// the tree; the generators walk it and drop it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  // Date and date-time parts; a DATE's month counts from 0, a DATETIME's
  // from 1.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;

  void setString(std::string s);
  void setInteger(std::int32_t v);
  void setBoolean(bool v);
  void setDecimal(std::string digits);
  // The decimal's value: 0 or a negative error (the text does not convert).
  int getDecimal(s_dcb* out) const;
  // REQUIRES: month counts from 0.
  void setDate(int d, int m, int y);
  // REQUIRES: month counts from 1.
  void setDatetime(int y, int m, int d, int h, int min, int s);
  // A decimal whose text does not convert.
  bool isnan() const;
  std::string toString() const;
};

class Node {
 public:
  using List = std::vector<std::unique_ptr<Node>>;

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
  std::string op;  // OP nodes: the operator's code name
  // Qualifying names of statements and references: the class of
  // [class]name, a mode word, a symbol.
  std::string className, mode, symbol;
  std::uint8_t assign = 0;  // the operator's assigns flag

  // Children. An OP node's operands, a call's or an index's arguments are
  // `args`; statements and clauses use the others as their parsers say.
  List statements, list, args, from, items, expressions, lens, ranges, to, ins, files, classes, values;
  std::size_t statementsSize() const { return statements.size(); }
  std::size_t listSize() const { return list.size(); }
  std::size_t argsSize() const { return args.size(); }
  std::size_t fromSize() const { return from.size(); }
  std::size_t itemsSize() const { return items.size(); }
  std::size_t expressionsSize() const { return expressions.size(); }
  std::size_t lensSize() const { return lens.size(); }
  std::size_t rangesSize() const { return ranges.size(); }
  std::size_t toSize() const { return to.size(); }
  std::size_t insSize() const { return ins.size(); }
  std::size_t filesSize() const { return files.size(); }
  std::size_t classesSize() const { return classes.size(); }
  std::size_t valuesSize() const { return values.size(); }

 private:
  std::string tag_;
  std::uint32_t line_;    // from 0
  std::uint16_t column_;  // from 1
  std::uint32_t level_;   // parenthesis nesting at creation
  std::uint32_t id_;
};

}  // namespace grammar

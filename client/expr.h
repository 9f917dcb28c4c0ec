// Filter expressions of the client: a small tree of conditions over the
// fields of a system table and literals, built in C++ or parsed from the
// `--where` language of vlxq, and compiled into the grammar form that the
// server evaluates.
//
// The language:  $1 = "root" and ($3 >= 1000 or not $4 <> 'bash')
//   fields $1..$n; integers 42, -7; decimals 3.25; strings "..." or '...'
//   (a backslash takes the next character as it is); comparisons
//   = <> < <= > >=; and, or, not (any case); parentheses.
// Both sides of a comparison are values and every operand of and, or, not
// is a condition, so that the server never meets a value it cannot test.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

struct grctx;

namespace vlxc {

enum class Kind { field, integer, decimal, string, compare, both, either, negate };
enum class Cmp { eq, ne, lt, le, gt, ge };

struct Node;

// A value or condition; cheap to copy (the tree is shared and immutable).
class Expr {
 public:
  Expr(int integer);                // NOLINT: literals read naturally in conditions
  Expr(const char* text);           // NOLINT
  Expr(const std::string& text);    // NOLINT
  explicit Expr(std::shared_ptr<const Node> node) : node_(std::move(node)) {}

  const Node& node() const { return *node_; }
  bool is_condition() const;
  // Prefix form for messages and tests: (and (= $1 'root') (> $3 1000)).
  std::string describe() const;

 private:
  std::shared_ptr<const Node> node_;
};

struct Node {
  explicit Node(Kind k) : kind(k) {}
  Kind kind;
  int field = 0;     // field: 1-based number
  std::string text;  // literals: the integer, decimal or string text
  Cmp op = Cmp::eq;  // compare
  std::shared_ptr<const Node> left, right;  // compare, both, either; negate: left
};

// Builders. Comparisons want values; and, or, not want conditions; a
// misuse throws std::invalid_argument.
Expr field(int number);
Expr decimal(const std::string& text);
Expr compare(Cmp op, const Expr& left, const Expr& right);
Expr operator==(const Expr& a, const Expr& b);
Expr operator!=(const Expr& a, const Expr& b);
Expr operator<(const Expr& a, const Expr& b);
Expr operator<=(const Expr& a, const Expr& b);
Expr operator>(const Expr& a, const Expr& b);
Expr operator>=(const Expr& a, const Expr& b);
Expr operator&&(const Expr& a, const Expr& b);
Expr operator||(const Expr& a, const Expr& b);
Expr operator!(const Expr& a);

// A `--where` text that does not parse; `column` is 1-based.
struct ParseError : std::runtime_error {
  int column;
  ParseError(const std::string& message, int column);
};

// Parses a condition of the language above.
Expr parse_where(const std::string& text);

// Highest field number that the expression names (0 for none).
int highest_field(const Expr& e);

// Stores the expression's nodes into g (cells initialised, REQUIRES:
// inigcl done) as fields of the table in `tableSlot`, each 255 bytes of
// 8-bit text; returns the root node or a negated error. A field compared
// with a number is read through `val`, so that the comparison is numeric.
int compile(const Expr& e, int tableSlot, grctx* g);

// Field nodes of `fields` (1-based numbers) chained in that order, for a
// selection; returns the first node or a negated error.
int compile_fields(const int* fields, int count, int tableSlot, grctx* g);

}  // namespace vlxc

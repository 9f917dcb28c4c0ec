#include "expr.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <vector>

#include "channel/protocol.h"
#include "diagnostics/vlxerr.h"
#include "image/vlxload.h"
#include "values/vlxdcb.h"

namespace vlxc {

namespace {

// Node codes of the compiled grammar that filters use.
// ORDER CMP: Cmp, kCompareCodes, kCompareWords.
constexpr unsigned kCompareCodes[] = {271, 272, 269, 270, 267, 268};
const char* const kCompareWords[] = {"=", "<>", "<", "<=", ">", ">="};
constexpr unsigned kAndCode = 266, kOrCode = 264, kNotCode = 257;
constexpr unsigned kIntegerCode = LINTG, kDecimalCode = LDCB, kStringCode = LSTRU;
constexpr unsigned kFieldCode = 336, kValCode = 38;

Expr make(Node n) { return Expr(std::make_shared<const Node>(std::move(n))); }

Expr literal(Kind kind, std::string text) {
  Node n{kind};
  n.text = std::move(text);
  return make(std::move(n));
}

bool is_decimal_text(const std::string& s) {
  std::size_t i = s[0] == '-' ? 1 : 0, digits = 0, dots = 0;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i])))
      ++digits;
    else if (s[i] == '.' && dots++ == 0 && digits > 0 && i + 1 < s.size())
      continue;
    else
      return false;
  }
  return digits > 0;
}

// An integer literal beyond 32 bits travels as a decimal.
Expr number(const std::string& text) {
  if (text.find('.') == std::string::npos) {
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v >= INT_MIN && v <= INT_MAX && text.size() < 12) return literal(Kind::integer, std::to_string(v));
  }
  return literal(Kind::decimal, text);
}

Expr logical(Kind kind, const Expr& a, const Expr& b) {
  if (!a.is_condition() || !b.is_condition())
    throw std::invalid_argument(std::string(kind == Kind::both ? "and" : "or") + " needs conditions on both sides");
  Node n{kind};
  n.left = std::make_shared<const Node>(a.node());
  n.right = std::make_shared<const Node>(b.node());
  return make(std::move(n));
}

std::string describe_node(const Node& n) {
  switch (n.kind) {
    case Kind::field: return "$" + std::to_string(n.field);
    case Kind::integer:
    case Kind::decimal: return n.text;
    case Kind::string: return "'" + n.text + "'";
    case Kind::compare:
      return std::string("(") + kCompareWords[static_cast<int>(n.op)] + " " + describe_node(*n.left) + " " +
             describe_node(*n.right) + ")";
    case Kind::both: return "(and " + describe_node(*n.left) + " " + describe_node(*n.right) + ")";
    case Kind::either: return "(or " + describe_node(*n.left) + " " + describe_node(*n.right) + ")";
    case Kind::negate: return "(not " + describe_node(*n.left) + ")";
  }
  return "";
}

}  // namespace

Expr::Expr(int integer) : Expr(literal(Kind::integer, std::to_string(integer))) {}
Expr::Expr(const char* text) : Expr(literal(Kind::string, text)) {}
Expr::Expr(const std::string& text) : Expr(literal(Kind::string, text)) {}

bool Expr::is_condition() const {
  return node_->kind == Kind::compare || node_->kind == Kind::both || node_->kind == Kind::either ||
         node_->kind == Kind::negate;
}

std::string Expr::describe() const { return describe_node(*node_); }

Expr field(int number) {
  if (number < 1) throw std::invalid_argument("field numbers start at 1");
  Node n{Kind::field};
  n.field = number;
  return make(std::move(n));
}

Expr decimal(const std::string& text) {
  if (text.empty() || !is_decimal_text(text)) throw std::invalid_argument("not a decimal number: " + text);
  return literal(Kind::decimal, text);
}

Expr compare(Cmp op, const Expr& left, const Expr& right) {
  if (left.is_condition() || right.is_condition())
    throw std::invalid_argument("a comparison compares values, not conditions");
  Node n{Kind::compare};
  n.op = op;
  n.left = std::make_shared<const Node>(left.node());
  n.right = std::make_shared<const Node>(right.node());
  return make(std::move(n));
}

Expr operator==(const Expr& a, const Expr& b) { return compare(Cmp::eq, a, b); }
Expr operator!=(const Expr& a, const Expr& b) { return compare(Cmp::ne, a, b); }
Expr operator<(const Expr& a, const Expr& b) { return compare(Cmp::lt, a, b); }
Expr operator<=(const Expr& a, const Expr& b) { return compare(Cmp::le, a, b); }
Expr operator>(const Expr& a, const Expr& b) { return compare(Cmp::gt, a, b); }
Expr operator>=(const Expr& a, const Expr& b) { return compare(Cmp::ge, a, b); }
Expr operator&&(const Expr& a, const Expr& b) { return logical(Kind::both, a, b); }
Expr operator||(const Expr& a, const Expr& b) { return logical(Kind::either, a, b); }

Expr operator!(const Expr& a) {
  if (!a.is_condition()) throw std::invalid_argument("not needs a condition");
  Node n{Kind::negate};
  n.left = std::make_shared<const Node>(a.node());
  return make(std::move(n));
}

ParseError::ParseError(const std::string& message, int at) : std::runtime_error(message), column(at) {}

namespace {

// Recursive descent over the text; `at` is the next character.
class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  Expr condition_only() {
    Expr e = either();
    blanks();
    if (at_ < s_.size()) fail("unexpected '" + s_.substr(at_, 1) + "'");
    if (!e.is_condition()) fail("the expression is a value, not a condition", 0);
    return e;
  }

 private:
  const std::string& s_;
  std::size_t at_ = 0;

  [[noreturn]] void fail(const std::string& message, std::size_t where) const {
    throw ParseError(message + " at column " + std::to_string(where + 1), static_cast<int>(where + 1));
  }
  [[noreturn]] void fail(const std::string& message) const { fail(message, at_); }

  void blanks() {
    while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
  }

  // A keyword: case-insensitive and not followed by a word character.
  bool keyword(const char* word) {
    blanks();
    std::size_t n = std::char_traits<char>::length(word), i = 0;
    for (; i < n; ++i) {
      if (at_ + i >= s_.size() || std::tolower(static_cast<unsigned char>(s_[at_ + i])) != word[i]) return false;
    }
    if (at_ + n < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_ + n])) || s_[at_ + n] == '_'))
      return false;
    at_ += n;
    return true;
  }

  Expr need_condition(const Expr& e, std::size_t where, const char* word) const {
    if (!e.is_condition()) fail(std::string(word) + " needs a condition, not a value", where);
    return e;
  }

  Expr either() {
    std::size_t start = (blanks(), at_);
    Expr e = both();
    while (keyword("or")) {
      std::size_t right = (blanks(), at_);
      Expr r = both();
      e = logical(Kind::either, need_condition(e, start, "or"), need_condition(r, right, "or"));
    }
    return e;
  }

  Expr both() {
    std::size_t start = (blanks(), at_);
    Expr e = negation();
    while (keyword("and")) {
      std::size_t right = (blanks(), at_);
      Expr r = negation();
      e = logical(Kind::both, need_condition(e, start, "and"), need_condition(r, right, "and"));
    }
    return e;
  }

  Expr negation() {
    if (keyword("not")) {
      std::size_t where = (blanks(), at_);
      return !need_condition(negation(), where, "not");
    }
    return comparison();
  }

  Expr comparison() {
    std::size_t start = (blanks(), at_);
    Expr left = primary();
    blanks();
    int op = comparison_operator();
    if (op < 0) return left;
    std::size_t where = (blanks(), at_);
    Expr right = primary();
    if (left.is_condition()) fail("a comparison compares values, not conditions", start);
    if (right.is_condition()) fail("a comparison compares values, not conditions", where);
    return compare(static_cast<Cmp>(op), left, right);
  }

  // Index in ORDER CMP, or -1 when no operator follows.
  int comparison_operator() {
    for (int i : {3, 5, 1, 0, 2, 4}) {  // two-character operators first
      std::string word = kCompareWords[i];
      if (s_.compare(at_, word.size(), word) == 0) {
        at_ += word.size();
        return i;
      }
    }
    return -1;
  }

  Expr primary() {
    blanks();
    if (at_ >= s_.size()) fail("a value or condition is missing");
    char c = s_[at_];
    if (c == '(') {
      std::size_t open = at_++;
      Expr e = either();
      blanks();
      if (at_ >= s_.size() || s_[at_] != ')') fail("missing ')' for the '(' at column " + std::to_string(open + 1));
      ++at_;
      return e;
    }
    if (c == '$') return field_reference();
    if (c == '"' || c == '\'') return quoted(c);
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') return numeric();
    fail("unexpected '" + std::string(1, c) + "'");
  }

  Expr field_reference() {
    std::size_t start = at_++;
    std::size_t digits = at_;
    while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) ++at_;
    if (at_ == digits) fail("a field is written $ and its number", start);
    if (at_ - digits > 4) fail("field number too large", start);
    int n = std::atoi(s_.c_str() + digits);
    if (n < 1) fail("field numbers start at $1", start);
    return field(n);
  }

  Expr quoted(char quote) {
    std::size_t start = at_++;
    std::string text;
    while (at_ < s_.size() && s_[at_] != quote) {
      if (s_[at_] == '\\' && at_ + 1 < s_.size()) ++at_;
      text += s_[at_++];
    }
    if (at_ >= s_.size()) fail("unterminated string", start);
    ++at_;
    if (text.size() > 255) fail("string longer than 255 bytes", start);
    return Expr(text);
  }

  Expr numeric() {
    std::size_t start = at_;
    if (s_[at_] == '-') ++at_;
    while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '.')) ++at_;
    std::string text = s_.substr(start, at_ - start);
    if (!is_decimal_text(text)) fail("malformed number '" + text + "'", start);
    if (at_ < s_.size() && (std::isalpha(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_'))
      fail("malformed number", start);
    return number(text);
  }
};

int highest(const Node& n) {
  int h = n.kind == Kind::field ? n.field : 0;
  if (n.left) h = std::max(h, highest(*n.left));
  if (n.right) h = std::max(h, highest(*n.right));
  return h;
}

bool numeric_kind(Kind k) { return k == Kind::integer || k == Kind::decimal; }

int store_field(grctx* g, int number, int slot) {
  return stfexp(g, kFieldCode, static_cast<unsigned>(slot), static_cast<unsigned>(number - 1) * kFieldWidth,
                kFieldWidth, kFieldType, 0);
}

int store(const Node& n, int slot, grctx* g, bool asNumber) {
  switch (n.kind) {
    case Kind::field: {
      int f = store_field(g, n.field, slot);
      if (f < 0 || !asNumber) return f;
      return stfexp(g, kValCode, 0, static_cast<unsigned>(f), 0, 0, 0);
    }
    case Kind::integer: {
      int i = stfint(g, std::atoi(n.text.c_str()));
      return i < 0 ? i : stfexp(g, kIntegerCode, static_cast<unsigned>(i), 0, 0, kIntegerCode, 0);
    }
    case Kind::decimal: {
      s_dcb d;
      if (int st = strdcb(&d, n.text.c_str()); st < 0) return st;
      int i = stfdcb(g, &d);
      return i < 0 ? i : stfexp(g, kDecimalCode, static_cast<unsigned>(i), 0, 0, kDecimalCode, 0);
    }
    case Kind::string: {
      // One unit per byte: the server widens the bytes of a field the same
      // way, so equal bytes compare equal whatever their encoding.
      std::vector<char16_t> units(n.text.begin(), n.text.end());
      for (char16_t& u : units) u &= 0xFF;
      units.push_back(0);
      int i = stfstu(g, units.data());
      return i < 0 ? i : stfexp(g, kStringCode, static_cast<unsigned>(i), 0, 0, kStringCode, 0);
    }
    case Kind::compare: {
      // A field against a number is compared as the number it holds.
      bool numeric = numeric_kind(n.left->kind) || numeric_kind(n.right->kind);
      int l = store(*n.left, slot, g, numeric);
      if (l < 0) return l;
      int r = store(*n.right, slot, g, numeric);
      if (r < 0) return r;
      return stfexp(g, kCompareCodes[static_cast<int>(n.op)], 0, static_cast<unsigned>(l), static_cast<unsigned>(r),
                    0, 0);
    }
    case Kind::both:
    case Kind::either: {
      int l = store(*n.left, slot, g, false);
      if (l < 0) return l;
      int r = store(*n.right, slot, g, false);
      if (r < 0) return r;
      return stfexp(g, n.kind == Kind::both ? kAndCode : kOrCode, 0, static_cast<unsigned>(l),
                    static_cast<unsigned>(r), 0, 0);
    }
    case Kind::negate: {
      int l = store(*n.left, slot, g, false);
      return l < 0 ? l : stfexp(g, kNotCode, 0, static_cast<unsigned>(l), 0, 0, 0);
    }
  }
  return err_vlx(kErrInternal, "vlxc::compile");
}

}  // namespace

Expr parse_where(const std::string& text) { return Parser(text).condition_only(); }

int highest_field(const Expr& e) { return highest(e.node()); }

int compile(const Expr& e, int tableSlot, grctx* g) { return store(e.node(), tableSlot, g, false); }

int compile_fields(const int* fields, int count, int tableSlot, grctx* g) {
  // Stored last to first so that each node can name its successor.
  int next = 0;
  for (int i = count - 1; i >= 0; --i) {
    int f = stfexp(g, kFieldCode, static_cast<unsigned>(tableSlot), static_cast<unsigned>(fields[i] - 1) * kFieldWidth,
                   kFieldWidth, kFieldType, static_cast<unsigned>(next));
    if (f < 0) return f;
    next = f;
  }
  return next;
}

}  // namespace vlxc

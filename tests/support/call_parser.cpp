#include "call_parser.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "calc/calcbase.h"
#include "grammar/toktab.h"
#include "values/date.h"
#include "variables/varsys.h"

namespace builder {
namespace {

constexpr unsigned kUnaryMinus = 256, kEqual = 271;

// The code of a function of the token table, or of the filter language's
// keyword table (like), 0 for any other word.
int function_code(const std::string& upper) {
  for (const tokstr* table : {Toktab, tokstr_sdata})
    for (const tokstr* t = table; t->name != nullptr; ++t)
      if (t->group == 1 && upper == t->key) return t->code;
  return 0;
}

class CallParser {
 public:
  CallParser(grctx* g, const std::string& s, const char* cls) : g_(g), s_(s), cls_(cls) {}

  unsigned root() {
    unsigned node = expression();
    blanks();
    return at_ == s_.size() ? node : 0;
  }

 private:
  void blanks() {
    while (at_ < s_.size() && s_[at_] == ' ') at_++;
  }
  bool eat(char c) {
    blanks();
    if (at_ >= s_.size() || s_[at_] != c) return false;
    at_++;
    return true;
  }
  unsigned node(unsigned code, unsigned objectId, unsigned header, unsigned tail) {
    int n = stfexp(g_, code, objectId, header, tail, 0, 0);
    return n > 0 ? static_cast<unsigned>(n) : 0;
  }

  unsigned expression() {
    if (eat('-')) {
      unsigned operand = term();
      return operand != 0 ? node(kUnaryMinus, 0, operand, 0) : 0;
    }
    return term();
  }

  // A parenthesised list of arguments chained by `next`; its first node,
  // 0 for "()" or an error (`ok` false).
  unsigned arguments(bool* ok) {
    *ok = true;
    if (eat(')')) return 0;
    unsigned first = 0, last = 0;
    do {
      unsigned a = expression();
      if (a != 0 && eat('=')) {
        unsigned b = expression();
        a = b != 0 ? node(kEqual, 0, a, b) : 0;
      }
      if (a == 0) {
        *ok = false;
        return 0;
      }
      if (last == 0) first = a;
      else gt_exp(g_, last)->next = a;
      last = a;
    } while (eat(','));
    *ok = eat(')');
    return first;
  }

  unsigned term() {
    blanks();
    if (at_ >= s_.size()) return 0;
    char c = s_[at_];
    if (c == '"' || c == '\'') {
      std::size_t end = s_.find(c, at_ + 1);
      if (end == std::string::npos) return 0;
      std::string text = s_.substr(at_ + 1, end - at_ - 1);
      at_ = end + 1;
      return node(LSTRU, static_cast<unsigned>(stfstr(g_, text.c_str())), 0, 0);
    }
    if (c == '[') {
      int d = 0, m = 0, y = 0, n = 0, day = 0;
      if (std::sscanf(s_.c_str() + at_, "[%d/%d/%d]%n", &d, &m, &y, &n) != 3 || n == 0) return 0;
      at_ += static_cast<std::size_t>(n);
      if (ltodate(&day, y, m, d, 0) < 0) return 0;
      return node(LDATE, static_cast<unsigned>(stfint(g_, day)), 0, 0);
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return number();
    if (!std::isalpha(static_cast<unsigned char>(c))) return 0;
    std::size_t from = at_;
    while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) || s_[at_] == '_' || s_[at_] == '$'))
      at_++;
    std::string word = s_.substr(from, at_ - from), upper = word;
    for (char& u : upper) u = static_cast<char>(std::toupper(static_cast<unsigned char>(u)));
    bool ok = true;
    unsigned first = eat('(') ? arguments(&ok) : 0;
    if (!ok) return 0;
    if (int code = function_code(upper); code != 0) return node(static_cast<unsigned>(code), 0, first, 0);
    int cla = stfcla(g_, static_cast<unsigned>(stfide(g_, cls_)), 0);
    int cid = stfcid(g_, static_cast<unsigned>(cla), static_cast<unsigned>(stfide(g_, word.c_str())));
    return node(kVariaCode, static_cast<unsigned>(cid), first, 0);
  }

  unsigned number() {
    std::size_t from = at_;
    bool whole = true;
    while (at_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '.')) {
      whole = whole && s_[at_] != '.';
      at_++;
    }
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      whole = false;
      at_++;
      if (at_ < s_.size() && (s_[at_] == '-' || s_[at_] == '+')) at_++;
      while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) at_++;
    }
    std::string text = s_.substr(from, at_ - from);
    if (whole && text.size() <= 10 && std::stoll(text) <= INT32_MAX)
      return node(LINTG, static_cast<unsigned>(stfint(g_, static_cast<std::int32_t>(std::stoll(text)))), 0, 0);
    s_dcb d;
    if (strdcb(&d, text.c_str()) < 0) return 0;
    return node(LDCB, static_cast<unsigned>(stfdcb(g_, &d)), 0, 0);
  }

  grctx* g_;
  const std::string& s_;
  const char* cls_;
  std::size_t at_ = 0;
};

}  // namespace

unsigned parse_call(grctx* g, const std::string& text, const char* cls) { return CallParser(g, text, cls).root(); }

}  // namespace builder

#include "grammar_builder.h"

#include <cstring>
#include <map>

#include "diagnostics/vlxerr.h"
#include "values/date.h"
#include "variables/varcla.h"

namespace builder {
namespace {

const std::map<std::string, unsigned> kOperators = {
    {"neg", 256}, {"not", 257}, {"+", 258},  {"-", 259},  {"*", 260},  {"/", 261},  {"^", 262},
    {"**", 263},  {"or", 264},  {"xor", 265}, {"and", 266}, {">", 267},  {">=", 268}, {"<", 269},
    {"<=", 270},  {"=", 271},   {"<>", 272},
};

struct Parser {
  grctx* g;
  const std::string& s;
  std::size_t at = 0;

  void blanks() {
    while (at < s.size() && s[at] == ' ') at++;
  }
  std::string word() {
    blanks();
    std::size_t from = at;
    while (at < s.size() && s[at] != ' ' && s[at] != '(' && s[at] != ')') at++;
    return s.substr(from, at - from);
  }

  int literal(const std::string& w) {
    if (w == "true" || w == "false") return stfexp(g, LBOOL, w == "true" ? 210 : 209, 0, 0, LBOOL, 0);
    if (w[0] == '@') {
      int y = 0, m = 0, d = 0, day = 0;
      if (std::sscanf(w.c_str() + 1, "%d-%d-%d", &y, &m, &d) != 3 || ltodate(&day, y, m, d, 0) < 0) return 0;
      return stfexp(g, LDATE, static_cast<unsigned>(stfint(g, day)), 0, 0, LDATE, 0);
    }
    bool dbl = w.back() == 'r';
    std::string number = dbl ? w.substr(0, w.size() - 1) : w;
    if (!dbl && number.find_first_of(".eE") == std::string::npos) {
      return stfexp(g, LINTG, static_cast<unsigned>(stfint(g, static_cast<std::int32_t>(std::stoll(number)))), 0, 0,
                    LINTG, 0);
    }
    s_dcb d;
    if (strdcb(&d, number.c_str()) < 0) return 0;
    unsigned index = static_cast<unsigned>(stfdcb(g, &d));
    return dbl ? stfexp(g, LDBLE, index, 0, 0, LDBLE, 0) : stfexp(g, LDCB, index, 0, 0, LDCB, 0);
  }

  int node() {
    blanks();
    if (at >= s.size()) return 0;
    if (s[at] == '\'') {
      std::size_t end = s.find('\'', at + 1);
      if (end == std::string::npos) return 0;
      std::string text = s.substr(at + 1, end - at - 1);
      at = end + 1;
      return stfexp(g, LSTRU, static_cast<unsigned>(stfstr(g, text.c_str())), 0, 0, LSTRU, 0);
    }
    if (s[at] != '(') return literal(word());
    at++;
    std::string op = word();
    unsigned code;
    if (op == "code") {
      code = static_cast<unsigned>(std::stoul(word()));
    } else {
      auto it = kOperators.find(op);
      if (it == kOperators.end()) return 0;
      code = it->second;
    }
    int header = 0, tail = 0;
    blanks();
    if (at < s.size() && s[at] != ')') header = node();
    blanks();
    if (at < s.size() && s[at] != ')') tail = node();
    blanks();
    if (at >= s.size() || s[at] != ')' || header < 0 || tail < 0) return 0;
    at++;
    return stfexp(g, code, 0, static_cast<unsigned>(header), static_cast<unsigned>(tail), 0, 0);
  }
};

}  // namespace

unsigned parse(grctx* g, const std::string& text) {
  Parser p{g, text};
  int root = p.node();
  return root > 0 ? static_cast<unsigned>(root) : 0;
}

int load_double(res_u* r, grctx* g, s_exp* e, int code) {
  if (int st = loaddcb(r, g, e, code); st < 0) return st;
  return convdbl(r);
}

std::string describe(const res_u* v) {
  char text[300];
  switch (v->rs_type) {
    case LBOOL: return "bool " + std::to_string(v->rs_bool);
    case LINTG: return "int " + std::to_string(v->rs_int);
    case LINT64: return "int64 " + std::to_string(v->rs_int);
    case LDCB: {
      s_dcb d = v->rs_dcb;
      dcbstr(&d, text, 40);
      return std::string("dcb ") + text;
    }
    case LDBLE: {
      std::snprintf(text, sizeof text, "%.17g", v->rs_dbl);
      return std::string("dbl ") + text;
    }
    case LDATE: {
      int y = 0, m = 0, d = 0;
      datetol(static_cast<int>(v->rs_date), &y, &m, &d);
      std::snprintf(text, sizeof text, "date %04d-%02d-%02d", y, m, d);
      return text;
    }
    case LCLOB: {
      stutoput(text, res_text(v), sizeof text, nullptr);
      return std::string("str ") + text;
    }
    case LDATETIME: return "dtm " + std::to_string(v->rs_dtm);
    default: return "type " + std::to_string(v->rs_type);
  }
}

std::string variable(int cls, const char* name) {
  raz_err();
  varan* v = nullptr;
  if (test_var(cls, name, &v) == 0) return "none";
  res_u value;
  res_zero(&value);
  int st = get_value(v, nullptr, 0, &value);
  std::string out = st < 0 ? "error " + std::to_string(-st) : describe(&value);
  res_drop(&value);
  return out;
}

std::string evaluate(grctx* g, unsigned root, std::string (*show)(const res_u*)) {
  raz_err();
  res_u value;
  res_zero(&value);
  int st = evafsr(&value, g, root);
  std::string out = st < 0 ? "error " + std::to_string(-st) : show(&value);
  res_drop(&value);
  return out;
}

}  // namespace builder

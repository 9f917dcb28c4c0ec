#include "scan_support.h"

#include <cstring>

#include "grammar/gralex.h"
#include "grammar/gram.h"
#include "grammar/sdalex.h"
#include "grammar/srcread.h"
#include "grammar/tokens.h"
#include "grammar/toktab.h"
#include "grammar/velmorparser.h"
#include "memory/vlxcalls.h"
#include "values/date.h"
#include "values/varstr.h"
#include "values/vlxdcb.h"

namespace scan {

namespace {

// A grammar to scan into, made current for the scanners.
struct Target {
  unsigned group = adg_get(nullptr, nullptr, 0, "scan test");
  grctx g{};
  Target() {
    init_pt_exp(&g, group);
    Gram_ctx = &g;
    gram_clear();
  }
  ~Target() {
    Gram_ctx = nullptr;
    adg_free(group);
  }
};

std::string decimal_text(s_dcb d) {
  char text[64];
  return dcbstr(&d, text, 60) < 0 ? "?" : text;
}

std::string decimal_text(const std::string& digits) {
  s_dcb d;
  return strdcb(&d, digits.c_str()) < 0 ? "?" : decimal_text(d);
}

std::string character(unsigned c) {
  if (c == '\n') return "NL";
  if (c > ' ' && c < 127) return std::string("'") + static_cast<char>(c) + "'";
  return std::to_string(c);
}

std::string utf8(const char* units, std::uint32_t index) {
  return char16tostring(reinterpret_cast<const char16_t*>(units) + index);
}

// Appends one token and, once, the error it raised.
struct Stream {
  std::string text;
  bool reported = false;
  void add(const std::string& token, std::uint32_t line) {
    if (!text.empty()) text += ' ';
    text += token;
    if (line != 1) text += "@" + std::to_string(line);
    error();
  }
  void error() {
    if (Gram_synerr && !reported) {
      text += (text.empty() ? "!" : " !") + std::string(Gram_errmes).substr(0, std::strcspn(Gram_errmes, ":"));
      reported = true;
    }
  }
};

std::string classic_token(int t, const s_lexval& v, grctx* g) {
  std::string value = v.value == 0 ? "?" : "";
  switch (t) {
    case gratok::identif:
      return "442=" + (v.value == 0 ? value : gt_cide(g, v.value));
    case gratok::integer:
      return "446=" + std::to_string(gt_int(g, v.value));
    case gratok::number:
      return "452=" + decimal_text(reinterpret_cast<s_dcb*>(g->gr_dcb.gc_ptr)[v.value]);
    case gratok::string:
      return "462=" + (v.value == 0 ? value : utf8(g->gr_stu.gc_ptr, v.value));
    case gratok::comment:
      return "434=" + (v.value == 0 ? value : utf8(g->gr_com.gc_ptr, v.value));
    case gratok::dbl_colon:
    case gratok::dbl_period:
    case gratok::undefined:
      return std::to_string(t);
  }
  if (t < 256)
    return character(static_cast<unsigned>(t)) +
           (v.value != static_cast<unsigned>(t) ? "=" + std::to_string(v.value) : "");
  return std::to_string(t) + "=" + std::to_string(v.value);
}

std::string sdata_token(int t, const s_sdaval& v, grctx* g) {
  if (v.value == 0 && (t == sdatok::identif || t == sdatok::string || t == sdatok::datetime))
    return std::to_string(t) + "=?";
  switch (t) {
    case sdatok::identif:
      return "275=" + std::string(gt_cide(g, v.value));
    case sdatok::integer:
      return "276=" + std::to_string(gt_int(g, v.value));
    case sdatok::number:
      return "277=" + decimal_text(reinterpret_cast<s_dcb*>(g->gr_dcb.gc_ptr)[v.value]);
    case sdatok::string:
      return "278=" + utf8(g->gr_stu.gc_ptr, v.value);
    case sdatok::datetime: {
      char text[32];
      if (v.type == 307) {
        int y, m, d;
        datetol(gt_int(g, v.value), &y, &m, &d);
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
      } else {
        std::uint64_t timestamp;
        std::memcpy(&timestamp, g->gr_i64.gc_ptr + 8 * v.value, sizeof timestamp);
        timestamp2str(timestamp, text);
        text[19] = '\0';
      }
      return std::string("274=") + text;
    }
    case sdatok::undefined:
      return "257";
  }
  if (t < 256) return character(static_cast<unsigned>(t));
  return std::to_string(t) + "=" + std::to_string(v.value);
}

// Scanning methods of the current parser, exposed with the position.
class Methods : public grammar::VelmorParser {
 public:
  using Parser::at;
  std::size_t where() const { return offset_; }
};

// One of the two scanners with its standard interface.
struct Scanner {
  int (*lex)();
  void (*init)();
  YY_BUFFER_STATE (*scan_bytes)(const char*, int);
  void (*remove)(YY_BUFFER_STATE);
};

// render(token, grammar) prints a token and gives its line.
template <class Render>
std::string run(const Scanner& scanner, const std::string& source, Render render) {
  Target target;
  Stream stream;
  // Texts in memory end at a NUL: one inside goes through a scan buffer.
  YY_BUFFER_STATE buffer = nullptr;
  inter_open(source.c_str());
  scanner.init();
  if (source.find('\0') != std::string::npos)
    buffer = scanner.scan_bytes(source.data(), static_cast<int>(source.size()));
  try {
    for (int t; (t = scanner.lex()) != 0;) {
      std::uint32_t line = 0;
      std::string token = render(t, &target.g, &line);
      stream.add(token, line);
    }
  } catch (const gram_stopped&) {
    stream.error();
    stream.text += " STOP";
  }
  if (buffer != nullptr) scanner.remove(buffer);
  scanner.init();
  return stream.text;
}

}  // namespace

std::string classic(const std::string& source) {
  return run({gra_lex, gra_init, gra__scan_bytes, gra__delete_buffer}, source,
             [](int t, grctx* g, std::uint32_t* line) {
               *line = gra_lval.line;
               return classic_token(t, gra_lval, g);
             });
}

std::string sdata(const std::string& source) {
  return run({sda_lex, sda_init, sdata_scan_bytes, sdata_delete_buffer}, source,
             [](int t, grctx* g, std::uint32_t* line) {
               *line = sda_lval.line;
               return sdata_token(t, sda_lval, g);
             });
}

std::string current(const std::string& source) {
  Methods p;
  p.setSource(source);
  Stream stream;
  try {
    for (;;) {
      p.eatSpaces();
      int c = p.at(p.where());
      std::uint32_t line = p.line() + 1;
      std::size_t before = p.where();
      if (c < 0) break;
      if (c == '\n') {
        p.parseChar('\n', true);
        stream.add("NL", line);
      } else if (c == '#') {
        stream.add("434=" + p.parseComment()->value.text, line);
      } else if (grammar::Parser::isDigit(c) || (c == '.' && grammar::Parser::isDigit(p.at(p.where() + 1)))) {
        auto n = p.parseNumber(true);
        stream.add(n->tag() == "INTEGER" ? "446=" + n->value.toString() : "452=" + decimal_text(n->value.text), line);
      } else if (c == '"' || c == '\'') {
        p.incPos();
        stream.add("462=" + p.parseString(static_cast<char>(c))->value.text, line);
      } else if (grammar::Parser::isLetter(c) || c == '_') {
        // Words print as the classic scanner's: the table's class and code,
        // else an identifier in upper case.
        std::string upper = p.parseWord(true);
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        int code = 0, tokclass = 0;
        if (!findToken(upper.c_str(), &code, &tokclass))
          stream.add("442=" + upper, line);
        else if (tokclass < 256)
          stream.add(character(static_cast<unsigned>(tokclass)) + "=" + std::to_string(code), line);
        else
          stream.add(std::to_string(tokclass) + "=" + std::to_string(code), line);
      } else if (const grammar::Operator* op = p.parseOperator()) {
        // One character as the classic scanner's token, a range as its
        // token, any other spelling by the operator's name.
        stream.add(p.where() - before == 1 ? character(static_cast<unsigned>(c))
                   : op->name == "RANGE"   ? "436"
                                           : "op=" + op->name,
                   line);
      } else {
        p.incPos();
        stream.add(character(static_cast<unsigned>(c)), line);
      }
    }
  } catch (const grammar::grammar_exception& e) {
    std::string text = e.what();
    stream.text += (stream.text.empty() ? "!" : " !") + text.substr(0, text.find_first_of(":"));
  }
  return stream.text;
}

}  // namespace scan

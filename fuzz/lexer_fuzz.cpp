// Arbitrary text into the compiler's scanners: the classic scanner on an
// in-memory buffer (NULs included), through the 8-bit reader and through
// the UCS-2 reader, the SData scanner, and the current parser's scanning
// methods. Each runs to the end of its input; the classic scanner must give
// one token stream whichever way the same text reaches it, and every index
// it hands out must name a stored entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/vlxerr.h"
#include "grammar/gralex.h"
#include "grammar/gram.h"
#include "grammar/sdalex.h"
#include "grammar/srcread.h"
#include "grammar/tokens.h"
#include "grammar/toktab.h"
#include "grammar/velmorparser.h"
#include "memory/vlxcalls.h"
#include "values/varstr.h"

namespace {

// A fresh grammar made current for one scan.
struct Target {
  unsigned group = adg_get(nullptr, nullptr, 0, "lexer fuzz");
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

void check(bool ok) {
  if (!ok) std::abort();
}

// The classic scanner from its current input: token, value, line of each.
std::string classic(bool fromBuffer, const std::string& text) {
  Target target;
  std::string stream;
  gra_init();
  YY_BUFFER_STATE buffer = fromBuffer ? gra__scan_bytes(text.data(), static_cast<int>(text.size())) : nullptr;
  try {
    for (int t; (t = gra_lex()) != 0;) {
      const grctx& g = target.g;
      std::uint32_t v = gra_lval.value;
      if (t == gratok::identif) check(v == 0 || v <= g.gr_ide.gc_nbr);
      if (t == gratok::string) check(v == 0 || v <= g.gr_stu.gc_nbr);
      if (t == gratok::integer) check(v >= 1 && v <= g.gr_int.gc_nbr);
      if (t == gratok::number) check(v >= 1 && v <= g.gr_dcb.gc_nbr);
      stream += std::to_string(t) + ":" + std::to_string(v) + "@" + std::to_string(gra_lval.line) + " ";
    }
  } catch (const gram_stopped&) {
    stream += "stop";
  }
  if (buffer != nullptr) gra__delete_buffer(buffer);
  gra_init();
  return stream + (Gram_synerr ? "!" : "");
}

void sdata(const std::string& text) {
  Target target;
  sda_init();
  YY_BUFFER_STATE buffer = sdata_scan_bytes(text.data(), static_cast<int>(text.size()));
  try {
    while (sda_lex() != 0) {
    }
  } catch (const gram_stopped&) {
  }
  sdata_delete_buffer(buffer);
  sda_init();
}

class Methods : public grammar::VelmorParser {
 public:
  // Every method that reads a token, by the next character, as a parser
  // would call them.
  void run(const std::string& text) {
    reserveKeyword("THEN");
    setSource(text);
    try {
      for (int c; eatSpaces(), (c = at(offset_)) >= 0;) {
        std::size_t before = offset_;
        if (c == '\n') parseChar('\n', true);
        else if (c == '#') parseComment();
        else if (c == '[') incPos(), parseDate();
        else if (isDigit(c) || (c == '.' && isDigit(at(offset_ + 1)))) parseNumber(true);
        else if (c == '"' || c == '\'') incPos(), parseString(static_cast<char>(c));
        else if (isLetter(c) || c == '_') {
          if (!parseKeyword("THEN", false)) parseWord(true);
        } else if (parseOperator() == nullptr) incPos();
        check(offset_ > before && offset_ <= text.size());
      }
    } catch (const grammar::grammar_exception&) {
    }
  }
};

bool initialise() {
  ini_malloc(256 * 1024);
  iniTokTab();
  iniTokTabSdata();
  grammar::Exception_fd = -1;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = initialise();
  (void)ready;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string fromBuffer = classic(true, text);
  // The readers stop at a NUL; the UCS-2 one needs text it can represent.
  if (text.find('\0') == std::string::npos) {
    inter_open(text.c_str());
    check(classic(false, text) == fromBuffer);
    if (utf8_count(text.data(), text.size()) >= 0) {
      std::vector<char16_t> wide(text.size() + 1);
      utftoptu(wide.data(), text.c_str(), static_cast<int>(wide.size()));
      clbini(wide.data());
      check(classic(false, text) == fromBuffer);
    }
    inter_open("");
  }
  sdata(text);
  Methods().run(text);
  raz_err();
  return 0;
}

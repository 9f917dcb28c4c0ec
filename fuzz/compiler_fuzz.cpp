// The compiler on any text, under both versions. The first byte chooses the
// source: bit 0 an SData filter, bit 1 an expression source as it is
// (else a formula: "@" comes before the text). Each version compiles or
// refuses without crashing; when both compile, they must write the same
// cells, and the calculator must give the same line for both.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "calc/acalc.h"
#include "calcrun.h"
#include "diagnostics/vlxerr.h"
#include "grammar/generator.h"
#include "grammar/parser.h"
#include "image/vlxload.h"

namespace {

struct Compiled {
  int status;
  std::string image;
  std::string value;
};

// Positions differ on continued lines (the classic scanner reports the
// statement's first line) and past the current parser's 16-bit columns.
bool positions_compare(const std::string& text) {
  return text.find("\n&") == std::string::npos && text.size() < 65535;
}

Compiled compile(const std::string& text, calcrun::Options options, char version) {
  options.version = version;
  Compiled out{};
  grctx g;
  if (init_pt_exp(&g, 0) < 0) std::abort();
  out.status = calcrun::compile(text, options, &g);
  if (out.status >= 0) {
    out.image = calcrun::image(&g, positions_compare(text));
    res_u value;
    res_zero(&value);
    int st = evafsr(&value, &g, static_cast<unsigned>(g.headerWord));
    out.value = st < 0 ? "error " + std::to_string(-st) : std::to_string(value.rs_type);
    if (st >= 0 && value.rs_type != 0) {
      char text_form[64];
      if (nbtostr(&value, text_form) >= 0) out.value += text_form;
    }
    res_drop(&value);
  }
  raz_err();
  Grammar_free(&g);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = [] {
    calcrun::init();
    grammar::Exception_fd = -1;
    grammar::L4gerror_fd = -1;
    return true;
  }();
  (void)ready;
  if (size == 0) return 0;
  calcrun::Options options;
  options.sdata = data[0] & 1;
  options.raw = data[0] & 2;
  // Texts in memory end at their NUL.
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.c_str();
  Compiled classic = compile(text, options, 'R');
  Compiled current = compile(text, options, 'S');
  if (classic.status >= 0 && current.status >= 0) {
    if (classic.image != current.image) {
      std::fprintf(stderr, "the versions wrote different cells for: %s\n", text.c_str());
      std::abort();
    }
    if (classic.value != current.value) {
      std::fprintf(stderr, "the versions evaluate differently: %s / %s\n", classic.value.c_str(),
                   current.value.c_str());
      std::abort();
    }
  }
  return 0;
}

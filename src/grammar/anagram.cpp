#include "grammar/anagram.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "grammar/classic.h"
#include "grammar/gralex.h"
#include "grammar/gram.h"
#include "grammar/grammargenerator.h"
#include "grammar/sdalex.h"
#include "grammar/sdatagenerator.h"
#include "grammar/srcread.h"

using namespace vlx;

namespace {

char Version = 0;

// Status of a failed compilation, as the error text names it.
constexpr int kAbort = 1, kExhausted = 2;
// Bytes of the text that the error quotes.
constexpr std::size_t kQuoted = 200;

int syntax_error(const std::string& source, int status) {
  // The text after its marker (or first character), cut so that the
  // status stays in the message.
  std::size_t length = source.empty() ? 0 : std::min<std::size_t>(source.size() - 1, kQuoted);
  while (length > 0 && length < source.size() - 1 && (source[length + 1] & 0xC0) == 0x80) length--;
  return err_vlx(kErrSyntax, "syntax error in '%.*s' status:%s", static_cast<int>(length), source.c_str() + 1,
                 status == kAbort ? "abort" : "memory exhausted");
}

// The classic parser on the loaded text, its scanner reset on both sides.
int classic_parse(const std::string& source, bool sdata) {
  if (sdata) {
    sda_init();
    sdata_scan_bytes(source.data(), static_cast<int>(source.size()));
  } else {
    gra_init();
    gra__scan_bytes(source.data(), static_cast<int>(source.size()));
  }
  int status = 0;
  try {
    status = classic::compile(sdata);
  } catch (...) {
    sdata ? sda_init() : gra_init();
    throw;
  }
  sdata ? sda_init() : gra_init();
  return status;
}

}  // namespace

char getVlxDefaultVersion() {
  if (Version == 0) {
    std::string value;
    if (const char* text = std::getenv("VLX_VERSION"))
      for (const char* p = text; *p != '\0'; p++)
        if (*p != '\'' && *p != '"') value += *p;
    Version = value == "S" ? 'S' : 'R';
    log::trace(log::system, "VLX default version:%c", Version);
  }
  return Version;
}

char setVlxDefaultVersion(char letter) {
  char previous = getVlxDefaultVersion();
  Version = letter;
  return previous;
}

int anagram(grctx* g) {
  bool sdata = Gram_sdata != 0;
  bool current = getVlxDefaultVersion() > 'R';
  gram_clear();
  Gram_ctx = g;
  std::string source = loadSource();
  int result = 0, status = kAbort;
  try {
    if (current) {
      std::unique_ptr<grammar::Generator> generator;
      if (sdata) generator = std::make_unique<grammar::SDataGenerator>();
      else generator = std::make_unique<grammar::GrammarGenerator>();
      result = generator->generate(source, g);
      if (generator->exhausted()) status = kExhausted;
      if (!sdata) gra_init();
    } else if (!sdata && !source.empty() && source[0] == '#') {
      // A default expression's marker reads as a comment to the classic
      // scanner: only the current compiler has the form.
      gra_error(1, "default expressions are compiled by version S only");
    } else {
      status = classic_parse(source, sdata);
      if (status != 0) result = -5;
      else status = kAbort;
    }
  } catch (const std::bad_alloc&) {
    result = -5;
    status = kExhausted;
  } catch (const gram_stopped& stop) {
    Gram_ctx = nullptr;
    log::trace(log::system, "anagram return %d", stop.status);
    if (Gram_synerr && Gram_errline != 0) return err_vlx(kErrSyntax, VLX_WHERE("src/grammar/anagram", __LINE__, "anagram"));
    return err_vlx(kErrNoMemory, VLX_WHERE("src/grammar/anagram", __LINE__, "anagram"));
  }
  Gram_ctx = nullptr;
  log::trace(log::system, "anagram return %d", result);
  if (result < 0 || Gram_synerr) return syntax_error(source, status);
  return 0;
}

#include "grammar/gram.h"

#include <cstdio>
#include <cstring>

#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"

using namespace vlx;

grctx* Gram_ctx = nullptr;
int Gram_sdata = 0;
int Gram_synerr = 0;
int Gram_errline = 0;
int Gram_errcol = 0;
char Gram_errmes[256] = "";

void gram_clear() {
  Gram_synerr = 0;
  Gram_errline = 0;
  Gram_errcol = 0;
  Gram_errmes[0] = '\0';
}

void gra_error(int line, const char* text, int column) {
  log::trace(log::system, "gra_error(%s)", text);
  if (!Gram_synerr) {
    std::snprintf(Gram_errmes, sizeof Gram_errmes, "%s", text);
    Gram_errline = line;
    Gram_errcol = column;
  }
  Gram_synerr = 1;
}

void gra_errtext(int line, const char* message, const char* detail, int column) {
  // Cut at a character boundary: the text goes to logs and messages.
  int n = static_cast<int>(strnlen(detail, 60));
  while (n > 0 && detail[n] != '\0' && (static_cast<unsigned char>(detail[n]) & 0xC0) == 0x80) n--;
  char text[256];
  std::snprintf(text, sizeof text, "%s: %.*s", message, n, detail);
  gra_error(line, text, column);
}

void gra_errmsg(int number, int line, const char* detail) {
  // The message file when one is loaded, else the built-in catalogue.
  char text[256];
  std::snprintf(text, sizeof text, "%s", message(0, 13, number));
  gra_errtext(line, text[0] != '\0' ? text : catalogue_text(number), detail);
}

void gram_stop(int status) {
  if (Gram_ctx != nullptr) {
    unsigned group = Gram_ctx->group;
    gramlb(Gram_ctx);
    Gram_ctx->group = group;
    inigcl(Gram_ctx);
  }
  throw gram_stopped(status);
}

#include "grammar/lexstore.h"

#include <climits>
#include <cstddef>

#include "grammar/gram.h"
#include "grammar/srcread.h"
#include "values/vlxdcb.h"

namespace {

constexpr int kMaxString = 255;      // characters between the quotes
constexpr int kMaxIdentifier = 254;  // bytes of a name in the identifier table

}  // namespace

std::uint32_t lex_stored(int index) {
  if (index < 0) gram_stop(index);
  return static_cast<std::uint32_t>(index);
}

std::uint32_t lex_decimal(const char* text, int line) {
  s_dcb d;
  if (strdcb(&d, text) < 0) {
    gra_errmsg(51, line, text);
    gram_stop(-5);
  }
  return lex_stored(stfdcb(Gram_ctx, &d));
}

std::uint32_t lex_digits(const char* digits, int length, int line, bool* decimal) {
  long long value = 0;
  for (int i = 0; i < length && value < INT_MAX; i++) value = value * 10 + (digits[i] - '0');
  *decimal = value >= INT_MAX;
  return *decimal ? lex_decimal(digits, line) : lex_stored(stfint(Gram_ctx, static_cast<int>(value)));
}

std::uint32_t lex_string(char* quoted, int length, int line) {
  int chars = utf8_count(quoted + 1, static_cast<std::size_t>(length) - 2);
  if (chars < 0 || chars > kMaxString) {
    gra_errmsg(chars < 0 ? 127 : 159, line, quoted);
    return 0;
  }
  quoted[length - 1] = '\0';
  int index = stfstr(Gram_ctx, quoted + 1);
  quoted[length - 1] = quoted[0];
  return lex_stored(index);
}

std::uint32_t lex_comment(const char* text, int length, int line) {
  if (utf8_count(text, static_cast<std::size_t>(length)) < 0) {
    gra_errmsg(127, line, text);
    return 0;
  }
  return lex_stored(stfstrcomment(Gram_ctx, text));
}

std::uint32_t lex_identifier(const char* name, int length, int line) {
  if (length > kMaxIdentifier) {
    gra_errmsg(159, line, name);
    return 0;
  }
  return lex_stored(stfide(Gram_ctx, name));
}

void lex_upper(char* text, int length) {
  for (int i = 0; i < length; i++)
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
}

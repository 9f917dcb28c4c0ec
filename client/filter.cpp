#include "filter.h"

#include <cctype>

#include "channel/protocol.h"
#include "diagnostics/vlxerr.h"
#include "grammar/anagram.h"
#include "grammar/gram.h"
#include "grammar/grammar.h"
#include "grammar/srcread.h"
#include "grammar/toktab.h"
#include "image/vlxload.h"

namespace vlxc {

namespace {

constexpr unsigned kFieldCode = 336;

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool identifier_byte(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The column (from 1) of the first whole word `name` of the text outside
// its string literals; 0 when it is not written there as such.
int column_of(const std::string& text, std::string_view name) {
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if ((i == 0 || !identifier_byte(text[i - 1])) && same_word(std::string_view(text).substr(i, name.size()), name) &&
               (i + name.size() == text.size() || !identifier_byte(text[i + name.size()]))) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

// The name a variable node refers to, or nothing for other nodes.
const char* variable_name(grctx* g, const s_exp& e) {
  if (e.code == grammar::code::kVariable) return gt_cide(g, e.objectId);
  if (e.code == grammar::code::kSystemVariable) return recup_tok(2, static_cast<int>(e.objectId));
  return nullptr;
}

// Turns every variable of the grammar into the field it names.
void link_fields(const std::string& text, const Fields& fields, int tableSlot, grctx* g) {
  for (unsigned i = 1; i <= g->gr_exp.gc_nbr; ++i) {
    s_exp* e = gt_exp(g, i);
    const char* name = variable_name(g, *e);
    if (name == nullptr) continue;
    int number = fields.find(name);
    if (number == 0) throw CompileError(text, std::string("unknown field ") + name, column_of(text, name));
    e->code = kFieldCode;
    e->objectId = static_cast<unsigned>(tableSlot);
    e->header = static_cast<unsigned>(number - 1) * kFieldWidth;
    e->tail = kFieldWidth;
    e->type = kFieldType;
  }
}

}  // namespace

std::string identifier_of(std::string_view word) {
  std::string name;
  if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) name = "_";
  for (char c : word) name += identifier_byte(c) ? c : '_';
  return name;
}

void Fields::name(const std::vector<std::string>& words) {
  for (std::size_t i = 0; i < words.size() && i < names_.size(); ++i) names_[i] = identifier_of(words[i]);
}

std::string Fields::name(int number) const {
  const std::string& word = names_[static_cast<std::size_t>(number - 1)];
  return word.empty() ? "F" + std::to_string(number) : word;
}

int Fields::find(std::string_view identifier) const {
  // A header word wins over the F-name of another field.
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (same_word(names_[i], identifier)) return static_cast<int>(i) + 1;
  if (identifier.size() > 1 && (identifier[0] == 'F' || identifier[0] == 'f') && identifier[1] != '0' &&
      identifier.size() <= 6) {
    int number = 0;
    for (char c : identifier.substr(1)) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
      number = number * 10 + (c - '0');
    }
    if (number >= 1 && number <= count()) return number;
  }
  return 0;
}

CompileError::CompileError(const std::string& text, const std::string& m, int c)
    : std::runtime_error("'" + text + "': " + m + (c > 0 ? " at column " + std::to_string(c) : "")),
      message(m),
      column(c) {}

int compile_filter(const std::string& text, const Fields& fields, int tableSlot, grctx* g) {
  // An expression source opens with its marker; SData text brings its own.
  bool sdata = !text.empty() && text[0] == '@';
  std::string source = sdata ? text : "@" + text;
  inter_open(source.c_str());
  Gram_sdata = sdata;
  int status = anagram(g);
  Gram_sdata = 0;
  if (status < 0) {
    std::string message = Gram_synerr ? Gram_errmes : Errmes;
    int column = Gram_synerr && Gram_errline <= 1 ? Gram_errcol - (sdata ? 0 : 1) : 0;
    raz_err();
    throw CompileError(text, message, column < 1 ? 0 : column);
  }
  link_fields(text, fields, tableSlot, g);
  return g->headerWord;
}

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

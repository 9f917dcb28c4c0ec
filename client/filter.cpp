#include "filter.h"

#include <cctype>
#include <cstring>

#include "base/bigend.h"
#include "channel/protocol.h"
#include "diagnostics/vlxerr.h"
#include "grammar/anagram.h"
#include "grammar/gram.h"
#include "grammar/grammar.h"
#include "grammar/srcread.h"
#include "grammar/toktab.h"
#include "image/vlxload.h"
#include "values/date.h"
#include "values/vlxdcb.h"

namespace vlxc {

namespace {

constexpr unsigned kFieldCode = 336;

// ORDER TYPE: Type and the forms of its fields. A decimal is the value
// itself (length 0), a date its day number.
constexpr struct {
  int storage, length, size;
} kForms[] = {{kFieldType, kFieldWidth, kFieldWidth}, {LINTG, 4, 4}, {LDCB, 0, 20}, {LDATE, 4, 4}};

// The node that reads field `number` of the table in `tableSlot`.
s_exp field_node(const Fields& fields, int number, int tableSlot, unsigned next) {
  const Form& f = fields.form(number);
  return s_exp{kFieldCode, static_cast<unsigned>(f.storage), static_cast<unsigned>(tableSlot), f.offset,
               static_cast<unsigned>(f.length), next};
}

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
    } else if ((i == 0 || !identifier_byte(text[i - 1])) &&
               same_word(std::string_view(text).substr(i, name.size()), name) &&
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
    *e = field_node(fields, number, tableSlot, e->next);
  }
}

}  // namespace

std::string identifier_of(std::string_view word) {
  std::string name;
  if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) name = "_";
  for (char c : word) name += identifier_byte(c) ? c : '_';
  return name;
}

Fields::Fields(int count, const std::vector<Type>& types)
    : names_(static_cast<std::size_t>(count)), types_(static_cast<std::size_t>(count), Type::text) {
  for (std::size_t i = 0; i < types.size() && i < types_.size(); ++i) types_[i] = types[i];
  for (Type t : types_) {
    const auto& k = kForms[static_cast<int>(t)];
    forms_.push_back(Form{static_cast<unsigned>(length_), k.storage, k.length, k.size});
    length_ += k.size;
  }
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

int compile_fields(const Fields& fields, const std::vector<int>& numbers, int tableSlot, grctx* g) {
  // Stored last to first so that each node can name its successor.
  int next = 0;
  for (auto n = numbers.rbegin(); n != numbers.rend(); ++n) {
    s_exp e = field_node(fields, *n, tableSlot, static_cast<unsigned>(next));
    int f = stfexp(g, e.code, e.objectId, e.header, e.tail, e.type, e.next);
    if (f < 0) return f;
    next = f;
  }
  return next;
}

std::string field_text(Type type, const unsigned char* data) {
  switch (type) {
    case Type::text: {
      const char* bytes = reinterpret_cast<const char*>(data);
      return std::string(bytes, strnlen(bytes, kFieldWidth));
    }
    case Type::integer: return std::to_string(static_cast<std::int32_t>(get_be32(data)));
    case Type::decimal: {
      s_dcb d;
      std::memcpy(&d, data, sizeof d);
      // Wide enough for every decimal in fixed notation.
      char text[201] = "";
      dcbstr(&d, text, 200);
      return text;
    }
    case Type::date: {
      int day = static_cast<std::int32_t>(get_be32(data)), y = 0, m = 0, dd = 0;
      if (day == 0 || datetol(day, &y, &m, &dd) < 0) return "";
      char text[16];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, dd);
      return text;
    }
  }
  return "";
}

}  // namespace vlxc

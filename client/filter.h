// Filters of the client as a 4GL program writes them: 4GL expression text,
// or SData text when it starts with '@', compiled by the engine's own
// compiler (the version VLX_VERSION names), its field identifiers then
// linked to the fields of an open system table, so that the grammar the
// server receives reads the record and nothing else.
//
// The fields answer to F1..Fn and, once named, to their names; names
// compare without regard to case. A field is a word of the command's
// output as text (255 bytes), or as the integer, decimal or date that the
// server converts it to.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct grctx;

namespace vlxc {

enum class Type { text, integer, decimal, date };

// Where a field lies in the record and how it is stored there.
struct Form {
  unsigned offset;
  int storage;  // the storage type of the field description
  int length;   // its length there
  int size;     // its bytes in the record
};

// The names and forms of a table's fields.
class Fields {
 public:
  // `types[i]` for field i + 1; text for the fields beyond.
  explicit Fields(int count, const std::vector<Type>& types = {});
  int count() const { return static_cast<int>(names_.size()); }
  Type type(int number) const { return types_[static_cast<std::size_t>(number - 1)]; }
  const Form& form(int number) const { return forms_[static_cast<std::size_t>(number - 1)]; }
  int record_length() const { return length_; }
  // Names the fields after `words`, in order, each made an identifier
  // (identifier_of); words beyond the fields are dropped.
  void name(const std::vector<std::string>& words);
  // The name of field `number` (from 1): its word, else "F<number>".
  std::string name(int number) const;
  // The field that `identifier` names, from 1; 0 for none.
  int find(std::string_view identifier) const;

 private:
  std::vector<std::string> names_;  // "" where a field has no word
  std::vector<Type> types_;
  std::vector<Form> forms_;
  int length_ = 0;
};

// `word` as an identifier: characters other than letters, digits and '_'
// become '_', and a leading digit (or nothing) is preceded by '_'.
std::string identifier_of(std::string_view word);

// A filter that does not compile: the compiler's message and the column of
// the text (from 1; 0 when the compiler knows none).
struct CompileError : std::runtime_error {
  std::string message;
  int column;
  CompileError(const std::string& text, const std::string& message, int column);
};

// Compiles `text` into g (cells initialised) with the fields of the table
// in `tableSlot`; returns the root node.
// Throws CompileError for a text that does not compile or that names an
// identifier that is no field.
// REQUIRES: the compiler's token tables are built (iniTokTab,
// iniTokTabSdata).
int compile_filter(const std::string& text, const Fields& fields, int tableSlot, grctx* g);

// Field nodes of `numbers` (from 1) chained in that order, for a
// selection; returns the first node or a negated error.
int compile_fields(const Fields& fields, const std::vector<int>& numbers, int tableSlot, grctx* g);

// The text of a field of `type` stored at `data` (its form's size):
// integers and decimals in decimal notation, dates as YYYY-MM-DD ("" for
// the null date), text up to its first zero byte.
std::string field_text(Type type, const unsigned char* data);

}  // namespace vlxc

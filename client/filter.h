// Filters of the client as a 4GL program writes them: 4GL expression text,
// or SData text when it starts with '@', compiled by the engine's own
// compiler (the version VLX_VERSION names), its field identifiers then
// linked to the fields of an open system table, so that the grammar the
// server receives reads the record and nothing else.
//
// The fields answer to F1..Fn and, once named, to their names; names
// compare without regard to case.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct grctx;

namespace vlxc {

// The names of a table's fields.
class Fields {
 public:
  explicit Fields(int count) : names_(static_cast<std::size_t>(count)) {}
  int count() const { return static_cast<int>(names_.size()); }
  // Names the fields after `words`, in order, each made an identifier
  // (identifier_of); words beyond the fields are dropped.
  void name(const std::vector<std::string>& words);
  // The name of field `number` (from 1): its word, else "F<number>".
  std::string name(int number) const;
  // The field that `identifier` names, from 1; 0 for none.
  int find(std::string_view identifier) const;

 private:
  std::vector<std::string> names_;  // "" where a field has no word
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
// in `tableSlot`, each 255 bytes of 8-bit text; returns the root node.
// Throws CompileError for a text that does not compile or that names an
// identifier that is no field.
// REQUIRES: the compiler's token tables are built (iniTokTab,
// iniTokTabSdata).
int compile_filter(const std::string& text, const Fields& fields, int tableSlot, grctx* g);

// Field nodes of `fields` (numbers from 1) chained in that order, for a
// selection; returns the first node or a negated error.
int compile_fields(const int* fields, int count, int tableSlot, grctx* g);

}  // namespace vlxc

#include "grammar/calltab.h"

#include <algorithm>
#include <span>
#include <string>

#include "grammar/tokens.h"
#include "grammar/toktab.h"

namespace {

const s_fnc kFunctions[] = {
#include "grammar/calltab.inc"
};

// ORDER FUNCTIONS: sorted by name. Codes of the SData keyword table, whose
// functions are 4GL functions (POW is the power operator).
const s_fnc kSdataFunctions[] = {
    {"ABS", 1, 30},  {"ASCII", 1, 39}, {"CHAR", 1, 47},  {"DAY", 1, 42},   {"LEFT", 2, 55},
    {"LEN", 1, 37},  {"LOWER", 1, 96}, {"MONTH", 1, 41}, {"POW", 2, 262},  {"RIGHT", 2, 56},
    {"ROUND", 2, 33}, {"SUBSTRING", 3, 57}, {"UPPER", 1, 95}, {"YEAR", 1, 40},
};

const s_fnc* find(std::span<const s_fnc> table, std::string_view upper) {
  auto it = std::lower_bound(table.begin(), table.end(), upper,
                             [](const s_fnc& f, std::string_view key) { return std::string_view(f.name) < key; });
  return it != table.end() && std::string_view(it->name) == upper ? &*it : nullptr;
}

}  // namespace

const s_fnc* findFunction(std::string_view upper) { return find(kFunctions, upper); }

const s_fnc* findSdataFunction(std::string_view upper) { return find(kSdataFunctions, upper); }

const s_fnc* findSdataFunctionByCode(unsigned code) {
  for (const s_fnc& f : kSdataFunctions)
    if (f.code == code) return &f;
  return nullptr;
}

int findSystemVariable(std::string_view upper) {
  // Longer than any word of the table.
  if (upper.size() > 64) return 0;
  int code = 0, tokclass = 0;
  return findToken(std::string(upper).c_str(), &code, &tokclass) && tokclass == gratok::varsys ? code : 0;
}

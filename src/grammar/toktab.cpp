#include "grammar/toktab.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "diagnostics/vlxerr.h"
#include "grammar/tokens.h"
#include "memory/vlxcalls.h"

namespace {

// The upper-case key of a display name, made at compile time so that each
// word is written once.
template <std::size_t N>
struct Upper {
  char text[N];
  consteval Upper(const char (&name)[N]) {
    for (std::size_t i = 0; i < N; i++) text[i] = name[i] >= 'a' && name[i] <= 'z' ? name[i] - 'a' + 'A' : name[i];
  }
};
template <Upper U>
constexpr const char* key_of() {
  return U.text;
}

}  // namespace

#define TK(name, group, code, tokclass) \
  { name, key_of<Upper(name)>(), group, 0, code, static_cast<std::uint32_t>(tokclass) }

using namespace gratok;
tokstr Toktab[] = {
#include "grammar/toktab.inc"
    {nullptr, nullptr, 0, 0, 0, 0},
};

// The SData keywords: group 4 words are operators whose code is their
// expression code; group 1 codes are those of the 4GL function they stand
// for (Left = left$, Substring = mid$, round = arr, Upper = toupper,
// In = find).
tokstr tokstr_sdata[] = {
    TK("And", 1, 60, sdatok::dand),        TK("abs", 1, 30, sdatok::wn),
    TK("ascii", 1, 39, sdatok::wn),        TK("Between", 1, 191, sdatok::between),
    TK("char", 1, 47, sdatok::wn),         TK("day", 1, 42, sdatok::wn),
    TK("Div", 4, 261, sdatok::divide),     TK("Eq", 4, 271, sdatok::eq),
    TK("False", 1, 209, sdatok::boolean),  TK("Ge", 4, 268, sdatok::ge),
    TK("Gt", 4, 267, sdatok::gt),          TK("In", 1, 98, sdatok::in),
    TK("Le", 4, 270, sdatok::le),          TK("Left", 1, 55, sdatok::wn),
    TK("len", 1, 37, sdatok::wn),          TK("Like", 1, 190, sdatok::like),
    TK("Lower", 1, 96, sdatok::w1_fn),     TK("Lt", 4, 269, sdatok::lt),
    TK("Mod", 1, 32, sdatok::mod),         TK("month", 1, 41, sdatok::wn),
    TK("Mul", 4, 260, sdatok::mul),        TK("Ne", 4, 272, sdatok::ne),
    TK("not", 4, 257, sdatok::tnot),       TK("Null", 1, 217, sdatok::nulldate),
    TK("Or", 4, 264, sdatok::dor),         TK("Pow", 4, 262, sdatok::w2_fn),
    TK("Right", 1, 56, sdatok::wn),        TK("round", 1, 33, sdatok::wn),
    TK("Substring", 1, 57, sdatok::wn),    TK("True", 1, 210, sdatok::boolean),
    TK("Upper", 1, 95, sdatok::w1_fn),     TK("year", 1, 40, sdatok::wn),
    {nullptr, nullptr, 0, 0, 0, 0},
};
#undef TK

int Maxtok = -1;
int Maxtok_sdata = -1;
const int Mtk[3] = {252, 130, 385};
const char** F_tok = nullptr;
const char** V_tok = nullptr;
const char** I_tok = nullptr;

namespace {

unsigned Tokgrp = 0;

// The order of two display names' keys (their upper case, byte by byte).
int key_order(const char* a, const char* b) {
  auto upper = [](char c) { return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); };
  for (;; ++a, ++b) {
    unsigned char x = upper(*a), y = upper(*b);
    if (x != y || x == 0) return (x > y) - (x < y);
  }
}
bool Sorted = false, Sorted_sdata = false;

bool tokcmp(const tokstr& a, const tokstr& b) { return std::strcmp(a.key, b.key) < 0; }

int count(const tokstr* table) {
  int n = 0;
  while (table[n].name != nullptr) n++;
  return n;
}

// Sorts the table once; returns the number of entries - 1.
int sort_once(tokstr* table, bool* sorted) {
  int n = count(table);
  if (!*sorted) std::sort(table, table + n, tokcmp);
  *sorted = true;
  return n - 1;
}

int find(const tokstr* table, int last, const char* key, int* code, int* tokclass) {
  const tokstr* end = table + last + 1;
  const tokstr* at = std::lower_bound(table, end, key,
                                      [](const tokstr& t, const char* k) { return std::strcmp(t.key, k) < 0; });
  if (at == end || std::strcmp(at->key, key) != 0) return 0;
  *code = at->code;
  *tokclass = static_cast<int>(at->tokclass);
  return 1;
}

}  // namespace

int iniTokTab() {
  if (Tokgrp != 0 && adg_if(Tokgrp) != 0) return static_cast<int>(Tokgrp);
  unsigned group = adg_get(nullptr, nullptr, 0, "Toktab");
  if (group == 0) return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "iniTokTab");
  const char** arrays[3];
  for (int g = 0; g < 3; g++) {
    arrays[g] = static_cast<const char**>(adg_malloc(group, (Mtk[g] + 1) * sizeof(const char*)));
    if (arrays[g] == nullptr) {
      adg_free(group);
      return Vstat1 > 0 ? -Vstat1 : err_vlx(31, "iniTokTab");
    }
    std::fill(arrays[g], arrays[g] + Mtk[g] + 1, "");
  }
  // Of two instruction words sharing a code (Libelle and Tinyint are both
  // 70) the one whose key sorts last names it, however often the arrays are
  // rebuilt. The table itself is sorted by the first lookup: a process that
  // compiles nothing never sorts it.
  Maxtok = count(Toktab) - 1;
  for (const tokstr* t = Toktab; t->name != nullptr; t++) {
    if (t->group < 1 || t->group > 3 || t->code > Mtk[t->group - 1]) continue;
    const char*& named = arrays[t->group - 1][t->code];
    if (named[0] == '\0' || key_order(named, t->name) < 0) named = t->name;
  }
  F_tok = arrays[0];
  V_tok = arrays[1];
  I_tok = arrays[2];
  Tokgrp = group;
  return static_cast<int>(group);
}

int iniTokTabSdata() {
  Maxtok_sdata = sort_once(tokstr_sdata, &Sorted_sdata);
  return 0;
}

int findToken(const char* key, int* code, int* tokclass) {
  if (!Sorted) Maxtok = sort_once(Toktab, &Sorted);
  return find(Toktab, Maxtok, key, code, tokclass);
}

int findTokenSdata(const char* key, int* code, int* tokclass) {
  if (!Sorted_sdata) iniTokTabSdata();
  return find(tokstr_sdata, Maxtok_sdata, key, code, tokclass);
}

const char* recup_tok(int group, int code) {
  if (group < 1 || group > 3 || code < 0 || code > Mtk[group - 1]) return "";
  // The arrays go with their group, should anyone free it.
  if (Tokgrp == 0 || adg_if(Tokgrp) == 0) return "";
  const char** names = group == 1 ? F_tok : group == 2 ? V_tok : I_tok;
  return names[code];
}

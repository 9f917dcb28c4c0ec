// The vocabulary of the 4GL: every reserved word (instructions and clause
// keywords, built-in functions, system variables) with the code under which
// compiled programs store it and the classic parser's token class, the
// reverse arrays that name a code, and the SData filter language's keyword
// table.
//
// A function's code is also its expression code and its slot in the
// calculator's dispatch table, so the codes are part of the compiled form.
#pragma once

#include <cstdint>

struct tokstr {
  const char* name;        // display name, as listings and messages spell it
  const char* key;         // the name in upper case: the lookup key
  std::uint8_t group;      // 1 function, 2 system variable, 3 instruction, 4 SData operator
  std::uint8_t zero;       // always 0
  std::uint16_t code;      // number of the word within its group
  std::uint32_t tokclass;  // classic parser's token number (tokens.h)
};
static_assert(sizeof(tokstr) == 24);

// The two tables, each closed by an entry whose name is null; sorted by key
// before the first lookup.
extern tokstr Toktab[];
extern tokstr tokstr_sdata[];
// Entries of each table - 1 (-1 for an empty table), set by the inits.
extern int Maxtok;
extern int Maxtok_sdata;

// Largest code the reverse arrays index, by group - 1.
extern const int Mtk[3];
// Display name by code, "" where no word has the code (groups 1, 2, 3);
// null until iniTokTab has built them.
extern const char** F_tok;
extern const char** V_tok;
extern const char** I_tok;

// Builds the reverse arrays in a memory group of their own and counts the
// table (the first lookup sorts it). Returns the group, or the negated
// status when no group or memory could be had. Runs its work once; later
// calls return the same group.
int iniTokTab();
int iniTokTabSdata();

// Binary search for an upper-case key: 1 and the entry's code and class,
// or 0 with both outputs untouched.
int findToken(const char* key, int* code, int* tokclass);
int findTokenSdata(const char* key, int* code, int* tokclass);

// The display name of a code of group 1, 2 or 3; "" for any other group, a
// code outside the group's range, or before iniTokTab.
const char* recup_tok(int group, int code);

// The built-in functions as both compilers know them: how many arguments
// the current parser reads for a 4GL function, and the function code a call
// compiles to; the SData filter language's functions likewise; and the
// 4GL's system variables. The tables are data, shared by the parsers, the
// generators and the classic parsers' actions, so that both compilers give
// a word the same meaning.
#pragma once

#include <cstdint>
#include <string_view>

struct s_fnc {
  const char* name;    // upper case
  std::int8_t arity;   // 0: written without an argument list; -1: any number
  std::uint16_t code;  // function code of the token table; 0: the call does not compile
};

// REQUIRES: upper is upper case. Null when the word is no function.
const s_fnc* findFunction(std::string_view upper);
const s_fnc* findSdataFunction(std::string_view upper);
// The SData function of a code; null for none.
const s_fnc* findSdataFunctionByCode(unsigned code);

// The code of the system variable named `upper` (group 2 of the token
// table), or 0.
// REQUIRES: iniTokTab has run.
int findSystemVariable(std::string_view upper);

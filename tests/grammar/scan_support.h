// Token streams of the scanners in one printed form, so that the classic
// scanner, the SData scanner and the current parser's scanning methods can
// be held to the same expected lines.
//
// A token prints as its number, "=" and its value (a word's code, the
// stored constant or identifier), a character token as the character in
// quotes (or its code when not printable), a line end as NL; "@n" follows
// a token whose line is not 1. A recorded syntax error prints as "!" and
// its message (up to the first ":"), a stopped compilation as STOP, a parse
// error of the current parser as "!" and its message (up to " pos ").
#pragma once

#include <string>

namespace scan {

// Each runs on `source` into a fresh grammar and returns the stream.
std::string classic(const std::string& source);
std::string sdata(const std::string& source);
std::string current(const std::string& source);

}  // namespace scan

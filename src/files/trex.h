// Regular expressions of the command sandbox: patterns compiled once and
// matched against a whole text (the start and the end of the text are
// anchors whether or not the pattern says so).
//
// The engine of the pattern language is PCRE2 (8-bit, no UTF): a pattern
// of the configuration file means what it means there.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct s_trex;  // a compiled pattern

struct trex_deleter {
  void operator()(s_trex* pattern) const;
};
using trex_ptr = std::unique_ptr<s_trex, trex_deleter>;

// Compiles `pattern`; null with the matcher's message in `error` when it
// does not compile.
trex_ptr trex_compile(std::string_view pattern, std::string& error);
// True when the whole of `text` matches.
// REQUIRES: pattern is not null.
bool trex_match(const s_trex* pattern, std::string_view text);
// True when some text containing `needle` matches. The search walks the
// texts the pattern accepts, one representative character for each set of
// characters that lead on alike, within a fixed budget: a true answer is
// certain, a false one is the best knowledge the budget gives.
// REQUIRES: pattern is not null; needle is not empty.
bool trex_can_contain(s_trex* pattern, std::string_view needle);

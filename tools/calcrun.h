// What vlxcalc does for one expression, as a library the tests share:
// compile the text with anagram under a compiler version, list the cells,
// evaluate the root with the calculator and the built-in functions that
// are installed, and print the result as one line.
#pragma once

#include <string>

struct grctx;

namespace calcrun {

struct Options {
  char version = 0;      // 'R' or 'S'; 0: the default version (VLX_VERSION)
  bool sdata = false;    // the text is an SData filter (also when it starts with "@")
  bool listing = false;  // fill Outcome::listing
  bool raw = false;      // a 4GL text is an expression source as it is (no "@" put before it)
};

struct Outcome {
  bool ok = false;
  // "<type code> <value>", or "error <n>: <catalogue text>".
  std::string line;
  // The compile error's detail, "" when it compiled.
  std::string detail;
  // The cells: one line a node (index, code and its name, type, objectId,
  // header, tail, next), then the pools.
  std::string listing;
  // The compiled root in prefix form, for tests: "(code header-chain ;
  // tail-chain)", loads as "code:value".
  std::string tree;
};

// Memory, the token tables and the calculator's dispatch table; once.
void init();

// Compiles `text` (a 4GL expression gets the formula marker "@" put
// before it) and evaluates it.
// REQUIRES: init has run.
Outcome run(const std::string& text, const Options& options);

// The compilation alone, into g: anagram's status.
// REQUIRES: init has run; g's cells are initialised.
int compile(const std::string& text, const Options& options, grctx* g);
// The bytes of every cell a compilation writes (with the expression
// positions when `positions` is set) and the root: two compilations wrote
// the same grammar when their images are equal.
std::string image(grctx* g, bool positions);

// The cells of g, as Outcome::listing.
std::string listing(grctx* g);
// The expression at `root` in prefix form.
std::string tree(grctx* g, unsigned root);

}  // namespace calcrun

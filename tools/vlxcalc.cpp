// vlxcalc [-R|-S] [-d] [-l] EXPR...: compiles each expression as the
// engine does, optionally lists its cells, evaluates it, and prints one
// line per expression: the result's type code and value, or the error.
// Exit status 0 when every expression succeeded, 1 otherwise.
#include <cstdio>
#include <cstring>

#include "calcrun.h"

int main(int argc, char** argv) {
  calcrun::Options options;
  int first = 1;
  // Anything that is no flag is an expression: "-2 ^ 2" is one.
  for (; first < argc; first++) {
    const char* flag = argv[first];
    if (std::strcmp(flag, "-R") == 0 || std::strcmp(flag, "-S") == 0) {
      options.version = flag[1];
    } else if (std::strcmp(flag, "-d") == 0) {
      options.sdata = true;
    } else if (std::strcmp(flag, "-l") == 0) {
      options.listing = true;
    } else {
      if (std::strcmp(flag, "--") == 0) first++;
      break;
    }
  }
  if (first == argc) {
    std::fprintf(stderr, "usage: vlxcalc [-R|-S] [-d] [-l] EXPR...\n");
    return 2;
  }
  calcrun::init();
  int status = 0;
  for (int i = first; i < argc; i++) {
    calcrun::Outcome out = calcrun::run(argv[i], options);
    std::fputs(out.listing.c_str(), stdout);
    std::printf("%s\n", out.line.c_str());
    if (!out.detail.empty()) std::fprintf(stderr, "vlxcalc: %s\n", out.detail.c_str());
    if (!out.ok) status = 1;
  }
  return status;
}

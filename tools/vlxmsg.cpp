// vlxmsg: prints the catalogue text of error numbers from the installed
// message file, the way the server reports them.
//
//   vlxmsg [-l LANGUAGE] [NUMBER...]    (no number: every listed error)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/vlxpath.h"
#include "diagnostics/log.h"
#include "diagnostics/vlxerr.h"
#include "files/mess.h"
#include "memory/vlxcalls.h"

int main(int argc, char** argv) {
  config_log_by_environment(argv[0]);
  const char* language = "ENG";
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-l") == 0) {
    language = argv[2];
    first = 3;
  }
  if (ini_malloc(256) < 0 || ini_mess(language) < 0) {
    char text[256];
    gt_erm(text);
    std::fprintf(stderr, "vlxmsg: cannot load the message file: %s\n", text);
    return 1;
  }
  if (Vmessname[0] == '\0') {
    std::fprintf(stderr, "vlxmsg: no message file for %s in %s/lan\n", language, vlx_install_dir().c_str());
    return 1;
  }
  std::printf("messages of %s from %s/lan\n", Vmessname, vlx_install_dir().c_str());
  if (first == argc) {
    for (int n = 1; n < 172; ++n) {
      const char* text = message(0, 13, n);
      if (text[0] != '\0') std::printf("%4d  %s\n", n, text);
    }
    return 0;
  }
  int status = 0;
  for (int i = first; i < argc; ++i) {
    char* end = nullptr;
    long n = std::strtol(argv[i], &end, 10);
    const char* text = *end == '\0' ? message(0, 13, static_cast<int>(n)) : "";
    if (text[0] == '\0') {
      std::printf("%4s  (no such error)\n", argv[i]);
      status = 1;
    } else {
      std::printf("%4ld  %s\n", n, text);
    }
  }
  return status;
}

#include "session/krb.h"

#include <cstdio>

#include "diagnostics/log.h"

using namespace vlx;

namespace {
char Cache[257];
bool Started;
}  // namespace

int krbini() {
  Started = true;
  log::trace(log::system, "krbini");
  return 0;
}

int krbget(int flags, const char* principal) {
  log::trace(log::system, "krbget(%d,%s)", flags, principal != nullptr ? principal : "");
  return 0;
}

int krbdft(const char* cache) {
  std::snprintf(Cache, sizeof Cache, "%s", cache != nullptr ? cache : "");
  log::trace(log::system, "krbdft(%s)", Cache);
  return 0;
}

void krbmcl() {
  if (Started) log::trace(log::system, "krbmcl");
  Started = false;
}

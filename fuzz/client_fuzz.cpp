// The client library against hostile answers: a stand-in server (a shell
// script) writes the input as its whole answer stream, whatever is asked,
// then goes away. The client runs a session (version, open, filter,
// selection, reads in every mode, a keyed read, close, end) and must end
// every call with an answer or a vlxc::Error: short, long, wrong status or
// cut answers never crash it or leave it waiting. The first byte chooses
// the field count and which calls are made.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "diagnostics/vlxerr.h"
#include "support/scratch.h"
#include "vlxclient.h"

namespace {

std::string Answers;

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// The stand-in server: its second argument is the answer descriptor.
std::string stand_in() {
  std::filesystem::path root = vlxtest::scratch_folder("vlxclientfuzz");
  std::string script = (root / "server").string();
  const char text[] = "#!/bin/sh\nexec cat \"$VLXFUZZ_ANSWERS\" > \"/dev/fd/$2\"\n";
  write_file(script, reinterpret_cast<const std::uint8_t*>(text), sizeof text - 1);
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  Answers = (root / "answers").string();
  ::setenv("VLXFUZZ_ANSWERS", Answers.c_str(), 1);
  return script;
}

void session(const std::string& server, int choice) {
  vlxc::Session s(server);
  try {
    vlxc::Table t = s.open("x", 1 + choice % 3);
    if (choice & 4) t.filter("F1 = \"a\"");
    if (choice & 8) t.select({1});
    for (auto r = t.read(vlxc::Mode::first); r; r = t.read(vlxc::Mode::next)) {
    }
    t.read(vlxc::Mode::last);
    t.read(vlxc::Mode::previous);
    t.read(vlxc::Mode::current);
    if (choice & 16) t.read_key(0, vlxc::Mode::first);
    if (choice & 32) t.remove_filter(1);
    t.close();
  } catch (const vlxc::Error&) {
  }
  s.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string server = stand_in();
  if (size == 0) return 0;
  write_file(Answers, data + 1, size - 1);
  try {
    session(server, data[0]);
  } catch (const vlxc::Error&) {
  }
  raz_err();
  return 0;
}

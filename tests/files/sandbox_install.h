// A throw-away installation for the sandbox and pipe tests: VLXDIR and
// TMPDIR point into a fresh temporary folder with cfg/, data/ and tmp/.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/vlxpath.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/spawn_sandbox.h"
#include "memory/vlxcalls.h"
#include "support/scratch.h"

class SandboxInstall : public ::testing::Test {
 protected:
  std::string root, data, tmp;

  void SetUp() override {
    static bool memory = ini_malloc(64 * 1024) == 0;
    ASSERT_TRUE(memory);
    root = normalize_path(vlxtest::scratch_folder("vlxsandbox").string());
    data = root + "/data";
    tmp = root + "/tmp";
    for (const char* dir : {"/cfg", "/data", "/tmp", "/lan"}) std::filesystem::create_directory(root + dir);
    ::setenv("VLXDIR", root.c_str(), 1);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    vlx_reset_install_dir();
    bsys_close();
    raz_err();
    Origin_user.clear();
    Current_user.clear();
  }

  void TearDown() override {
    bsys_close();
    std::filesystem::remove_all(root);
    ::unsetenv("VLXDIR");
    ::unsetenv("TMPDIR");
    vlx_reset_install_dir();
  }

  static void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  // Writes the configuration and loads it; the result of the loading.
  int configure(const std::string& json) {
    write(root + "/cfg/configRuntime.json", json);
    int st = load_system_security();
    raz_err();
    return st;
  }

  // Installs the configuration shipped with the checkout.
  int configure_shipped() {
    std::ifstream in(std::string(VLX_SOURCE_INSTALL) + "/cfg/configRuntime.json");
    std::stringstream text;
    text << in.rdbuf();
    return configure(text.str());
  }

  // A data-file line with its placeholders and escapes expanded: @DATA@
  // the data folder, @TMP@ the temporary one, @ROOT@ the installation,
  // @HASH@ a "#", @LONG@ a word of 100000 letters, \n and \t; @EMPTY@ is
  // the empty line and @BLANK@ blanks.
  std::string expand(const std::string& line) {
    if (line == "@EMPTY@") return "";
    if (line == "@BLANK@") return "    ";
    const std::pair<const char*, std::string> words[] = {
        {"@DATA@", data}, {"@TMP@", tmp}, {"@ROOT@", root}, {"@HASH@", "#"}, {"@LONG@", std::string(100000, 'a')}};
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
      bool replaced = false;
      for (const auto& [word, text] : words)
        if (line.compare(i, std::strlen(word), word) == 0) {
          out += text;
          i += std::strlen(word) - 1;
          replaced = true;
          break;
        }
      if (replaced) continue;
      if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == 'n' || line[i + 1] == 't'))
        out += line[++i] == 'n' ? '\n' : '\t';
      else
        out += line[i];
    }
    return out;
  }

  std::uintmax_t rejected_size() {
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(tmp + "/rejected_system_cmd.log", ec);
    return ec ? 0 : size;
  }

  std::vector<std::string> rejected() {
    std::vector<std::string> lines;
    std::ifstream in(tmp + "/rejected_system_cmd.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

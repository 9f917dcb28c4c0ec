#include "support/vlxtest.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/vlxpath.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace vlxtest {

const std::string& install_dir() {
  static const std::string dir = [] {
    fs::path root = scratch_folder("vlxtest");
    fs::create_directories(root / "tmp");
    fs::create_directories(root / "keys");
    fs::path source = VLX_SOURCE_INSTALL;
    fs::create_directory_symlink(source / "lan", root / "lan");
    fs::copy(source / "cfg", root / "cfg", fs::copy_options::recursive);
    ::setenv("VLXDIR", root.c_str(), 1);
    ::setenv("TMPDIR", (root / "tmp").c_str(), 1);
    vlx_reset_install_dir();
    return root.string();
  }();
  return dir;
}

void init_memory() {
  static bool done = false;
  install_dir();
  if (!done) ini_malloc(64 * 1024);
  done = true;
  raz_err();
}

std::string data_file(const std::string& name, const std::string& text) {
  fs::path data = fs::path(install_dir()) / "data";
  fs::create_directories(data);
  spit((data / name).string(), text);
  return (data / name).string();
}

std::vector<Case> read_cases_in(const std::string& folder, const std::string& file) {
  std::ifstream in(folder + "/" + file);
  std::vector<Case> cases;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    if (text.empty() || text[0] == '#') continue;
    Case c{number, {}};
    std::size_t start = 0;
    for (;;) {
      std::size_t bar = text.find(" | ", start);
      c.fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
      if (bar == std::string::npos) break;
      start = bar + 3;
    }
    cases.push_back(std::move(c));
  }
  return cases;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string expand(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); i++) {
    char c = field[i];
    if (c == '\\' && i + 1 < field.size()) {
      char e = field[++i];
      if (e == 'n')
        out += '\n';
      else if (e == 'r')
        out += '\r';
      else if (e == 't')
        out += '\t';
      else if (e == 'x') {
        out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else
        out += e;
    } else if (c == '{' && field.find('*', i) != std::string::npos && field.find('}', i) != std::string::npos) {
      std::size_t star = field.find('*', i), close = field.find('}', star);
      std::string unit = field.substr(i + 1, star - i - 1);
      for (int n = std::stoi(field.substr(star + 1, close - star - 1)); n > 0; n--) out += unit;
      i = close;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace vlxtest

// Reader of the data-driven case files: one case a line, fields separated
// by "|", blank lines and lines starting with "#" skipped.
#pragma once

#include <fstream>
#include <string>
#include <vector>

struct Case {
  int line;
  std::vector<std::string> f;
};

inline std::vector<Case> read_cases(const std::string& name) {
  std::ifstream in(std::string(VLX_TEST_DATA) + "/" + name);
  std::vector<Case> cases;
  std::string text;
  for (int line = 1; std::getline(in, text); line++) {
    if (text.empty() || text[0] == '#') continue;
    Case c{line, {}};
    std::size_t start = 0, bar;
    while ((bar = text.find('|', start)) != std::string::npos) {
      c.f.push_back(text.substr(start, bar - start));
      start = bar + 1;
    }
    c.f.push_back(text.substr(start));
    cases.push_back(c);
  }
  return cases;
}

// "E<n>" in an expected field: the call fails with error n.
inline int expected_error(const std::string& field) {
  return field.size() > 1 && field[0] == 'E' ? std::stoi(field.substr(1)) : 0;
}
